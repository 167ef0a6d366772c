// calib-solve: runs the calibration solve on recorded touches and prints what
// the program would store and send to the controller.
//
//   calib-solve [--orientation N] [--logical-max N] RX0 RY0 RX1 RY1 RX2 RY2 RX3 RY3
//   calib-solve --pairs EX EY RX RY [EX EY RX RY ...]
//
// Bad input gets one line on stderr, nothing on stdout and exit status 2.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "calib/calibration_solve.h"

namespace {

constexpr int kBadInput = 2;
constexpr int kMaxPoints = 16;
constexpr std::int64_t kRawMax = 65535;
constexpr std::int64_t kInt32Min = -2147483647LL - 1;
constexpr std::int64_t kInt32Max = 2147483647LL;
constexpr std::int64_t kUint32Max = 4294967295LL;

const char kUsage[] =
    "Usage: calib-solve [--orientation N] [--logical-max N] RX0 RY0 RX1 RY1 RX2 RY2 RX3 RY3\n"
    "       calib-solve --pairs EX EY RX RY [EX EY RX RY ...]\n"
    "\n"
    "With raw points RXi RYi (0..65535) recorded at targets 0..3 (upper left,\n"
    "lower right, upper right, lower left), computes the calibration as the\n"
    "program does and prints the expected positions, the coefficients, the two\n"
    "controller records and the fit verdict.\n"
    "  --orientation N   display orientation 0..3 (other values count as 0); default 0\n"
    "  --logical-max N   controller's logical maximum, 0..4294967295; default 32767\n"
    "  --pairs           solve 0 to 16 points given as expected X, expected Y\n"
    "                    (signed 32-bit), raw x, raw y (0..65535); prints the\n"
    "                    coefficients only\n"
    "  --help            this text\n"
    "Bad input: one line on stderr and exit status 2.\n";

int Refuse(const std::string& message) {
    std::fprintf(stderr, "calib-solve: %s (see --help)\n", message.c_str());
    return kBadInput;
}

enum class ParseResult { kOk, kNotInteger, kOutOfRange };

// Decimal integer with an optional leading minus and nothing else.
ParseResult ParseInteger(const char* text, std::int64_t low, std::int64_t high, std::int64_t* value) {
    const char* p = text;
    const bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    if (*p == '\0') {
        return ParseResult::kNotInteger;
    }
    std::int64_t magnitude = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return ParseResult::kNotInteger;
        }
        if (magnitude < (1LL << 40)) {  // saturates far beyond every bound
            magnitude = magnitude * 10 + (*p - '0');
        }
    }
    *value = negative ? -magnitude : magnitude;
    return (*value < low || *value > high) ? ParseResult::kOutOfRange : ParseResult::kOk;
}

// Parses one number for `what`; on failure prints the reason and returns false.
bool TakeNumber(const char* text, std::int64_t low, std::int64_t high, const std::string& what,
                std::int64_t* value) {
    switch (ParseInteger(text, low, high, value)) {
        case ParseResult::kOk:
            return true;
        case ParseResult::kNotInteger:
            Refuse("'" + std::string(text) + "' is not an integer (" + what + ")");
            return false;
        case ParseResult::kOutOfRange:
            Refuse(what + " must lie in " + std::to_string(low) + ".." + std::to_string(high) +
                   ", not " + text);
            return false;
    }
    return false;
}

bool IsOption(const char* word) {
    // A minus followed by a digit is a negative number, not an option.
    return word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

void PrintCoefficients() {
    const CalibrationCoefficients& k = gSession.coefficients;
    std::printf("coefficients %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32
                " %" PRId32 " %d\n",
                k.a, k.b, k.c, k.d, k.e, k.f, k.divisor, k.valid ? 1 : 0);
}

void PrintRecord(const char* name, const std::int32_t* r) {
    std::printf("%s %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32 "\n", name, r[0], r[1], r[2], r[3]);
}

int RunPairs(const std::vector<const char*>& numbers) {
    if (numbers.size() % 4 != 0) {
        return Refuse("--pairs takes groups of four numbers (EX EY RX RY), got " +
                      std::to_string(numbers.size()) + " numbers");
    }
    const std::int32_t n = static_cast<std::int32_t>(numbers.size() / 4);
    if (n > kMaxPoints) {
        return Refuse("at most 16 points, got " + std::to_string(n));
    }
    std::int32_t values[4][kMaxPoints] = {};  // expected X, expected Y, raw x, raw y
    static const char* const kNames[4] = {"expected X", "expected Y", "raw x", "raw y"};
    for (std::int32_t i = 0; i < n; ++i) {
        for (int v = 0; v < 4; ++v) {
            const bool raw = v >= 2;
            std::int64_t value = 0;
            if (!TakeNumber(numbers[static_cast<std::size_t>(4 * i + v)], raw ? 0 : kInt32Min,
                            raw ? kRawMax : kInt32Max,
                            std::string(kNames[v]) + " of point " + std::to_string(i), &value)) {
                return kBadInput;
            }
            values[v][i] = static_cast<std::int32_t>(value);
        }
    }
    if (!CalibrationSolveIsExact(n, values[0], values[1], values[2], values[3])) {
        return Refuse("these values are too large for an exact solve");
    }
    gSession = InitialSessionState();
    SolveCalibration(n, values[0], values[1], values[2], values[3]);
    PrintCoefficients();
    return 0;
}

int RunCompute(const std::vector<const char*>& numbers, std::int32_t orientation,
               std::uint32_t logicalMax) {
    if (numbers.size() != 2 * kTargetCount) {
        return Refuse("expected 8 raw coordinates (RX0 RY0 RX1 RY1 RX2 RY2 RX3 RY3), got " +
                      std::to_string(numbers.size()));
    }
    std::int32_t rawX[kTargetCount];
    std::int32_t rawY[kTargetCount];
    for (int i = 0; i < kTargetCount; ++i) {
        std::int64_t x = 0;
        std::int64_t y = 0;
        const std::string target = " of target " + std::to_string(i);
        if (!TakeNumber(numbers[static_cast<std::size_t>(2 * i)], 0, kRawMax, "raw x" + target, &x) ||
            !TakeNumber(numbers[static_cast<std::size_t>(2 * i + 1)], 0, kRawMax, "raw y" + target,
                        &y)) {
            return kBadInput;
        }
        rawX[i] = static_cast<std::int32_t>(x);
        rawY[i] = static_cast<std::int32_t>(y);
    }
    std::int32_t expectedX[kTargetCount];
    std::int32_t expectedY[kTargetCount];
    ExpectedTargetPositions(logicalMax, orientation, expectedX, expectedY);
    if (!CalibrationSolveIsExact(kTargetCount, expectedX, expectedY, rawX, rawY)) {
        return Refuse("logical maximum " + std::to_string(logicalMax) +
                      " is too large for an exact solve with these raw points");
    }

    gSession = InitialSessionState();
    // The logical maximum is read back as an unsigned 32-bit number.
    gSession.logicalMaxX = static_cast<std::int32_t>(logicalMax);
    gSession.displayOrientation = orientation;
    for (int i = 0; i < kTargetCount; ++i) {
        gSession.rawPoints[i] = RawPoint{rawX[i], rawY[i]};
    }
    ComputeCalibration();
    const int fit = CheckCalibrationFit(kTargetCount, expectedX, expectedY, rawX, rawY);

    std::printf("expected");
    for (int i = 0; i < kTargetCount; ++i) {
        std::printf(" %" PRId32 " %" PRId32, expectedX[i], expectedY[i]);
    }
    std::printf("\n");
    PrintCoefficients();
    PrintRecord("record-x", gSession.deviceRecords[kRecordX]);
    PrintRecord("record-y", gSession.deviceRecords[kRecordY]);
    std::printf("fit %s\n", fit ? "PASS" : "FAIL");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool pairs = false;
    bool placed = false;  // --orientation or --logical-max given
    std::int64_t orientation = 0;
    std::int64_t logicalMax = 32767;
    std::vector<const char*> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (!IsOption(word)) {
            numbers.push_back(word);
        } else if (std::strcmp(word, "--pairs") == 0) {
            pairs = true;
        } else if (std::strcmp(word, "--orientation") == 0 || std::strcmp(word, "--logical-max") == 0) {
            if (i + 1 >= argc) {
                return Refuse(std::string("option ") + word + " needs a value");
            }
            const bool isOrientation = std::strcmp(word, "--orientation") == 0;
            if (!TakeNumber(argv[++i], isOrientation ? kInt32Min : 0,
                            isOrientation ? kInt32Max : kUint32Max, word,
                            isOrientation ? &orientation : &logicalMax)) {
                return kBadInput;
            }
            placed = true;
        } else {
            return Refuse(std::string("unknown option ") + word);
        }
    }
    if (pairs) {
        if (placed) {
            return Refuse("--orientation and --logical-max do not apply to --pairs");
        }
        return RunPairs(numbers);
    }
    return RunCompute(numbers, static_cast<std::int32_t>(orientation),
                      static_cast<std::uint32_t>(logicalMax));
}
