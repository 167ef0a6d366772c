// Every HID interface the system presents, as the support tool lists them:
// the controllers of one vendor ID and, for the others, why they are not
// ours. The search visits interfaces in the same order as OpenTouchDevice,
// so the n-th interface marked `ours` is the one match index n opens.
#ifndef KELCALIB_DEVICE_HID_ENUMERATE_H
#define KELCALIB_DEVICE_HID_ENUMERATE_H

#include <cstdint>
#include <vector>

struct HidInterfaceInfo {
    char path[260];   // "/dev/hidraw3", or the Windows device path (UTF-8)
    char name[128];   // product name the system reports, as printable text
                      // (device/name_text.h); may be empty
    std::uint16_t vendorId;
    std::uint16_t productId;
    bool queried;     // opened and its vendor and product read
    bool ours;        // queried and the vendor ID matches
    // For controllers of ours: the feature report length (report-ID byte
    // included) and the logical maxima the calibration uses (0x7FFF where
    // the controller presents none).
    std::uint16_t featureReportLength;
    std::int32_t logicalMaxX;
    std::int32_t logicalMaxY;
    // Why the interface is not a controller of ours, or why it could not be
    // opened or queried; empty for a controller that opened.
    char problem[256];
};

// Fills at most `capacity` entries of `interfaces` in search order and
// returns how many interfaces there are in all (which may exceed
// `capacity`); -1 when the system's list of HID interfaces cannot be read.
int ListHidInterfaces(std::uint16_t vendorId, HidInterfaceInfo* interfaces, int capacity);

// Every interface, as ListHidInterfaces fills them, in search order. Empty
// with `listed` false when the system's list cannot be read.
std::vector<HidInterfaceInfo> ListAllHidInterfaces(std::uint16_t vendorId, bool* listed);

#endif  // KELCALIB_DEVICE_HID_ENUMERATE_H
