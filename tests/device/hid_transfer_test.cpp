// SendFeature / ReceiveFeature against the virtual controller: the report-ID
// fallback and its restart at 0x55, the 100-byte payload, the report length
// of every transfer, trimming, delivery and capacity, and report lengths far
// above the 101-byte buffer.
#include <cstring>

#include "device/hid_device.h"
#include "tests/device/vc_test_support.h"

namespace {

std::vector<std::uint8_t> Received(std::int32_t capacity, std::int32_t* count) {
    std::vector<std::uint8_t> destination(static_cast<std::size_t>(capacity > 0 ? capacity : 0) + 8, 0xEE);
    *count = ReceiveFeature(destination.data(), capacity);
    return destination;
}

TEST(HidTransfer, NoDeviceMeansNoTransferAndUntouchedDestination) {
    OpenVirtualController("controller\n");
    const std::uint8_t command[4] = {0x01, 'R', 's', 0x0D};
    for (HANDLE none : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        gSession.device = none;
        EXPECT_FALSE(SendFeature(command, 4));
        std::int32_t count = -1;
        const std::vector<std::uint8_t> got = Received(10, &count);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(got[0], 0xEE);
    }
    EXPECT_EQ(VcNativeSetCalls(), 0);
    EXPECT_EQ(VcNativeGetCalls(), 0);
}

TEST(HidTransfer, FallsBackThroughTheReportIdsAndRestartsAt0x55) {
    OpenVirtualController("controller\nreport-ids 01\n");
    const std::uint8_t command[4] = {0x01, 'R', 's', 0x0D};
    EXPECT_TRUE(SendFeature(command, 4));
    EXPECT_TRUE(SendFeature(command, 4));
    const std::vector<VcLogEntry> sets = VcNativeTransfers(VcLogKind::kSet);
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_EQ(sets[0].reportId, 0x55);
    EXPECT_EQ(sets[0].result, VcResult::kRefused);
    EXPECT_EQ(sets[1].reportId, 0x01);
    EXPECT_EQ(sets[1].result, VcResult::kOk);
    EXPECT_EQ(sets[2].reportId, 0x55) << "every transfer starts afresh at 0x55";
    EXPECT_EQ(sets[3].reportId, 0x01);
    // Only byte 0 differs between the attempts.
    EXPECT_TRUE(std::equal(sets[0].bytes.begin() + 1, sets[0].bytes.end(), sets[1].bytes.begin() + 1));
}

TEST(HidTransfer, AllReportIdsRefusedFailsBothWays) {
    OpenVirtualController("controller\nreport-ids\nreport-bytes 01 43 78 30 0d\n");
    const std::uint8_t command[4] = {0x01, 'C', 'S', 0x0D};
    EXPECT_FALSE(SendFeature(command, 4));
    std::int32_t count = -1;
    const std::vector<std::uint8_t> got = Received(5, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(got[0], 0xEE) << "a failed read leaves the destination alone";
    EXPECT_EQ(VcNativeSetCalls(), 3);
    EXPECT_EQ(VcNativeGetCalls(), 3);
    const std::vector<VcLogEntry> gets = VcNativeTransfers(VcLogKind::kGet);
    ASSERT_EQ(gets.size(), 3u);
    EXPECT_EQ(gets[0].reportId, 0x55);
    EXPECT_EQ(gets[1].reportId, 0x01);
    EXPECT_EQ(gets[2].reportId, 0x00);
}

TEST(HidTransfer, SendsAtMost100PayloadBytesInAReportLengthBuffer) {
    OpenVirtualController("controller\n");
    std::uint8_t payload[150];
    for (int i = 0; i < 150; ++i) payload[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_TRUE(SendFeature(payload, 150));
    const std::vector<VcLogEntry> sets = VcNativeTransfers(VcLogKind::kSet);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].length, 101u);
    ASSERT_EQ(sets[0].bytes.size(), 101u);
    EXPECT_EQ(sets[0].bytes[0], 0x55);
    EXPECT_EQ(sets[0].bytes[1], 1);
    EXPECT_EQ(sets[0].bytes[100], 100);
}

TEST(HidTransfer, ShortReportCarriesOnlyItsLength) {
    OpenVirtualController("controller\nreport-length 5\n");
    const std::uint8_t record[20] = {0x01, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0D};
    EXPECT_TRUE(SendFeature(record, 20));
    const std::vector<VcLogEntry> sets = VcNativeTransfers(VcLogKind::kSet);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].bytes, Bytes({0x55, 0x01, 'C', 'x', 1}));
    // The firmware sees a truncated record and does not take it.
    EXPECT_EQ(VcNativeEvents(), std::vector<std::string>{"unknown command 43 78"});
}

TEST(HidTransfer, DeliversTheReplyWithoutTheReportIdUnlessItIs0x01) {
    struct Case {
        const char* reportIds;
        const char* reportBytes;
    };
    // The three delivery examples: under 0x55, under 0x00, and under 0x01
    // where the ID itself is the reply's leading 0x01.
    const Case cases[] = {{"55", "01 43 78 30 0d"}, {"00", "01 43 78 30 0d"}, {"01", "43 78 30 0d"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reportIds);
        OpenVirtualController(std::string("controller\nreport-ids ") + c.reportIds +
                              "\nreport-bytes " + c.reportBytes + "\n");
        std::int32_t count = 0;
        const std::vector<std::uint8_t> got = Received(100, &count);
        ASSERT_EQ(count, 5);
        EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.begin() + 6),
                  Bytes({0x01, 'C', 'x', '0', 0x0D, 0xEE}));
    }
}

TEST(HidTransfer, TrimsTrailingZerosButKeepsInnerOnes) {
    OpenVirtualController("controller\nreport-bytes 01 43 00 78 00 00\n");
    std::int32_t count = 0;
    const std::vector<std::uint8_t> got = Received(100, &count);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.begin() + 5), Bytes({0x01, 'C', 0, 'x', 0xEE}));
}

TEST(HidTransfer, AllZeroReportUnder0x00DeliversNothing) {
    OpenVirtualController("controller\nreport-ids 00\n");
    std::int32_t count = -1;
    const std::vector<std::uint8_t> got = Received(100, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(got[0], 0xEE);
}

TEST(HidTransfer, CapacityBoundsTheDelivery) {
    OpenVirtualController("controller\nreport-bytes 01 43 78 30 0d 45 4e 44\n");
    std::int32_t count = 0;
    std::vector<std::uint8_t> got = Received(3, &count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.begin() + 4), Bytes({0x01, 'C', 'x', 0xEE}));
    got = Received(0, &count);
    EXPECT_EQ(count, 0);
    got = Received(-5, &count);
    EXPECT_EQ(count, 0);
}

TEST(HidTransfer, GoneDeviceFailsEveryLaterTransfer) {
    OpenVirtualController("controller\nfault gone-after 1\nreport-bytes 01 43 78 30 0d\n");
    const std::uint8_t command[4] = {0x01, 'C', 'S', 0x0D};
    EXPECT_TRUE(SendFeature(command, 4));
    EXPECT_FALSE(SendFeature(command, 4));
    std::int32_t count = -1;
    Received(10, &count);
    EXPECT_EQ(count, 0);
}

// Lengths far above the 101-byte buffer: every transfer passes the report
// length and the buffer holds that many bytes (ASan would see an overrun),
// while at most the ID and 100 payload bytes carry data.
class HidReportLength : public ::testing::TestWithParam<int> {};

TEST_P(HidReportLength, TransfersStayInsideTheirBuffer) {
    const int length = GetParam();
    std::string canned = "report-bytes";
    for (int i = 0; i < 150; ++i) canned += " 41";
    OpenVirtualController("controller\nreport-length " + std::to_string(length) + "\n" + canned + "\n");
    ASSERT_EQ(gSession.featureReportLength, length);

    std::int32_t count = 0;
    const std::vector<std::uint8_t> got = Received(200, &count);
    const int expected = std::min(length - 1, 100);
    EXPECT_EQ(count, expected) << "at most 100 payload bytes are delivered";
    EXPECT_EQ(got[static_cast<std::size_t>(expected)], 0xEE);

    const std::uint8_t record[20] = {0x01, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0D};
    EXPECT_TRUE(SendFeature(record, 20));
    const std::vector<VcLogEntry> sets = VcNativeTransfers(VcLogKind::kSet);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].length, static_cast<std::uint32_t>(length));
    if (length >= 21) {
        // The firmware took the whole record and answers under 0x55.
        std::uint8_t reply[100] = {};
        EXPECT_EQ(ReceiveFeature(reply, 100), 5);
        EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 5), Bytes({0x01, 'C', 'x', '0', 0x0D}));
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, HidReportLength, ::testing::Values(5, 64, 101, 102, 4096, 65535));

TEST(HidTransfer, ZeroReportLengthNeverSucceeds) {
    OpenVirtualController("controller\nreport-length 0\n");
    const std::uint8_t command[4] = {0x01, 'C', 'S', 0x0D};
    EXPECT_FALSE(SendFeature(command, 4));
    std::uint8_t reply[10] = {};
    EXPECT_EQ(ReceiveFeature(reply, 10), 0);
}

}  // namespace
