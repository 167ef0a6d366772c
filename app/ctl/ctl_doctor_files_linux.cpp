#include "app/ctl/ctl_doctor_files_linux.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const kRuleDirectories[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                        "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
const char* const kHwdbDirectories[] = {"/etc/udev/hwdb.d", "/lib/udev/hwdb.d",
                                        "/usr/lib/udev/hwdb.d"};
const char* const kXConfigDirectories[] = {"/etc/X11/xorg.conf.d", "/usr/share/X11/xorg.conf.d"};
constexpr char kLibinputMatrix[] = "LIBINPUT_CALIBRATION_MATRIX";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

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

// Calls visit(line number, line) for each line of a system file until it
// returns true; true when one did.
template <typename Visit>
bool ScanLines(const std::string& file, Visit visit) {
    char path[512];
    SystemPath(file.c_str(), path, sizeof path);
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (visit(number, line)) return true;
    }
    return false;
}

bool IsComment(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '#';
}

std::string Where(const std::string& file, int line) {
    return file + ":" + std::to_string(line);
}

// An X option name as the server compares it: case, spaces and
// underscores do not count.
std::string OptionKey(const std::string& name) {
    std::string key;
    for (char c : name) {
        if (c != ' ' && c != '_') key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

// The quoted option name of an `Option "Name" "value"` line, or empty.
std::string OptionName(const std::string& line) {
    const std::string text = line.substr(0, line.find('#'));
    const std::size_t word = Lower(text).find("option");
    if (word == std::string::npos) return "";
    const std::size_t open = text.find('"', word);
    const std::size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos) return "";
    return text.substr(open + 1, close - open - 1);
}

void Add(DoctorSection* section, const char* check, DoctorVerdict verdict, const std::string& text,
         const std::string& advice = "") {
    section->findings.push_back(DoctorFinding{check, verdict, text, advice});
}

}  // namespace

void CheckUdevRule(std::uint16_t vendorId, DoctorSection* section) {
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", static_cast<unsigned>(vendorId));
    std::string found;
    for (const char* directory : kRuleDirectories) {
        for (const std::string& file : FilesIn(directory, ".rules")) {
            ScanLines(file, [&](int number, const std::string& line) {
                const std::string low = Lower(line);
                if (IsComment(line) || low.find("hidraw") == std::string::npos ||
                    low.find(vendor) == std::string::npos ||
                    (low.find("uaccess") == std::string::npos && low.find("mode") == std::string::npos &&
                     low.find("group") == std::string::npos)) {
                    return false;
                }
                found = Where(file, number);
                return true;
            });
            if (!found.empty()) break;
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
        const std::string data = std::string("/run/udev/data/c") + dev;
        ScanLines(data, [&](int, const std::string& line) {
            if (line.rfind(std::string("E:") + kLibinputMatrix + "=", 0) != 0) return false;
            Add(section, check, DoctorVerdict::kProblem,
                std::string("udev gives ") + events.path[i] + " the libinput calibration matrix " +
                    line.substr(std::strlen(kLibinputMatrix) + 3) + ", applied on top of the firmware's",
                advice);
            any = true;
            return true;
        });
    }
    // Rules and hwdb entries that name the vendor (a hwdb match line, then
    // its properties).
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", static_cast<unsigned>(vendorId));
    std::vector<std::string> files;
    for (const char* directory : kRuleDirectories) {
        for (const std::string& f : FilesIn(directory, ".rules")) files.push_back(f);
    }
    for (const char* directory : kHwdbDirectories) {
        for (const std::string& f : FilesIn(directory, ".hwdb")) files.push_back(f);
    }
    for (const std::string& file : files) {
        bool vendorMatch = false;
        ScanLines(file, [&](int number, const std::string& line) {
            if (IsComment(line)) return false;
            const std::string low = Lower(line);
            const bool names = low.find(vendor) != std::string::npos;
            if (line[0] != ' ' && line[0] != '\t') vendorMatch = names;  // a hwdb match line
            if (line.find(kLibinputMatrix) == std::string::npos || !(names || vendorMatch)) return false;
            Add(section, check, DoctorVerdict::kProblem,
                Where(file, number) + " sets a libinput calibration matrix for the controller's vendor ID",
                advice);
            any = true;
            return false;
        });
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
        ScanLines(file, [&](int number, const std::string& line) {
            const std::string key = OptionKey(OptionName(line));
            if (IsComment(line) || (key != "calibration" && key != "calibrationmatrix")) return false;
            Add(system, "X calibration", DoctorVerdict::kProblem,
                Where(file, number) + ": Option \"" + OptionName(line) +
                    "\": the X input driver corrects touches on top of the firmware",
                "remove the option and restart the X server; the controller's firmware calibrates");
            any = true;
            return false;
        });
    }
    if (!any) {
        Add(system, "X calibration", DoctorVerdict::kOk,
            "no Calibration or CalibrationMatrix option in X's configuration");
    }
    const char* named = std::getenv("TSLIB_CALIBFILE");
    const std::string tslib = named != nullptr && named[0] != '\0' ? named : "/etc/pointercal";
    char path[512];
    SystemPath(tslib.c_str(), path, sizeof path);
    struct stat status {};
    if (stat(path, &status) == 0) {
        Add(system, "tslib", DoctorVerdict::kProblem,
            "the tslib calibration file " + tslib +
                " is there: a program that reads touches through tslib corrects them again",
            "move it away (or write the identity, 65536 0 0 0 65536 0 65536, into it)");
    } else {
        Add(system, "tslib", DoctorVerdict::kOk, "no tslib calibration file (" + tslib + ")");
    }
}
