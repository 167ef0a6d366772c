// The HID report descriptor a virtual device presents where a real kernel
// (or a stand-in for one) asks for it: the hidraw interposer answers
// HIDIOCGRDESC with it and a uhid device is created with it.
//
// Built from VcDeviceInfo (what VcGetDeviceInfo reports for an enumeration
// entry), not from the whole controller config: the descriptor states only
// the HID facts, never the firmware's behaviour.
//
// A controller's descriptor: one application collection (digitizer, touch
// screen) holding
//   - an input report: the tip switch (bit 0 of the first byte, seven
//     constant pad bits after it), then `valueCapCount` variable
//     input values (generic desktop X, Y, Z), each its own main item with
//     logical minimum 0 (or the maximum itself when that is negative, so the
//     range stays valid) and the configured logical maximum in the shortest
//     signed encoding; 16 bits each when the range fits, else 32;
//   - a feature report of `featureReportLength` bytes, the report-ID byte
//     included: `featureReportLength - 1` vendor bytes in main items of at
//     most 4096 bytes each (the kernel takes at most 12288 fields per item).
//     A length of 1 is an empty feature item (the report-ID byte alone); a
//     length of 0 declares no feature report at all.
//
// Report IDs: the descriptor declares none, so to the HID class every
// report is report 0 and the feature report's length is its data plus the
// one byte the transfer's report ID occupies. Which IDs (0x55, 0x01, 0x00) a
// controller accepts in byte 0 of a transfer is its firmware's matter, as
// with the real controllers (their firmware answers IDs the descriptor does
// not list, which is why the program tries three): the hidraw interposer and
// the uhid device decide it from the controller config, not from the
// descriptor. A descriptor with report IDs could not express "0x00 too" in
// any case, since declaring any ID makes report 0 invalid.
//
// Any other device gets a plain three-button relative mouse descriptor.
#ifndef KELCALIB_TOOLS_VC_DESCRIPTOR_H
#define KELCALIB_TOOLS_VC_DESCRIPTOR_H

#include <cstdint>
#include <vector>

#include "tools/virtual-controller/virtual_controller.h"

std::vector<std::uint8_t> VcReportDescriptor(const VcDeviceInfo& info);

// The controller's touch input report as the descriptor lays it out (no
// report ID): the tip switch, then each input value little-endian in its
// field, X and Y the given device units clamped to their logical range, Z 0.
// With them the kernel makes the controller a touch screen (BTN_TOUCH,
// ABS_X, ABS_Y). False, and no report, for a device that declares no X and
// Y with positive maxima: it has no touch to report.
bool VcTouchInputReport(const VcDeviceInfo& info, bool tip, std::int64_t x, std::int64_t y,
                        std::vector<std::uint8_t>* report);

#endif  // KELCALIB_TOOLS_VC_DESCRIPTOR_H
