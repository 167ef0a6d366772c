// doctor's scanners of udev rules, hwdb entries, udev's database records
// and X's configuration over arbitrary text: line numbers within the text,
// each finding once in line order, and every text for the report printable.
#include <cstdlib>
#include <string>

#include "ctl/ctl_doctor_scan.h"
#include "device/name_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int lines = 0;
    for (std::size_t start = 0; start < text.size(); ++lines) {
        const std::size_t end = text.find('\n', start);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    const int rule = FindAccessRuleLine(text, "fffe");
    if (rule < 0 || rule > lines) std::abort();
    int last = 0;
    for (const int line : FindLibinputMatrixLines(text, "fffe")) {
        if (line <= last || line > lines) std::abort();
        last = line;
    }
    if (!IsPrintableText(FindDatabaseMatrix(text).c_str())) std::abort();
    last = 0;
    for (const FoundOption& option : FindCalibrationOptions(text)) {
        if (option.line <= last || option.line > lines || !IsPrintableText(option.name.c_str())) std::abort();
        last = option.line;
    }
    if (!IsPrintableText(Printable(text).c_str())) std::abort();
    return 0;
}
