// kelcalib-ctl's Linux edge: SIGINT, SIGTERM, SIGHUP and SIGPIPE, the input
// event devices of a controller, the monotonic clock, files.
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
