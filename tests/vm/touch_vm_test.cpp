// The virtual controller as a real touch screen: vc-uhid's input reports
// reach the kernel's input layer as the touch events of an event device
// beside the hidraw node, at the position the firmware's calibration of the
// moment gives the finger, while the link still reads the raw position from
// the feature report.
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/session_state.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "tests/vm/vm_scene.h"
#include "tools/virtual-controller/uhid/vc_uhid_touch.h"

namespace {

const std::uint16_t kVendor = static_cast<std::uint16_t>(KELCALIB_VENDOR_ID);

// "/dev/input/eventN" of the input device the kernel made beside `hidraw`.
std::string EventNodeBeside(const std::string& hidraw) {
    const std::string name = hidraw.substr(hidraw.rfind('/') + 1);
    const std::string inputs = "/sys/class/hidraw/" + name + "/device/input";
    std::string found;
    if (DIR* dir = opendir(inputs.c_str())) {
        while (dirent* input = readdir(dir)) {
            if (input->d_name[0] == '.') continue;
            if (DIR* sub = opendir((inputs + "/" + input->d_name).c_str())) {
                while (dirent* entry = readdir(sub)) {
                    if (std::string(entry->d_name).rfind("event", 0) == 0) {
                        found = std::string("/dev/input/") + entry->d_name;
                    }
                }
                closedir(sub);
            }
        }
        closedir(dir);
    }
    return found;
}

// The events the device reports, with their latest values.
struct EventReader {
    int fd = -1;
    int touch = -1;  // BTN_TOUCH, -1 before any
    int x = -1;
    int y = -1;
    ~EventReader() {
        if (fd >= 0) close(fd);
    }
    // Reads events until the state is `touch`, `x`, `y` (or 3 s passed).
    bool WaitFor(int wantTouch, int wantX, int wantY) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!(touch == wantTouch && x == wantX && y == wantY)) {
            if (std::chrono::steady_clock::now() > end) return false;
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            input_event event;
            while (read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
                if (event.type == EV_KEY && event.code == BTN_TOUCH) touch = event.value;
                if (event.type == EV_ABS && event.code == ABS_X) x = event.value;
                if (event.type == EV_ABS && event.code == ABS_Y) y = event.value;
            }
        }
        return true;
    }
};

bool HasBit(const unsigned long* bits, int bit) {
    const int width = static_cast<int>(8 * sizeof(unsigned long));
    return ((bits[bit / width] >> (bit % width)) & 1UL) != 0;
}

// Starts the controller of `settings` and opens the event device beside its
// hidraw node.
void StartTouchScreen(const char* settings, VmScene* scene, EventReader* events) {
    char config[256];
    std::snprintf(config, sizeof config, "controller\nvendor-id 0x%04X\n%s", kVendor, settings);
    ASSERT_TRUE(scene->Start(config)) << scene->error;
    const std::string node = EventNodeBeside(scene->process.nodes[0]);
    ASSERT_FALSE(node.empty()) << "no event device beside " << scene->process.nodes[0];
    events->fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(events->fd, 0) << node;
}

TEST(VmTouch, TheControllerIsATouchScreenReportingThroughTheFirmwaresCalibrationOfTheMoment) {
    VmScene scene;
    EventReader events;
    ASSERT_NO_FATAL_FAILURE(StartTouchScreen("panel mirrored\n", &scene, &events));

    // A touch screen: the tip switch and absolute X and Y with the maxima of
    // the config, pointing where it is touched.
    unsigned long keys[KEY_CNT / (8 * sizeof(unsigned long)) + 1] = {};
    ASSERT_GE(ioctl(events.fd, EVIOCGBIT(EV_KEY, sizeof keys), keys), 0);
    EXPECT_TRUE(HasBit(keys, BTN_TOUCH));
    EXPECT_FALSE(HasBit(keys, BTN_LEFT) || HasBit(keys, BTN_TOOL_FINGER)) << "not a mouse or touchpad";
    for (int axis : {ABS_X, ABS_Y}) {
        input_absinfo info = {};
        ASSERT_GE(ioctl(events.fd, EVIOCGABS(axis), &info), 0);
        EXPECT_EQ(info.minimum, 0);
        EXPECT_EQ(info.maximum, 32767);
    }

    // With the identity records the mirrored panel's raw X (49151) lies past
    // the logical maximum; the report holds the maximum.
    {
        CloseTouchDevice();
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
        ASSERT_TRUE(WriteTouch(scene.touch, "256 192"));
        EXPECT_TRUE(events.WaitFor(1, 32767, 16384));
        // New records while the finger stays: the next report follows them.
        const std::int32_t records[2][4] = {{-1, 0, 32767, 2}, {0, 1, 0, 2}};
        std::memcpy(gSession.deviceRecords, records, sizeof records);
        ASSERT_TRUE(SendCoefficients());
        EXPECT_TRUE(events.WaitFor(1, 8192, 8192));
        // Lifted: the tip switch goes up at once; the feature report keeps
        // the raw position for a read on the release, then holds no packet.
        SendTargetCue();
        ASSERT_TRUE(WriteTouch(scene.touch, "none"));
        EXPECT_TRUE(events.WaitFor(0, 8192, 8192));
        std::uint16_t rawX = 0;
        std::uint16_t rawY = 0;
        EXPECT_TRUE(ReadTouchPoint(&rawX, &rawY));
        EXPECT_EQ(rawX, 49151);
        EXPECT_EQ(rawY, 16384);
        std::this_thread::sleep_for(std::chrono::milliseconds(kLiftLingerMs + 200));
        EXPECT_FALSE(ReadTouchPoint(&rawX, &rawY));
        // The abort command puts the committed identity back: a touch at
        // the same place reports the clamped raw position again.
        ASSERT_TRUE(SendAbort());
        ASSERT_TRUE(WriteTouch(scene.touch, "256 192"));
        EXPECT_TRUE(events.WaitFor(1, 32767, 16384));
        CloseTouchDevice();
    }
}

// With report IDs declared the input report goes under the first one, and a
// maximum written as 0xFFFF in two bytes is 0..65535 to the kernel: with
// the identity records the event device reports the raw position itself.
TEST(VmTouch, TheInputReportFollowsTheDescriptorsReportIdAndFields) {
    VmScene scene;
    EventReader events;
    ASSERT_NO_FATAL_FAILURE(StartTouchScreen(
        "descriptor-ids 55\nlogical-max-bytes 2\nvalue-caps 2 65535 65535\npanel mirrored\n", &scene, &events));
    input_absinfo info = {};
    ASSERT_GE(ioctl(events.fd, EVIOCGABS(ABS_X), &info), 0);
    EXPECT_EQ(info.maximum, 65535);
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    ASSERT_TRUE(WriteTouch(scene.touch, "256 192"));
    ASSERT_TRUE(SendTargetCue());
    std::uint16_t rawX = 0;
    std::uint16_t rawY = 0;
    ASSERT_TRUE(ReadTouchPoint(&rawX, &rawY));
    EXPECT_TRUE(events.WaitFor(1, rawX, rawY)) << "raw " << rawX << " " << rawY << ", event " << events.x
                                                << " " << events.y;
    CloseTouchDevice();
}

}  // namespace
