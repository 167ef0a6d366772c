// Exact signed 96-bit integers for the calibration solve.
//
// Sign-magnitude: a sign word (1 for negative, 0 for zero or positive; zero is
// never negative) and three 32-bit magnitude words, least significant first.
// Every operation works on 32-bit words only (products from 16 x 16-bit
// halves, division on 16-bit digits): no wider arithmetic, no heap, no
// floating point. Magnitudes wrap modulo 2^96; nothing reports overflow.
//
// The result object of Int96Add, Int96Subtract, Int96Multiply and the
// magnitude operations may be either operand. Int96ToTwosComplement and
// Int96ShiftRight leave a value in 96-bit two's-complement form, which is only
// read through its low word afterwards; no other operation accepts it.
#ifndef KELCALIB_CALIB_INT96_H
#define KELCALIB_CALIB_INT96_H

#include <cstdint>

struct Int96 {
    std::uint32_t sign;          // 1 when negative
    std::uint32_t magnitude[3];  // bits 0-31, 32-63, 64-95 of the absolute value
};

// out := v. Returns out.
Int96& Int96FromInt(Int96& out, std::int32_t v);

// 1 if any magnitude word is non-zero (the sign is not consulted), else 0.
int Int96IsNonZero(const Int96& x);

// 1 if the sign word is non-zero, else 0.
int Int96IsNegative(const Int96& x);

// 1 if |p| > |q|, else 0.
int Int96MagnitudeGreater(const Int96& p, const Int96& q);

// |x| := (|x| + 1) mod 2^96; the sign word is left alone.
void Int96IncrementMagnitude(Int96& x);

// |out| := (|p| + |q|) mod 2^96; out's sign word is left alone. Returns out.
Int96& Int96AddMagnitudes(const Int96& p, const Int96& q, Int96& out);

// |out| := (|p| - |q|) mod 2^96 (meant for |p| >= |q|); out's sign word is left
// alone. Returns out.
Int96& Int96SubtractMagnitudes(const Int96& p, const Int96& q, Int96& out);

// out := x + y. Returns out.
Int96& Int96Add(const Int96& x, const Int96& y, Int96& out);

// out := x - y. Returns out.
Int96& Int96Subtract(const Int96& x, const Int96& y, Int96& out);

// out := the exact 64-bit product a * b (words 0 and 1), non-negative. Returns out.
Int96& Int96MultiplyWords(std::uint32_t a, std::uint32_t b, Int96& out);

// out := x * y with the magnitude reduced modulo 2^96. Returns out.
Int96& Int96Multiply(const Int96& x, const Int96& y, Int96& out);

// Rewrites a negative x as its 96-bit two's complement (sign stays 1) and
// returns 0xFFFFFFFF; returns 0 and leaves a non-negative x unchanged.
std::uint32_t Int96ToTwosComplement(Int96& x);

// x := floor(x / 2^n) in two's-complement form (rounds toward minus
// infinity); n = 0 only converts. A negative n counts as 0.
void Int96ShiftRight(Int96& x, std::int32_t n);

// Euclidean division by a small divisor, 1 <= |d| <= 0xFFFF: x = out * d + r
// with 0 <= r < |d|; returns r. For d = 0 or |d| > 0xFFFF, out's magnitude
// words become 0xFFFFFFFF, its sign is left as it was, and the result is -1.
// out may be x.
std::int32_t Int96DivideSmall(const Int96& x, std::int32_t d, Int96& out);

// 0 for a zero magnitude, else 1 + the index of the highest set bit (1..96).
std::int32_t Int96BitLength(const Int96& x);

// out := determinant of the row-major table m0 m1 m2 / m3 m4 m5 / m6 m7 m8
// (rule of Sarrus). The table holds pointers so that a caller can replace a
// column by re-pointing three entries. out must not be one of the entries.
void Determinant3x3(Int96& out, const Int96* const m[9]);

#endif  // KELCALIB_CALIB_INT96_H
