// A HID report descriptor reduced to what the program needs of a controller:
// the length of its feature report and the logical maxima of its first two
// input values, counted the way Windows counts FeatureReportByteLength and
// lists input value capabilities. The Linux link reads the descriptor
// through hidraw; Windows does this itself.
//
// What the parser understands:
//   - short items (0, 1, 2 or 4 data bytes) and long items (skipped whole);
//   - the global items, with Push and Pop on a stack of 4 levels (as the
//     Linux kernel's parser), Report ID 1..255, Report Size 0..256 bits,
//     Report Count 0..65535, Logical Minimum and Maximum; usages as local
//     items (reset after every main item); collections and their ends;
//     reserved and unknown tags are skipped.
//   - Signs: Logical Minimum is always a signed (two's complement) value. A
//     1- or 2-byte Logical Maximum is read unsigned when the Logical
//     Minimum in force at the main item is 0 or above, and signed otherwise:
//     descriptors commonly write 255 as the one byte 0xFF with a minimum of
//     0, and the Linux kernel reads them that way. A 4-byte Logical Maximum
//     is always signed, since the program keeps the maxima as signed 32-bit
//     values.
//
// Reports: every Input, Output and Feature main item adds Report Size x
// Report Count bits to the report of its type under the Report ID in force
// (ID 0 until a Report ID item appears). A Feature item declares its report
// even when it adds no bits. The feature report length is the longest
// feature report's bits rounded up to bytes, plus one byte for the report ID
// whether or not the descriptor uses report IDs; 0 when there is no feature
// report.
//
// Input values: an Input main item that is variable, not constant and more
// than one bit wide (one-bit fields are buttons) with a Report Count above 0
// gives one value per usage declared before it (a Usage, or a Usage Minimum
// with its range, counting one each), at most Report Count of them; with no
// usage, one value. So "Usage X, Usage Y, Report Count 2" gives two values
// and "Usage X, Report Count 2" one value covering both fields, as Windows
// lists them. All values of one item share its logical maximum. Array
// (non-variable) items hold no values.
//
// Refused, with the reason in `problem` and never a read past the end: an
// item whose data runs past the end, Pop without Push, Push beyond 4 levels,
// Report Size above 256, Report Count above 65535, Report ID 0 or above 255,
// End Collection without a Collection, a Collection left open at the end,
// any report longer than 65535 bytes (report-ID byte included), and a
// descriptor longer than 65535 bytes.
#ifndef KELCALIB_DEVICE_HID_DESCRIPTOR_H
#define KELCALIB_DEVICE_HID_DESCRIPTOR_H

#include <cstddef>
#include <cstdint>

struct HidDescriptorSummary {
    std::uint16_t featureReportLength;  // report-ID byte included; 0: no feature report
    std::int32_t inputValueCount;       // input values, as Windows lists value capabilities
    std::int32_t logicalMax[2];         // of the first two input values; 0 where missing
    char problem[128];                  // why the descriptor was refused; empty otherwise
};

// Parses `size` bytes. True with `summary` filled; false with
// `summary->problem` saying why (the other fields are then 0).
bool ParseHidDescriptor(const std::uint8_t* bytes, std::size_t size, HidDescriptorSummary* summary);

#endif  // KELCALIB_DEVICE_HID_DESCRIPTOR_H
