// What sysfs tells about a controller beyond its hidraw node: the input
// event devices the kernel made from the same HID device, and their names.
// Every system path read here goes through SystemPath, the one seam tests
// use to plant a system of their own, compiled into test builds only.
#ifndef KELCALIB_DEVICE_HIDRAW_SYSFS_LINUX_H
#define KELCALIB_DEVICE_HIDRAW_SYSFS_LINUX_H

#include <cstddef>

// `path` (absolute: "/sys/...", "/etc/...", "/run/...") as this process
// reads it: unchanged, except in a build with KELCALIB_TEST_SEAMS (the
// native test preset; never a release build) under the directory
// KELCALIB_SYSTEM_ROOT names when that is set.
void SystemPath(const char* path, char* out, std::size_t size);

// The number N of "/dev/hidrawN"; false for any other text.
bool HidrawNodeNumber(const char* path, unsigned* number);

// The most event devices one controller is looked at with.
constexpr int kMaxEventDevices = 4;
struct EventDevices {
    int count;
    char path[kMaxEventDevices][32];  // "/dev/input/eventK", ascending K
};

// The event devices under /sys/class/hidraw/hidrawN/device/input/input*/:
// those the kernel's HID input layer made from the controller's input
// reports. A count of 0 when there are none or sysfs cannot be read.
void HidrawEventDevices(unsigned node, EventDevices* devices);

// The name of the input device behind "/dev/input/eventK"
// (/sys/class/input/eventK/device/name) as printable text
// (device/name_text.h); empty when unknown.
void EventDeviceName(const char* eventPath, char* name, std::size_t size);

// Where the input device behind "/dev/input/eventK" is attached: udev's
// ID_PATH from its database record (/run/udev/data/c13:MINOR, MAJOR:MINOR
// from /sys/class/input/eventK/dev), else the kernel's phys and uniq of the
// input device (/sys/class/input/eventK/device/phys, .../uniq). Printable
// text (device/name_text.h); `place` empty when neither is known.
struct InputDevicePlace {
    bool byIdPath;
    char place[128];
    char uniq[64];
};
void EventDevicePlace(const char* eventPath, InputDevicePlace* place);

// Reads at most size - 1 bytes of a small system file (through SystemPath)
// into `text`, terminated; false when it cannot be opened.
bool ReadSystemFile(const char* path, char* text, std::size_t size);

#endif  // KELCALIB_DEVICE_HIDRAW_SYSFS_LINUX_H
