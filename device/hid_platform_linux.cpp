// The Linux side of the transfer seams: the hidraw feature report ioctls,
// with the checks the Windows HID class makes before any I/O, and nanosleep.
// hidraw hands byte 0 to the device as the report ID and moves exactly the
// length given; the HID class instead sends report 0 for a collection
// without report IDs, refuses IDs the collection does not declare, and moves
// each report's own length. Test programs that answer the seams with the
// virtual controller link their own definitions instead, so this object
// holds nothing else.
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <ctime>

#include "app/session_state.h"
#include "device/hid_device.h"
#include "device/hid_link_linux.h"

namespace {

// The ioctl number carries the transfer length in 14 bits; a longer length
// would spill into the number's other fields and name another request.
constexpr std::uint32_t kLongestTransfer = _IOC_SIZEMASK;

// Below this a report has no room for data after its ID byte.
constexpr std::uint32_t kShortestTransfer = 2;

bool FeatureTransfer(bool set, HANDLE device, void* buffer, std::uint32_t length) {
    const int fd = DeviceFileDescriptor(device);
    if (fd < 0 || buffer == nullptr) return false;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::uint8_t asked = bytes[0];
    const HidLink* link = FindHidLink(fd);
    if (link == nullptr) return false;
    const std::uint8_t reportId = link->reportIdsDeclared ? asked : 0;
    const std::uint32_t reportLength = link->featureLengths[reportId];
    if (reportLength < kShortestTransfer || reportLength > length ||
        reportLength > kLongestTransfer) {
        return false;  // not a report of this collection, or no room for it
    }
    bytes[0] = reportId;
    const unsigned long request = set ? HIDIOCSFEATURE(reportLength) : HIDIOCGFEATURE(reportLength);
    int result;
    do {
        result = ioctl(fd, request, buffer);
    } while (result < 0 && errno == EINTR);
    if (result < 0 && errno == ENODEV) gSession.deviceGone = true;
    // Report 0 stands for whichever ID the caller tried.
    if (!link->reportIdsDeclared) bytes[0] = asked;
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
