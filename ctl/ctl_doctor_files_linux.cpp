#include "ctl/ctl_doctor_files_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ctl/ctl_doctor_scan.h"
#include "display/mapping_advice.h"

namespace {

const char* const kRuleDirectories[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                        "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
const char* const kHwdbDirectories[] = {"/etc/udev/hwdb.d", "/lib/udev/hwdb.d",
                                        "/usr/lib/udev/hwdb.d"};
constexpr char kXConfigDirectory[] = "/etc/X11/xorg.conf.d";
const char* const kXConfigDirectories[] = {kXConfigDirectory, "/usr/share/X11/xorg.conf.d"};
// Configuration files are small; a larger one is read this far.
constexpr std::size_t kMostFileBytes = 1 << 20;

// The files of a system directory whose names end in `suffix`, sorted, as
// the paths the user knows them by.
std::vector<std::string> FilesIn(const char* directory, const char* suffix) {
    std::vector<std::string> files;
    char path[512];
    SystemPath(directory, path, sizeof path);
    DIR* dir = opendir(path);
    if (dir == nullptr) return files;
    const std::size_t tail = std::strlen(suffix);
    while (const dirent* entry = readdir(dir)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (length > tail && std::strcmp(entry->d_name + length - tail, suffix) == 0) {
            files.push_back(std::string(directory) + "/" + entry->d_name);
        }
    }
    closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

// A system file's text (at most kMostFileBytes); empty when it cannot be read.
std::string ReadText(const std::string& file) {
    char path[512];
    SystemPath(file.c_str(), path, sizeof path);
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char chunk[4096];
    while (text.size() < kMostFileBytes) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return text;
}

std::string Where(const std::string& file, int line) {
    return Printable(file) + ":" + std::to_string(line);
}

void Add(DoctorSection* section, const char* check, DoctorVerdict verdict, const std::string& text,
         const std::string& advice = "") {
    section->findings.push_back(DoctorFinding{check, verdict, text, advice});
}

std::string VendorHex(std::uint16_t vendorId) {
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", static_cast<unsigned>(vendorId));
    return vendor;
}

}  // namespace

void CheckUdevRule(std::uint16_t vendorId, DoctorSection* section) {
    const std::string vendor = VendorHex(vendorId);
    std::string found;
    for (const char* directory : kRuleDirectories) {
        for (const std::string& file : FilesIn(directory, ".rules")) {
            const int line = FindAccessRuleLine(ReadText(file), vendor.c_str());
            if (line > 0) {
                found = Where(file, line);
                break;
            }
        }
        if (!found.empty()) break;
    }
    if (!found.empty()) {
        Add(section, "udev rule", DoctorVerdict::kOk, found + " gives access to the node");
        return;
    }
    char advice[400];
    std::snprintf(advice, sizeof advice,
                  "save SUBSYSTEM==\"hidraw\", KERNELS==\"*:%04X:*\", TAG+=\"uaccess\" as "
                  "/etc/udev/rules.d/70-kelcalib.rules (the package installs it), then run "
                  "udevadm control --reload && udevadm trigger",
                  static_cast<unsigned>(vendorId));
    char text[160];
    std::snprintf(text, sizeof text,
                  "no udev rule gives users access to the hidraw nodes of vendor ID 0x%04X: only root "
                  "can calibrate",
                  static_cast<unsigned>(vendorId));
    Add(section, "udev rule", DoctorVerdict::kProblem, text, advice);
}

void CheckUdevCalibration(std::uint16_t vendorId, const EventDevices& events,
                          DoctorSection* section) {
    const char* check = "libinput matrix";
    const std::string advice =
        "remove the rule or hwdb entry that sets LIBINPUT_CALIBRATION_MATRIX (udevadm info NODE "
        "shows it), run udevadm trigger and start the session again: the controller's firmware "
        "calibrates, a second matrix moves every touch again";
    bool any = false;
    for (int i = 0; i < events.count; ++i) {
        // The event device's number in udev's database: c13:MINOR.
        char devPath[96];
        char dev[32];
        std::snprintf(devPath, sizeof devPath, "/sys/class/input/%s/dev", events.path[i] + 11);
        if (!ReadSystemFile(devPath, dev, sizeof dev)) continue;
        dev[std::strcspn(dev, "\n")] = '\0';
        const std::string matrix = FindDatabaseMatrix(ReadText(std::string("/run/udev/data/c") + dev));
        if (matrix.empty()) continue;
        Add(section, check, DoctorVerdict::kProblem,
            std::string("udev gives ") + events.path[i] + " the libinput calibration matrix " + matrix +
                ", applied on top of the firmware's",
            advice);
        any = true;
    }
    // Rules and hwdb entries that name the vendor (a hwdb match line, then
    // its properties).
    const std::string vendor = VendorHex(vendorId);
    std::vector<std::string> files;
    for (const char* directory : kRuleDirectories) {
        for (const std::string& f : FilesIn(directory, ".rules")) files.push_back(f);
    }
    for (const char* directory : kHwdbDirectories) {
        for (const std::string& f : FilesIn(directory, ".hwdb")) files.push_back(f);
    }
    for (const std::string& file : files) {
        for (const int line : FindLibinputMatrixLines(ReadText(file), vendor.c_str())) {
            Add(section, check, DoctorVerdict::kProblem,
                Where(file, line) + " sets a libinput calibration matrix for the controller's vendor ID",
                advice);
            any = true;
        }
    }
    if (!any) Add(section, check, DoctorVerdict::kOk, "udev sets no libinput calibration matrix");
}

void CheckSystemCorrections(DoctorSection* system) {
    std::vector<std::string> files = {"/etc/X11/xorg.conf"};
    for (const char* directory : kXConfigDirectories) {
        for (const std::string& f : FilesIn(directory, ".conf")) files.push_back(f);
    }
    bool any = false;
    for (const std::string& file : files) {
        for (const FoundOption& option : FindCalibrationOptions(ReadText(file))) {
            Add(system, "X calibration", DoctorVerdict::kProblem,
                Where(file, option.line) + ": Option \"" + option.name +
                    "\": the X input driver corrects touches on top of the firmware",
                "remove the option and restart the X server; the controller's firmware calibrates");
            any = true;
        }
    }
    if (!any) {
        Add(system, "X calibration", DoctorVerdict::kOk,
            "no Calibration or CalibrationMatrix option in X's configuration");
    }
    // A file of kelcalib's earlier layout maps every controller of a vendor
    // and product at once, and is read after the files of one controller.
    bool earlier = false;
    for (const std::string& file : FilesIn(kXConfigDirectory, ".conf")) {
        if (!IsEarlierSnippetName(file.c_str() + sizeof kXConfigDirectory)) continue;
        Add(system, "kelcalib file", DoctorVerdict::kProblem,
            Printable(file) +
                " is of an earlier kelcalib: it maps every controller of its vendor and product onto "
                "one display, over the mapping of each controller",
            "remove it, then calibrate each controller with kelcalib --persist (its files name it by "
            "where it is attached)");
        earlier = true;
    }
    if (!earlier) {
        Add(system, "kelcalib file", DoctorVerdict::kOk, "no kelcalib file of the earlier layout");
    }
    const char* named = std::getenv("TSLIB_CALIBFILE");
    const std::string tslib = named != nullptr && named[0] != '\0' ? named : "/etc/pointercal";
    char path[512];
    SystemPath(tslib.c_str(), path, sizeof path);
    struct stat status {};
    if (stat(path, &status) == 0) {
        Add(system, "tslib", DoctorVerdict::kProblem,
            "the tslib calibration file " + Printable(tslib) +
                " is there: a program that reads touches through tslib corrects them again",
            "move it away (or write the identity, 65536 0 0 0 65536 0 65536, into it)");
    } else {
        Add(system, "tslib", DoctorVerdict::kOk, "no tslib calibration file (" + Printable(tslib) + ")");
    }
}
