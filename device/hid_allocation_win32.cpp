#include <cstdlib>

#include "device/hid_api_win32.h"

void* DeviceAllocate(std::size_t size) {
    return size == 0 ? nullptr : std::calloc(1, size);
}

void DeviceRelease(void* memory) {
    std::free(memory);
}
