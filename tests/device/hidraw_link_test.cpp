// The Linux controller link through its real hidraw path (open, ioctl,
// readdir of /dev) against the virtual controller, presented as /dev/hidrawN
// nodes by the interposer libkelcalib-vc-hidraw.so. Run it under the
// interposer: build/native/with-vc-hidraw build/native/tests/hidraw_link_test
// (CTest does so).
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "device/hid_enumerate.h"

namespace {

constexpr std::uint16_t kVendorId = KELCALIB_VENDOR_ID;

class HidrawLink : public ::testing::Test {
protected:
    void SetUp() override {
        reload_ = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "KelVcHidrawReload"));
        openCount_ = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "KelVcHidrawOpenCount"));
        ASSERT_NE(reload_, nullptr) << "run this program with build/<preset>/with-vc-hidraw";
        ASSERT_NE(openCount_, nullptr);
        char directory[] = "/tmp/kelcalib-hidraw-test.XXXXXX";
        ASSERT_NE(mkdtemp(directory), nullptr);
        directory_ = directory;
        gSession = InitialSessionState();
        unsetenv("KELCALIB_VC_TOUCH_FILE");
    }

    void TearDown() override {
        CloseTouchDevice();
        for (const char* name : {"vc.conf", "vc.log", "touch"}) std::remove(Path(name).c_str());
        for (int node = 0; node < 16; ++node) {
            std::remove(Path(("vc.conf.hidraw" + std::to_string(node) + ".lock").c_str()).c_str());
        }
        rmdir(directory_.c_str());
        unsetenv("KELCALIB_VC_HIDRAW_FIRST");
        unsetenv("KELCALIB_VC_HIDRAW_DENY");
    }

    std::string Path(const char* name) const { return directory_ + "/" + name; }

    // Presents the devices of `config` (with a log file), the first node
    // numbered `first`, the entries in `deny` refusing to open.
    void Present(const std::string& config, const char* first = "0", const char* deny = "") {
        std::remove(Path("vc.log").c_str());
        std::ofstream(Path("vc.conf")) << "log-file " << Path("vc.log") << "\n" << config;
        setenv("KELCALIB_VC_CONFIG", Path("vc.conf").c_str(), 1);
        setenv("KELCALIB_VC_HIDRAW_FIRST", first, 1);
        setenv("KELCALIB_VC_HIDRAW_DENY", deny, 1);
        ASSERT_EQ(reload_(), 1);
    }

    // The log's transfer lines without their sequence numbers: "0 SET 55 ok 101".
    std::vector<std::string> Transfers(const char* kind) const {
        std::vector<std::string> lines;
        std::ifstream log(Path("vc.log"));
        for (std::string line; std::getline(log, line);) {
            std::istringstream words(line);
            std::string sequence, controller, what, id, result, length;
            words >> sequence >> controller >> what >> id >> result >> length;
            if (what == kind) lines.push_back(controller + " " + what + " " + id + " " + result + " " + length);
        }
        return lines;
    }

    std::string LogText() const {
        std::ifstream log(Path("vc.log"));
        return std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    }

    int OpenCount() const { return openCount_(); }

    int (*reload_)() = nullptr;
    int (*openCount_)() = nullptr;
    std::string directory_;
};

int ProductOfOpenDevice() {
    hidraw_devinfo info{};
    if (ioctl(DeviceFileDescriptor(gSession.device), HIDIOCGRAWINFO, &info) < 0) return -1;
    return static_cast<std::uint16_t>(info.product);
}

struct Enumeration {
    const char* what;
    const char* config;
    const char* first;
    const char* deny;
    std::uint16_t matchIndex;
    int product;  // of the controller opened, -1: none
};

// Node order, match index 0..2, foreign devices and controllers: the VM
// suite's (VmLinkEnumeration) against a real kernel. Here what only the
// interposer can present.
const Enumeration kEnumerations[] = {
    {"an unopenable node first is skipped",
     "controller\nproduct-id 1\ncontroller\nproduct-id 2\n", "0", "0", 0, 2},
    {"nodes by number, not by name (hidraw10 after hidraw9)",
     "other-device 0x845E 1\ncontroller\nproduct-id 1\ncontroller\nproduct-id 2\n", "8", "", 1, 2},
    {"nothing at an index beyond the controllers",
     "controller\nproduct-id 1\ncontroller\nproduct-id 2\n", "0", "", 2, -1},
};

TEST_F(HidrawLink, FindsTheControllerByVendorIdAndMatchIndex) {
    for (const Enumeration& c : kEnumerations) {
        SCOPED_TRACE(c.what);
        Present(c.config, c.first, c.deny);
        gSession = InitialSessionState();
        EXPECT_EQ(OpenTouchDevice(kVendorId, c.matchIndex), c.product >= 0);
        if (c.product >= 0) {
            EXPECT_GE(DeviceFileDescriptor(gSession.device), 3);
            EXPECT_EQ(ProductOfOpenDevice(), c.product);
            EXPECT_EQ(gSession.featureReportLength, 101);
        } else {
            EXPECT_EQ(gSession.device, nullptr);
        }
        EXPECT_EQ(OpenCount(), c.product >= 0 ? 1 : 0) << "every other node was closed again";
        CloseTouchDevice();
        EXPECT_EQ(gSession.device, nullptr);
        EXPECT_EQ(OpenCount(), 0);
    }
}

TEST_F(HidrawLink, HandleStaysAboveTheStandardStreams) {
    Present("controller\n");
    const int savedStdin = dup(0);
    ASSERT_GE(savedStdin, 0);
    close(0);  // the node's descriptor would be 0 now
    const bool opened = OpenTouchDevice(kVendorId, 0);
    dup2(savedStdin, 0);
    close(savedStdin);
    ASSERT_TRUE(opened);
    EXPECT_GE(DeviceFileDescriptor(gSession.device), 3);
    EXPECT_EQ(OpenCount(), 1);
    const std::uint8_t abort[4] = {0x01, 'R', 's', 0x0D};
    EXPECT_TRUE(SendFeature(abort, 4)) << "the moved descriptor still reaches the device";
}

TEST_F(HidrawLink, AnOpenedControllerIsLockedAgainstEveryOtherProgram) {
    Present("controller\n");
    const auto lockedByAnother = [] {
        const int other = open("/dev/hidraw0", O_RDWR | O_CLOEXEC);
        const bool locked = flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        close(other);
        return locked;
    };
    ASSERT_TRUE(OpenTouchDevice(kVendorId, 0));
    EXPECT_TRUE(lockedByAnother()) << "held while open";
    CloseTouchDevice();
    EXPECT_FALSE(lockedByAnother()) << "released at the close";

    const int holder = open("/dev/hidraw0", O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(OpenTouchDevice(kVendorId, 0)) << "another program holds it";
    EXPECT_EQ(OpenCount(), 1) << "only the holder's descriptor stays open";
    char text[512];
    ASSERT_TRUE(DescribeOpenProblem(text, sizeof text));
    EXPECT_NE(std::string(text).find("/dev/hidraw0: the controller is in use by another program"),
              std::string::npos)
        << text;
    EXPECT_FALSE(DescribePermissionProblem(text, sizeof text)) << "no permission problem";
    HidInterfaceInfo info[2];
    ASSERT_EQ(ListHidInterfaces(kVendorId, info, 2), 1);
    EXPECT_STREQ(info[0].problem, "in use by another program (kelcalib or kelcalib-ctl)");
    close(holder);
    EXPECT_TRUE(OpenTouchDevice(kVendorId, 0));
}

TEST_F(HidrawLink, TouchPacketsFollowTheTouchFile) {
    Present("controller\n");
    setenv("KELCALIB_VC_TOUCH_FILE", Path("touch").c_str(), 1);
    std::ofstream(Path("touch")) << "512 384 1024 768\n";
    ASSERT_TRUE(OpenTouchDevice(kVendorId, 0));
    SendTargetCue();
    std::uint16_t rawX = 0;
    std::uint16_t rawY = 0;
    ASSERT_TRUE(ReadTouchPoint(&rawX, &rawY));
    EXPECT_EQ(rawX, 32768);
    EXPECT_EQ(rawY, 32768);
    std::ofstream(Path("touch")) << "none\n";
    EXPECT_FALSE(ReadTouchPoint(&rawX, &rawY)) << "no finger, no packets";
}

struct Permission {
    const char* what;
    const char* config;
    bool opened;
    bool described;
};

TEST_F(HidrawLink, PermissionProblemNamesTheNodeTheReasonAndTheRule) {
    const Permission cases[] = {
        {"our controller refuses", "controller\n", false, true},
        {"only a foreign device refuses", "other-device 0x845E 1\n", false, false},
        {"a second controller opens", "controller\ncontroller\n", true, false},
    };
    for (const Permission& c : cases) {
        SCOPED_TRACE(c.what);
        Present(c.config, "3", "0");
        EXPECT_EQ(OpenTouchDevice(kVendorId, 0), c.opened);
        char text[1024];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(DescribeOpenProblem(text, sizeof text), c.described);
        const std::string message(text);
        if (c.described) {
            EXPECT_EQ(message.rfind("/dev/hidraw3: Permission denied.\n", 0), 0u) << message;
            char rule[96];
            std::snprintf(rule, sizeof rule, "SUBSYSTEM==\"hidraw\", KERNELS==\"*:%04X:*\", TAG+=\"uaccess\"",
                          kVendorId);
            EXPECT_NE(message.find(rule), std::string::npos) << message;
            char small[16];
            EXPECT_TRUE(DescribeOpenProblem(small, sizeof small));
            EXPECT_EQ(std::string(small), message.substr(0, 15)) << "cut, and terminated";
        } else {
            EXPECT_EQ(message, "");
        }
        CloseTouchDevice();
    }
}

TEST_F(HidrawLink, ListsEveryNodeAndWhyItIsNotOurs) {
    Present("other-device 0x845E 0x0021\ncontroller\nlayout vendor\nproduct-id 5\nreport-length 64\n"
            "value-caps 1 4095\ncontroller\nvalue-caps 0\ncontroller\n",
            "0", "3");
    HidInterfaceInfo list[3];
    ASSERT_EQ(ListHidInterfaces(kVendorId, list, 3), 4) << "the count of all, beyond the capacity";
    EXPECT_STREQ(list[0].path, "/dev/hidraw0");
    EXPECT_TRUE(list[0].queried);
    EXPECT_FALSE(list[0].ours);
    EXPECT_EQ(list[0].productId, 0x21);
    char problem[64];
    std::snprintf(problem, sizeof problem, "vendor ID 0x845E is not 0x%04X", kVendorId);
    EXPECT_STREQ(list[0].problem, problem);

    EXPECT_STREQ(list[1].path, "/dev/hidraw1");
    EXPECT_TRUE(list[1].ours);
    EXPECT_STREQ(list[1].name, "KelCalib virtual controller 0");
    EXPECT_EQ(list[1].productId, 5);
    EXPECT_EQ(list[1].featureReportLength, 64);
    EXPECT_EQ(list[1].logicalMaxX, 4095);
    EXPECT_EQ(list[1].logicalMaxY, 0);
    EXPECT_STREQ(list[1].problem, "");

    EXPECT_TRUE(list[2].ours);
    EXPECT_EQ(list[2].logicalMaxX, 0x7FFF) << "no input values: the default maxima";
    EXPECT_EQ(list[2].logicalMaxY, 0x7FFF);

    HidInterfaceInfo all[4];
    ASSERT_EQ(ListHidInterfaces(kVendorId, all, 4), 4);
    EXPECT_FALSE(all[3].queried);
    EXPECT_EQ(all[3].vendorId, kVendorId) << "from sysfs, without opening the node";
    EXPECT_STREQ(all[3].problem, "cannot be opened: Permission denied (a udev rule grants access)");
    char text[1024];
    EXPECT_TRUE(DescribeOpenProblem(text, sizeof text));
    EXPECT_EQ(OpenCount(), 0) << "the listing closes what it opened";
}

TEST_F(HidrawLink, SlowControllerTakesItsTime) {
    Present("controller\nfault slow 150\n");
    ASSERT_TRUE(OpenTouchDevice(kVendorId, 0));
    timespec before{};
    timespec after{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const std::uint8_t abort[4] = {0x01, 'R', 's', 0x0D};
    EXPECT_TRUE(SendFeature(abort, 4));
    clock_gettime(CLOCK_MONOTONIC, &after);
    const long elapsedMs = (after.tv_sec - before.tv_sec) * 1000 + (after.tv_nsec - before.tv_nsec) / 1000000;
    EXPECT_GE(elapsedMs, 150);
}

}  // namespace
