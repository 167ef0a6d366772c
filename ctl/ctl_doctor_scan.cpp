#include "ctl/ctl_doctor_scan.h"

#include <cctype>
#include <cstring>

#include "device/name_text.h"

namespace {

constexpr char kLibinputMatrix[] = "LIBINPUT_CALIBRATION_MATRIX";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Calls visit(line number, line) for each line of `text` (without its
// newline) until it returns true.
template <typename Visit>
void EachLine(const std::string& text, Visit visit) {
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (visit(number, text.substr(start, end - start))) return;
        start = end + 1;
    }
}

bool IsComment(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '#';
}

// An X option name as the server compares it.
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

}  // namespace

std::string Printable(const std::string& text) {
    std::string shown(4 * text.size() + 1, '\0');
    TakeName(text.data(), text.size(), &shown[0], shown.size());
    shown.resize(std::strlen(shown.c_str()));
    return shown;
}

int FindAccessRuleLine(const std::string& text, const char* vendorHex) {
    int found = 0;
    EachLine(text, [&](int number, const std::string& line) {
        const std::string low = Lower(line);
        if (IsComment(line) || low.find("hidraw") == std::string::npos ||
            low.find(vendorHex) == std::string::npos ||
            (low.find("uaccess") == std::string::npos && low.find("mode") == std::string::npos &&
             low.find("group") == std::string::npos)) {
            return false;
        }
        found = number;
        return true;
    });
    return found;
}

std::vector<int> FindLibinputMatrixLines(const std::string& text, const char* vendorHex) {
    std::vector<int> lines;
    bool vendorMatch = false;
    EachLine(text, [&](int number, const std::string& line) {
        if (IsComment(line)) return false;
        const bool names = Lower(line).find(vendorHex) != std::string::npos;
        if (line[0] != ' ' && line[0] != '\t') vendorMatch = names;  // a hwdb match line
        if (line.find(kLibinputMatrix) != std::string::npos && (names || vendorMatch)) {
            lines.push_back(number);
        }
        return false;
    });
    return lines;
}

std::string FindDatabaseMatrix(const std::string& text) {
    const std::string key = std::string("E:") + kLibinputMatrix + "=";
    std::string value;
    EachLine(text, [&](int, const std::string& line) {
        if (line.rfind(key, 0) != 0) return false;
        value = Printable(line.substr(key.size()));
        return true;
    });
    return value;
}

std::vector<FoundOption> FindCalibrationOptions(const std::string& text) {
    std::vector<FoundOption> found;
    EachLine(text, [&](int number, const std::string& line) {
        const std::string name = OptionName(line);
        const std::string key = OptionKey(name);
        if (!IsComment(line) && (key == "calibration" || key == "calibrationmatrix")) {
            found.push_back(FoundOption{number, Printable(name)});
        }
        return false;
    });
    return found;
}
