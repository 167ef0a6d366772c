// The virtual controller's coefficient store: what a commit (WC) keeps
// across runs, one small text file.
#include <cstdio>
#include <sstream>

#include "tools/virtual-controller/vc_internal.h"

namespace vc_internal {

bool WriteStore(const std::string& path, const VcCoefficients& coefficients) {
    if (path.empty()) return true;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const std::string text = VcFormatStore(coefficients);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

bool ReadStore(const std::string& path, VcCoefficients* coefficients) {
    if (path.empty()) return false;
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    std::string text;
    char chunk[256];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return VcParseStore(text, coefficients);
}

}  // namespace vc_internal

using vc_internal::CoefficientText;
using vc_internal::ParseRanged;
using vc_internal::SplitWords;

std::string VcFormatStore(const VcCoefficients& coefficients) {
    return "x " + CoefficientText(coefficients.axis[0]) + "\ny " +
           CoefficientText(coefficients.axis[1]) + "\n";
}

bool VcParseStore(const std::string& text, VcCoefficients* coefficients) {
    std::istringstream stream(text);
    VcCoefficients parsed = VcIdentityCoefficients();
    bool seen[2] = {false, false};
    std::string line;
    while (std::getline(stream, line)) {
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) continue;
        if (words.size() != 5 || (words[0] != "x" && words[0] != "y")) return false;
        long long v[4];
        for (int i = 0; i < 4; ++i) {
            if (!ParseRanged(words[static_cast<std::size_t>(i) + 1], -2147483647LL - 1, 2147483647LL, &v[i])) {
                return false;
            }
        }
        const int axis = words[0] == "x" ? 0 : 1;
        parsed.axis[axis] = VcAxisCoefficients{static_cast<std::int32_t>(v[0]), static_cast<std::int32_t>(v[1]),
                                               static_cast<std::int32_t>(v[2]), static_cast<std::int32_t>(v[3])};
        if (parsed.axis[axis].divisor == 0) return false;
        seen[axis] = true;
    }
    if (!seen[0] || !seen[1]) return false;
    *coefficients = parsed;
    return true;
}
