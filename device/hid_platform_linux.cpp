// The Linux side of the transfer seams: the hidraw feature report ioctls and
// nanosleep. Test programs that answer the seams with the virtual controller
// link their own definitions instead, so this object holds nothing else.
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <ctime>

#include "device/hid_device.h"

namespace {

// The ioctl number carries the transfer length in 14 bits; a longer length
// would spill into the number's other fields and name another request.
constexpr std::uint32_t kLongestTransfer = _IOC_SIZEMASK;

bool FeatureTransfer(bool set, HANDLE device, void* buffer, std::uint32_t length) {
    const int fd = DeviceFileDescriptor(device);
    if (fd < 0 || buffer == nullptr || length == 0 || length > kLongestTransfer) return false;
    const unsigned long request = set ? HIDIOCSFEATURE(length) : HIDIOCGFEATURE(length);
    int result;
    do {
        result = ioctl(fd, request, buffer);
    } while (result < 0 && errno == EINTR);
    return result >= 0;
}

}  // namespace

bool PlatformSetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    return FeatureTransfer(true, device, buffer, length);
}

bool PlatformGetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    return FeatureTransfer(false, device, buffer, length);
}

void WaitMilliseconds(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
