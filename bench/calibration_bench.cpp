// ComputeCalibration on a realistic panel, beside the same algorithm in plain
// 128-bit integers, so that the cost of the 32-bit-word arithmetic shows as
// a ratio within one run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>

#include "app/session_state.h"
#include "calib/calibration_solve.h"

namespace {

using I128 = __int128;

// A panel mounted slightly rotated and offset, touched a little off centre.
const RawPoint kPanel[kTargetCount] = {{9120, 8870}, {56210, 57030}, {56480, 8760}, {8990, 57190}};

void SetUpSession() {
    gSession = InitialSessionState();
    gSession.logicalMaxX = 0x7FFF;
    gSession.displayOrientation = 0;
    for (int i = 0; i < kTargetCount; ++i) {
        gSession.rawPoints[i] = kPanel[i];
    }
}

void BM_ComputeCalibration(benchmark::State& state) {
    SetUpSession();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComputeCalibration());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ComputeCalibration);

// The same steps in 128-bit integers: expected positions, sums, determinants
// by the rule of Sarrus, half-divisor term, shared scaling shift, low words,
// records and the fit check.
struct Result {
    std::int32_t coefficients[7];  // a b c d e f divisor
    bool valid;
    std::int32_t records[2][4];
    int fit;
};

int BitLength(I128 v) {
    unsigned __int128 m = v < 0 ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    int bits = 0;
    while (m != 0) {
        ++bits;
        m >>= 1;
    }
    return bits;
}

I128 Sarrus(const I128* const m[9]) {
    return *m[0] * *m[4] * *m[8] + *m[2] * *m[3] * *m[7] + *m[1] * *m[5] * *m[6] -
           *m[2] * *m[4] * *m[6] - *m[1] * *m[3] * *m[8] - *m[0] * *m[5] * *m[7];
}

void ComputeCalibration128(const RawPoint* raw, std::uint32_t logicalMax, std::int32_t orientation,
                           Result& out) {
    std::int32_t ex[4], ey[4];
    ExpectedTargetPositions(logicalMax, orientation, ex, ey);
    I128 sxx = 0, sxy = 0, sx = 0, syy = 0, sy = 0, sxX = 0, syX = 0, sX = 0, sxY = 0, syY = 0, sY = 0;
    for (int i = 0; i < 4; ++i) {
        const I128 x = raw[i].x, y = raw[i].y, bx = ex[i], by = ey[i];
        sxx += x * x; sxy += x * y; sx += x; syy += y * y; sy += y;
        sxX += x * bx; syX += y * bx; sX += bx; sxY += x * by; syY += y * by; sY += by;
    }
    const I128 n = 4;
    const I128* m[9] = {&sxx, &sxy, &sx, &sxy, &syy, &sy, &sx, &sy, &n};
    I128 det[7];
    det[0] = Sarrus(m);
    const I128* rhs[2][3] = {{&sxX, &syX, &sX}, {&sxY, &syY, &sY}};
    for (int axis = 0; axis < 2; ++axis) {
        for (int column = 0; column < 3; ++column) {
            const I128* t[9];
            std::copy(m, m + 9, t);
            t[column] = rhs[axis][0];
            t[3 + column] = rhs[axis][1];
            t[6 + column] = rhs[axis][2];
            det[1 + 3 * axis + column] = Sarrus(t);
        }
    }
    const I128 half = det[0] >= 0 ? det[0] / 2 : (-det[0] + 1) / 2;
    det[3] += half;
    det[6] += half;
    int w = std::max({0, BitLength(det[0]) - 31, BitLength(det[1]) - 15, BitLength(det[2]) - 15,
                      BitLength(det[4]) - 15, BitLength(det[5]) - 15, BitLength(det[3]) - 27,
                      BitLength(det[6]) - 27});
    const int order[7] = {1, 2, 3, 4, 5, 6, 0};
    for (int k = 0; k < 7; ++k) {
        out.coefficients[k] = static_cast<std::int32_t>(static_cast<std::uint32_t>(det[order[k]] >> w));
    }
    std::int32_t* c = out.coefficients;
    out.valid = c[6] != 0;
    if (!out.valid) {
        c[6] = 1;
    }
    for (int axis = 0; axis < 2; ++axis) {
        out.records[axis][0] = c[3 * axis];
        out.records[axis][1] = c[3 * axis + 1];
        out.records[axis][2] = c[3 * axis + 2] / c[6];
        out.records[axis][3] = c[6];
    }
    out.fit = 1;
    for (int i = 0; i < 4; ++i) {
        std::int64_t x4 = raw[i].x, y4 = raw[i].y;
        if (out.valid) {
            x4 = std::max<std::int64_t>(0, (std::int64_t{c[0]} * raw[i].x + std::int64_t{c[1]} * raw[i].y + c[2]) * 4 / c[6]);
            y4 = std::max<std::int64_t>(0, (std::int64_t{c[3]} * raw[i].x + std::int64_t{c[4]} * raw[i].y + c[5]) * 4 / c[6]);
        }
        const std::int64_t dx = x4 / 4 - ex[i], dy = y4 / 4 - ey[i];
        if (dx <= -50 || dx >= 50 || dy <= -50 || dy >= 50 || dx * dx + dy * dy >= 2500) {
            out.fit = 0;
        }
    }
}

void BM_ComputeCalibration128(benchmark::State& state) {
    Result result;
    for (auto _ : state) {
        ComputeCalibration128(kPanel, 0x7FFF, 0, result);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    // Both versions must agree, or the comparison means nothing.
    SetUpSession();
    ComputeCalibration();
    const CalibrationCoefficients& k = gSession.coefficients;
    const std::int32_t mine[7] = {k.a, k.b, k.c, k.d, k.e, k.f, k.divisor};
    if (!std::equal(mine, mine + 7, result.coefficients) || k.valid != result.valid) {
        state.SkipWithError("the 128-bit version disagrees with ComputeCalibration");
    }
}
BENCHMARK(BM_ComputeCalibration128);

}  // namespace
