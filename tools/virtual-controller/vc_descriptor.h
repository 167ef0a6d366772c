// The HID report descriptor a virtual device presents where a real kernel
// (or a stand-in for one) asks for it: the hidraw interposer answers
// HIDIOCGRDESC with it and a uhid device is created with it.
//
// Built from VcDeviceInfo (what VcGetDeviceInfo reports for an enumeration
// entry), not from the whole controller config: the descriptor states only
// the HID facts, never the firmware's behaviour.
//
// A controller's descriptor is built from parts, one application collection
// for each of its collections (VcDeviceCollections; by its `layout` a touch
// screen collection, digitizer page, then a vendor-defined one, or a vendor
// collection alone):
//   - the input collection holds the input report: the tip switch (bit 0 of
//     the first byte, seven constant pad bits after it), then
//     `valueCapCount` variable input values (generic desktop X, Y, Z), each
//     its own main item with logical minimum 0 (or the maximum itself when
//     that is negative, so the range stays valid) and the configured
//     logical maximum in the shortest signed encoding; 16 bits each when the
//     range fits, else 32. With `logicalMaxBytes`, the minimum is 0 and the
//     maximum is written in that many bytes, as a descriptor writes 0..0xFFFF
//     in two (the HID class reads that as -1). With declared report IDs it
//     comes under the first of them;
//   - the vendor collection holds the feature reports: without declared
//     report IDs one of `featureReportLength` bytes, the report-ID byte
//     included: `featureReportLength - 1` vendor bytes in main items of at
//     most 4096 bytes each (the kernel takes at most 12288 fields per item);
//     a length of 1 is an empty feature item (the report-ID byte alone), 0
//     declares none. With declared IDs (`declared`), one such report under
//     each ID, of its own length;
//   - with `second`, a further vendor collection holding those feature
//     reports;
// then, with `descriptorSize`, global Usage Page items that pad the
// descriptor to that size.
//
// Report IDs: without declared IDs, to the HID class every report is report
// 0 and the feature report's length is its data plus the one byte the
// transfer's report ID occupies. The devices on Linux (the hidraw
// interposer, vc-uhid) check every request against this descriptor as a
// device's HID stack does (VcSystem::wireRequests); which of 0x55, 0x01 and
// 0x00 the firmware then answers is the config's `report-ids`.
//
// Any other device gets a plain three-button relative mouse descriptor.
#ifndef KELCALIB_TOOLS_VC_DESCRIPTOR_H
#define KELCALIB_TOOLS_VC_DESCRIPTOR_H

#include <cstdint>
#include <vector>

#include "tools/virtual-controller/virtual_controller.h"

std::vector<std::uint8_t> VcReportDescriptor(const VcDeviceInfo& info);

// The controller's touch input report as the descriptor lays it out (its
// report ID first when the descriptor declares IDs): the tip switch, then each input value little-endian in its
// field, X and Y the given device units clamped to their logical range as
// the kernel reads it (0..0xFFFF for 0xFFFF in two bytes), Z 0.
// With them the kernel makes the controller a touch screen (BTN_TOUCH,
// ABS_X, ABS_Y). False, and no report, for a device that declares no X and
// Y with positive maxima: it has no touch to report.
bool VcTouchInputReport(const VcDeviceInfo& info, bool tip, std::int64_t x, std::int64_t y,
                        std::vector<std::uint8_t>* report);

#endif  // KELCALIB_TOOLS_VC_DESCRIPTOR_H
