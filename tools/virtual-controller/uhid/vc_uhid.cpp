// vc-uhid: the virtual controller as a real kernel HID device, through
// /dev/uhid. Every device of a config (controllers and other devices, in file
// order) becomes a USB HID device with the config's vendor and product ID and
// the report descriptor of vc_descriptor.h; the kernel's hid-generic binds
// it and gives it a /dev/hidrawN node. Feature reports the host sets or gets
// through that node are answered by the virtual controller's model: the same
// protocol, faults, panel, store and log as under Wine.
//
//   vc-uhid CONFIG [--touch FILE]
//
// Prints "device I /dev/hidrawN" for each device in file order, then "ready",
// and serves until SIGTERM or SIGINT. The touch comes from FILE (read at every
// GetFeature and every 10 ms, see vc_uhid_touch.h; without --touch, from the
// file named by KELCALIB_VC_TOUCH_FILE); without either the finger rests at
// 0, 0 of a 1024 x 768 screen, as in the native test build. With a touch
// file each controller is also a touch screen: every change of the finger,
// or of where the firmware's calibration puts it, goes out as an input
// report (UHID_INPUT2), which the kernel turns into touch events. Test tool,
// never shipped.
#include <dirent.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tools/virtual-controller/uhid/vc_uhid_touch.h"
#include "tools/virtual-controller/vc_descriptor.h"
#include "tools/virtual-controller/virtual_controller.h"

namespace {

constexpr std::uint16_t kBusUsb = 0x03;

struct UhidDevice {
    int fd;
    bool isController;
    int controller;      // index into the model's controllers, -1 for other devices
    bool destroyed;      // unplugged (fault gone-after): no node any more
    std::string uniq;    // our tag in the kernel's HID_UNIQ, to find the node
    std::string node;    // "/dev/hidrawN"
    VcDeviceInfo info;
    std::vector<std::uint8_t> lastInput;  // the last input report sent
};

VcSystem gSystem;
std::vector<UhidDevice> gDevices;
std::string gTouchPath;  // empty: the fixed default touch
TouchLatch gLatch;
// The touch file is read this often for the input reports.
constexpr int kTouchPollMs = 10;
volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

bool WriteEvent(int fd, const uhid_event& event) {
    const ssize_t n = write(fd, &event, sizeof event);
    if (n != static_cast<ssize_t>(sizeof event)) {
        std::fprintf(stderr, "vc-uhid: writing to /dev/uhid failed: %s\n",
                     n < 0 ? std::strerror(errno) : "short write");
        return false;
    }
    return true;
}

bool CreateDevice(int entryIndex, UhidDevice* device) {
    VcDeviceInfo info;
    if (!VcGetDeviceInfo(gSystem, entryIndex, &info)) return false;
    std::uint32_t longest = info.featureReportLength;
    for (int i = 0; i < info.declaredCount; ++i) longest = std::max<std::uint32_t>(longest, info.declared[i].length);
    for (int i = 0; i < info.secondCount; ++i) longest = std::max<std::uint32_t>(longest, info.second[i].length);
    if (info.isController && longest > UHID_DATA_MAX) {
        std::fprintf(stderr,
                     "vc-uhid: controller %d: a feature report of %u bytes exceeds the %d bytes a "
                     "uhid device can answer\n",
                     info.controllerIndex, static_cast<unsigned>(longest), UHID_DATA_MAX);
        return false;
    }
    const std::vector<std::uint8_t> descriptor = VcReportDescriptor(info);
    if (descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        std::fprintf(stderr, "vc-uhid: device %d: report descriptor of %zu bytes exceeds %d\n",
                     entryIndex, descriptor.size(), HID_MAX_DESCRIPTOR_SIZE);
        return false;
    }
    device->fd = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (device->fd < 0) {
        std::fprintf(stderr, "vc-uhid: cannot open /dev/uhid: %s\n", std::strerror(errno));
        return false;
    }
    device->info = info;
    device->isController = info.isController;
    device->controller = info.isController ? info.controllerIndex : -1;
    device->destroyed = false;
    device->uniq = "vc-uhid-" + std::to_string(getpid()) + "-" + std::to_string(entryIndex);

    static uhid_event event;  // 4 KB and more: not on the stack
    std::memset(&event, 0, sizeof event);
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    // Named as the replacement hid.dll names them, by their place in the config.
    std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "%s %d",
                  info.isController ? "Virtual touch controller" : "Virtual HID device", entryIndex);
    std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "vc-uhid/%d",
                  entryIndex);
    std::snprintf(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, "%s",
                  device->uniq.c_str());
    create.rd_size = static_cast<std::uint16_t>(descriptor.size());
    create.bus = kBusUsb;
    create.vendor = info.vendorId;
    create.product = info.productId;
    create.version = info.versionNumber;
    std::memcpy(create.rd_data, descriptor.data(), descriptor.size());
    return WriteEvent(device->fd, event);
}

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Reads the touch file: the touch the feature report shows now.
VcTouch SampleTouch() {
    if (gTouchPath.empty()) return ReadTouch(gTouchPath);
    const std::uint64_t now = NowMs();
    LatchTouch(&gLatch, ReadTouch(gTouchPath), now);
    return ReportedTouch(gLatch, now);
}

// Sends each controller's input report when it differs from the last one
// sent. False when writing to /dev/uhid failed.
bool SendTouchInput() {
    if (gTouchPath.empty()) return true;
    SampleTouch();
    static uhid_event event;
    for (UhidDevice& device : gDevices) {
        std::vector<std::uint8_t> report;
        if (device.destroyed || !TouchInputReport(gSystem, device.info, gLatch, &report)) continue;
        if (report == device.lastInput || report.size() > UHID_DATA_MAX) continue;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_INPUT2;
        event.u.input2.size = static_cast<std::uint16_t>(report.size());
        std::memcpy(event.u.input2.data, report.data(), report.size());
        if (!WriteEvent(device.fd, event)) return false;
        device.lastInput = report;
    }
    return true;
}

// The model's answer to a GetFeature of report `reportId`: on success the
// whole feature report, report ID first.
bool AnswerGetReport(const UhidDevice& device, std::uint8_t reportId, std::uint8_t* data,
                     std::uint16_t* size) {
    const VcControllerState& state = gSystem.controllers[static_cast<std::size_t>(device.controller)];
    // The request carries no length: the report's own, as a device answers
    // it (an undeclared report goes to the model at report-length, which
    // refuses and logs it).
    std::uint32_t length = VcWireReportLength(state.config, reportId);
    if (length == 0) length = state.config.featureReportLength;
    if (length < 1 || length > UHID_DATA_MAX) return false;
    data[0] = reportId;
    const VcTouch touch = SampleTouch();
    if (VcGetFeature(&gSystem, device.controller, data, length, touch) != VcResult::kOk) return false;
    *size = static_cast<std::uint16_t>(length);
    return true;
}

void Unplug(UhidDevice* device) {
    static uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_DESTROY;
    WriteEvent(device->fd, event);
    device->destroyed = true;
}

// Fault "slow": every transfer takes this long.
void WaitTransferTime(const UhidDevice& device) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(VcTransferDelayMs(gSystem, device.controller)));
}

// Unplugs a controller the model reports gone (after answering the transfer:
// the kernel waits for the answer).
void AfterTransfer(UhidDevice* device) {
    VcControllerState& state = gSystem.controllers[static_cast<std::size_t>(device->controller)];
    gSystem.log.clear();  // the log file keeps it; the memory need not
    if (state.gone && !device->destroyed) Unplug(device);
}

// Handles one event of `device`; false when reading failed for good.
bool ServeEvent(UhidDevice* device) {
    static uhid_event event;
    static uhid_event reply;
    const ssize_t n = read(device->fd, &event, sizeof event);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    std::memset(&reply, 0, sizeof reply);
    const bool feature = device->isController && !device->destroyed;
    if (event.type == UHID_GET_REPORT) {
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        std::uint16_t size = 0;
        bool ok = false;
        if (feature && event.u.get_report.rtype == UHID_FEATURE_REPORT) {
            WaitTransferTime(*device);
            ok = AnswerGetReport(*device, event.u.get_report.rnum, reply.u.get_report_reply.data,
                                 &size);
        }
        reply.u.get_report_reply.err = ok ? 0 : EIO;
        reply.u.get_report_reply.size = size;
        if (!WriteEvent(device->fd, reply)) return false;
        if (feature) AfterTransfer(device);
    } else if (event.type == UHID_SET_REPORT) {
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        bool ok = false;
        if (feature && event.u.set_report.rtype == UHID_FEATURE_REPORT &&
            event.u.set_report.size >= 1 && event.u.set_report.size <= UHID_DATA_MAX) {
            WaitTransferTime(*device);
            ok = VcSetFeature(&gSystem, device->controller, event.u.set_report.data,
                              event.u.set_report.size) == VcResult::kOk;
        }
        reply.u.set_report_reply.err = ok ? 0 : EIO;
        if (!WriteEvent(device->fd, reply)) return false;
        if (feature) AfterTransfer(device);
    }
    // UHID_START / STOP / OPEN / CLOSE / OUTPUT need no answer.
    return true;
}

// Serves every device's events for up to `timeoutMs` (-1: until an event or a
// signal). False when a device's /dev/uhid failed.
bool Serve(int timeoutMs) {
    std::vector<pollfd> fds;
    for (const UhidDevice& device : gDevices) fds.push_back({device.fd, POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0) return errno == EINTR;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
        if ((fds[i].revents & POLLIN) != 0 && !ServeEvent(&gDevices[i])) return false;
    }
    return true;
}

// The hidraw node the kernel made for the device tagged `uniq`, or "".
std::string FindNode(const std::string& uniq) {
    std::string found;
    DIR* dir = opendir("/sys/class/hidraw");
    if (dir == nullptr) return found;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string path = std::string("/sys/class/hidraw/") + entry->d_name + "/device/uevent";
        std::FILE* file = std::fopen(path.c_str(), "r");
        if (file == nullptr) continue;
        char line[256];
        while (std::fgets(line, sizeof line, file) != nullptr) {
            if (("HID_UNIQ=" + uniq + "\n") == line) found = std::string("/dev/") + entry->d_name;
        }
        std::fclose(file);
    }
    closedir(dir);
    struct stat st;
    if (!found.empty() && stat(found.c_str(), &st) != 0) found.clear();
    return found;
}

// Creates the device and serves events until its hidraw node exists, so the
// nodes are numbered in file order.
bool BringUp(int entryIndex) {
    gDevices.push_back(UhidDevice());
    if (!CreateDevice(entryIndex, &gDevices.back())) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        gDevices.back().node = FindNode(gDevices.back().uniq);
        if (!gDevices.back().node.empty()) return true;
        if (!Serve(10)) return false;
    }
    std::fprintf(stderr,
                 "vc-uhid: device %d got no hidraw node within 10 s (is hid-generic loaded? did "
                 "the kernel refuse its descriptor? see dmesg)\n",
                 entryIndex);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::string configPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--touch" && i + 1 < argc) {
            gTouchPath = argv[++i];
        } else if (configPath.empty() && !arg.empty() && arg[0] != '-') {
            configPath = arg;
        } else {
            std::fprintf(stderr, "vc-uhid: unexpected argument '%s'\nusage: vc-uhid CONFIG [--touch FILE]\n",
                         arg.c_str());
            return 2;
        }
    }
    // The same variable names the interposer's touch file.
    const char* touchFile = std::getenv("KELCALIB_VC_TOUCH_FILE");
    if (gTouchPath.empty() && touchFile != nullptr) gTouchPath = touchFile;
    if (configPath.empty()) {
        std::fprintf(stderr, "usage: vc-uhid CONFIG [--touch FILE]\n");
        return 2;
    }
    VcConfig config;
    std::string error;
    if (!VcLoadConfigFile(configPath, &config, &error)) {
        std::fprintf(stderr, "vc-uhid: %s\n", error.c_str());
        return 2;
    }
    VcReset(&gSystem, config);
    gSystem.wireRequests = true;  // requests as a device sees them

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;  // no SA_RESTART: poll returns on the signal
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    gDevices.reserve(static_cast<std::size_t>(VcDeviceCount(gSystem)));
    bool ok = true;
    for (int i = 0; ok && i < VcDeviceCount(gSystem) && !gStop; ++i) ok = BringUp(i);
    if (ok && !gStop) {
        for (std::size_t i = 0; i < gDevices.size(); ++i) {
            std::printf("device %zu %s\n", i, gDevices[i].node.c_str());
        }
        std::printf("ready\n");
        std::fflush(stdout);
        while (!gStop && ok) {
            ok = Serve(gTouchPath.empty() ? -1 : kTouchPollMs) && SendTouchInput();
        }
    }
    for (UhidDevice& device : gDevices) {
        if (device.fd >= 0) close(device.fd);  // closing destroys the device
    }
    return ok ? 0 : 1;
}
