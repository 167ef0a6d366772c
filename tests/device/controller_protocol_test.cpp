// The controller protocol against the virtual controller with the virtual
// clock: handshake counts and times, records as bytes, the identity records,
// the order of the commit commands, and the touch-packet scan.
#include "device/controller_protocol.h"

#include <cstdio>
#include <string>
#include <vector>

#include "device/hid_device.h"
#include "tests/device/vc_test_support.h"

namespace {

struct Cost {
    std::int64_t sends;
    std::int64_t polls;
    std::uint64_t ms;
};

Cost Spent() { return Cost{VcNativeSetCalls(), VcNativeGetCalls(), VcNativeClockMs()}; }

// A handshake of `sends` sends, each followed by `pollsPerSend` polls, every
// transfer followed by its wait.
Cost Handshake(std::int64_t sends, std::int64_t pollsPerSend) {
    const std::int64_t polls = sends * pollsPerSend;
    return Cost{sends, polls, kHandshakeWaitMs * static_cast<std::uint64_t>(sends + polls)};
}

void ExpectCost(const Cost& cost, const Cost& want) {
    EXPECT_EQ(cost.sends, want.sends);
    EXPECT_EQ(cost.polls, want.polls);
    EXPECT_EQ(cost.ms, want.ms);
}

// "fault reject N" for every send of one handshake.
std::string RejectEverySend() { return "fault reject " + std::to_string(kSendsPerHandshake) + "\n"; }

// `faults` with each of its lines held back until one command was accepted.
std::string HeldBackOneAccept(const std::string& faults) {
    std::string held;
    std::size_t from = 0;
    while (from < faults.size()) {
        std::size_t end = faults.find('\n', from);
        if (end == std::string::npos) end = faults.size();
        held += faults.substr(from, end - from) + " after-accepts 1\n";
        from = end + 1;
    }
    return held;
}

// The handshakes of a session: the identity records, the solved records and
// the two commit commands. WC is sent after an accepted CS, with the faults
// held back until then.
bool StageFirst() { return SendStageCommand(); }
struct Phase {
    const char* name;
    bool (*send)();
    bool (*before)();
};
const Phase kPhases[] = {{"identity X", SendIdentityX, nullptr}, {"identity Y", SendIdentityY, nullptr},
                         {"record X", SendAxisRecordX, nullptr},  {"record Y", SendAxisRecordY, nullptr},
                         {"CS", SendStageCommand, nullptr},       {"WC", SendWriteCommand, StageFirst}};

TEST(Handshake, EveryPhaseTellsAcceptRejectAndBadReplies) {
    struct Case {
        std::string faults;  // "fault ..." lines
        bool accepted;
        Cost cost;
    };
    std::vector<Case> cases = {
        {"", true, Handshake(1, 1)},
        {"fault reject 100", false, Handshake(kSendsPerHandshake, 1)},
        // A reply is compared over its own bytes only.
        {"fault trailing-bytes", true, Handshake(1, 1)},
        {"fault trailing-bytes\nfault reject 100", false, Handshake(kSendsPerHandshake, 1)},
    };
    // A reply without its 0x0D, one cut off after its mnemonic, another
    // command's (Cx answered as Cy, CS as WC, ...) and garbage are neither
    // accept nor reject, whichever the controller meant: every poll of every
    // send is spent.
    for (const char* bad : {"no-cr", "half-reply", "other-reply", "garbage"}) {
        for (const char* meant : {"", "\nfault reject 100"}) {
            cases.push_back({std::string("fault ") + bad + meant, false,
                             Handshake(kSendsPerHandshake, kPollsPerSend)});
        }
    }
    for (const Phase& phase : kPhases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(phase.name) + ": " + c.faults);
            const std::string faults = phase.before != nullptr ? HeldBackOneAccept(c.faults) : c.faults;
            OpenVirtualController("controller\n" + faults + "\n");
            gSession.deviceRecords[kRecordX][0] = 3;
            gSession.deviceRecords[kRecordX][3] = 2;
            gSession.deviceRecords[kRecordY][1] = 5;
            gSession.deviceRecords[kRecordY][3] = 4;
            if (phase.before != nullptr) {
                ASSERT_TRUE(phase.before());
            }
            const Cost before = Spent();
            EXPECT_EQ(phase.send(), c.accepted);
            const Cost after = Spent();
            ExpectCost(Cost{after.sends - before.sends, after.polls - before.polls, after.ms - before.ms}, c.cost);
        }
    }
}

TEST(Handshake, SilentControllerCostsEightSendsThirtyTwoPollsFourSeconds) {
    // The handshake's numbers written out, here only: every other test and
    // the scenarios take them from the protocol's header.
    OpenVirtualController("controller\nfault silent\n");
    EXPECT_FALSE(SendIdentityX());
    ExpectCost(Spent(), Cost{8, 32, 4000});
    ExpectCost(Spent(), Handshake(kSendsPerHandshake, kPollsPerSend));
}

TEST(Handshake, AcceptAfterRejectsEndsAtTheAcceptingSend) {
    OpenVirtualController("controller\nfault reject 3\n");
    EXPECT_TRUE(SendIdentityX());
    ExpectCost(Spent(), Handshake(4, 1));
}

TEST(Handshake, NoDeviceRunsTheWholeHandshakeWithoutTransfers) {
    OpenVirtualController("controller\n");
    gSession.device = nullptr;
    EXPECT_FALSE(SendIdentityX());
    ExpectCost(Spent(), Cost{0, 0, Handshake(kSendsPerHandshake, kPollsPerSend).ms});
}

TEST(Handshake, SendFailureStillPolls) {
    // Every transfer fails, under each of the three report IDs; the failed
    // sends do not stop the polling.
    OpenVirtualController("controller\nfault gone-after 0\n");
    EXPECT_FALSE(SendIdentityX());
    EXPECT_EQ(VcNativeSetCalls(), kSendsPerHandshake * 3);
    EXPECT_EQ(VcNativeGetCalls(), kSendsPerHandshake * kPollsPerSend * 3);
}

TEST(Records, ValuesGoOutAsLittleEndianSignedWords) {
    OpenVirtualController("controller\n");
    gSession.deviceRecords[kRecordX][0] = -1;
    gSession.deviceRecords[kRecordX][1] = -2;
    gSession.deviceRecords[kRecordX][2] = 258;
    gSession.deviceRecords[kRecordX][3] = 7;
    // Every word non-zero: a word dropped or taken from another slot shows.
    gSession.deviceRecords[kRecordY][0] = 0x01020304;
    gSession.deviceRecords[kRecordY][1] = 2147483647;
    gSession.deviceRecords[kRecordY][2] = -2147483647 - 1;
    gSession.deviceRecords[kRecordY][3] = 1;
    EXPECT_TRUE(SendCoefficients());
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(sent[0].begin(), sent[0].begin() + 22),
              Bytes({0x55, 0x01, 'C', 'x', 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0,
                     0, 7, 0, 0, 0, 0x0D, 0}));
    EXPECT_EQ(std::vector<std::uint8_t>(sent[1].begin(), sent[1].begin() + 22),
              Bytes({0x55, 0x01, 'C', 'y', 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0x80, 1, 0, 0, 0,
                     0x0D, 0}));
    const VcCoefficients active = VcNativeSystem()->controllers[0].active;
    EXPECT_EQ(active.axis[0].factorX, -1);
    EXPECT_EQ(active.axis[0].factorY, -2);
    EXPECT_EQ(active.axis[0].offset, 258);
    EXPECT_EQ(active.axis[0].divisor, 7);
    EXPECT_EQ(active.axis[1].factorX, 0x01020304);
    EXPECT_EQ(active.axis[1].offset, -2147483647 - 1);
}

TEST(Records, IdentityRecordsAreTheStoredBytes) {
    OpenVirtualController("controller\n");
    EXPECT_TRUE(ResetToIdentity());
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(sent[0].begin() + 1, sent[0].begin() + 21),
              Bytes({0x01, 0x43, 0x78, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0D}));
    EXPECT_EQ(std::vector<std::uint8_t>(sent[1].begin() + 1, sent[1].begin() + 21),
              Bytes({0x01, 0x43, 0x79, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0D}));
}

TEST(Records, RefusedXStillSendsY) {
    OpenVirtualController("controller\n" + RejectEverySend());
    EXPECT_FALSE(ResetToIdentity());
    EXPECT_EQ(VcNativeEvents().size(), kSendsPerHandshake + 1u);
    EXPECT_EQ(VcNativeEvents().back(), "Cy accept 0 1 0 1");

    // A divisor of 0 is rejected by the firmware; Y goes out all the same.
    OpenVirtualController("controller\n");
    gSession.deviceRecords[kRecordX][3] = 0;
    gSession.deviceRecords[kRecordY][1] = 1;
    gSession.deviceRecords[kRecordY][3] = 1;
    EXPECT_FALSE(SendCoefficients());
    EXPECT_EQ(VcNativeEvents().back(), "Cy accept 0 1 0 1");
    EXPECT_EQ(VcNativeSetCalls(), kSendsPerHandshake + 1);
}

TEST(Commit, CsThenWcWritesTheStore) {
    const std::string store = ::testing::TempDir() + "kelcalib_vc_commit_store.txt";
    std::remove(store.c_str());
    const std::string config = "controller\nstore " + store + "\n";
    OpenVirtualController(config);
    gSession.deviceRecords[kRecordX][0] = 3;
    gSession.deviceRecords[kRecordX][3] = 2;
    gSession.deviceRecords[kRecordY][1] = 5;
    gSession.deviceRecords[kRecordY][2] = -9;
    gSession.deviceRecords[kRecordY][3] = 4;
    ASSERT_TRUE(SendCoefficients());
    EXPECT_TRUE(CommitCalibration());
    const std::vector<std::string> events = VcNativeEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2], "CS accept");
    EXPECT_EQ(events[3], "WC accept committed 3 0 0 2 / 0 5 -9 4");

    // A controller started afresh on the same store holds the commit, and an
    // abort after new records puts it back.
    OpenVirtualController(config);
    EXPECT_EQ(VcNativeSystem()->controllers[0].active.axis[1].offset, -9);
    ASSERT_TRUE(ResetToIdentity());
    EXPECT_TRUE(SendAbort());
    EXPECT_EQ(VcNativeSystem()->controllers[0].active.axis[0].factorX, 3);
    EXPECT_EQ(VcNativeClockMs(), 2 * Handshake(1, 1).ms) << "the abort waits for nothing";
    std::remove(store.c_str());
}

TEST(Commit, RefusedCsKeepsWcFromBeingSent) {
    OpenVirtualController("controller\n" + RejectEverySend());
    EXPECT_FALSE(CommitCalibration());
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kSendsPerHandshake));
    for (const auto& report : sent) EXPECT_EQ(report[3], 'S');
    EXPECT_EQ(VcNativeSystem()->controllers[0].commits, 0);
}

TEST(Commit, RefusedWcFailsAfterAnAcceptedCs) {
    // The store cannot be written (its path is a directory), so the firmware
    // accepts CS and rejects every WC.
    OpenVirtualController("controller\nstore " + ::testing::TempDir() + "\n");
    EXPECT_FALSE(CommitCalibration());
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), kSendsPerHandshake + 1u);
    EXPECT_EQ(sent[0][3], 'S');
    for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i][2], 'W');
    const Cost cs = Handshake(1, 1);
    const Cost wc = Handshake(kSendsPerHandshake, 1);
    ExpectCost(Spent(), Cost{cs.sends + wc.sends, cs.polls + wc.polls, cs.ms + wc.ms});
}

TEST(TargetCue, OneSendAndFiftyMilliseconds) {
    OpenVirtualController("controller\n");
    SendTargetCue();
    ExpectCost(Spent(), Cost{1, 0, 50});
    EXPECT_EQ(SentReports()[0][2], 'Q');
    EXPECT_EQ(SentReports()[0][3], 0x87);
}

// ---- touch packets --------------------------------------------------------

std::vector<std::uint8_t> PacketAt(std::vector<std::uint8_t> bytes, std::size_t at, int x, int y) {
    if (bytes.size() < at + 10) bytes.resize(at + 10, 0);
    bytes[at] = 'U';
    bytes[at + 1] = 'T';
    bytes[at + 3] = static_cast<std::uint8_t>(x & 0xFF);
    bytes[at + 4] = static_cast<std::uint8_t>(x >> 8);
    bytes[at + 5] = static_cast<std::uint8_t>(y & 0xFF);
    bytes[at + 6] = static_cast<std::uint8_t>(y >> 8);
    return bytes;
}

bool ReadCanned(const std::vector<std::uint8_t>& payload, std::uint16_t* x, std::uint16_t* y) {
    VcSetCannedReport(VcNativeSystem(), 0, payload);
    return ReadTouchPoint(x, y);
}

TEST(TouchPackets, APacketCountsOnlyWithAnotherHeaderTenBytesOn) {
    OpenVirtualController("controller\n");
    std::uint16_t x = 11;
    std::uint16_t y = 22;
    EXPECT_FALSE(ReadCanned(PacketAt({}, 0, 100, 200), &x, &y));
    EXPECT_EQ(x, 11) << "outputs untouched on false";
    EXPECT_EQ(y, 22);

    EXPECT_TRUE(ReadCanned(PacketAt(PacketAt({}, 0, 100, 200), 10, 300, 400), &x, &y));
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 200);

    // Three back to back: the last complete one (the second) wins.
    EXPECT_TRUE(ReadCanned(PacketAt(PacketAt(PacketAt({}, 0, 1, 2), 10, 3, 4), 20, 5, 6), &x, &y));
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 4);

    // Position 10 with the next header at 20; coordinates 258 and 0xFFFF.
    EXPECT_TRUE(ReadCanned(PacketAt(PacketAt({}, 10, 258, 65535), 20, 0, 0), &x, &y));
    EXPECT_EQ(x, 258);
    EXPECT_EQ(y, 65535);
}

TEST(TouchPackets, ScanEndsAtPosition87) {
    OpenVirtualController("controller\n");
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::vector<std::uint8_t> at87 = PacketAt({}, 87, 870, 871);
    at87.resize(100, 0);
    at87[97] = 'U';
    at87[98] = 'T';
    EXPECT_TRUE(ReadCanned(at87, &x, &y));
    EXPECT_EQ(x, 870);
    EXPECT_EQ(y, 871);

    std::vector<std::uint8_t> at88 = PacketAt({}, 88, 880, 881);
    at88.resize(100, 0);
    at88[98] = 'U';
    at88[99] = 'T';
    EXPECT_FALSE(ReadCanned(at88, &x, &y));
}

TEST(TouchPackets, ReadingSendsNothingAndNeverWaits) {
    OpenVirtualController("controller\nreport-ids 00\n");
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    EXPECT_FALSE(ReadTouchPoint(&x, &y));
    ExpectCost(Spent(), Cost{0, 3, 0});
}

TEST(TouchPackets, CuedControllerReportsThePanelPosition) {
    // Under the report ID 0x55 (the others' delivery is the transfers' test).
    OpenVirtualController("controller\npanel mirrored\n");
    VcNativeSetTouch(256, 192, 1024, 768);
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    EXPECT_FALSE(ReadTouchPoint(&x, &y)) << "no packets before the cue";
    SendTargetCue();
    ASSERT_TRUE(ReadTouchPoint(&x, &y));
    EXPECT_EQ(x, 49151);  // 65535 * (1 - 0.25), rounded
    EXPECT_EQ(y, 16384);  // 65535 * 0.25, rounded
    VcNativeSetTouching(false);
    EXPECT_FALSE(ReadTouchPoint(&x, &y));
}

TEST(TouchPackets, MissingOrSinglePacketsGiveNoPoint) {
    for (const char* fault : {"no-packets", "single-packet"}) {
        SCOPED_TRACE(fault);
        OpenVirtualController(std::string("controller\nfault ") + fault + "\n");
        SendTargetCue();
        std::uint16_t x = 0;
        std::uint16_t y = 0;
        EXPECT_FALSE(ReadTouchPoint(&x, &y));
    }
    // A 20-byte report holds one packet only; 21 bytes hold two.
    OpenVirtualController("controller\nreport-length 20\n");
    SendTargetCue();
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    EXPECT_FALSE(ReadTouchPoint(&x, &y));
    OpenVirtualController("controller\nreport-length 21\n");
    SendTargetCue();
    EXPECT_TRUE(ReadTouchPoint(&x, &y));
}

TEST(TouchPackets, NoisyPacketsYieldTheLastCompleteOne) {
    OpenVirtualController("controller\nnoise 50\nseed 7\n");
    VcNativeSetTouch(512, 384, 1024, 768);
    SendTargetCue();
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    ASSERT_TRUE(ReadTouchPoint(&x, &y));
    const std::vector<VcLogEntry> gets = VcNativeTransfers(VcLogKind::kGet);
    ASSERT_FALSE(gets.empty());
    const std::vector<std::uint8_t>& report = gets.back().bytes;
    // Ten packets from byte 1; the ninth (index 8, at byte 81) is the last complete one.
    EXPECT_EQ(x, report[81 + 3] + 256 * report[81 + 4]);
    EXPECT_EQ(y, report[81 + 5] + 256 * report[81 + 6]);
    EXPECT_NEAR(x, 32768, 50);
    EXPECT_NEAR(y, 32768, 50);
}

}  // namespace
