// The calibration solve over arbitrary raw points, orientations and logical
// maxima (ComputeCalibration), and over arbitrary point sets of 0 to 16
// points (SolveCalibration): no undefined behaviour, a divisor never 0, and
// the coefficients and records of an independent exact solve wherever the
// 96-bit bounds of the solve hold.
#include <cstdlib>
#include <cstring>

#include "app/session_state.h"
#include "calib/calibration_solve.h"
#include "tests/calib/exact_solve.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

ExactCoefficients Stored() {
    const CalibrationCoefficients& k = gSession.coefficients;
    return {k.a, k.b, k.c, k.d, k.e, k.f, k.divisor, k.valid ? 1 : 0};
}

void CheckCompute(FuzzInput* in) {
    gSession = InitialSessionState();
    const std::uint8_t orientationChoice = TakeByte(in);
    gSession.displayOrientation = orientationChoice < 250 ? orientationChoice % 5 : TakeI32(in);
    gSession.logicalMaxX = TakeI32(in);
    std::int32_t rx[4];
    std::int32_t ry[4];
    for (int i = 0; i < 4; ++i) {
        rx[i] = TakeU16(in);
        ry[i] = TakeU16(in);
        gSession.rawPoints[i] = RawPoint{rx[i], ry[i]};
    }
    if (!ComputeCalibration()) std::abort();
    const CalibrationCoefficients& k = gSession.coefficients;
    if (k.divisor == 0) std::abort();
    for (int axis = 0; axis < 2; ++axis) {
        if (gSession.deviceRecords[axis][3] != k.divisor) std::abort();
    }

    std::int32_t ex[4];
    std::int32_t ey[4];
    ExpectedTargetPositions(static_cast<std::uint32_t>(gSession.logicalMaxX), gSession.displayOrientation, ex, ey);
    if (!CalibrationSolveIsExact(4, ex, ey, rx, ry)) return;
    const ExactCoefficients want = ExactSolve(4, ex, ey, rx, ry);
    if (Stored() != want) std::abort();
    const std::int32_t recordX[4] = {want[0], want[1], want[2] / want[6], want[6]};
    const std::int32_t recordY[4] = {want[3], want[4], want[5] / want[6], want[6]};
    if (std::memcmp(gSession.deviceRecords[kRecordX], recordX, sizeof recordX) != 0) std::abort();
    if (std::memcmp(gSession.deviceRecords[kRecordY], recordY, sizeof recordY) != 0) std::abort();
}

void CheckSolve(FuzzInput* in) {
    gSession = InitialSessionState();
    const int n = TakeByte(in) % 17;
    std::int32_t ex[16];
    std::int32_t ey[16];
    std::int32_t rx[16];
    std::int32_t ry[16];
    for (int i = 0; i < n; ++i) {
        ex[i] = TakeI32(in);
        ey[i] = TakeI32(in);
        rx[i] = TakeU16(in);
        ry[i] = TakeU16(in);
    }
    const CalibrationCoefficients before = gSession.coefficients;
    const int fit = SolveCalibration(n, ex, ey, rx, ry);
    if (fit != 0 && fit != 1) std::abort();
    const CalibrationCoefficients& k = gSession.coefficients;
    if (n == 0) {
        // Nothing but the flag changes, and there is nothing to check.
        if (k.valid || fit != 1 || k.divisor != before.divisor || k.a != before.a) std::abort();
        return;
    }
    if (k.divisor == 0) std::abort();
    if (CalibrationSolveIsExact(n, ex, ey, rx, ry) && Stored() != ExactSolve(n, ex, ey, rx, ry)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size, 0};
    if (TakeByte(&in) < 160) {
        CheckCompute(&in);
    } else {
        CheckSolve(&in);
    }
    return 0;
}
