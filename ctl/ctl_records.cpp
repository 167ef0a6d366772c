#include "ctl/ctl_records.h"

#include <cstdio>
#include <cstring>

#include "device/name_text.h"

namespace {

constexpr int kMaxWords = 6;  // a record line has 5; one more shows excess

struct Word {
    const char* start;
    std::size_t length;
};

// Optional minus, then decimal digits, within the signed 32-bit range.
bool ParseInt32(const Word& word, std::int32_t* value) {
    std::size_t i = 0;
    const bool negative = word.length > 0 && word.start[0] == '-';
    if (negative) i = 1;
    if (i >= word.length || word.length - i > 10) return false;
    std::int64_t magnitude = 0;
    for (; i < word.length; ++i) {
        if (word.start[i] < '0' || word.start[i] > '9') return false;
        magnitude = magnitude * 10 + (word.start[i] - '0');
    }
    const std::int64_t v = negative ? -magnitude : magnitude;
    if (v < -2147483648LL || v > 2147483647LL) return false;
    *value = static_cast<std::int32_t>(v);
    return true;
}

// At most 40 bytes of a word of the file, as printable text for the message.
struct Echo {
    char text[4 * 40 + 1];
};
Echo EchoOf(const Word& word) {
    Echo echo;
    TakeName(word.start, word.length < 40 ? word.length : 40, echo.text, sizeof echo.text);
    return echo;
}

bool WordIs(const Word& word, const char* text) {
    return word.length == std::strlen(text) && std::memcmp(word.start, text, word.length) == 0;
}

// Splits the line at spaces and tabs; returns the number of words (counting
// on past kMaxWords without storing them).
int SplitWords(const char* line, std::size_t length, Word words[kMaxWords]) {
    int count = 0;
    std::size_t i = 0;
    while (i < length) {
        while (i < length && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < length && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) {
            if (count < kMaxWords) words[count] = Word{line + start, i - start};
            ++count;
        }
    }
    return count;
}

}  // namespace

bool ParseRecordsText(const char* text, std::size_t length, std::int32_t records[2][4],
                      char* error, std::size_t errorSize) {
    if (length > kRecordsFileMax) {
        std::snprintf(error, errorSize, "more than %u bytes: not a records file",
                      static_cast<unsigned>(kRecordsFileMax));
        return false;
    }
    static const char* const kNames[2] = {"record-x", "record-y"};
    std::int32_t found[2][4] = {};
    int lineOf[2] = {0, 0};
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < length) {
        const void* newline = std::memchr(text + start, '\n', length - start);
        const std::size_t end =
            newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - text)
                               : length;
        const char* line = text + start;
        std::size_t lineLength = end - start;
        start = end + 1;
        ++lineNumber;
        if (lineLength > 0 && line[lineLength - 1] == '\r') --lineLength;
        if (std::memchr(line, '\0', lineLength) != nullptr ||
            std::memchr(line, '\r', lineLength) != nullptr) {
            std::snprintf(error, errorSize, "line %d: a control character inside the line",
                          lineNumber);
            return false;
        }
        Word words[kMaxWords];
        const int count = SplitWords(line, lineLength, words);
        if (count == 0) continue;
        const Word& key = words[0];
        const bool recordLike =
            WordIs(key, "record") || (key.length >= 7 && std::memcmp(key.start, "record-", 7) == 0);
        if (!recordLike) continue;
        const int axis = WordIs(key, kNames[0]) ? 0 : WordIs(key, kNames[1]) ? 1 : -1;
        if (axis < 0) {
            std::snprintf(error, errorSize, "line %d: unknown record '%s' (record-x or record-y)",
                          lineNumber, EchoOf(key).text);
            return false;
        }
        const char* name = kNames[axis];
        if (lineOf[axis] != 0) {
            std::snprintf(error, errorSize, "line %d: a second %s line (the first is line %d)",
                          lineNumber, name, lineOf[axis]);
            return false;
        }
        if (count != 5) {
            std::snprintf(error, errorSize, "line %d: %s needs exactly 4 numbers, not %d",
                          lineNumber, name, count - 1);
            return false;
        }
        for (int v = 0; v < 4; ++v) {
            const Word& number = words[v + 1];
            if (!ParseInt32(number, &found[axis][v])) {
                std::snprintf(error, errorSize, "line %d: '%s' is not a signed 32-bit integer (%s)",
                              lineNumber, EchoOf(number).text, name);
                return false;
            }
        }
        // Only what calib-solve can produce: a record outside it is no
        // calibration of ours, and the controller would take it as it is.
        static const char* const kFields[4] = {"factor of raw x", "factor of raw y", "offset",
                                               "divisor"};
        static const std::int32_t kLowest[4] = {-kRecordFactorMax, -kRecordFactorMax,
                                                -kRecordOffsetMax, 1};
        static const std::int32_t kHighest[4] = {kRecordFactorMax, kRecordFactorMax,
                                                 kRecordOffsetMax, 2147483647};
        for (int v = 0; v < 4; ++v) {
            if (found[axis][v] < kLowest[v] || found[axis][v] > kHighest[v]) {
                std::snprintf(error, errorSize, "line %d: %s %s %ld is outside %ld..%ld", lineNumber,
                              name, kFields[v], static_cast<long>(found[axis][v]),
                              static_cast<long>(kLowest[v]), static_cast<long>(kHighest[v]));
                return false;
            }
        }
        lineOf[axis] = lineNumber;
    }
    for (int axis = 0; axis < 2; ++axis) {
        if (lineOf[axis] == 0) {
            std::snprintf(error, errorSize, "no %s line", kNames[axis]);
            return false;
        }
    }
    std::memcpy(records, found, sizeof found);
    return true;
}
