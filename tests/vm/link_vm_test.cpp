// The Linux controller link against a real kernel: vc-uhid presents the
// virtual controller as USB HID devices, the kernel's hid-generic gives them
// hidraw nodes, and the link finds, measures and talks to them through the
// kernel's ioctls, exactly as on a machine with a real controller.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "device/hid_enumerate.h"
#include "tests/vm/vm_scene.h"

namespace {

const std::uint16_t kVendor = static_cast<std::uint16_t>(KELCALIB_VENDOR_ID);
const char* const kForeignDevice = "other-device 0x1234 0x0001\n";

std::string Controller(const std::string& settings = "") {
    char vendor[32];
    std::snprintf(vendor, sizeof vendor, "0x%04X", kVendor);
    return std::string("controller\nvendor-id ") + vendor + "\n" + settings + "\n";
}

// hidraw nodes this process holds open.
int OpenHidrawFiles() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) {
            char target[64] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::string(target).rfind("/dev/hidraw", 0) == 0) {
                ++count;
            }
        }
        closedir(dir);
    }
    return count;
}

// The link's session starts and ends closed, whatever the test did.
struct LinkSession {
    LinkSession() { CloseTouchDevice(); }
    ~LinkSession() { CloseTouchDevice(); }
};

// Log lines of the transfers, "SET 00 ok 101" / "GET 01 refused 64" ..., in
// order.
std::vector<std::string> Transfers(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < log.size()) {
        const std::size_t end = log.find('\n', at);
        const std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? log.size() : end + 1;
        char kind[8], id[8], result[16];
        unsigned length = 0;
        if (std::sscanf(line.c_str(), "%*d %*d %7s %7s %15s %u", kind, id, result, &length) == 4 &&
            (std::string(kind) == "SET" || std::string(kind) == "GET")) {
            lines.push_back(std::string(kind) + " " + id + " " + result + " " + std::to_string(length));
        }
    }
    return lines;
}

const std::uint8_t kIdentityX[] = {0x01, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0,
                                   0,    0,   0,   0, 1, 0, 0, 0, 0x0D};
const std::uint8_t kAcceptX[] = {0x01, 'C', 'x', '0', 0x0D};

TEST(VmLinkEnumeration, MatchIndexCountsOnlyOurControllersInNodeOrder) {
    // Controllers told apart by their report lengths; -1: nothing opens.
    struct Case {
        const char* what;
        std::string config;
        std::vector<int> lengths;  // report length opened at match index 0, 1, 2
    };
    const std::vector<Case> cases = {
        {"no HID device", "", {-1, -1, -1}},
        {"a foreign device only", kForeignDevice, {-1, -1, -1}},
        {"one controller", Controller("report-length 64"), {64, -1, -1}},
        {"a foreign device first", kForeignDevice + Controller("report-length 64"), {64, -1, -1}},
        {"two controllers, a foreign one and a foreign device between them",
         Controller("report-length 64") + "controller\nvendor-id 0x1209\nreport-length 99\n" +
             kForeignDevice + Controller("report-length 65"),
         {64, 65, -1}},
    };
    for (const Case& c : cases) {
        VmScene scene;
        ASSERT_TRUE(scene.Start(c.config)) << c.what << ": " << scene.error;
        for (int index = 0; index < 3; ++index) {
            LinkSession session;
            const bool opened = OpenTouchDevice(kVendor, static_cast<std::uint16_t>(index));
            EXPECT_EQ(opened, c.lengths[index] >= 0) << c.what << ", index " << index;
            EXPECT_EQ(opened ? gSession.featureReportLength : -1, c.lengths[index])
                << c.what << ", index " << index;
            EXPECT_EQ(OpenHidrawFiles(), opened ? 1 : 0)
                << c.what << ", index " << index << ": only the controller stays open";
        }
    }
}

TEST(VmLinkEnumeration, ListShowsEveryInterfaceAndWhichAreOurs) {
    VmScene scene;
    ASSERT_TRUE(scene.Start(kForeignDevice +
                            Controller("layout vendor\nreport-length 64\nvalue-caps 2 4095 2047") +
                            "controller\nvendor-id 0x1209\n"))
        << scene.error;
    HidInterfaceInfo interfaces[8];
    ASSERT_EQ(ListHidInterfaces(kVendor, interfaces, 8), 3);
    const bool ours[3] = {false, true, false};
    const std::uint16_t vendors[3] = {0x1234, kVendor, 0x1209};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::string(interfaces[i].path), scene.process.nodes[static_cast<std::size_t>(i)]);
        EXPECT_TRUE(interfaces[i].queried) << i;
        EXPECT_EQ(interfaces[i].vendorId, vendors[i]) << i;
        EXPECT_EQ(interfaces[i].ours, ours[i]) << i;
        EXPECT_EQ(interfaces[i].problem[0] == '\0', ours[i]) << i << ": " << interfaces[i].problem;
    }
    EXPECT_STREQ(interfaces[1].name, "Virtual touch controller 1");
    EXPECT_EQ(interfaces[1].featureReportLength, 64);
    EXPECT_EQ(interfaces[1].logicalMaxX, 4095);
    EXPECT_EQ(interfaces[1].logicalMaxY, 2047);
    EXPECT_EQ(ListHidInterfaces(kVendor, interfaces, 1), 3) << "the count even when more than fit";
    EXPECT_EQ(OpenHidrawFiles(), 0);
}

TEST(VmLinkDescriptor, FeatureReportLengthFromTheKernelsDescriptor) {
    for (const int length : {5, 64, 101, 102, 4096}) {
        VmScene scene;
        // With the 4096-byte report, a 4096-byte descriptor: more than the
        // kernel's descriptor ioctl hands out, so it is read from sysfs.
        ASSERT_TRUE(scene.Start("log-file @LOG@\n" + Controller("report-length " + std::to_string(length) +
                                                                (length == 4096 ? "\ndescriptor-size 4096" : ""))))
            << scene.error;
        LinkSession session;
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0)) << length;
        EXPECT_EQ(gSession.featureReportLength, length);
        // A cue goes out at that transfer length and the report comes back whole.
        SendTargetCue();
        std::uint8_t report[kFeatureBufferSize];
        ReceiveFeature(report, kFeatureBufferSize);
        const std::string log = scene.LogText();
        const std::string size = " " + std::to_string(length) + " : ";
        EXPECT_NE(log.find("SET 00 ok" + size), std::string::npos) << length << "\n" << log;
        EXPECT_NE(log.find("GET 00 ok" + size), std::string::npos) << length << "\n" << log;
    }
}

TEST(VmLinkDescriptor, LogicalMaximaOfTheFirstTwoInputValues) {
    struct Case {
        const char* valueCaps;
        bool result;
        std::int32_t maxX, maxY;
    };
    const Case cases[] = {
        {"value-caps 2 4095 2047", true, 4095, 2047},
        {"value-caps 1 4095", true, 4095, 0},  // the missing maximum is 0, as on Windows
        {"value-caps 0", false, 0, 0},         // the caller uses 0x7FFF
        {"value-caps 3 100 200 300", true, 100, 200},
        {"value-caps 2 -1 4095", false, 0, 0},
        // 0..0xFFFF written in two bytes: -1 to the HID class, so 0x7FFF as on Windows.
        {"value-caps 2 65535 65535\nlogical-max-bytes 2", false, 0, 0},
    };
    for (const Case& c : cases) {
        VmScene scene;
        // One vendor collection: the values are the protocol's collection's.
        ASSERT_TRUE(scene.Start(Controller(std::string("layout vendor\n") + c.valueCaps))) << scene.error;
        LinkSession session;
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0)) << c.valueCaps;
        std::int32_t maxX = -77, maxY = -77;
        EXPECT_EQ(ReadLogicalMaxima(gSession.device, &maxX, &maxY), c.result) << c.valueCaps;
        EXPECT_EQ(maxX, c.result ? c.maxX : -77) << c.valueCaps;
        EXPECT_EQ(maxY, c.result ? c.maxY : -77) << c.valueCaps;
    }
}

TEST(VmLinkTransfers, ReportIdsAndLengthsAsTheHidClassSeesThem) {
    struct Case {
        const char* descriptor;
        std::uint16_t featureReportLength;    // of the protocol's collection
        std::vector<std::string> transfers;   // of one SendFeature and one ReceiveFeature
    };
    const Case cases[] = {
        // No report IDs: every attempt is report 0, so no request carries an
        // ID byte, and the first attempt (0x55) is the one that goes out.
        {"", 101, {"SET 00 ok 101", "GET 00 ok 101"}},
        // IDs 0x01 (64 bytes) and 0x66 (300) in the vendor collection, 0x02
        // (4095) in a further one: 0x55 is undeclared and never sent; 0x01
        // moves its own 64 bytes, not the collection's 300 nor the 4095.
        {"report-length 64\ndescriptor-ids 01 66:300\nsecond-collection 02:4095", 300,
         {"SET 01 ok 64", "GET 01 ok 64"}},
        {"descriptor-ids 55 01", 101, {"SET 55 ok 101", "GET 55 ok 101"}},
    };
    for (const Case& c : cases) {
        VmScene scene;
        ASSERT_TRUE(scene.Start("log-file @LOG@\n" + Controller(c.descriptor))) << scene.error;
        LinkSession session;
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0)) << c.descriptor;
        EXPECT_EQ(gSession.featureReportLength, c.featureReportLength) << c.descriptor;
        EXPECT_TRUE(SendFeature(kIdentityX, sizeof kIdentityX)) << c.descriptor;
        std::uint8_t reply[kFeatureBufferSize] = {};
        ASSERT_EQ(ReceiveFeature(reply, kFeatureBufferSize), 5) << c.descriptor;
        EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 5),
                  std::vector<std::uint8_t>(kAcceptX, kAcceptX + 5))
            << c.descriptor;
        EXPECT_EQ(Transfers(scene.LogText()), c.transfers) << c.descriptor;
    }
    // IDs declared, but neither of the protocol's: refused with no request at all.
    VmScene scene;
    ASSERT_TRUE(scene.Start("log-file @LOG@\n" + Controller("descriptor-ids 66"))) << scene.error;
    LinkSession session;
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    EXPECT_FALSE(SendFeature(kIdentityX, sizeof kIdentityX));
    std::uint8_t reply[kFeatureBufferSize];
    EXPECT_EQ(ReceiveFeature(reply, kFeatureBufferSize), 0);
    EXPECT_EQ(Transfers(scene.LogText()), std::vector<std::string>());
}

TEST(VmLinkTransfers, AnUnpluggedControllerFailsEveryTransfer) {
    VmScene scene;
    ASSERT_TRUE(scene.Start(Controller("fault gone-after 0"))) << scene.error;
    LinkSession session;
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    EXPECT_FALSE(SendFeature(kIdentityX, sizeof kIdentityX)) << "the device is unplugged";
    std::uint8_t reply[kFeatureBufferSize];
    EXPECT_EQ(ReceiveFeature(reply, kFeatureBufferSize), 0);
}

TEST(VmLinkHandshake, AcceptRejectAndSilence) {
    struct Case {
        const char* fault;
        bool accepted;
        const char* event;  // the firmware's event for the record, "" for none
        double minSeconds;  // silence: every send, each with every poll and its wait
    };
    const std::string rejectEverySend = "fault reject " + std::to_string(kSendsPerHandshake);
    const double silentSeconds = kSendsPerHandshake * (1 + kPollsPerSend) * kHandshakeWaitMs / 1000.0;
    const Case cases[] = {
        {"", true, "EVENT Cx accept 1 0 0 1", 0},
        {rejectEverySend.c_str(), false, "EVENT Cx reject (fault)", 0},
        {"fault silent", false, "EVENT ignored (silent)", silentSeconds - 0.1},
    };
    for (const Case& c : cases) {
        VmScene scene;
        ASSERT_TRUE(scene.Start("log-file @LOG@\n" + Controller(c.fault))) << scene.error;
        LinkSession session;
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SendIdentityX(), c.accepted) << c.fault;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(seconds, c.minSeconds) << c.fault;
        const std::string log = scene.LogText();
        EXPECT_NE(log.find(c.event), std::string::npos) << c.fault << "\n" << log;
        const std::vector<std::string> transfers = Transfers(log);
        const long sends = std::count(transfers.begin(), transfers.end(), "SET 00 ok 101");
        EXPECT_EQ(sends, c.accepted ? 1 : kSendsPerHandshake) << c.fault;
    }
}

}  // namespace
