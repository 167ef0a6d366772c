#include "device/hidraw_sysfs_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/name_text.h"

namespace {

// "prefix" followed by decimal digits only (at most nine).
bool NumberAfter(const char* text, const char* prefix, unsigned* number) {
    const std::size_t length = std::strlen(prefix);
    if (std::strncmp(text, prefix, length) != 0) return false;
    const char* digits = text + length;
    const std::size_t count = std::strlen(digits);
    if (count == 0 || count > 9 || std::strspn(digits, "0123456789") != count) return false;
    *number = static_cast<unsigned>(std::strtoul(digits, nullptr, 10));
    return true;
}

// The entries of a directory whose names are `prefix` and a number, sorted by it.
int NumberedEntries(const char* directory, const char* prefix, unsigned* numbers, int capacity) {
    char path[512];
    SystemPath(directory, path, sizeof path);
    DIR* dir = opendir(path);
    if (dir == nullptr) return 0;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        unsigned number = 0;
        if (count < capacity && NumberAfter(entry->d_name, prefix, &number)) numbers[count++] = number;
    }
    closedir(dir);
    std::sort(numbers, numbers + count);
    return count;
}

}  // namespace

void SystemPath(const char* path, char* out, std::size_t size) {
#ifdef KELCALIB_TEST_SEAMS
    const char* root = std::getenv("KELCALIB_SYSTEM_ROOT");
#else
    const char* root = nullptr;  // what ships reads the system itself
#endif
    std::snprintf(out, size, "%s%s", root != nullptr ? root : "", path);
}

bool HidrawNodeNumber(const char* path, unsigned* number) {
    return NumberAfter(path, "/dev/hidraw", number);
}

void HidrawEventDevices(unsigned node, EventDevices* devices) {
    devices->count = 0;
    char inputs[128];
    std::snprintf(inputs, sizeof inputs, "/sys/class/hidraw/hidraw%u/device/input", node);
    unsigned inputNumbers[16];
    const int inputCount = NumberedEntries(inputs, "input", inputNumbers, 16);
    for (int i = 0; i < inputCount; ++i) {
        char input[192];
        std::snprintf(input, sizeof input, "%s/input%u", inputs, inputNumbers[i]);
        unsigned events[kMaxEventDevices];
        const int eventCount = NumberedEntries(input, "event", events, kMaxEventDevices);
        for (int e = 0; e < eventCount && devices->count < kMaxEventDevices; ++e) {
            std::snprintf(devices->path[devices->count++], sizeof devices->path[0],
                          "/dev/input/event%u", events[e]);
        }
    }
}

void EventDeviceName(const char* eventPath, char* name, std::size_t size) {
    if (size == 0) return;
    name[0] = '\0';
    unsigned number = 0;
    if (!NumberAfter(eventPath, "/dev/input/event", &number)) return;
    char path[96];
    std::snprintf(path, sizeof path, "/sys/class/input/event%u/device/name", number);
    if (!ReadSystemFile(path, name, size)) return;
    // The kernel ends the name with one newline; anything else is the name's.
    const std::size_t length = std::strlen(name);
    if (length > 0 && name[length - 1] == '\n') name[length - 1] = '\0';
    TakeName(name, name, size);
}

namespace {

// A one-line sysfs attribute of event device `number` (its trailing newline
// dropped), as printable text.
void ReadAttribute(unsigned number, const char* attribute, char* text, std::size_t size) {
    char path[128];
    std::snprintf(path, sizeof path, "/sys/class/input/event%u/%s", number, attribute);
    if (!ReadSystemFile(path, text, size)) return;
    const std::size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
    TakeName(text, text, size);
}

}  // namespace

void EventDevicePlace(const char* eventPath, InputDevicePlace* place) {
    *place = InputDevicePlace{};
    unsigned number = 0;
    if (!NumberAfter(eventPath, "/dev/input/event", &number)) return;
    char dev[32];
    ReadAttribute(number, "dev", dev, sizeof dev);
    if (dev[0] != '\0') {
        char path[64];
        std::snprintf(path, sizeof path, "/run/udev/data/c%s", dev);
        char record[4096];
        if (ReadSystemFile(path, record, sizeof record)) {
            static const char kKey[] = "E:ID_PATH=";
            for (const char* line = record; line != nullptr && *line != '\0';) {
                const char* end = std::strchr(line, '\n');
                const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - line) : std::strlen(line);
                if (length > sizeof kKey - 1 && std::strncmp(line, kKey, sizeof kKey - 1) == 0) {
                    TakeName(line + sizeof kKey - 1, length - (sizeof kKey - 1), place->place,
                             sizeof place->place);
                    place->byIdPath = place->place[0] != '\0';
                    break;
                }
                line = end != nullptr ? end + 1 : nullptr;
            }
        }
    }
    if (place->byIdPath) return;
    ReadAttribute(number, "device/phys", place->place, sizeof place->place);
    if (place->place[0] != '\0') ReadAttribute(number, "device/uniq", place->uniq, sizeof place->uniq);
}

bool ReadSystemFile(const char* path, char* text, std::size_t size) {
    if (size == 0) return false;
    text[0] = '\0';
    char full[512];
    SystemPath(path, full, sizeof full);
    const int fd = open(full, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t length = 0;
    while (length + 1 < size) {
        const ssize_t got = read(fd, text + length, size - 1 - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    close(fd);
    text[length] = '\0';
    return true;
}
