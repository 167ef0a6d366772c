// What doctor looks for in the text of one system file, without the file
// system: udev rules and hwdb entries, udev's database record of a device,
// X's configuration. Every text these give back for a report is printable
// (device/name_text.h). ctl_doctor_files_linux.cpp reads the files.
#ifndef KELCALIB_CTL_CTL_DOCTOR_SCAN_H
#define KELCALIB_CTL_CTL_DOCTOR_SCAN_H

#include <string>
#include <vector>

// The first line (counted from 1) of a udev rules file that gives access to
// hidraw nodes of the vendor `vendorHex` (four lower-case hexadecimal
// digits): names hidraw and the vendor and sets uaccess, a mode or a group;
// 0 when none does.
int FindAccessRuleLine(const std::string& text, const char* vendorHex);

// The lines of a rules or hwdb file that set LIBINPUT_CALIBRATION_MATRIX for
// the vendor: on a line that names it, or under a hwdb match line that does.
std::vector<int> FindLibinputMatrixLines(const std::string& text, const char* vendorHex);

// The LIBINPUT_CALIBRATION_MATRIX that udev's database record of a device
// (/run/udev/data/cMAJOR:MINOR) holds, as printable text; empty when none.
std::string FindDatabaseMatrix(const std::string& text);

// An X configuration's Calibration and CalibrationMatrix options (as the
// server compares option names: case, spaces and underscores do not count),
// outside comments: the line and the name as written, printable.
struct FoundOption {
    int line;
    std::string name;
};
std::vector<FoundOption> FindCalibrationOptions(const std::string& text);

// `text` as printable text (device/name_text.h), for a path or a value in a
// report.
std::string Printable(const std::string& text);

#endif  // KELCALIB_CTL_CTL_DOCTOR_SCAN_H
