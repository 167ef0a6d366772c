// hidraw nodes: finding them, opening them and asking them what they are.
#include "device/hidraw_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/hid_device.h"
#include "device/name_text.h"

namespace {

// What stood in the way of the last open: a node refused for lack of
// permission, and what kept the controller itself from being opened.
enum class ProblemKind { kNone, kDescriptor, kInUse };

struct OpenProblem {
    bool permission;
    unsigned permissionNode;
    int error;
    std::uint16_t vendorId;
    ProblemKind kind;
    unsigned node;
    char descriptorProblem[128];
};

OpenProblem gOpenProblem;

// "hidraw" followed by decimal digits only.
bool HidrawNumber(const char* name, unsigned* number) {
    static const char kPrefix[] = "hidraw";
    if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
    const char* digits = name + sizeof kPrefix - 1;
    if (*digits == '\0' || std::strlen(digits) > 9) return false;
    unsigned value = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<unsigned>(*c - '0');
    }
    *number = value;
    return true;
}

int IoctlRetrying(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

bool ListHidrawNodes(std::vector<unsigned>* numbers) {
    numbers->clear();
    DIR* directory = opendir("/dev");
    if (directory == nullptr) return false;
    while (const dirent* entry = readdir(directory)) {
        unsigned number = 0;
        if (HidrawNumber(entry->d_name, &number)) numbers->push_back(number);
    }
    closedir(directory);
    std::sort(numbers->begin(), numbers->end());
    return true;
}

void HidrawPath(unsigned number, char* path, std::size_t size) {
    std::snprintf(path, size, "/dev/hidraw%u", number);
}

int OpenHidrawNode(unsigned number, int* error) {
    char path[32];
    HidrawPath(number, path, sizeof path);
    int fd;
    do {
        fd = open(path, O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    *error = fd < 0 ? errno : 0;
    return fd;
}

bool ReadHidrawIds(int fd, std::uint16_t* vendorId, std::uint16_t* productId) {
    hidraw_devinfo info{};
    if (IoctlRetrying(fd, HIDIOCGRAWINFO, &info) < 0) return false;
    // The kernel hands the IDs out as signed 16-bit values.
    *vendorId = static_cast<std::uint16_t>(info.vendor);
    *productId = static_cast<std::uint16_t>(info.product);
    return true;
}

void ReadHidrawName(int fd, char* name, std::size_t size) {
    if (size == 0) return;
    std::memset(name, 0, size);
    const std::size_t room = std::min<std::size_t>(size - 1, 255);
    if (room == 0 || IoctlRetrying(fd, HIDIOCGRAWNAME(room), name) < 0) name[0] = '\0';
    name[size - 1] = '\0';
    TakeName(name, name, size);
}

namespace {

// The descriptor from sysfs, for the node `fd` is open on.
bool ReadSysfsDescriptor(int fd, std::vector<std::uint8_t>* bytes, char* problem, std::size_t size) {
    struct stat node {};
    if (fstat(fd, &node) != 0 || !S_ISCHR(node.st_mode)) {
        std::snprintf(problem, size, "its report descriptor cannot be read (not a device node)");
        return false;
    }
    char path[96];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/device/report_descriptor",
                  major(node.st_rdev), minor(node.st_rdev));
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        std::snprintf(problem, size, "its report descriptor cannot be read from sysfs: %s",
                      std::strerror(errno));
        return false;
    }
    // One byte more than the parser takes, so that a longer one is refused.
    bytes->assign(65536, 0);
    std::size_t length = 0;
    while (length < bytes->size()) {
        const ssize_t got = read(file, bytes->data() + length, bytes->size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    close(file);
    bytes->resize(length);
    return true;
}

bool ReadDescriptorBytes(int fd, std::vector<std::uint8_t>* bytes, char* problem, std::size_t size) {
    int length = 0;
    if (IoctlRetrying(fd, HIDIOCGRDESCSIZE, &length) < 0) {
        std::snprintf(problem, size, "its report descriptor size cannot be read: %s",
                      std::strerror(errno));
        return false;
    }
    if (length < 0 || length > 65535) {
        std::snprintf(problem, size, "its report descriptor size %d is out of range", length);
        return false;
    }
    // The ioctl hands out at most HID_MAX_DESCRIPTOR_SIZE - 1 bytes.
    if (length < HID_MAX_DESCRIPTOR_SIZE) {
        auto* descriptor =
            static_cast<hidraw_report_descriptor*>(std::calloc(1, sizeof(hidraw_report_descriptor)));
        if (descriptor == nullptr) {
            std::snprintf(problem, size, "out of memory");
            return false;
        }
        descriptor->size = static_cast<std::uint32_t>(length);
        const bool read = IoctlRetrying(fd, HIDIOCGRDESC, descriptor) >= 0;
        if (read) bytes->assign(descriptor->value, descriptor->value + length);
        std::free(descriptor);
        if (read) return true;
    }
    return ReadSysfsDescriptor(fd, bytes, problem, size);
}

}  // namespace

bool ReadHidrawDescriptor(int fd, HidDescriptorSummary* summary) {
    std::memset(summary, 0, sizeof *summary);
    std::vector<std::uint8_t> bytes;
    if (!ReadDescriptorBytes(fd, &bytes, summary->problem, sizeof summary->problem)) return false;
    HidDescriptorSummary parsed;
    if (!ParseHidDescriptor(bytes.data(), bytes.size(), &parsed)) {
        std::snprintf(summary->problem, sizeof summary->problem,
                      "its report descriptor is malformed: %.80s", parsed.problem);
        return false;
    }
    *summary = parsed;
    return true;
}

bool HidrawNodeGone(int fd) {
    hidraw_devinfo info{};
    return IoctlRetrying(fd, HIDIOCGRAWINFO, &info) < 0 && errno == ENODEV;
}

int LockHidrawNode(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int result;
    do {
        result = fcntl(fd, F_OFD_SETLK, &lock);
    } while (result < 0 && errno == EINTR);
    if (result == 0) return 0;
    const int error = errno;
    if (error != EAGAIN && error != EACCES) return error;
    // Whether a write lock stands in the way (asking for a read lock meets
    // write locks only): read locks alone are no program of ours.
    struct flock held {};
    held.l_type = F_RDLCK;
    held.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &held) == 0 && held.l_type == F_UNLCK) return 0;
    return EWOULDBLOCK;
}

int SysfsVendorId(unsigned number) {
    char path[64];
    std::snprintf(path, sizeof path, "/sys/class/hidraw/hidraw%u/device/uevent", number);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[4096];
    std::size_t length = 0;
    while (length < sizeof text - 1) {
        const ssize_t got = read(fd, text + length, sizeof text - 1 - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    close(fd);
    text[length] = '\0';
    // HID_ID=<bus>:<vendor>:<product>, each in hexadecimal.
    const char* line = std::strstr(text, "HID_ID=");
    if (line == nullptr || (line != text && line[-1] != '\n')) return -1;
    const char* vendor = std::strchr(line, ':');
    if (vendor == nullptr) return -1;
    char* end = nullptr;
    const unsigned long value = std::strtoul(vendor + 1, &end, 16);
    if (end == vendor + 1 || *end != ':' || value > 0xFFFF) return -1;
    return static_cast<int>(value);
}

bool IsPermissionError(int error) {
    return error == EACCES || error == EPERM;
}

void ClearOpenProblem() {
    gOpenProblem = OpenProblem();
}

void NotePermissionProblem(unsigned number, int error, std::uint16_t vendorId) {
    if (gOpenProblem.permission) return;
    const int vendor = SysfsVendorId(number);
    if (vendor >= 0 && vendor != vendorId) return;  // someone else's device
    gOpenProblem.permission = true;
    gOpenProblem.permissionNode = number;
    gOpenProblem.error = error;
    gOpenProblem.vendorId = vendorId;
}

void NoteDescriptorProblem(unsigned number, const char* problem) {
    gOpenProblem.kind = ProblemKind::kDescriptor;
    gOpenProblem.node = number;
    std::snprintf(gOpenProblem.descriptorProblem, sizeof gOpenProblem.descriptorProblem, "%s",
                  problem);
}

void NoteInUseProblem(unsigned number) {
    gOpenProblem.kind = ProblemKind::kInUse;
    gOpenProblem.node = number;
}

bool OpenDeniedAccess() {
    return gOpenProblem.kind == ProblemKind::kNone && gOpenProblem.permission;
}

bool DescribeOpenProblem(char* text, std::size_t size) {
    if (text == nullptr || size == 0) return false;
    text[0] = '\0';
    char path[32];
    HidrawPath(gOpenProblem.node, path, sizeof path);
    switch (gOpenProblem.kind) {
        case ProblemKind::kDescriptor:
            std::snprintf(text, size, "%s: the controller is there, but %s.\n", path,
                          gOpenProblem.descriptorProblem);
            return true;
        case ProblemKind::kInUse:
            std::snprintf(text, size,
                          "%s: the controller is in use by another program (kelcalib or "
                          "kelcalib-ctl).\nTry again when that program has ended.\n",
                          path);
            return true;
        case ProblemKind::kNone:
            break;
    }
    return DescribePermissionProblem(text, size);
}

bool DescribePermissionProblem(char* text, std::size_t size) {
    if (text == nullptr || size == 0) return false;
    text[0] = '\0';
    if (!gOpenProblem.permission) return false;
    char path[32];
    HidrawPath(gOpenProblem.permissionNode, path, sizeof path);
    const unsigned vendor = gOpenProblem.vendorId;
    std::snprintf(
        text, size,
        "%s: %s.\n"
        "This user may not open the controller's device node. A udev rule gives the user\n"
        "at the seat access; save it as /etc/udev/rules.d/70-kelcalib.rules:\n"
        "  SUBSYSTEM==\"hidraw\", KERNELS==\"*:%04X:*\", TAG+=\"uaccess\"\n"
        "(on a machine without a local login, use GROUP=\"plugdev\", MODE=\"0660\" in place of\n"
        "TAG+=\"uaccess\" and add the user to that group), then run\n"
        "  sudo udevadm control --reload && sudo udevadm trigger\n"
        "or unplug and replug the controller.\n",
        path, std::strerror(gOpenProblem.error), vendor);
    return true;
}
