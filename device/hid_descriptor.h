// A HID report descriptor reduced to what the program needs of a controller:
// per top-level collection, the feature reports it declares (report IDs and
// lengths) and its input values with their logical maxima, counted the way
// Windows counts FeatureReportByteLength and lists input value capabilities
// for the one collection it opens; and which collection the controller's
// protocol talks through. The Linux link reads the descriptor through hidraw
// and does with it what the Windows HID class does itself.
//
// What the parser understands:
//   - short items (0, 1, 2 or 4 data bytes) and long items (skipped whole);
//   - the global items, with Push and Pop on a stack of 4 levels (as the
//     Linux kernel's parser), Report ID 1..255, Report Size 0..256 bits,
//     Report Count 0..65535, Logical Minimum and Maximum; usages as local
//     items (reset after every main item); collections and their ends;
//     reserved and unknown tags are skipped.
//   - Signs: Logical Minimum and Logical Maximum are signed (two's
//     complement) values of their item's size, as Windows reads them: a
//     1-byte 0xFF is -1, a 2-byte 0xFFFF is -1 whatever the minimum.
//
// Collections: every Collection item outside any other opens a top-level
// collection, which its End Collection closes. Main items outside every
// collection count as one collection of their own, from the first of them
// to the next top-level Collection (a descriptor without Collection items is
// one collection).
//
// Reports: every Input, Output and Feature main item adds Report Size x
// Report Count bits to the report of its type under the Report ID in force
// (ID 0 until a Report ID item appears), within its top-level collection.
// A Feature item declares its report even when it adds no bits. A feature
// report's length is its bits in that collection rounded up to bytes, plus
// one byte for the report ID whether or not the descriptor uses report IDs;
// a collection's feature report length is the longest of its feature
// reports, 0 when it has none.
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
// The protocol's collection (the one summarised): the first top-level
// collection declaring a feature report under report ID 0x55; else under
// 0x01; else the first with any feature report (without report IDs, that is
// report 0); else the first collection. The protocol's transfers try 0x55,
// 0x01 and 0x00 in that order, so this is the collection holding the feature
// report they are answered on.
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

constexpr int kHidReportIdCount = 256;

// Of the protocol's collection, except `reportIds` and `collectionCount`.
struct HidDescriptorSummary {
    std::uint16_t featureReportLength;  // report-ID byte included; 0: no feature report
    std::int32_t inputValueCount;       // input values, as Windows lists value capabilities
    std::int32_t logicalMax[2];         // of the first two input values; 0 where missing
    bool reportIds;                     // the descriptor declares report IDs
    // Per report ID, the length of the collection's feature report under it,
    // report-ID byte included; 0 where it declares none. Without report IDs
    // only entry 0 can be set.
    std::uint16_t featureLength[kHidReportIdCount];
    std::int32_t collectionCount;       // top-level collections
    std::int32_t collection;            // the protocol's, from 0; -1 when there is none
    char problem[128];                  // why the descriptor was refused; empty otherwise
};

// Parses `size` bytes. True with `summary` filled; false with
// `summary->problem` saying why (the other fields are then 0).
bool ParseHidDescriptor(const std::uint8_t* bytes, std::size_t size, HidDescriptorSummary* summary);

#endif  // KELCALIB_DEVICE_HID_DESCRIPTOR_H
