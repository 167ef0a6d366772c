// HID access to the touch controller: finding and opening it by vendor ID,
// its logical maxima, and feature-report transfers with the report-ID
// fallback 0x55, 0x01, 0x00.
//
// SendFeature and ReceiveFeature are portable: they reach the device only
// through the two platform seams below. Opening, closing and what tells
// why a controller could not be opened are the platforms' (below).
#ifndef KELCALIB_DEVICE_HID_DEVICE_H
#define KELCALIB_DEVICE_HID_DEVICE_H

#include <cstddef>
#include <cstdint>

#include "app/platform_types.h"

// Feature transfer buffer: report ID in byte 0, at most 100 payload bytes.
constexpr int kFeatureBufferSize = 101;
constexpr int kFeaturePayloadMax = 100;

// The controller's contract, the same on both systems; each platform's part
// is in device/ (hid_device_win32.cpp, hid_device_linux.cpp).

// Opens the `matchIndex`-th (from 0) controller whose vendor ID is
// `vendorId`, skipping what cannot be opened or queried; fills
// gSession.device and gSession.featureReportLength. True when a controller
// was opened.
//   Windows: the present HID interfaces through SetupAPI (one per top-level
//   collection), opened for writing; gSession.hidGuid is written whenever
//   hid.dll and setupapi.dll could be loaded, controller or not.
//   Linux: /dev/hidraw* in the order of their numbers, each opened
//   read-write and close-on-exec, its vendor ID from HIDIOCGRAWINFO; one
//   node is one match, whatever number of top-level collections its device
//   has. For the controller it reads the report descriptor (hidraw_linux.h)
//   and keeps what the Windows HID class knows of the collection the
//   protocol talks through (hid_descriptor.h): its feature report length in
//   gSession.featureReportLength, whether report IDs are declared and each
//   feature report's own length in the link's record of the node
//   (hid_link_linux.h). Then it takes the lock every program of this
//   project takes on the node it talks to (LockHidrawNode). A descriptor
//   that cannot be read or is malformed, or a node another program holds,
//   fails the open, and later nodes are not examined, as on Windows.
//   gSession.device carries the open file descriptor itself, moved to 3 or
//   above so it is never 0 (no device) nor -1 (INVALID_HANDLE_VALUE).
bool OpenTouchDevice(std::uint16_t vendorId, std::uint16_t matchIndex);

// LogicalMax of the first two input values (Windows: the input value
// capabilities; Linux: those of the collection the protocol talks
// through). False, with nothing written, when they cannot be read, and
// also when the X maximum is zero or below (no input value at all, or a
// negative maximum); the caller then stores 0x7FFF in both. The Y maximum
// is taken as it is (0 with one input value).
bool ReadLogicalMaxima(HANDLE handle, std::int32_t* maxX, std::int32_t* maxY);

// True while gSession.device holds an open controller.
bool TouchDeviceOpen();

// Closes gSession.device when it holds a controller and sets it to 0, so
// that nothing uses or closes the handle again, even if its value is handed
// out anew.
void CloseTouchDevice();

// After a transfer failed: true when the controller is gone (unplugged).
// Linux: the kernel said ENODEV, which the link keeps in
// gSession.deviceGone (and which ends a handshake and the session);
// Windows: hid.dll said ERROR_DEVICE_NOT_CONNECTED (the calibration program
// keeps trying, as it always did).
bool TouchDeviceGone();

// After an open that found no controller: true when there is more to say
// than "no controller", with one or more lines in `text` (always
// terminated, cut to `size`). Linux: the link's note of what stood in the
// way (below). Windows says no more: interfaces that cannot be opened are
// passed by without a word.
bool DescribeOpenProblem(char* text, std::size_t size);

// Among `interfaces` (ListHidInterfaces, none of them an opened controller
// of `vendorId`): true when one may be such a controller that this user may
// not open, with `why` saying which and what to do. Linux: a node refused
// for lack of permission (the udev rule that grants it); Windows: an
// interface of the vendor that answers "access denied" and is no collection
// the system keeps for itself.
struct HidInterfaceInfo;
bool DescribeDeniedAccess(const HidInterfaceInfo* interfaces, int count, std::uint16_t vendorId,
                          char* why, std::size_t whySize);

#ifdef __linux__
// What DescribeOpenProblem tells on Linux, first what kept the controller
// itself from being opened, then a permission problem:
//   - the controller's report descriptor could not be read or was refused:
//     the node and why;
//   - another program holds the controller's node: the node, and that it
//     is in use;
//   - a node that could not be opened for lack of permission (EACCES,
//     EPERM) and whose vendor ID, as sysfs tells it, is `vendorId` or
//     unknown: the node, the system's reason, and the udev rule that grants
//     the seated user access (res/70-kelcalib.rules, installed into
//     /etc/udev/rules.d/), with the commands that apply it.
// The permission part alone: true, with the text, when a node was refused
// for lack of permission.
bool DescribePermissionProblem(char* text, std::size_t size);

// The file descriptor a device handle carries, -1 for none.
inline int DeviceFileDescriptor(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return -1;
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}
#endif

// Sends min(length, 100) bytes as the payload of one feature report. True
// when one of the three report IDs was accepted.
bool SendFeature(const std::uint8_t* bytes, std::int32_t length);

// Reads one feature report and delivers at most `capacity` bytes of it into
// `destination` (trimmed of trailing zeros; from byte 0 when the report
// begins with 0x01, else from byte 1). Returns the count delivered, 0 when
// there is no device or no report could be read.
std::int32_t ReceiveFeature(std::uint8_t* destination, std::int32_t capacity);

// Platform seams. On Windows they call HidD_SetFeature / HidD_GetFeature of
// the system's hid.dll and Sleep; on Linux the hidraw ioctls HIDIOCSFEATURE /
// HIDIOCGFEATURE and nanosleep, with the checks the Windows HID class makes
// first (hid_platform_linux.cpp): without report IDs declared the transfer
// goes out as report 0 (byte 0 is put back afterwards); with report IDs
// declared, an ID the collection does not declare fails without any I/O and
// a declared one moves its own feature report length (never more than
// `length`); a length below 2 (no room for data) fails without I/O. The native test build links the virtual controller's versions,
// with a virtual clock.
bool PlatformSetFeature(HANDLE device, void* buffer, std::uint32_t length);
bool PlatformGetFeature(HANDLE device, void* buffer, std::uint32_t length);
void WaitMilliseconds(std::uint32_t milliseconds);

#endif  // KELCALIB_DEVICE_HID_DEVICE_H
