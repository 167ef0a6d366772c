// The report descriptor parser over a table of descriptors: those the
// virtual devices present (read back to the facts they were built from),
// hand-written ones for the counting rules, and one of each malformed form.
// Every descriptor lies in a buffer of exactly its size, so a read past the
// end is caught by AddressSanitizer.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "device/hid_descriptor.h"
#include "tools/virtual-controller/vc_descriptor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

VcDeviceInfo Controller(std::uint16_t featureReportLength, std::int32_t valueCaps,
                        std::int32_t maxX = 4095, std::int32_t maxY = 2047) {
    VcDeviceInfo info{};
    info.isController = true;
    info.vendorId = 0xFFFE;
    info.featureReportLength = featureReportLength;
    info.valueCapCount = valueCaps;
    info.logicalMax[0] = maxX;
    info.logicalMax[1] = maxY;
    info.logicalMax[2] = 1;
    info.layout = VcLayout::kVendor;  // one collection: the protocol's holds the values
    return info;
}

bool Parse(const Bytes& descriptor, HidDescriptorSummary* summary) {
    // An exactly sized copy on the heap: one byte too far is a fault.
    const Bytes exact(descriptor);
    return ParseHidDescriptor(exact.empty() ? nullptr : exact.data(), exact.size(), summary);
}

struct RoundTrip {
    std::uint16_t featureReportLength;
    std::int32_t valueCaps;
    std::int32_t maxX;
    std::int32_t maxY;
};

class VirtualDeviceDescriptor : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(VirtualDeviceDescriptor, ReadsBackTheFactsItWasBuiltFrom) {
    const RoundTrip c = GetParam();
    HidDescriptorSummary summary;
    ASSERT_TRUE(Parse(VcReportDescriptor(Controller(c.featureReportLength, c.valueCaps, c.maxX, c.maxY)),
                      &summary))
        << summary.problem;
    EXPECT_EQ(summary.featureReportLength, c.featureReportLength);
    EXPECT_EQ(summary.inputValueCount, c.valueCaps);
    EXPECT_EQ(summary.logicalMax[0], c.valueCaps >= 1 ? c.maxX : 0);
    EXPECT_EQ(summary.logicalMax[1], c.valueCaps >= 2 ? c.maxY : 0);

    // The common layout: a touch screen collection with the values, then the
    // vendor one with the feature report, the protocol's and without values.
    VcDeviceInfo split = Controller(c.featureReportLength, c.valueCaps, c.maxX, c.maxY);
    split.layout = VcLayout::kTouchAndVendor;
    ASSERT_TRUE(Parse(VcReportDescriptor(split), &summary)) << summary.problem;
    EXPECT_EQ(summary.collectionCount, 2);
    EXPECT_EQ(summary.featureReportLength, c.featureReportLength);
    if (c.featureReportLength > 0) {
        EXPECT_EQ(summary.collection, 1);
        EXPECT_EQ(summary.inputValueCount, 0);
        EXPECT_EQ(summary.logicalMax[0], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FeatureLengthsValueCapsAndMaxima, VirtualDeviceDescriptor,
    ::testing::Values(RoundTrip{5, 2, 4095, 2047}, RoundTrip{64, 2, 4095, 2047},
                      RoundTrip{101, 2, 4095, 2047}, RoundTrip{102, 2, 4095, 2047},
                      RoundTrip{4096, 2, 4095, 2047}, RoundTrip{65535, 2, 4095, 2047},
                      RoundTrip{1, 2, 4095, 2047}, RoundTrip{0, 2, 4095, 2047},
                      RoundTrip{101, 0, 4095, 2047}, RoundTrip{101, 1, 4095, 2047},
                      RoundTrip{101, 3, 4095, 2047},
                      // Signs and widths: 1-, 2- and 4-byte maxima, 0 and negatives.
                      RoundTrip{101, 2, 0, -1}, RoundTrip{101, 2, 255, 65535},
                      RoundTrip{101, 2, 70000, INT32_MAX}, RoundTrip{101, 2, INT32_MIN, -40000}));

TEST(HidDescriptor, OtherDevicesPresentAMouseWhoseButtonsAreNoValues) {
    VcDeviceInfo mouse{};
    mouse.vendorId = 0x845E;
    HidDescriptorSummary summary;
    ASSERT_TRUE(Parse(VcReportDescriptor(mouse), &summary)) << summary.problem;
    EXPECT_EQ(summary.featureReportLength, 0);
    EXPECT_EQ(summary.inputValueCount, 2);  // X and Y; the three one-bit buttons are not values
    EXPECT_EQ(summary.logicalMax[0], 127);
    EXPECT_EQ(summary.logicalMax[1], 127);
}

struct Counted {
    const char* what;
    Bytes descriptor;
    std::uint16_t featureReportLength;
    std::int32_t inputValueCount;
    std::int32_t maxX;
    std::int32_t maxY;
};

// Main items: 0x81 Input, 0xB1 Feature (data: 0x02 variable, 0x01 constant,
// 0x00 array). 0x75 Report Size, 0x95 Report Count, 0x85 Report ID,
// 0x15/0x25/0x26/0x27 Logical Minimum/Maximum, 0x09 Usage, 0xA4 Push, 0xB4 Pop.
const Counted kCounted[] = {
    {"the longest feature report of several report IDs, plus the ID byte",
     {0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0xB1, 0x02,
      0x85, 0x02, 0x75, 0x08, 0x95, 0x06, 0xB1, 0x02, 0x75, 0x01, 0x95, 0x03, 0xB1, 0x02,
      0x85, 0x01, 0x95, 0x01, 0xB1, 0x02},
     8, 0, 0, 0},
    {"Pop restores the report size Push saved",
     {0x75, 0x08, 0xA4, 0x75, 0x20, 0xB4, 0x95, 0x03, 0xB1, 0x02}, 4, 0, 0, 0},
    {"a one-byte 0xFF maximum is -1 over a minimum of 0 as over a negative one (Windows' rule)",
     {0x15, 0x00, 0x25, 0xFF, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02,
      0x15, 0xFE, 0x25, 0xFF, 0x81, 0x02},
     0, 2, -1, -1},
    {"a two-byte 0xFFFF maximum is -1 over a minimum of 0; 0x0000FFFF in four bytes is 65535",
     {0x15, 0x00, 0x26, 0xFF, 0xFF, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02,
      0x27, 0xFF, 0xFF, 0x00, 0x00, 0x75, 0x20, 0x81, 0x02},
     0, 2, -1, 65535},
    {"two usages and a count of 2 are two values",
     {0x09, 0x30, 0x09, 0x31, 0x26, 0xFF, 0x0F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02,
      0x26, 0xFF, 0x07, 0x95, 0x01, 0x81, 0x02},
     0, 3, 4095, 4095},
    {"one usage and a count of 2 are one value",
     {0x09, 0x30, 0x26, 0xFF, 0x0F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02,
      0x09, 0x31, 0x26, 0xFF, 0x07, 0x95, 0x01, 0x81, 0x02},
     0, 2, 4095, 2047},
    {"constant, array, one-bit and empty input items are no values; nor are features",
     {0x25, 0x10, 0x75, 0x08, 0x95, 0x01, 0x81, 0x03, 0x81, 0x00, 0xB1, 0x02,
      0x75, 0x01, 0x81, 0x02, 0x75, 0x08, 0x95, 0x00, 0x81, 0x02,
      0x26, 0xFF, 0x0F, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02},
     2, 1, 4095, 0},
    {"long items are skipped whole, reserved items too",
     {0xFE, 0x02, 0x10, 0x95, 0x05, 0x0C, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02}, 3, 0, 0, 0},
    {"an empty descriptor describes nothing", {}, 0, 0, 0, 0},
};

// Top-level collections and report IDs: which collection the protocol
// talks through, and the length of each of its feature reports.
struct Chosen {
    const char* what;
    Bytes descriptor;
    bool reportIds;
    std::int32_t collectionCount;
    std::int32_t collection;
    std::uint16_t featureReportLength;
    std::vector<std::pair<int, int>> lengths;  // report ID, length
    std::int32_t maxX;
};

// 0xA1 0x01 Collection (application), 0xC0 End Collection.
const Chosen kChosen[] = {
    {"without report IDs: report 0 of the first collection with a feature report; items outside "
     "any collection are one",
     {0x75, 0x08, 0x95, 0x01, 0x81, 0x02,                    // loose: an input value only
      0xA1, 0x01, 0x95, 0x40, 0xB1, 0x02, 0xC0,               // 64 feature bytes
      0xA1, 0x01, 0x95, 0x7F, 0xB1, 0x02, 0xC0},
     false, 3, 1, 65, {{0, 65}}, 0},
    {"with IDs: 0x01's collection, each ID its own length, the longest its report length; a "
     "second collection's 4095-byte report is not its",
     {0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x3F, 0xB1, 0x02, 0x85, 0x66, 0x96, 0x2B, 0x01,
      0xB1, 0x02, 0x26, 0xFF, 0x0F, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02, 0xC0,
      0xA1, 0x01, 0x85, 0x02, 0x75, 0x08, 0x96, 0xFE, 0x0F, 0xB1, 0x02, 0xC0},
     true, 2, 0, 300, {{0x01, 64}, {0x66, 300}}, 4095},
    {"0x55 before 0x01: the first collection declaring 0x55, even the later one",
     {0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0xB1, 0x02, 0xC0,
      0xA1, 0x01, 0x85, 0x55, 0x75, 0x08, 0x95, 0x09, 0xB1, 0x02, 0xC0},
     true, 2, 1, 10, {{0x55, 10}}, 0},
    {"with IDs but neither protocol ID: the first collection with a feature report",
     {0xA1, 0x01, 0xC0, 0xA1, 0x01, 0x85, 0x07, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02, 0xC0},
     true, 2, 1, 3, {{0x07, 3}}, 0},
    {"no feature report anywhere: the first collection",
     {0xA1, 0x01, 0x26, 0xFF, 0x0F, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02, 0xC0, 0xA1, 0x01, 0xC0},
     false, 2, 0, 0, {}, 4095},
};

TEST(HidDescriptor, ChoosesTheProtocolsCollectionAndKeepsEachReportIdsLength) {
    for (const Chosen& c : kChosen) {
        SCOPED_TRACE(c.what);
        HidDescriptorSummary summary;
        ASSERT_TRUE(Parse(c.descriptor, &summary)) << summary.problem;
        EXPECT_EQ(summary.reportIds, c.reportIds);
        EXPECT_EQ(summary.collectionCount, c.collectionCount);
        EXPECT_EQ(summary.collection, c.collection);
        EXPECT_EQ(summary.featureReportLength, c.featureReportLength);
        std::vector<std::pair<int, int>> lengths;
        for (int id = 0; id < kHidReportIdCount; ++id) {
            if (summary.featureLength[id] != 0) lengths.emplace_back(id, summary.featureLength[id]);
        }
        EXPECT_EQ(lengths, c.lengths);
        EXPECT_EQ(summary.logicalMax[0], c.maxX);
    }
}

TEST(HidDescriptor, VirtualDeviceWithReportIdsASecondCollectionAndATwoByteMaximum) {
    VcDeviceInfo info = Controller(64, 2, -1, -1);
    info.declaredCount = 2;
    info.declared[0] = VcFeatureReport{0x01, 64};
    info.declared[1] = VcFeatureReport{0x66, 300};
    info.secondCount = 1;
    info.second[0] = VcFeatureReport{0x02, 4095};
    info.logicalMaxBytes = 2;  // 0..0xFFFF written in two bytes
    info.descriptorSize = 4096;
    const Bytes descriptor = VcReportDescriptor(info);
    EXPECT_EQ(descriptor.size(), 4096u);
    HidDescriptorSummary summary;
    ASSERT_TRUE(Parse(descriptor, &summary)) << summary.problem;
    EXPECT_TRUE(summary.reportIds);
    EXPECT_EQ(summary.collectionCount, 2);
    EXPECT_EQ(summary.featureReportLength, 300);
    EXPECT_EQ(summary.featureLength[0x01], 64);
    EXPECT_EQ(summary.featureLength[0x66], 300);
    EXPECT_EQ(summary.featureLength[0x02], 0) << "the second collection's";
    EXPECT_EQ(summary.logicalMax[0], -1);
    EXPECT_EQ(summary.logicalMax[1], -1);
}

TEST(HidDescriptor, CountsAsWindowsDoes) {
    for (const Counted& c : kCounted) {
        SCOPED_TRACE(c.what);
        HidDescriptorSummary summary;
        ASSERT_TRUE(Parse(c.descriptor, &summary)) << summary.problem;
        EXPECT_EQ(summary.featureReportLength, c.featureReportLength);
        EXPECT_EQ(summary.inputValueCount, c.inputValueCount);
        EXPECT_EQ(summary.logicalMax[0], c.maxX);
        EXPECT_EQ(summary.logicalMax[1], c.maxY);
    }
}

struct Malformed {
    Bytes descriptor;
    const char* problem;  // the start of the reason given
};

Bytes FeatureLongerThan65535() {
    // 8 x 8192 feature bytes: 65537 with the report-ID byte.
    Bytes d = {0x75, 0x08, 0x96, 0x00, 0x20};
    for (int i = 0; i < 8; ++i) d.insert(d.end(), {0xB1, 0x02});
    return d;
}

TEST(HidDescriptor, RefusesEachMalformedFormCleanly) {
    const Malformed cases[] = {
        {{0x75, 0x08, 0x96, 0x01}, "item at byte 2 runs past the end"},
        {{0x27, 0xFF, 0xFF, 0xFF}, "item at byte 0 runs past the end"},
        {{0xFE, 0x04, 0x10, 0x00, 0x00, 0x00}, "long item at byte 0 runs past the end"},
        {{0x95, 0x01, 0xFE}, "long item at byte 2 runs past the end"},
        {{0xA4, 0xB4, 0xB4}, "Pop without Push at byte 2"},
        {{0xA4, 0xA4, 0xA4, 0xA4, 0xA4}, "Push beyond 4 levels at byte 4"},
        {{0x76, 0x01, 0x01}, "Report Size 257 above 256 bits"},
        {{0x97, 0x00, 0x00, 0x01, 0x00}, "Report Count 65536 above 65535"},
        {{0x85, 0x00}, "Report ID 0 outside 1..255"},
        {{0x86, 0x00, 0x01}, "Report ID 256 outside 1..255"},
        {FeatureLongerThan65535(), "feature report 0 longer than 65535 bytes"},
        {{0xA1, 0x01, 0xC0, 0xC0}, "End Collection without a Collection at byte 3"},
        {{0xA1, 0x01, 0xA1, 0x00, 0xC0}, "1 Collection(s) not closed"},
        {Bytes(65536, 0x00), "descriptor longer than 65535 bytes"},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.problem);
        HidDescriptorSummary summary;
        summary.featureReportLength = 99;
        EXPECT_FALSE(Parse(c.descriptor, &summary));
        EXPECT_EQ(std::string(summary.problem).rfind(c.problem, 0), 0u) << summary.problem;
        EXPECT_EQ(summary.featureReportLength, 0);
        EXPECT_EQ(summary.inputValueCount, 0);
    }
}

}  // namespace
