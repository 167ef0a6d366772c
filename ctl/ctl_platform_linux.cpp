// kelcalib-ctl's Linux edge: closing the controller's node, the permission
// advice of the hidraw link, SIGINT, SIGTERM, SIGHUP and SIGPIPE, the
// monotonic clock, files.
#include "ctl/ctl_platform.h"

#include <signal.h>

#include <cstdio>
#include <ctime>

#include "app/session_state.h"
#include "device/hid_device.h"
#include "device/hidraw_sysfs_linux.h"

namespace {

volatile sig_atomic_t gInterrupted = 0;

void OnSignal(int) {
    gInterrupted = 1;
}

}  // namespace

void CtlCloseController() {
    CloseTouchDevice();
}

// The link keeps a note of the first node of our vendor ID (or of an
// unknown one) that refused this user while it listed the nodes; what else
// it notes (a malformed descriptor, a node in use) is no permission problem.
bool CtlDeniedAccess(const HidInterfaceInfo*, int, std::uint16_t, char* why, std::size_t whySize) {
    return DescribePermissionProblem(why, whySize);
}

void CtlCatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool CtlInterrupted() {
    return gInterrupted != 0;
}

void CtlInterruptNow() {
    gInterrupted = 1;
}

void CtlIgnoreBrokenPipe() {
    signal(SIGPIPE, SIG_IGN);
}

bool CtlControllerGone() {
    return gSession.deviceGone;
}

void CtlInterruptHandled() {}

void CtlInputDevices(const HidInterfaceInfo& info, CtlListedController* controller) {
    EventDevices events{};
    unsigned node = 0;
    if (HidrawNodeNumber(info.path, &node)) HidrawEventDevices(node, &events);
    controller->inputDeviceCount = events.count;
    for (int i = 0; i < events.count && i < 4; ++i) {
        std::snprintf(controller->inputDevices[i], sizeof controller->inputDevices[i], "%s",
                      events.path[i]);
    }
}

// kelcalib holds the controller's node lock for its whole session: the
// commit's open finds the controller in use.
bool CtlKeepCalibrationOut(char*, std::size_t) {
    return true;
}

std::uint64_t CtlMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::FILE* CtlOpenFileForReading(const char* path) {
    return std::fopen(path, "rbe");
}
