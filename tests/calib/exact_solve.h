// An independent exact calibration solve for cross-checks: 128-bit sums,
// determinants by cofactor expansion, then the same half-divisor term,
// scaling exponent and shift as the program's solve. Valid wherever every
// value stays below 2^127 (far beyond the program's inputs).
#ifndef KELCALIB_TESTS_CALIB_EXACT_SOLVE_H
#define KELCALIB_TESTS_CALIB_EXACT_SOLVE_H

#include <algorithm>
#include <array>
#include <cstdint>

using I128 = __int128;
using ExactCoefficients = std::array<std::int32_t, 8>;  // a b c d e f divisor valid

inline I128 ExactDet3(const I128 m[9]) {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

inline int ExactBitLength(I128 v) {
    int bits = 0;
    for (unsigned __int128 m = v < 0 ? -v : v; m != 0; m >>= 1) {
        ++bits;
    }
    return bits;
}

inline ExactCoefficients ExactSolve(int n, const std::int32_t* ex, const std::int32_t* ey, const std::int32_t* rx,
                        const std::int32_t* ry) {
    I128 s[12] = {};  // xx xy x yy y xX yX X xY yY Y n
    for (int i = 0; i < n; ++i) {
        const I128 x = rx[i], y = ry[i], bx = ex[i], by = ey[i];
        const I128 terms[11] = {x * x, x * y, x, y * y, y, x * bx, y * bx, bx, x * by, y * by, by};
        for (int t = 0; t < 11; ++t) {
            s[t] += terms[t];
        }
    }
    s[11] = n;
    const I128 m[9] = {s[0], s[1], s[2], s[1], s[3], s[4], s[2], s[4], s[11]};
    I128 det[7];
    det[0] = ExactDet3(m);
    for (int axis = 0; axis < 2; ++axis) {
        const I128 rhs[3] = {s[5 + 3 * axis], s[6 + 3 * axis], s[7 + 3 * axis]};
        for (int column = 0; column < 3; ++column) {
            I128 replaced[9];
            for (int k = 0; k < 9; ++k) {
                replaced[k] = k % 3 == column ? rhs[k / 3] : m[k];
            }
            det[1 + 3 * axis + column] = ExactDet3(replaced);
        }
    }
    const I128 half = det[0] >= 0 ? det[0] / 2 : (-det[0] + 1) / 2;
    det[3] += half;
    det[6] += half;
    int w = std::max(0, ExactBitLength(det[0]) - 31);
    for (int k : {1, 2, 4, 5}) {
        w = std::max(w, ExactBitLength(det[k]) - 15);
    }
    w = std::max({w, ExactBitLength(det[3]) - 27, ExactBitLength(det[6]) - 27});
    ExactCoefficients c{};
    const int order[7] = {1, 2, 3, 4, 5, 6, 0};
    for (int k = 0; k < 7; ++k) {
        c[k] = static_cast<std::int32_t>(static_cast<std::uint32_t>(det[order[k]] >> w));
    }
    c[7] = c[6] != 0 ? 1 : 0;
    if (c[6] == 0) {
        c[6] = 1;
    }
    return c;
}

#endif  // KELCALIB_TESTS_CALIB_EXACT_SOLVE_H
