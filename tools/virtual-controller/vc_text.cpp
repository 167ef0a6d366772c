// Number and word parsing shared by the config and store formats.
#include "tools/virtual-controller/vc_internal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vc_internal {

int ReportIdSlot(std::uint8_t reportId) {
    for (int i = 0; i < 3; ++i) {
        if (kReportIds[i] == reportId) return i;
    }
    return -1;
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

// Decimal or 0x-hexadecimal integer, optional leading '-'.
bool ParseInteger(const std::string& token, long long* value) {
    if (token.empty()) return false;
    std::size_t i = 0;
    bool negative = false;
    if (token[0] == '-' || token[0] == '+') {
        negative = token[0] == '-';
        i = 1;
    }
    int base = 10;
    if (token.size() > i + 1 && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= token.size()) return false;
    long long result = 0;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        if (result > (static_cast<long long>(1) << 40)) return false;  // far beyond any use
        result = result * base + digit;
    }
    *value = negative ? -result : result;
    return true;
}

bool ParseRanged(const std::string& token, long long low, long long high, long long* value) {
    long long parsed = 0;
    if (!ParseInteger(token, &parsed) || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool ParseDouble(const std::string& token, double* value) {
    if (token.empty()) return false;
    char* end = nullptr;
    const double parsed = std::strtod(token.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream stream(line);
    std::string word;
    while (stream >> word) words.push_back(word);
    return words;
}

std::string CoefficientText(const VcAxisCoefficients& axis) {
    std::ostringstream text;
    text << axis.factorX << ' ' << axis.factorY << ' ' << axis.offset << ' ' << axis.divisor;
    return text.str();
}


}  // namespace vc_internal
