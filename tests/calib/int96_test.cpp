// Signed 96-bit integers: edge cases, and every operation cross-checked
// against 128-bit integer arithmetic on random operands.
#include "calib/int96.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using I128 = __int128;
using U128 = unsigned __int128;
const U128 kMask96 = (U128{1} << 96) - 1;

Int96 Words(std::uint32_t sign, std::uint32_t w0, std::uint32_t w1 = 0, std::uint32_t w2 = 0) {
    return Int96{sign, {w0, w1, w2}};
}

U128 Magnitude(const Int96& x) {
    return U128{x.magnitude[0]} | (U128{x.magnitude[1]} << 32) | (U128{x.magnitude[2]} << 64);
}

I128 Value(const Int96& x) {
    const I128 m = static_cast<I128>(Magnitude(x));
    return x.sign ? -m : m;
}

// Sign-magnitude form of v with the magnitude reduced modulo 2^96; zero is
// never negative.
Int96 Reduced(I128 v) {
    const U128 m = (v < 0 ? U128(0) - static_cast<U128>(v) : static_cast<U128>(v)) & kMask96;
    return Words(v < 0 && m != 0, static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(m >> 32),
                 static_cast<std::uint32_t>(m >> 64));
}

Int96 FromInt(std::int32_t v) {
    Int96 x;
    return Int96FromInt(x, v);
}

// Words of the 96-bit two's complement of v.
Int96 TwosComplement(std::uint32_t sign, I128 v) {
    const U128 m = static_cast<U128>(v) & kMask96;
    return Words(sign, static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(m >> 32),
                 static_cast<std::uint32_t>(m >> 64));
}

::testing::AssertionResult Same(const Int96& got, const Int96& want) {
    if (got.sign == want.sign && got.magnitude[0] == want.magnitude[0] &&
        got.magnitude[1] == want.magnitude[1] && got.magnitude[2] == want.magnitude[2]) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << std::hex << "got {" << got.sign << "; " << got.magnitude[0] << ", " << got.magnitude[1]
           << ", " << got.magnitude[2] << "} want {" << want.sign << "; " << want.magnitude[0] << ", "
           << want.magnitude[1] << ", " << want.magnitude[2] << "}";
}

const Int96 kMaxMagnitude = Words(0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
const Int96 kTwoTo64 = Words(0, 0, 0, 1);

TEST(Int96, FromIntAndPredicates) {
    EXPECT_TRUE(Same(FromInt(-2147483647 - 1), Words(1, 0x80000000u)));
    EXPECT_TRUE(Same(FromInt(0), Words(0, 0)));
    EXPECT_TRUE(Same(FromInt(-5), Words(1, 5)));
    EXPECT_EQ(Int96IsNonZero(Words(1, 0, 0, 1)), 1);
    EXPECT_EQ(Int96IsNegative(Words(1, 0, 0, 1)), 1);
    EXPECT_EQ(Int96MagnitudeGreater(FromInt(-7), FromInt(5)), 1);
    EXPECT_EQ(Int96MagnitudeGreater(FromInt(-7), FromInt(7)), 0);
    EXPECT_EQ(Int96MagnitudeGreater(Words(0, 0, 0, 1), Words(0, 0xFFFFFFFFu, 0xFFFFFFFFu)), 1);
    EXPECT_EQ(Int96BitLength(FromInt(0)), 0);
    EXPECT_EQ(Int96BitLength(FromInt(1)), 1);
    EXPECT_EQ(Int96BitLength(Words(0, 0xFFFFFFFFu)), 32);
    EXPECT_EQ(Int96BitLength(Words(0, 0, 1)), 33);
    EXPECT_EQ(Int96BitLength(Words(0, 0, 0, 0x80000000u)), 96);
    EXPECT_EQ(Int96BitLength(FromInt(-8)), 4);
}

TEST(Int96, AddAndSubtractSignsAndZero) {
    Int96 out;
    EXPECT_TRUE(Same(Int96Add(FromInt(5), FromInt(-5), out), Words(0, 0)));
    EXPECT_TRUE(Same(Int96Add(FromInt(-3), FromInt(5), out), FromInt(2)));
    EXPECT_TRUE(Same(Int96Add(FromInt(3), FromInt(-5), out), FromInt(-2)));
    EXPECT_TRUE(Same(Int96Add(kMaxMagnitude, FromInt(1), out), Words(0, 0)));
    EXPECT_TRUE(Same(Int96Add(Words(1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), FromInt(-1), out),
                     Words(0, 0))) << "a negative sum that wraps to zero is not negative";
    EXPECT_TRUE(Same(Int96Subtract(FromInt(3), FromInt(5), out), FromInt(-2)));
    EXPECT_TRUE(Same(Int96Subtract(FromInt(-3), FromInt(-5), out), FromInt(2)));
    EXPECT_TRUE(Same(Int96Subtract(FromInt(-3), FromInt(5), out), FromInt(-8)));
    Int96 x = FromInt(-9);
    EXPECT_TRUE(Same(Int96Subtract(x, x, x), Words(0, 0)));
    // Borrow and carry across every word.
    EXPECT_TRUE(Same(Int96Subtract(kTwoTo64, FromInt(1), out), Words(0, 0xFFFFFFFFu, 0xFFFFFFFFu)));
    EXPECT_TRUE(Same(Int96Add(Words(0, 0xFFFFFFFFu, 0xFFFFFFFFu), FromInt(1), out), kTwoTo64));
    Int96 y = Words(1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
    Int96IncrementMagnitude(y);
    EXPECT_TRUE(Same(y, Words(1, 0))) << "the magnitude operation leaves the sign word alone";
}

TEST(Int96, Products) {
    Int96 out;
    EXPECT_TRUE(Same(Int96MultiplyWords(0xFFFFFFFFu, 0xFFFFFFFFu, out), Words(0, 1, 0xFFFFFFFEu)));
    EXPECT_TRUE(Same(Int96MultiplyWords(0, 0xFFFFFFFFu, out), Words(0, 0)));
    EXPECT_TRUE(Same(Int96MultiplyWords(0x0001FFFFu, 0xFFFF0001u, out), Words(0, 0x0002FFFFu, 0x1FFFDu)));
    EXPECT_TRUE(Same(Int96Multiply(FromInt(-1), FromInt(0), out), Words(0, 0)));
    EXPECT_TRUE(Same(Int96Multiply(FromInt(-3), FromInt(4), out), FromInt(-12)));
    EXPECT_TRUE(Same(Int96Multiply(FromInt(-3), FromInt(-4), out), FromInt(12)));
    EXPECT_TRUE(Same(Int96Multiply(Words(1, 0, 0, 1), Words(0, 0, 1), out), Words(0, 0)))
        << "a product entirely beyond 96 bits is zero, and not negative";
    EXPECT_TRUE(Same(Int96Multiply(Words(0, 1, 0, 1), Words(1, 1, 1), out), Words(1, 1, 1, 1)));
    EXPECT_TRUE(Same(Int96Multiply(Words(0, 1, 1), Words(0, 1, 1), out), Words(0, 1, 2, 1)));
}

TEST(Int96, ShiftRightRoundsDownInTwosComplement) {
    const std::int32_t shifts[] = {0, 1, 31, 32, 33, 64, 95, 96, 200};
    for (std::int32_t n : shifts) {
        Int96 minusOne = FromInt(-1);
        Int96ShiftRight(minusOne, n);
        EXPECT_TRUE(Same(minusOne, Words(1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu))) << n;
    }
    Int96 x = FromInt(-5);
    Int96ShiftRight(x, 1);
    EXPECT_TRUE(Same(x, Words(1, 0xFFFFFFFDu, 0xFFFFFFFFu, 0xFFFFFFFFu)));
    x = kTwoTo64;
    Int96ShiftRight(x, 64);
    EXPECT_TRUE(Same(x, Words(0, 1)));
    x = kTwoTo64;
    Int96ShiftRight(x, 32);
    EXPECT_TRUE(Same(x, Words(0, 0, 1)));
    x = kMaxMagnitude;
    Int96ShiftRight(x, 96);
    EXPECT_TRUE(Same(x, Words(0, 0)));
    for (std::int32_t n : {0, -1, -2147483647 - 1}) {  // a negative count converts only
        x = FromInt(-2);
        Int96ShiftRight(x, n);
        EXPECT_TRUE(Same(x, Words(1, 0xFFFFFFFEu, 0xFFFFFFFFu, 0xFFFFFFFFu))) << n;
    }
    x = FromInt(7);
    EXPECT_EQ(Int96ToTwosComplement(x), 0u);
    EXPECT_TRUE(Same(x, FromInt(7)));
}

TEST(Int96, DivideSmallIsEuclidean) {
    struct Case { std::int32_t x, d, quotient, remainder; };
    const Case cases[] = {{7, 2, 3, 1},   {-7, 2, -4, 1}, {7, -2, -3, 1}, {-7, -2, 4, 1},
                          {-6, 2, -3, 0}, {0, -2, 0, 0},  {1, 2, 0, 1},   {-1, 2, -1, 1},
                          {-65535, -65535, 1, 0}};
    for (const Case& c : cases) {
        Int96 out;
        EXPECT_EQ(Int96DivideSmall(FromInt(c.x), c.d, out), c.remainder) << c.x << " / " << c.d;
        EXPECT_TRUE(Same(out, FromInt(c.quotient))) << c.x << " / " << c.d;
    }
    Int96 out;
    EXPECT_EQ(Int96DivideSmall(kMaxMagnitude, 2, out), 1);
    EXPECT_TRUE(Same(out, Words(0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0x7FFFFFFFu)));
    // Division by 0, and by divisors too wide for 16-bit digits (which would
    // overflow the 32-bit steps and give a wrong quotient), give the
    // sentinel and keep the sign word.
    const std::int32_t refused[] = {0, 65536, -65536, -2147483647 - 1};
    for (std::int32_t d : refused) {
        out = Words(1, 5);
        EXPECT_EQ(Int96DivideSmall(FromInt(100), d, out), -1) << d;
        EXPECT_TRUE(Same(out, Words(1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu))) << d;
    }
}

TEST(Int96, Determinants) {
    Int96 v[9];
    const Int96* m[9];
    auto det = [&](std::initializer_list<std::int32_t> entries) {
        int k = 0;
        for (std::int32_t e : entries) {
            Int96FromInt(v[k], e);
            m[k] = &v[k];
            ++k;
        }
        Int96 out;
        Determinant3x3(out, m);
        return out;
    };
    EXPECT_TRUE(Same(det({1, 0, 0, 0, 1, 0, 0, 0, 1}), FromInt(1)));
    EXPECT_TRUE(Same(det({2, 0, 0, 0, 3, 0, 0, 0, -4}), FromInt(-24)));
    EXPECT_TRUE(Same(det({-1, 2, 3, 4, 5, 6, -1, 2, 3}), Words(0, 0)));
    EXPECT_TRUE(Same(det({1, 2, 3, 4, 5, 6, 7, 8, 10}), FromInt(-3)));
    // A re-pointed column: the table refers to the same object three times.
    const Int96 one = FromInt(1);
    m[0] = m[3] = m[6] = &one;
    Int96 out;
    Determinant3x3(out, m);
    EXPECT_TRUE(Same(out, FromInt(3))) << "rows (1, 2, 3), (1, 5, 6), (1, 8, 10)";
}

// Random operands: whole random words, small values and the words where
// carries and borrows happen, with random signs and lengths.
Int96 RandomOperand(std::mt19937_64& rng) {
    static const std::uint32_t special[] = {0, 1, 2, 0xFFFFu, 0x10000u, 0x7FFFFFFFu,
                                            0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    Int96 x;
    const int length = static_cast<int>(rng() % 4);
    for (int k = 0; k < 3; ++k) {
        std::uint32_t word = rng() % 3 == 0 ? special[rng() % 9] : static_cast<std::uint32_t>(rng());
        x.magnitude[k] = k < length ? word : 0;
    }
    x.sign = (rng() & 1) && Int96IsNonZero(x);
    return x;
}

// Runs op with a separate result object, and with the result in place of
// each operand in turn; all three must agree with want.
template <typename Op>
void CheckAliasing(const Int96& x, const Int96& y, const Int96& want, Op op) {
    Int96 out = Words(1, 0xABCDu, 0xABCDu, 0xABCDu);
    EXPECT_TRUE(Same(op(x, y, out), want));
    Int96 first = x;
    EXPECT_TRUE(Same(op(first, y, first), want));
    Int96 second = y;
    EXPECT_TRUE(Same(op(x, second, second), want));
}

TEST(Int96, RandomOperandsAgreeWith128BitArithmetic) {
    std::mt19937_64 rng(20261207);
    for (int round = 0; round < 20000; ++round) {
        const Int96 x = RandomOperand(rng);
        const Int96 y = RandomOperand(rng);
        const I128 vx = Value(x);
        const I128 vy = Value(y);
        CheckAliasing(x, y, Reduced(vx + vy), Int96Add);
        CheckAliasing(x, y, Reduced(vx - vy), Int96Subtract);
        // Magnitude products modulo 2^128, then 2^96.
        const I128 product = static_cast<I128>((Magnitude(x) * Magnitude(y)) & kMask96);
        CheckAliasing(x, y, Reduced(x.sign != y.sign ? -product : product), Int96Multiply);
        Int96 square = x;
        EXPECT_TRUE(Same(Int96Multiply(square, square, square),
                         Reduced(static_cast<I128>((Magnitude(x) * Magnitude(x)) & kMask96))));
        EXPECT_EQ(Int96MagnitudeGreater(x, y), Magnitude(x) > Magnitude(y) ? 1 : 0);

        std::int32_t bits = 0;
        for (U128 m = Magnitude(x); m != 0; m >>= 1) {
            ++bits;
        }
        EXPECT_EQ(Int96BitLength(x), bits);

        const std::int32_t n = static_cast<std::int32_t>(rng() % 110);
        Int96 shifted = x;
        Int96ShiftRight(shifted, n);
        EXPECT_TRUE(Same(shifted, TwosComplement(x.sign, vx >> n))) << "shift " << n;

        std::int32_t d = static_cast<std::int32_t>(rng() % 65535) + 1;
        if (rng() & 1) {
            d = -d;
        }
        const I128 m = d < 0 ? -d : d;
        I128 floorQuotient = vx / m;
        if (vx % m < 0) {
            floorQuotient -= 1;
        }
        Int96 quotient = x;  // in place
        EXPECT_EQ(Int96DivideSmall(quotient, d, quotient),
                  static_cast<std::int32_t>(vx - floorQuotient * m));
        EXPECT_TRUE(Same(quotient, Reduced(d < 0 ? -floorQuotient : floorQuotient)))
            << "divisor " << d;
    }
}

TEST(Int96, RandomDeterminantsAgreeModulo2To96) {
    // Every operation is exact modulo 2^96, so even when the terms wrap the
    // determinant must be congruent to the exact one.
    std::mt19937_64 rng(7);
    for (int round = 0; round < 3000; ++round) {
        Int96 v[9];
        const Int96* m[9];
        U128 e[9];
        for (int k = 0; k < 9; ++k) {
            v[k] = RandomOperand(rng);
            m[k] = &v[k];
            e[k] = static_cast<U128>(Value(v[k]));
        }
        const U128 exact = e[0] * e[4] * e[8] + e[2] * e[3] * e[7] + e[1] * e[5] * e[6] -
                           e[2] * e[4] * e[6] - e[1] * e[3] * e[8] - e[0] * e[5] * e[7];
        Int96 out;
        Determinant3x3(out, m);
        EXPECT_EQ((static_cast<U128>(Value(out)) - exact) & kMask96, U128{0});
        EXPECT_TRUE(Int96IsNonZero(out) || out.sign == 0);
    }
}

}  // namespace
