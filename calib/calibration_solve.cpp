// Least-squares calibration solve in exact 96-bit integers (see
// calibration_solve.h).
//
// For raw (x, y) and expected device (X, Y), the normal equations
//   | Sxx Sxy Sx |   |a|   |SxX|        |d|   |SxY|
//   | Sxy Syy Sy | * |b| = |SyX|,   M * |e| = |SyY|
//   | Sx  Sy  N  |   |c|   |SX |        |f|   |SY |
// are solved by Cramer's rule. The determinants are never divided out: the
// determinant of M stays the common divisor, and all seven values are shifted
// right by one shared exponent until they fit the controller's field widths.
#include "calib/calibration_solve.h"

#include "app/session_state.h"
#include "calib/int96.h"

namespace {

constexpr std::int32_t kMirrorAxis = 32767;
constexpr std::int32_t kFactorBits = 15;    // a, b, d, e: -32768..32767
constexpr std::int32_t kConstantBits = 27;  // c, f: -2^27..2^27 - 1
constexpr std::int32_t kDivisorBits = 31;   // divisor: 0..2^31 - 1
constexpr std::int32_t kMaxTermBits = 92;   // see CalibrationSolveIsExact
constexpr std::int64_t kFitLimit = 50;      // device units

// The eleven sums over the points and the point count.
struct NormalSums {
    Int96 sxx, sxy, sx, syy, sy;
    Int96 sxX, syX, sX, sxY, syY, sY;
    Int96 n;
};

void AccumulateSums(std::int32_t n, const std::int32_t* expectedX, const std::int32_t* expectedY,
                    const std::int32_t* rawX, const std::int32_t* rawY, NormalSums& s) {
    Int96* const sums[] = {&s.sxx, &s.sxy, &s.sx, &s.syy, &s.sy, &s.sxX,
                           &s.syX, &s.sX,  &s.sxY, &s.syY, &s.sY};
    for (Int96* sum : sums) {
        Int96FromInt(*sum, 0);
    }
    Int96FromInt(s.n, n);
    Int96 x, y, bigX, bigY, t;
    for (std::int32_t i = 0; i < n; ++i) {
        Int96FromInt(x, rawX[i]);
        Int96FromInt(y, rawY[i]);
        Int96FromInt(bigX, expectedX[i]);
        Int96FromInt(bigY, expectedY[i]);
        Int96Add(s.sxx, Int96Multiply(x, x, t), s.sxx);
        Int96Add(s.sxy, Int96Multiply(x, y, t), s.sxy);
        Int96Add(s.sx, x, s.sx);
        Int96Add(s.syy, Int96Multiply(y, y, t), s.syy);
        Int96Add(s.sy, y, s.sy);
        Int96Add(s.sxX, Int96Multiply(x, bigX, t), s.sxX);
        Int96Add(s.syX, Int96Multiply(y, bigX, t), s.syX);
        Int96Add(s.sX, bigX, s.sX);
        Int96Add(s.sxY, Int96Multiply(x, bigY, t), s.sxY);
        Int96Add(s.syY, Int96Multiply(y, bigY, t), s.syY);
        Int96Add(s.sY, bigY, s.sY);
    }
}

// The seven determinant tables in evaluation order: M itself, then M with
// column 0, 1, 2 re-pointed at the X right-hand side, then at the Y one.
constexpr int kDeterminants = 7;

void DeterminantTable(const NormalSums& s, int which, const Int96* table[9]) {
    const Int96* const m[9] = {&s.sxx, &s.sxy, &s.sx, &s.sxy, &s.syy, &s.sy, &s.sx, &s.sy, &s.n};
    for (int k = 0; k < 9; ++k) {
        table[k] = m[k];
    }
    if (which == 0) {
        return;
    }
    const bool forY = which > 3;
    const int column = (which - 1) % 3;
    table[column] = forY ? &s.sxY : &s.sxX;
    table[3 + column] = forY ? &s.syY : &s.syX;
    table[6 + column] = forY ? &s.sY : &s.sX;
}

// The low word of a value in two's-complement form, as a signed number.
std::int32_t LowWordSigned(const Int96& x) {
    const std::uint32_t word = x.magnitude[0];
    if (word < 0x80000000u) {
        return static_cast<std::int32_t>(word);
    }
    return -static_cast<std::int32_t>(~word) - 1;
}

std::int32_t MaxOf(std::int32_t a, std::int32_t b) { return a > b ? a : b; }

std::int64_t MagnitudeOf(std::int64_t v) { return v < 0 ? -v : v; }

}  // namespace

void ExpectedTargetPositions(std::uint32_t logicalMax, std::int32_t orientation,
                             std::int32_t expectedX[4], std::int32_t expectedY[4]) {
    // The product comes first and wraps modulo 2^32: H is not 4 * L.
    const std::int32_t low = static_cast<std::int32_t>(logicalMax / 5u);
    const std::int32_t high = static_cast<std::int32_t>((logicalMax * 4u) / 5u);
    // Mirrored positions are always taken about 0x7fff, whatever the maximum.
    const std::int32_t lowMirror = kMirrorAxis - low;
    const std::int32_t highMirror = kMirrorAxis - high;
    // Targets: 0 upper left, 1 lower right, 2 upper right, 3 lower left.
    std::int32_t x[4] = {low, high, high, low};
    std::int32_t y[4] = {low, high, low, high};
    if (orientation == 1) {
        const std::int32_t rx[4] = {low, high, low, high};
        const std::int32_t ry[4] = {lowMirror, highMirror, highMirror, lowMirror};
        for (int i = 0; i < 4; ++i) { x[i] = rx[i]; y[i] = ry[i]; }
    } else if (orientation == 2) {
        const std::int32_t rx[4] = {lowMirror, highMirror, highMirror, lowMirror};
        const std::int32_t ry[4] = {lowMirror, highMirror, lowMirror, highMirror};
        for (int i = 0; i < 4; ++i) { x[i] = rx[i]; y[i] = ry[i]; }
    } else if (orientation == 3) {
        const std::int32_t rx[4] = {lowMirror, highMirror, lowMirror, highMirror};
        const std::int32_t ry[4] = {low, high, high, low};
        for (int i = 0; i < 4; ++i) { x[i] = rx[i]; y[i] = ry[i]; }
    }
    for (int i = 0; i < 4; ++i) {
        expectedX[i] = x[i];
        expectedY[i] = y[i];
    }
}

bool ComputeCalibration() {
    std::int32_t expectedX[kTargetCount];
    std::int32_t expectedY[kTargetCount];
    ExpectedTargetPositions(static_cast<std::uint32_t>(gSession.logicalMaxX),
                            gSession.displayOrientation, expectedX, expectedY);
    std::int32_t rawX[kTargetCount];
    std::int32_t rawY[kTargetCount];
    for (int i = 0; i < kTargetCount; ++i) {
        rawX[i] = gSession.rawPoints[i].x;
        rawY[i] = gSession.rawPoints[i].y;
    }
    // The fit verdict is not acted on: the user judges the result.
    SolveCalibration(kTargetCount, expectedX, expectedY, rawX, rawY);

    const CalibrationCoefficients& k = gSession.coefficients;
    const std::int32_t recordX[4] = {k.a, k.b, k.c / k.divisor, k.divisor};
    const std::int32_t recordY[4] = {k.d, k.e, k.f / k.divisor, k.divisor};
    for (int v = 0; v < 4; ++v) {
        gSession.deviceRecords[kRecordX][v] = recordX[v];
        gSession.deviceRecords[kRecordY][v] = recordY[v];
    }
    return true;
}

int SolveCalibration(std::int32_t n, const std::int32_t* expectedX, const std::int32_t* expectedY,
                     const std::int32_t* rawX, const std::int32_t* rawY) {
    if (n <= 0) {
        gSession.coefficients.valid = false;
        return 1;
    }
    NormalSums sums;
    AccumulateSums(n, expectedX, expectedY, rawX, rawY, sums);

    // det[0] = determinant of M; det[1..3] = numerators of a, b, c;
    // det[4..6] = numerators of d, e, f.
    Int96 det[kDeterminants];
    const Int96* table[9];
    for (int which = 0; which < kDeterminants; ++which) {
        DeterminantTable(sums, which, table);
        Determinant3x3(det[which], table);
    }

    // Half the divisor in c and f makes the truncating division round to
    // nearest for non-negative results. The determinant is never negative
    // for real input; dividing by -2 then keeps the term non-negative anyway.
    Int96 half;
    Int96DivideSmall(det[0], Int96IsNegative(det[0]) ? -2 : 2, half);
    Int96Add(det[3], half, det[3]);
    Int96Add(det[6], half, det[6]);

    // One shared scale, as small as the field widths allow.
    std::int32_t shift = Int96BitLength(det[0]) - kDivisorBits;
    const int factors[] = {1, 2, 4, 5};
    for (int which : factors) {
        shift = MaxOf(shift, Int96BitLength(det[which]) - kFactorBits);
    }
    shift = MaxOf(shift, Int96BitLength(det[3]) - kConstantBits);
    shift = MaxOf(shift, Int96BitLength(det[6]) - kConstantBits);
    shift = MaxOf(shift, 0);
    for (Int96& value : det) {
        Int96ShiftRight(value, shift);
    }

    CalibrationCoefficients& k = gSession.coefficients;
    k.a = LowWordSigned(det[1]);
    k.b = LowWordSigned(det[2]);
    k.c = LowWordSigned(det[3]);
    k.d = LowWordSigned(det[4]);
    k.e = LowWordSigned(det[5]);
    k.f = LowWordSigned(det[6]);
    k.divisor = LowWordSigned(det[0]);
    // Collinear or coincident points, or a scaled divisor that reached 0.
    k.valid = k.divisor != 0;
    if (!k.valid) {
        k.divisor = 1;
    }
    return CheckCalibrationFit(n, expectedX, expectedY, rawX, rawY);
}

void MapRawPoint(std::int32_t x, std::int32_t y, std::int64_t* deviceX4, std::int64_t* deviceY4) {
    const CalibrationCoefficients& k = gSession.coefficients;
    if (!k.valid) {
        *deviceX4 = x;
        *deviceY4 = y;
        return;
    }
    // With a, b, d, e within 16 bits and c, f within 28, each sum stays below
    // 2^48 and four times it below 2^50: no wrap-around for any raw point.
    const std::int64_t sumX = std::int64_t{k.a} * x + std::int64_t{k.b} * y + k.c;
    const std::int64_t sumY = std::int64_t{k.d} * x + std::int64_t{k.e} * y + k.f;
    const std::int64_t x4 = (sumX * 4) / k.divisor;
    const std::int64_t y4 = (sumY * 4) / k.divisor;
    *deviceX4 = x4 < 0 ? 0 : x4;
    *deviceY4 = y4 < 0 ? 0 : y4;
}

int CheckCalibrationFit(std::int32_t n, const std::int32_t* expectedX,
                        const std::int32_t* expectedY, const std::int32_t* rawX,
                        const std::int32_t* rawY) {
    for (std::int32_t i = 0; i < n; ++i) {
        std::int64_t x4 = 0;
        std::int64_t y4 = 0;
        MapRawPoint(rawX[i], rawY[i], &x4, &y4);
        const std::int64_t dx = x4 / 4 - expectedX[i];
        const std::int64_t dy = y4 / 4 - expectedY[i];
        // A distance of 50 or more on one axis fails before any squaring,
        // so the squares below stay small.
        if (MagnitudeOf(dx) >= kFitLimit || MagnitudeOf(dy) >= kFitLimit) {
            return 0;
        }
        if (dx * dx + dy * dy >= kFitLimit * kFitLimit) {
            return 0;
        }
    }
    return 1;
}

bool CalibrationSolveIsExact(std::int32_t n, const std::int32_t* expectedX,
                             const std::int32_t* expectedY, const std::int32_t* rawX,
                             const std::int32_t* rawY) {
    if (n <= 0) {
        return true;
    }
    // The sums themselves stay below 2^94 for any 32-bit input. Each
    // determinant term below 2^92 keeps six of them below 2^95, and the
    // half-divisor term added to c and f below 2^96.
    NormalSums sums;
    AccumulateSums(n, expectedX, expectedY, rawX, rawY, sums);
    static const int kTerms[6][3] = {{0, 4, 8}, {2, 3, 7}, {1, 5, 6},
                                     {2, 4, 6}, {1, 3, 8}, {0, 5, 7}};
    const Int96* table[9];
    for (int which = 0; which < kDeterminants; ++which) {
        DeterminantTable(sums, which, table);
        for (const auto& term : kTerms) {
            const std::int32_t bits = Int96BitLength(*table[term[0]]) +
                                      Int96BitLength(*table[term[1]]) +
                                      Int96BitLength(*table[term[2]]);
            if (bits > kMaxTermBits) {
                return false;
            }
        }
    }
    return true;
}
