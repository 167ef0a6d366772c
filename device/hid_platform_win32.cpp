// The Windows side of the transfer seams: HidD_SetFeature and HidD_GetFeature
// of the system's hid.dll, and Sleep. Test programs that answer the seams
// with the virtual controller link their own definitions instead, so this
// object holds nothing else.
#include "device/hid_api_win32.h"
#include "device/hid_device.h"

bool PlatformSetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    const HidApi* api = LoadHidApi();
    return api != nullptr && api->HidD_SetFeature(device, buffer, length) != FALSE;
}

bool PlatformGetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    const HidApi* api = LoadHidApi();
    return api != nullptr && api->HidD_GetFeature(device, buffer, length) != FALSE;
}

void WaitMilliseconds(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}
