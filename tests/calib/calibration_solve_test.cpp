// Calibration solve: the worked panels, the fit check, and the solve
// cross-checked against an independent exact solve in 128-bit integers.
#include "calib/calibration_solve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "app/session_state.h"
#include "tests/calib/exact_solve.h"

namespace {

using Coefficients = ExactCoefficients;
using Record = std::array<std::int32_t, 4>;

Coefficients Stored() {
    const CalibrationCoefficients& k = gSession.coefficients;
    return {k.a, k.b, k.c, k.d, k.e, k.f, k.divisor, k.valid ? 1 : 0};
}

Record StoredRecord(int axis) {
    const std::int32_t* r = gSession.deviceRecords[axis];
    return {r[0], r[1], r[2], r[3]};
}

// Runs ComputeCalibration on raw points given as x0 y0 x1 y1 ... x3 y3.
void Compute(std::uint32_t logicalMax, std::int32_t orientation, const std::array<std::int32_t, 8>& raw) {
    gSession = InitialSessionState();
    gSession.logicalMaxX = static_cast<std::int32_t>(logicalMax);
    gSession.displayOrientation = orientation;
    for (int i = 0; i < 4; ++i) {
        gSession.rawPoints[i] = RawPoint{raw[2 * i], raw[2 * i + 1]};
    }
    ASSERT_TRUE(ComputeCalibration());
}

std::array<std::int32_t, 8> Expected(std::uint32_t logicalMax, std::int32_t orientation) {
    std::int32_t x[4];
    std::int32_t y[4];
    ExpectedTargetPositions(logicalMax, orientation, x, y);
    return {x[0], x[1], x[2], x[3], y[0], y[1], y[2], y[3]};
}

// Raw points at which each target's raw position is f(expected X, expected Y).
template <typename F>
std::array<std::int32_t, 8> RawFromExpected(std::int32_t orientation, F f) {
    const auto e = Expected(0x7FFF, orientation);
    std::array<std::int32_t, 8> raw{};
    for (int i = 0; i < 4; ++i) {
        f(e[i], e[4 + i], raw[2 * i], raw[2 * i + 1]);
    }
    return raw;
}

TEST(CalibrationSolve, ExpectedPositionsFollowOrientationAndLogicalMaximum) {
    using P = std::array<std::int32_t, 8>;
    EXPECT_EQ(Expected(0x7FFF, 0), (P{6553, 26213, 26213, 6553, 6553, 26213, 6553, 26213}));
    EXPECT_EQ(Expected(0x7FFF, 10000), Expected(0x7FFF, 0));
    EXPECT_EQ(Expected(0x7FFF, -1), Expected(0x7FFF, 0));
    EXPECT_EQ(Expected(0x7FFF, 1), (P{6553, 26213, 6553, 26213, 26214, 6554, 6554, 26214}));
    EXPECT_EQ(Expected(0x7FFF, 2), (P{26214, 6554, 6554, 26214, 26214, 6554, 26214, 6554}));
    EXPECT_EQ(Expected(0x7FFF, 3), (P{26214, 6554, 26214, 6554, 6553, 26213, 26213, 6553}));
    EXPECT_EQ(Expected(65535, 2), (P{19660, -19661, -19661, 19660, 19660, -19661, 19660, -19661}));
    // Mirrored about 0x7FFF whatever the maximum, not about the maximum itself.
    EXPECT_EQ(Expected(65535, 1), (P{13107, 52428, 13107, 52428, 19660, -19661, -19661, 19660}));
    EXPECT_EQ(Expected(4095, 3), (P{31948, 29491, 31948, 29491, 819, 3276, 3276, 819}));
    // The product 4 * maximum wraps modulo 2^32 before the division.
    EXPECT_EQ(Expected(0x40000000u, 0)[1], 0);
    EXPECT_EQ(Expected(0xFFFFFFFFu, 0)[0], 858993459);
    EXPECT_EQ(Expected(0xFFFFFFFFu, 0)[1], 858993458);
}

TEST(CalibrationSolve, RawEqualToExpectedGivesTheIdentityInEveryOrientation) {
    for (std::int32_t orientation : {0, 1, 2, 3, 10000}) {
        Compute(0x7FFF, orientation, RawFromExpected(orientation, [](int x, int y, int& rx, int& ry) {
                    rx = x;
                    ry = y;
                }));
        EXPECT_EQ(Stored(), (Coefficients{16984, 0, 8492, 0, 16984, 8492, 16984, 1})) << orientation;
        EXPECT_EQ(StoredRecord(kRecordX), (Record{16984, 0, 0, 16984}));
        EXPECT_EQ(StoredRecord(kRecordY), (Record{0, 16984, 0, 16984}));
    }
}

TEST(CalibrationSolve, MirroredAndScaledPanels) {
    // A mirrored X axis: the shift rounds the negative factor down.
    Compute(0x7FFF, 0, RawFromExpected(0, [](int x, int y, int& rx, int& ry) {
                rx = 32767 - x;
                ry = y;
            }));
    EXPECT_EQ(Stored(), (Coefficients{-2124, 0, 69566084, 0, 2123, 1061, 2123, 1}));
    EXPECT_EQ(StoredRecord(kRecordX), (Record{-2124, 0, 32767, 2123}));
    EXPECT_EQ(StoredRecord(kRecordY), (Record{0, 2123, 0, 2123}));

    // Negative offsets truncate toward zero in the records.
    Compute(0x7FFF, 0, RawFromExpected(0, [](int x, int y, int& rx, int& ry) {
                rx = 2 * x + 100;
                ry = 2 * y + 100;
            }));
    EXPECT_EQ(Stored(), (Coefficients{16984, 0, -1681433, 0, 16984, -1681433, 33968, 1}));
    EXPECT_EQ(StoredRecord(kRecordX), (Record{16984, 0, -49, 33968}));
    EXPECT_EQ(StoredRecord(kRecordY), (Record{0, 16984, -49, 33968}));
}

TEST(CalibrationSolve, DegeneratePanelsGiveDivisorOneAndInvalid) {
    const std::array<std::int32_t, 8> degenerate[] = {
        {1000, 2000, 1000, 2000, 1000, 2000, 1000, 2000},  // four equal points
        {100, 300, 200, 500, 300, 700, 400, 900},          // on one line
    };
    for (const auto& raw : degenerate) {
        Compute(0x7FFF, 0, raw);
        EXPECT_EQ(Stored(), (Coefficients{0, 0, 0, 0, 0, 0, 1, 0}));
        EXPECT_EQ(StoredRecord(kRecordX), (Record{0, 0, 0, 1}));
        EXPECT_EQ(StoredRecord(kRecordY), (Record{0, 0, 0, 1}));
    }
    // Nearly collinear: the scaled divisor reaches 0, the numerators do not.
    Compute(0x7FFF, 0, {100, 50, 200, 50, 300, 50, 401, 51});
    EXPECT_EQ(Stored(), (Coefficients{89, -30089, 1504438, 0, 11999, -587976, 1, 0}));
    EXPECT_EQ(StoredRecord(kRecordX), (Record{89, -30089, 1504438, 1}));
    EXPECT_EQ(StoredRecord(kRecordY), (Record{0, 11999, -587976, 1}));
}

TEST(CalibrationSolve, SmallValuesAndNoPoints) {
    gSession = InitialSessionState();
    const std::int32_t ex[] = {1, 2, 2, 1}, ey[] = {1, 2, 1, 2}, rx[] = {2, 1, 1, 2}, ry[] = {1, 2, 1, 2};
    SolveCalibration(4, ex, ey, rx, ry);
    EXPECT_EQ(Stored(), (Coefficients{-4, 0, 14, 0, 4, 2, 4, 1}));
    EXPECT_EQ(SolveCalibration(0, ex, ey, rx, ry), 1);
    EXPECT_EQ(Stored(), (Coefficients{-4, 0, 14, 0, 4, 2, 4, 0})) << "only valid changes";
    gSession.coefficients.valid = true;
    EXPECT_EQ(SolveCalibration(-1, ex, ey, rx, ry), 1) << "a negative count is no points";
    EXPECT_EQ(Stored(), (Coefficients{-4, 0, 14, 0, 4, 2, 4, 0}));
}

// The fit check as the 32-bit wrapping arithmetic would do it, for contrast.
int WrappingFitCheck(const std::int32_t* ex, const std::int32_t* ey, const std::int32_t* rx,
                     const std::int32_t* ry) {
    const CalibrationCoefficients& k = gSession.coefficients;
    std::uint64_t largest = 0;
    for (int i = 0; i < 4; ++i) {
        const auto wrap = [](std::uint32_t v) { return static_cast<std::int32_t>(v); };
        std::int32_t x4 = wrap((std::uint32_t(k.a) * rx[i] + std::uint32_t(k.b) * ry[i] + k.c) << 2) / k.divisor;
        std::int32_t y4 = wrap((std::uint32_t(k.d) * rx[i] + std::uint32_t(k.e) * ry[i] + k.f) << 2) / k.divisor;
        const std::int32_t dx = (x4 < 0 ? 0 : x4) / 4 - ex[i];
        const std::int32_t dy = (y4 < 0 ? 0 : y4) / 4 - ey[i];
        const std::int32_t s = wrap(std::uint32_t(dy) * dy + std::uint32_t(dx) * dx);
        largest = std::max(largest, static_cast<std::uint64_t>(std::int64_t{s}));
    }
    return largest < 2500 ? 1 : 0;
}

TEST(CalibrationSolve, FitCheckDoesNotWrapOnOrdinaryPanels) {
    gSession = InitialSessionState();
    const auto e = Expected(0x7FFF, 0);
    const std::int32_t* ex = &e[0];
    const std::int32_t* ey = &e[4];
    // Raw = 2 * expected + 100: a good fit whose a * x * 4 passes 2^31.
    std::int32_t rx[4], ry[4];
    for (int i = 0; i < 4; ++i) {
        rx[i] = 2 * ex[i] + 100;
        ry[i] = 2 * ey[i] + 100;
    }
    EXPECT_EQ(SolveCalibration(4, ex, ey, rx, ry), 1);
    EXPECT_EQ(WrappingFitCheck(ex, ey, rx, ry), 0) << "32-bit wrapping would call this good fit bad";
    // A point 50 units off on one axis (or 36 on both) fails, 49 passes.
    const std::array<int, 3> moves[] = {{50, 0, 0}, {0, -50, 0}, {36, 36, 0}, {49, 0, 1}, {35, 35, 1}};
    for (const auto& [dx, dy, verdict] : moves) {
        std::int32_t moved[4] = {ex[0] + dx, ex[1], ex[2], ex[3]};
        std::int32_t movedY[4] = {ey[0] + dy, ey[1], ey[2], ey[3]};
        EXPECT_EQ(CheckCalibrationFit(4, moved, movedY, rx, ry), verdict) << dx << ", " << dy;
    }
    // Without a valid calibration, raw values divided by 4 are compared.
    gSession.coefficients.valid = false;
    std::int32_t quarter[4] = {4 * ex[0], 4 * ex[1], 4 * ex[2], 4 * ex[3]};
    std::int32_t quarterY[4] = {4 * ey[0] + 3, 4 * ey[1], 4 * ey[2], 4 * ey[3]};
    EXPECT_EQ(CheckCalibrationFit(4, ex, ey, quarter, quarterY), 1);
    EXPECT_EQ(CheckCalibrationFit(4, ex, ey, rx, ry), 0);
}

TEST(CalibrationSolve, RandomPanelsAgreeWithExactSolve) {
    std::mt19937 rng(42);
    const std::uint32_t maxima[] = {0x7FFF, 0xFFF, 65535, 1000000, 3};
    for (int round = 0; round < 3000; ++round) {
        // A panel: an affine map of the targets with noise, sometimes nearly
        // degenerate, sometimes anywhere in the raw range.
        const std::uint32_t logicalMax = round % 7 == 6 ? rng() % (1u << 22) : maxima[round % 5];
        const std::int32_t orientation = static_cast<std::int32_t>(rng() % 5);
        const auto e = Expected(logicalMax, orientation);
        std::uniform_int_distribution<int> raw(0, 65535), noise(-300, 300);
        std::array<std::int32_t, 8> points{};
        for (int i = 0; i < 4; ++i) {
            if (round % 3 == 0) {
                points[2 * i] = raw(rng);
                points[2 * i + 1] = raw(rng);
            } else {
                const std::int32_t u = e[i] % 32768, v = e[4 + i] % 32768;
                points[2 * i] = std::clamp(u + (round % 3 == 1 ? v / 2 : 0) + noise(rng), 0, 65535);
                points[2 * i + 1] = std::clamp(v + noise(rng) / (round % 4 + 1), 0, 65535);
            }
        }
        std::int32_t rx[4], ry[4];
        for (int i = 0; i < 4; ++i) {
            rx[i] = points[2 * i];
            ry[i] = points[2 * i + 1];
        }
        ASSERT_TRUE(CalibrationSolveIsExact(4, &e[0], &e[4], rx, ry));
        Compute(logicalMax, orientation, points);
        const Coefficients want = ExactSolve(4, &e[0], &e[4], rx, ry);
        ASSERT_EQ(Stored(), want) << "round " << round;
        EXPECT_EQ(StoredRecord(kRecordX), (Record{want[0], want[1], want[2] / want[6], want[6]}));
        EXPECT_EQ(StoredRecord(kRecordY), (Record{want[3], want[4], want[5] / want[6], want[6]}));
    }
}

TEST(CalibrationSolve, ExactnessCheckAcceptsOnlyWhatTheSolveGetsRight) {
    // Up to 16 points with expected values anywhere in 32 bits: whenever the
    // check accepts, the solve must match the exact one; large values must
    // be refused.
    std::mt19937 rng(9);
    int accepted = 0, refused = 0;
    for (int round = 0; round < 3000; ++round) {
        const int n = 1 + static_cast<int>(rng() % 16);
        const int expectedBits = 8 + static_cast<int>(rng() % 24);
        std::int32_t ex[16], ey[16], rx[16], ry[16];
        for (int i = 0; i < n; ++i) {
            ex[i] = static_cast<std::int32_t>(rng() % (1u << expectedBits)) - (1 << (expectedBits - 1));
            ey[i] = static_cast<std::int32_t>(rng() % (1u << expectedBits)) - (1 << (expectedBits - 1));
            rx[i] = static_cast<std::int32_t>(rng() % 65536);
            ry[i] = static_cast<std::int32_t>(rng() % 65536);
        }
        gSession = InitialSessionState();
        if (CalibrationSolveIsExact(n, ex, ey, rx, ry)) {
            ++accepted;
            SolveCalibration(n, ex, ey, rx, ry);
            ASSERT_EQ(Stored(), ExactSolve(n, ex, ey, rx, ry)) << "round " << round;
        } else {
            ++refused;
        }
    }
    EXPECT_GT(accepted, 1000);
    EXPECT_GT(refused, 100);
    const std::int32_t big[4] = {1 << 30, 1 << 29, 1 << 30, 1 << 29};
    const std::int32_t corners[4] = {0, 65535, 65535, 0};
    EXPECT_FALSE(CalibrationSolveIsExact(4, big, big, corners, corners));
}

}  // namespace
