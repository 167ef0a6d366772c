// HID access to the touch controller: finding and opening it by vendor ID,
// its logical maxima, and feature-report transfers with the report-ID
// fallback 0x55, 0x01, 0x00.
//
// SendFeature and ReceiveFeature are portable: they reach the device only
// through the two platform seams below. OpenTouchDevice and
// ReadLogicalMaxima enumerate through SetupAPI and exist on Windows only.
#ifndef KELCALIB_DEVICE_HID_DEVICE_H
#define KELCALIB_DEVICE_HID_DEVICE_H

#include <cstdint>

#include "app/platform_types.h"

// Feature transfer buffer: report ID in byte 0, at most 100 payload bytes.
constexpr int kFeatureBufferSize = 101;
constexpr int kFeaturePayloadMax = 100;

#ifdef _WIN32
// Opens the `matchIndex`-th (from 0) present HID interface whose vendor ID is
// `vendorId`; fills gSession.device and gSession.featureReportLength and
// always gSession.hidGuid. True when a controller was opened.
bool OpenTouchDevice(std::uint16_t vendorId, std::uint16_t matchIndex);

// LogicalMax of the first two input value capabilities. On false neither
// output is written and the caller stores 0x7FFF in both.
bool ReadLogicalMaxima(HANDLE handle, std::int32_t* maxX, std::int32_t* maxY);
#endif

#ifdef __linux__
// The Linux link: the same contract through /dev/hidraw*.
bool OpenTouchDevice(std::uint16_t vendorId, std::uint16_t matchIndex);
bool ReadLogicalMaxima(HANDLE handle, std::int32_t* maxX, std::int32_t* maxY);
// Closes gSession.device when it is open and sets it to nullptr.
void CloseTouchDevice();
// After an OpenTouchDevice that failed: why a controller's node could not be
// opened (the node, the reason and the udev rule that grants access), or an
// empty text when no controller was found at all.
const char* TouchDeviceOpenProblem();
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
// the system's hid.dll and Sleep; the native test build links the virtual
// controller's versions, with a virtual clock.
bool PlatformSetFeature(HANDLE device, void* buffer, std::uint32_t length);
bool PlatformGetFeature(HANDLE device, void* buffer, std::uint32_t length);
void WaitMilliseconds(std::uint32_t milliseconds);

#endif  // KELCALIB_DEVICE_HID_DEVICE_H
