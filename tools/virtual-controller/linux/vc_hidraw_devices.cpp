// The virtual hidraw devices (see vc_hidraw_devices.h).
#include "tools/virtual-controller/linux/vc_hidraw_devices.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "tools/virtual-controller/linux/vc_hidraw_touch.h"
#include "tools/virtual-controller/vc_descriptor.h"
#include "tools/virtual-controller/virtual_controller.h"

namespace {

struct Device {
    VcDeviceInfo info;
    std::vector<std::uint8_t> descriptor;
    bool denied;
};

struct State {
    std::mutex lock;
    bool loaded = false;
    bool configOk = false;  // the config was read and understood
    std::string configPath;
    std::string configText;
    VcSystem system;
    std::vector<Device> devices;
    unsigned firstNode = 0;
    std::map<int, int> fds;  // open descriptor -> entry
    std::map<int, int> lockFiles;  // open descriptor -> its lock file's descriptor
};

// Never destroyed: libc calls can come in while the process exits.
State& Shared() {
    static State* state = new State;
    return *state;
}

void Report(const std::string& message) {
    static std::string last;
    if (message == last) return;
    last = message;
    std::fprintf(stderr, "virtual controller hidraw: %s\n", message.c_str());
}

std::string ReadFile(const std::string& path, bool* ok) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    *ok = file != nullptr;
    if (file == nullptr) return text;
    char chunk[1024];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return text;
}

// Entry numbers in KELCALIB_VC_HIDRAW_DENY (separated by spaces or commas).
std::vector<int> DeniedEntries() {
    std::vector<int> entries;
    const char* text = std::getenv(kVcHidrawDenyVariable);
    if (text == nullptr) return entries;
    const char* p = text;
    while (*p != '\0') {
        if (*p == ' ' || *p == ',') {
            ++p;
            continue;
        }
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        if (end == p || value < 0 || value > 1000) {
            Report(std::string(kVcHidrawDenyVariable) + ": expected entry numbers, not '" + text + "'");
            break;
        }
        entries.push_back(static_cast<int>(value));
        p = end;
    }
    return entries;
}

unsigned FirstNode() {
    const char* text = std::getenv(kVcHidrawFirstVariable);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 10000) {
        Report(std::string(kVcHidrawFirstVariable) + ": expected a node number, not '" + text + "'");
        return 0;
    }
    return static_cast<unsigned>(value);
}

// Loads the config named by the environment; without one, no devices.
void Load(State& state) {
    state.loaded = true;
    state.devices.clear();
    state.firstNode = FirstNode();
    const char* path = std::getenv(kVcConfigEnvironmentVariable);
    state.configPath = path != nullptr ? path : "";
    VcConfig config;
    bool ok = false;
    if (state.configPath.empty()) {
        Report(std::string(kVcConfigEnvironmentVariable) + " is not set; no devices");
        state.configText.clear();
    } else {
        state.configText = ReadFile(state.configPath, &ok);
        std::string error;
        if (!ok) {
            Report(state.configPath + ": cannot be opened; no devices");
        } else if (!VcParseConfig(state.configText, &config, &error)) {
            Report(state.configPath + ": " + error + "; no devices");
            ok = false;
        }
    }
    state.configOk = ok;
    VcReset(&state.system, ok ? config : VcConfig());
    state.system.wireRequests = true;  // requests as a device sees them
    const std::vector<int> denied = DeniedEntries();
    for (int i = 0; i < VcDeviceCount(state.system); ++i) {
        Device device{};
        VcGetDeviceInfo(state.system, i, &device.info);
        device.descriptor = VcReportDescriptor(device.info);
        device.denied = std::find(denied.begin(), denied.end(), i) != denied.end();
        state.devices.push_back(device);
    }
}

void EnsureLoaded(State& state) {
    if (!state.loaded) Load(state);
}

// Reloads when the config named by the environment is another file or its
// text changed; the devices then start afresh.
void ReloadIfChanged(State& state) {
    if (!state.loaded) {
        Load(state);
        return;
    }
    const char* path = std::getenv(kVcConfigEnvironmentVariable);
    bool readable = false;
    const std::string text = path != nullptr ? ReadFile(path, &readable) : std::string();
    if ((path != nullptr ? path : "") != state.configPath || text != state.configText) Load(state);
}

bool ValidEntry(const State& state, int entry) {
    return entry >= 0 && entry < static_cast<int>(state.devices.size());
}

// The entry of node number `number`, or -1.
int EntryOfNode(const State& state, unsigned long number) {
    if (number < state.firstNode) return -1;
    const unsigned long entry = number - state.firstNode;
    return entry < state.devices.size() ? static_cast<int>(entry) : -1;
}

// Parses "<digits>" at `text` up to `end` (the rest of the path after it).
bool NodeNumber(const char* text, const char* rest, unsigned long* number) {
    const std::size_t digits = std::strspn(text, "0123456789");
    if (digits == 0 || digits > 6 || std::strcmp(text + digits, rest) != 0) return false;
    *number = std::strtoul(text, nullptr, 10);
    return true;
}

std::string DeviceName(const State& state, const Device& device) {
    if (device.info.isController) {
        const std::string& configured =
            state.system.controllers[static_cast<std::size_t>(device.info.controllerIndex)].config.name;
        if (!configured.empty()) return configured;
    }
    char name[64];
    if (device.info.isController) {
        std::snprintf(name, sizeof name, "KelCalib virtual controller %d", device.info.controllerIndex);
    } else {
        std::snprintf(name, sizeof name, "virtual HID device %04X:%04X", device.info.vendorId,
                      device.info.productId);
    }
    return name;
}

int Fail(int error) {
    errno = error;
    return -1;
}

int CopyString(const std::string& text, void* argument, unsigned size) {
    const unsigned length = std::min<unsigned>(static_cast<unsigned>(text.size()) + 1, size);
    std::memcpy(argument, text.c_str(), length);
    return static_cast<int>(length);
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

int ErrorOf(VcResult result) {
    switch (result) {
        case VcResult::kOk: return 0;
        case VcResult::kRefused: return EPIPE;  // the device stalls the request
        case VcResult::kBadLength: return EINVAL;
        case VcResult::kGone: return ENODEV;
    }
    return EIO;
}

int FeatureTransfer(int entry, bool set, void* buffer, unsigned length) {
    State& state = Shared();
    int controller = -1;
    std::uint32_t delay = 0;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (!ValidEntry(state, entry)) return Fail(ENODEV);
        const Device& device = state.devices[static_cast<std::size_t>(entry)];
        if (!device.info.isController) return Fail(EPIPE);  // no feature report to answer
        controller = device.info.controllerIndex;
        delay = VcTransferDelayMs(state.system, controller);
    }
    if (length == 0) return Fail(EINVAL);
    // The touch source may read files: asked outside the lock.
    const VcTouch touch = set ? VcTouch{} : VcHidrawCurrentTouch();
    if (delay > 0) SleepMilliseconds(delay);
    std::lock_guard<std::mutex> guard(state.lock);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const VcResult result = set ? VcSetFeature(&state.system, controller, bytes, length)
                                : VcGetFeature(&state.system, controller, bytes, length, touch);
    state.system.log.clear();  // the log file keeps it; memory need not
    if (result != VcResult::kOk) return Fail(ErrorOf(result));
    return static_cast<int>(length);
}

}  // namespace

bool VcHidrawIsDevDirectory(const char* path) {
    return path != nullptr && (std::strcmp(path, "/dev") == 0 || std::strcmp(path, "/dev/") == 0);
}

std::vector<std::string> VcHidrawDevListing() {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    ReloadIfChanged(state);
    std::vector<std::string> names = {".", "..", "null", "hidraw", "hidrawx1"};
    for (std::size_t i = state.devices.size(); i-- > 0;) {
        names.push_back("hidraw" + std::to_string(state.firstNode + i));
        if (i == state.devices.size() / 2) names.push_back("hidraw-0");
    }
    return names;
}

VcHidrawPath VcHidrawClassify(const char* path, int* entry) {
    static const char kNodePrefix[] = "/dev/hidraw";
    static const char kSysPrefix[] = "/sys/class/hidraw/hidraw";
    if (path == nullptr) return VcHidrawPath::kOther;
    VcHidrawPath kind = VcHidrawPath::kOther;
    unsigned long number = 0;
    if (std::strncmp(path, kNodePrefix, sizeof kNodePrefix - 1) == 0 &&
        NodeNumber(path + sizeof kNodePrefix - 1, "", &number)) {
        kind = VcHidrawPath::kNode;
    } else if (std::strncmp(path, kSysPrefix, sizeof kSysPrefix - 1) == 0 &&
               NodeNumber(path + sizeof kSysPrefix - 1, "/device/uevent", &number)) {
        kind = VcHidrawPath::kUevent;
    } else {
        return VcHidrawPath::kOther;
    }
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    EnsureLoaded(state);
    *entry = EntryOfNode(state, number);
    return *entry < 0 ? VcHidrawPath::kOther : kind;
}

bool VcHidrawDenied(int entry) {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    return ValidEntry(state, entry) && state.devices[static_cast<std::size_t>(entry)].denied;
}

std::string VcHidrawUevent(int entry) {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!ValidEntry(state, entry)) return std::string();
    const Device& device = state.devices[static_cast<std::size_t>(entry)];
    char text[160];
    std::snprintf(text, sizeof text, "DRIVER=hid-generic\nHID_ID=0003:%08X:%08X\nHID_NAME=%s\n",
                  device.info.vendorId, device.info.productId, DeviceName(state, device).c_str());
    return text;
}

void VcHidrawAddFd(int fd, int entry) {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    state.fds[fd] = entry;
}

void VcHidrawRemoveFd(int fd) {
    State& state = Shared();
    int lockFile = -1;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.fds.erase(fd);
        const auto found = state.lockFiles.find(fd);
        if (found != state.lockFiles.end()) {
            lockFile = found->second;
            state.lockFiles.erase(found);
        }
    }
    // Straight to the kernel: the interposer's own close would come back here.
    if (lockFile >= 0) syscall(SYS_close, lockFile);
}

namespace {

// The lock file of the node `fd` stands for, opened once per descriptor;
// -1 with errno set.
int LockFileOf(int fd) {
    State& state = Shared();
    int lockFile = -1;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        const auto entry = state.fds.find(fd);
        if (entry == state.fds.end()) return Fail(EBADF);
        const auto found = state.lockFiles.find(fd);
        if (found != state.lockFiles.end()) {
            lockFile = found->second;
        } else {
            const std::string path =
                state.configPath + ".hidraw" + std::to_string(state.firstNode + static_cast<unsigned>(entry->second)) + ".lock";
            lockFile = static_cast<int>(
                syscall(SYS_openat, AT_FDCWD, path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
            if (lockFile < 0) return -1;
            state.lockFiles[fd] = lockFile;
        }
    }
    return lockFile;
}

}  // namespace

int VcHidrawFlock(int fd, int operation) {
    const int lockFile = LockFileOf(fd);
    if (lockFile < 0) return -1;
    return static_cast<int>(syscall(SYS_flock, lockFile, operation));
}

int VcHidrawFcntlLock(int fd, int cmd, void* argument) {
    const int lockFile = LockFileOf(fd);
    if (lockFile < 0) return -1;
    return static_cast<int>(syscall(SYS_fcntl, lockFile, cmd, argument));
}

int VcHidrawEntryOfFd(int fd) {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    const auto found = state.fds.find(fd);
    return found == state.fds.end() ? -1 : found->second;
}

int VcHidrawOpenFdCount() {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    return static_cast<int>(state.fds.size());
}

int VcHidrawIoctl(int entry, unsigned long request, void* argument) {
    if (_IOC_TYPE(request) != 'H') return Fail(ENOTTY);
    if (argument == nullptr) return Fail(EFAULT);
    const unsigned size = _IOC_SIZE(request);
    const unsigned number = _IOC_NR(request);
    const unsigned direction = _IOC_DIR(request);
    if (direction == (_IOC_READ | _IOC_WRITE) && (number == 0x06 || number == 0x07)) {
        return FeatureTransfer(entry, number == 0x06, argument, size);
    }
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!ValidEntry(state, entry)) return Fail(ENODEV);
    const Device& device = state.devices[static_cast<std::size_t>(entry)];
    // The caller's structures need not be aligned: copied, never cast.
    if (request == HIDIOCGRDESCSIZE) {
        const int size = static_cast<int>(device.descriptor.size());
        std::memcpy(argument, &size, sizeof size);
        return 0;
    }
    if (request == HIDIOCGRDESC) {
        std::uint32_t asked = 0;
        std::memcpy(&asked, argument, sizeof asked);
        if (asked > HID_MAX_DESCRIPTOR_SIZE - 1) return Fail(EINVAL);
        const std::size_t length = std::min<std::size_t>(asked, device.descriptor.size());
        std::memcpy(static_cast<std::uint8_t*>(argument) + offsetof(hidraw_report_descriptor, value),
                    device.descriptor.data(), length);
        return 0;
    }
    if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = 0x03;  // USB
        info.vendor = static_cast<__s16>(device.info.vendorId);
        info.product = static_cast<__s16>(device.info.productId);
        std::memcpy(argument, &info, sizeof info);
        return 0;
    }
    if (direction == _IOC_READ && number == 0x04) return CopyString(DeviceName(state, device), argument, size);
    if (direction == _IOC_READ && number == 0x05) {
        return CopyString("kelcalib-virtual/input" + std::to_string(entry), argument, size);
    }
    return Fail(EINVAL);
}

bool VcHidrawReload() {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.lock);
    Load(state);
    return state.configOk;
}
