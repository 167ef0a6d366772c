#include "app/ctl/ctl_records.h"

#include <vector>

namespace {

// Optional minus, then decimal digits, within the signed 32-bit range.
bool ParseInt32(const std::string& word, std::int32_t* value) {
    std::size_t i = 0;
    const bool negative = !word.empty() && word[0] == '-';
    if (negative) i = 1;
    if (i >= word.size() || word.size() - i > 10) return false;
    std::int64_t magnitude = 0;
    for (; i < word.size(); ++i) {
        if (word[i] < '0' || word[i] > '9') return false;
        magnitude = magnitude * 10 + (word[i] - '0');
    }
    const std::int64_t v = negative ? -magnitude : magnitude;
    if (v < -2147483648LL || v > 2147483647LL) return false;
    *value = static_cast<std::int32_t>(v);
    return true;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

}  // namespace

bool ParseRecordsText(const std::string& text, std::int32_t records[2][4], std::string* error) {
    if (text.size() > kRecordsFileMax) {
        *error = "more than " + std::to_string(kRecordsFileMax) + " bytes: not a records file";
        return false;
    }
    std::int32_t found[2][4] = {};
    int lineOf[2] = {0, 0};
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (const char c : line) {
            if (c == '\0' || c == '\r') {
                *error = where + "a control character inside the line";
                return false;
            }
        }
        const std::vector<std::string> words = Words(line);
        if (words.empty() || (words[0] != "record" && words[0].compare(0, 7, "record-") != 0)) {
            continue;
        }
        int axis = -1;
        if (words[0] == "record-x") axis = 0;
        if (words[0] == "record-y") axis = 1;
        if (axis < 0) {
            *error = where + "unknown record '" + words[0] + "' (record-x or record-y)";
            return false;
        }
        if (lineOf[axis] != 0) {
            *error = where + "a second " + words[0] + " line (the first is line " +
                     std::to_string(lineOf[axis]) + ")";
            return false;
        }
        if (words.size() != 5) {
            *error = where + words[0] + " needs exactly 4 numbers, not " +
                     std::to_string(words.size() - 1);
            return false;
        }
        for (int v = 0; v < 4; ++v) {
            if (!ParseInt32(words[static_cast<std::size_t>(v) + 1], &found[axis][v])) {
                *error = where + "'" + words[static_cast<std::size_t>(v) + 1] +
                         "' is not a signed 32-bit integer (" + words[0] + ")";
                return false;
            }
        }
        if (found[axis][3] == 0) {
            *error = where + words[0] + " has divisor 0";
            return false;
        }
        lineOf[axis] = lineNumber;
    }
    for (int axis = 0; axis < 2; ++axis) {
        if (lineOf[axis] == 0) {
            *error = std::string("no ") + (axis == 0 ? "record-x" : "record-y") + " line";
            return false;
        }
    }
    for (int axis = 0; axis < 2; ++axis) {
        for (int v = 0; v < 4; ++v) records[axis][v] = found[axis][v];
    }
    return true;
}
