// Signed 96-bit integers on 32-bit words only (see int96.h).
#include "calib/int96.h"

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

// Sign word for a result: the wanted sign, but never negative zero.
std::uint32_t SignUnlessZero(const Int96& x, std::uint32_t sign) {
    return Int96IsNonZero(x) ? sign : 0u;
}

}  // namespace

Int96& Int96FromInt(Int96& out, std::int32_t v) {
    // Negating in unsigned arithmetic gives 0x80000000 for the most negative
    // value without overflow.
    const std::uint32_t bits = static_cast<std::uint32_t>(v);
    out.sign = v < 0 ? 1u : 0u;
    out.magnitude[0] = v < 0 ? 0u - bits : bits;
    out.magnitude[1] = 0;
    out.magnitude[2] = 0;
    return out;
}

int Int96IsNonZero(const Int96& x) {
    return (x.magnitude[0] | x.magnitude[1] | x.magnitude[2]) != 0 ? 1 : 0;
}

int Int96IsNegative(const Int96& x) { return x.sign != 0 ? 1 : 0; }

int Int96MagnitudeGreater(const Int96& p, const Int96& q) {
    for (int k = 2; k >= 0; --k) {
        if (p.magnitude[k] != q.magnitude[k]) {
            return p.magnitude[k] > q.magnitude[k] ? 1 : 0;
        }
    }
    return 0;
}

void Int96IncrementMagnitude(Int96& x) {
    for (int k = 0; k < 3; ++k) {
        x.magnitude[k] += 1u;
        if (x.magnitude[k] != 0) {
            return;
        }
    }
}

Int96& Int96AddMagnitudes(const Int96& p, const Int96& q, Int96& out) {
    std::uint32_t carry = 0;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = p.magnitude[k];
        const std::uint32_t b = q.magnitude[k];
        const std::uint32_t partial = a + b;
        const std::uint32_t sum = partial + carry;
        carry = (partial < a || sum < partial) ? 1u : 0u;
        out.magnitude[k] = sum;
    }
    return out;
}

Int96& Int96SubtractMagnitudes(const Int96& p, const Int96& q, Int96& out) {
    std::uint32_t borrow = 0;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = p.magnitude[k];
        const std::uint32_t b = q.magnitude[k];
        const std::uint32_t difference = a - b - borrow;
        borrow = (a < b || (a == b && borrow != 0)) ? 1u : 0u;
        out.magnitude[k] = difference;
    }
    return out;
}

// Shared body of addition and subtraction: ySign is the sign y takes in the
// sum (its own for x + y, flipped for x - y).
static Int96& AddSigned(const Int96& x, const Int96& y, std::uint32_t ySign, Int96& out) {
    const std::uint32_t xSign = x.sign != 0 ? 1u : 0u;
    std::uint32_t sign;
    if (xSign == ySign) {
        Int96AddMagnitudes(x, y, out);
        sign = xSign;
    } else if (Int96MagnitudeGreater(x, y)) {
        Int96SubtractMagnitudes(x, y, out);
        sign = xSign;
    } else {
        Int96SubtractMagnitudes(y, x, out);
        sign = ySign;
    }
    out.sign = SignUnlessZero(out, sign);
    return out;
}

Int96& Int96Add(const Int96& x, const Int96& y, Int96& out) {
    return AddSigned(x, y, y.sign != 0 ? 1u : 0u, out);
}

Int96& Int96Subtract(const Int96& x, const Int96& y, Int96& out) {
    return AddSigned(x, y, y.sign != 0 ? 0u : 1u, out);
}

Int96& Int96MultiplyWords(std::uint32_t a, std::uint32_t b, Int96& out) {
    const std::uint32_t al = a & 0xFFFFu;
    const std::uint32_t ah = a >> 16;
    const std::uint32_t bl = b & 0xFFFFu;
    const std::uint32_t bh = b >> 16;
    std::uint32_t low = al * bl;
    std::uint32_t high = ah * bh;
    // Fold in each middle product (weight 2^16) with its carry; the exact
    // product fits 64 bits, so the high word never overflows.
    const std::uint32_t middles[2] = {ah * bl, al * bh};
    for (std::uint32_t middle : middles) {
        const std::uint32_t shifted = middle << 16;
        low += shifted;
        high += (middle >> 16) + (low < shifted ? 1u : 0u);
    }
    out.sign = 0;
    out.magnitude[0] = low;
    out.magnitude[1] = high;
    out.magnitude[2] = 0;
    return out;
}

Int96& Int96Multiply(const Int96& x, const Int96& y, Int96& out) {
    // Read every operand word first: out may be x or y.
    const Int96 a = x;
    const Int96 b = y;
    Int96 carry = {0, {0, 0, 0}};
    Int96 product;
    for (int i = 0; i < 3; ++i) {
        Int96 acc = {0, {0, 0, 0}};
        for (int j = 0; j <= i; ++j) {
            Int96MultiplyWords(a.magnitude[j], b.magnitude[i - j], product);
            Int96AddMagnitudes(acc, product, acc);
        }
        Int96AddMagnitudes(acc, carry, acc);
        out.magnitude[i] = acc.magnitude[0];
        carry.magnitude[0] = acc.magnitude[1];
        carry.magnitude[1] = acc.magnitude[2];
        carry.magnitude[2] = 0;
    }
    const std::uint32_t differ = ((a.sign != 0) != (b.sign != 0)) ? 1u : 0u;
    out.sign = SignUnlessZero(out, differ);
    return out;
}

std::uint32_t Int96ToTwosComplement(Int96& x) {
    if (x.sign == 0) {
        return 0;
    }
    std::uint32_t carry = 1;
    for (int k = 0; k < 3; ++k) {
        x.magnitude[k] = ~x.magnitude[k] + carry;
        carry = (carry != 0 && x.magnitude[k] == 0) ? 1u : 0u;
    }
    return kAllOnes;
}

void Int96ShiftRight(Int96& x, std::int32_t n) {
    const std::uint32_t fill = Int96ToTwosComplement(x);
    if (n < 0) {
        n = 0;
    }
    const std::int32_t q = n / 32;
    const std::int32_t r = n % 32;
    if (q >= 3) {
        x.magnitude[0] = x.magnitude[1] = x.magnitude[2] = fill;
        return;
    }
    for (std::int32_t k = 0; k <= 2 - q; ++k) {
        const std::uint32_t next = (k == 2 - q) ? fill : x.magnitude[k + q + 1];
        std::uint32_t word = x.magnitude[k + q] >> r;
        if (r != 0) {
            word |= next << (32 - r);
        }
        x.magnitude[k] = word;
    }
    for (std::int32_t k = 3 - q; k <= 2; ++k) {
        x.magnitude[k] = fill;
    }
}

std::int32_t Int96DivideSmall(const Int96& x, std::int32_t d, Int96& out) {
    // |d| in unsigned arithmetic, safe for the most negative d.
    const std::uint32_t m = d < 0 ? 0u - static_cast<std::uint32_t>(d) : static_cast<std::uint32_t>(d);
    if (m == 0 || m > 0xFFFFu) {
        // Beyond 0xFFFF the 16-bit digit steps below would overflow 32 bits.
        out.magnitude[0] = out.magnitude[1] = out.magnitude[2] = kAllOnes;
        return -1;
    }
    const bool xNegative = x.sign != 0;
    std::uint32_t digits[6];
    for (int k = 0; k < 3; ++k) {
        digits[2 * k] = x.magnitude[k] & 0xFFFFu;
        digits[2 * k + 1] = x.magnitude[k] >> 16;
    }
    std::uint32_t rem = 0;
    for (int k = 5; k >= 0; --k) {
        const std::uint32_t t = (rem << 16) | digits[k];  // rem < m <= 0xFFFF
        digits[k] = t / m;
        rem = t - digits[k] * m;
    }
    for (int k = 0; k < 3; ++k) {
        out.magnitude[k] = digits[2 * k] | (digits[2 * k + 1] << 16);
    }
    if (xNegative && rem != 0) {
        Int96IncrementMagnitude(out);
        rem = m - rem;
    }
    out.sign = SignUnlessZero(out, (xNegative != (d < 0)) ? 1u : 0u);
    return static_cast<std::int32_t>(rem);
}

std::int32_t Int96BitLength(const Int96& x) {
    for (std::int32_t k = 2; k >= 0; --k) {
        const std::uint32_t word = x.magnitude[k];
        if (word == 0) {
            continue;
        }
        for (std::int32_t i = 31; i >= 0; --i) {
            if ((word >> i) & 1u) {
                return 32 * k + i + 1;
            }
        }
    }
    return 0;
}

void Determinant3x3(Int96& out, const Int96* const m[9]) {
    // out = m0 m4 m8 + m2 m3 m7 + m1 m5 m6 - m2 m4 m6 - m1 m3 m8 - m0 m5 m7
    Int96 t;
    Int96Multiply(*m[0], *m[4], t);
    Int96Multiply(*m[8], t, out);
    Int96Multiply(*m[3], *m[7], t);
    Int96Multiply(*m[2], t, t);
    Int96Add(out, t, out);
    Int96Multiply(*m[1], *m[5], t);
    Int96Multiply(*m[6], t, t);
    Int96Add(out, t, out);
    Int96Multiply(*m[2], *m[4], t);
    Int96Multiply(*m[6], t, t);
    Int96Subtract(out, t, out);
    Int96Multiply(*m[1], *m[3], t);
    Int96Multiply(*m[8], t, t);
    Int96Subtract(out, t, out);
    Int96Multiply(*m[5], *m[7], t);
    Int96Multiply(*m[0], t, t);
    Int96Subtract(out, t, out);
}
