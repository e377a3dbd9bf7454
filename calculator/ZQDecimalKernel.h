#pragma once

// The exact integer arithmetic under ZQDecimal, internal to the calculator.
// Every operation computes its result exactly and rounds once; the exact
// intermediates are the product of two 38-digit mantissas and a dividend
// scaled for a 39-digit quotient, up to 77 digits, which 256 bits hold
// (2^256 > 1.15 * 10^77).

#include "calculator/ZQDecimal.h"

#include <array>
#include <cstdint>

// Everything defined here has internal linkage (static functions, a constexpr
// table): the decimal operations call each routine from one or two places and
// the compiler inlines it there, as when these were file-local. With external
// linkage the position-independent build ran additions and multiplications
// about 7% slower.
namespace ZQDecimalKernel {

using u64 = std::uint64_t;
using u32 = std::uint32_t;

constexpr u64 kTen19 = 10000000000000000000ULL;

// 10^0 to 10^38, every power of ten a 128-bit integer holds.
constexpr std::array<ZQUInt128, 39> makePow10()
{
    std::array<ZQUInt128, 39> p{};
    p[0] = 1;
    for (int i = 1; i < 39; ++i)
        p[i] = p[i - 1] * 10;
    return p;
}
constexpr std::array<ZQUInt128, 39> kPow10 = makePow10();

// An unsigned 256-bit integer.
struct U256
{
    std::array<u64, 4> limb{}; // least significant first

    static U256 from(ZQUInt128 v)
    {
        U256 r;
        r.limb[0] = static_cast<u64>(v);
        r.limb[1] = static_cast<u64>(v >> 64);
        return r;
    }
    bool isZero() const { return (limb[0] | limb[1] | limb[2] | limb[3]) == 0; }
    bool fitsIn128() const { return (limb[2] | limb[3]) == 0; }
    ZQUInt128 low128() const { return (static_cast<ZQUInt128>(limb[1]) << 64) | limb[0]; }
};

static inline int compare(const U256& a, const U256& b)
{
    for (int i = 3; i >= 0; --i)
        if (a.limb[i] != b.limb[i])
            return a.limb[i] < b.limb[i] ? -1 : 1;
    return 0;
}

static inline U256 add(const U256& a, const U256& b)
{
    U256 r;
    u64 carry = 0;
    for (int i = 0; i < 4; ++i) {
        ZQUInt128 s = static_cast<ZQUInt128>(a.limb[i]) + b.limb[i] + carry;
        r.limb[i] = static_cast<u64>(s);
        carry = static_cast<u64>(s >> 64);
    }
    return r;
}

static inline U256 subtract(const U256& a, const U256& b) // a >= b
{
    U256 r;
    u64 borrow = 0;
    for (int i = 0; i < 4; ++i) {
        u64 d = a.limb[i] - b.limb[i] - borrow;
        borrow = (a.limb[i] < b.limb[i] || (a.limb[i] == b.limb[i] && borrow)) ? 1 : 0;
        r.limb[i] = d;
    }
    return r;
}

static inline U256 multiplySmall(const U256& a, u64 m) // callers keep the product below 2^256
{
    U256 r;
    u64 carry = 0;
    for (int i = 0; i < 4; ++i) {
        ZQUInt128 p = static_cast<ZQUInt128>(a.limb[i]) * m + carry;
        r.limb[i] = static_cast<u64>(p);
        carry = static_cast<u64>(p >> 64);
    }
    return r;
}

// The full product of two 128-bit numbers.
static inline U256 multiply(ZQUInt128 a, ZQUInt128 b)
{
    const u64 a0 = static_cast<u64>(a), a1 = static_cast<u64>(a >> 64);
    const u64 b0 = static_cast<u64>(b), b1 = static_cast<u64>(b >> 64);
    const ZQUInt128 p00 = static_cast<ZQUInt128>(a0) * b0;
    const ZQUInt128 p01 = static_cast<ZQUInt128>(a0) * b1;
    const ZQUInt128 p10 = static_cast<ZQUInt128>(a1) * b0;
    const ZQUInt128 p11 = static_cast<ZQUInt128>(a1) * b1;
    U256 r;
    r.limb[0] = static_cast<u64>(p00);
    ZQUInt128 mid = (p00 >> 64) + static_cast<u64>(p01) + static_cast<u64>(p10);
    r.limb[1] = static_cast<u64>(mid);
    ZQUInt128 high = (mid >> 64) + (p01 >> 64) + (p10 >> 64) + static_cast<u64>(p11);
    r.limb[2] = static_cast<u64>(high);
    r.limb[3] = static_cast<u64>((high >> 64) + (p11 >> 64));
    return r;
}

// a * 10^k (k >= 0), the decimal shift left; callers keep the product below
// 2^256.
static inline U256 multiplyPow10(U256 a, int k)
{
    while (k >= 19) {
        a = multiplySmall(a, kTen19);
        k -= 19;
    }
    if (k > 0)
        a = multiplySmall(a, static_cast<u64>(kPow10[k]));
    return a;
}

static inline u64 divideSmall(U256& a, u64 d) // a /= d, returns the remainder
{
    u64 rem = 0;
    for (int i = 3; i >= 0; --i) {
        ZQUInt128 cur = (static_cast<ZQUInt128>(rem) << 64) | a.limb[i];
        a.limb[i] = static_cast<u64>(cur / d);
        rem = static_cast<u64>(cur % d);
    }
    return rem;
}

// Division by 10^k (1 <= k <= 19) without a divide instruction: the divisor
// shifted to its top bit and a precomputed reciprocal (Moller and Granlund,
// "Improved division by invariant integers"), since rounding every result
// divides by powers of ten.
struct Pow10Divisor
{
    u64 divisor; // 10^k << shift
    int shift;
    u64 reciprocal; // floor((2^128 - 1) / divisor) - 2^64
};

static inline const std::array<Pow10Divisor, 20>& pow10Divisors()
{
    static const std::array<Pow10Divisor, 20> table = [] {
        std::array<Pow10Divisor, 20> t{};
        for (int k = 1; k < 20; ++k) {
            const u64 p = static_cast<u64>(kPow10[k]);
            const int shift = __builtin_clzll(p);
            const u64 d = p << shift;
            const ZQUInt128 numerator = (static_cast<ZQUInt128>(~d) << 64) | ~0ULL;
            t[k] = {d, shift, static_cast<u64>(numerator / d)};
        }
        return t;
    }();
    return table;
}

// (u1:u0) / d for a normalized d and u1 < d.
static inline u64 divideByReciprocal(u64 u1, u64 u0, u64 d, u64 v, u64* remainder)
{
    ZQUInt128 q = static_cast<ZQUInt128>(v) * u1;
    q += (static_cast<ZQUInt128>(u1) << 64) | u0;
    u64 q1 = static_cast<u64>(q >> 64) + 1;
    const u64 q0 = static_cast<u64>(q);
    u64 r = u0 - q1 * d;
    if (r > q0) {
        --q1;
        r += d;
    }
    if (r >= d) {
        ++q1;
        r -= d;
    }
    *remainder = r;
    return q1;
}

// a /= 10^k for 1 <= k <= 19, the decimal shift right; returns the remainder.
static inline u64 dividePow10Step(U256& a, int k)
{
    const Pow10Divisor& t = pow10Divisors()[k];
    int top = 3;
    while (top > 0 && a.limb[top] == 0)
        --top;
    const int s = t.shift;
    u64 r = s ? a.limb[top] >> (64 - s) : 0;
    for (int i = top; i >= 0; --i) {
        const u64 low = (a.limb[i] << s) | (s && i > 0 ? a.limb[i - 1] >> (64 - s) : 0);
        a.limb[i] = divideByReciprocal(r, low, t.divisor, t.reciprocal, &r);
    }
    return r >> s;
}

// 10^0 to 10^77, built at compile time so that reading it costs no
// initialisation check.
constexpr std::array<U256, 78> makePow10Wide()
{
    std::array<U256, 78> t{};
    t[0].limb[0] = 1;
    for (int i = 1; i < 78; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const ZQUInt128 p = static_cast<ZQUInt128>(t[i - 1].limb[j]) * 10 + carry;
            t[i].limb[j] = static_cast<u64>(p);
            carry = static_cast<u64>(p >> 64);
        }
    }
    return t;
}
constexpr std::array<U256, 78> kPow10Wide = makePow10Wide();

static inline const std::array<U256, 78>& pow10Table()
{
    return kPow10Wide;
}

// floor(a * b / 2^128).
static inline ZQUInt128 multiplyHigh(ZQUInt128 a, ZQUInt128 b)
{
    const u64 a0 = static_cast<u64>(a), a1 = static_cast<u64>(a >> 64);
    const u64 b0 = static_cast<u64>(b), b1 = static_cast<u64>(b >> 64);
    const ZQUInt128 p00 = static_cast<ZQUInt128>(a0) * b0;
    const ZQUInt128 p01 = static_cast<ZQUInt128>(a0) * b1;
    const ZQUInt128 p10 = static_cast<ZQUInt128>(a1) * b0;
    const ZQUInt128 p11 = static_cast<ZQUInt128>(a1) * b1;
    const ZQUInt128 mid = (p00 >> 64) + static_cast<u64>(p01) + static_cast<u64>(p10);
    return p11 + (p01 >> 64) + (p10 >> 64) + (mid >> 64);
}

// Division by 10^k (0 <= k <= 38) as a multiplication: `narrow` serves
// 128-bit dividends, `wide` (with `bits`, the length of 10^k) dividends of
// up to 256 bits whose quotient fits 128 bits.
struct Pow10Reciprocal
{
    ZQUInt128 narrow; // floor((2^128 - 1) / 10^k)
    ZQUInt128 wide;   // floor(2^(128 + bits) / 10^k) - 2^128
    int bits;
};

constexpr std::array<Pow10Reciprocal, 39> makePow10Reciprocals()
{
    std::array<Pow10Reciprocal, 39> t{};
    for (int k = 0; k < 39; ++k) {
        const ZQUInt128 d = kPow10[k];
        int bits = 0;
        while (bits < 128 && (d >> bits) != 0)
            ++bits;
        // 2^(128 + bits) / d - 2^128 = 2^128 (2^bits - d) / d, one bit at a
        // time; the running remainder stays below d < 2^127.
        ZQUInt128 r = (static_cast<ZQUInt128>(1) << bits) - d;
        ZQUInt128 f = 0;
        for (int i = 0; i < 128; ++i) {
            r <<= 1;
            f <<= 1;
            if (r >= d) {
                r -= d;
                f |= 1;
            }
        }
        t[k] = {~static_cast<ZQUInt128>(0) / d, f, bits};
    }
    return t;
}
constexpr std::array<Pow10Reciprocal, 39> kPow10Reciprocals = makePow10Reciprocals();

// x / 10^k and x % 10^k for 0 <= k <= 38. The estimate is at most two
// below the quotient.
static inline ZQUInt128 dividePow10(ZQUInt128 x, int k, ZQUInt128* remainder)
{
    const ZQUInt128 d = kPow10[k];
    ZQUInt128 q = multiplyHigh(x, kPow10Reciprocals[k].narrow);
    ZQUInt128 r = x - q * d;
    while (r >= d) {
        ++q;
        r -= d;
    }
    *remainder = r;
    return q;
}

// The reciprocals of 10^k (1 <= k <= 38) to 192 bits, for quotients with a
// fraction: floor(2^(192 + bits) / 10^k) - 2^192, least significant first.
struct Pow10FineReciprocal
{
    std::array<u64, 3> f;
    int bits;
};

constexpr std::array<Pow10FineReciprocal, 39> makePow10FineReciprocals()
{
    std::array<Pow10FineReciprocal, 39> t{};
    for (int k = 1; k < 39; ++k) {
        const ZQUInt128 d = kPow10[k];
        int bits = 0;
        while (bits < 128 && (d >> bits) != 0)
            ++bits;
        ZQUInt128 r = (static_cast<ZQUInt128>(1) << bits) - d;
        std::array<u64, 3> f{};
        for (int i = 0; i < 192; ++i) {
            r <<= 1;
            f[2] = f[2] << 1 | f[1] >> 63;
            f[1] = f[1] << 1 | f[0] >> 63;
            f[0] <<= 1;
            if (r >= d) {
                r -= d;
                f[0] |= 1;
            }
        }
        t[k] = {f, bits};
    }
    return t;
}
constexpr std::array<Pow10FineReciprocal, 39> kPow10FineReciprocals = makePow10FineReciprocals();

// a / 10^k to 64 bits after the point, for 1 <= k <= 38 and a quotient
// below 2^128: returns the whole part and sets *fraction to the rest in
// units of 2^-64. The estimate never exceeds a / 10^k and falls short by
// less than four units (so a fraction above 2^64 - 5 may still carry into
// the whole part).
static inline ZQUInt128 estimatePow10Quotient(const U256& a, int k, u64* fraction)
{
    const Pow10FineReciprocal& t = kPow10FineReciprocals[k];
    // h = floor(a * 2^(64 - bits)), below 2^192 since the quotient is below 2^128.
    u64 h[3];
    if (t.bits >= 64) {
        const int s = t.bits - 64, b = s % 64;
        const int w = s / 64; // 0 or 1
        for (int i = 0; i < 3; ++i) {
            const u64 low = a.limb[i + w];
            const u64 high = i + w + 1 < 4 ? a.limb[i + w + 1] : 0;
            h[i] = b ? (low >> b | high << (64 - b)) : low;
        }
    } else {
        const int b = 64 - t.bits; // 1 .. 60
        h[0] = a.limb[0] << b;
        h[1] = a.limb[1] << b | a.limb[0] >> (64 - b);
        h[2] = a.limb[2] << b | a.limb[1] >> (64 - b);
    }
    // x = h + floor(h * f / 2^192): the 3 x 3 limb product, top half.
    u64 p[6] = {};
    for (int i = 0; i < 3; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 3; ++j) {
            const ZQUInt128 v = static_cast<ZQUInt128>(h[i]) * t.f[j] + p[i + j] + carry;
            p[i + j] = static_cast<u64>(v);
            carry = static_cast<u64>(v >> 64);
        }
        p[i + 3] = carry;
    }
    ZQUInt128 s0 = static_cast<ZQUInt128>(h[0]) + p[3];
    ZQUInt128 s1 = static_cast<ZQUInt128>(h[1]) + p[4] + static_cast<u64>(s0 >> 64);
    const u64 s2 = h[2] + p[5] + static_cast<u64>(s1 >> 64);
    *fraction = static_cast<u64>(s0);
    return static_cast<ZQUInt128>(s2) << 64 | static_cast<u64>(s1);
}

// a / 10^k and a % 10^k for 1 <= k <= 38, when the quotient is below 2^128
// (so a >> bits fits 128 bits). With a = h 2^bits + l, the estimate
// h + h f / 2^128 falls short of a / 10^k by less than four.
static inline ZQUInt128 dividePow10Wide(const U256& a, int k, ZQUInt128* remainder)
{
    const Pow10Reciprocal& t = kPow10Reciprocals[k];
    const int s = t.bits; // 4 .. 127
    const int b = s % 64;
    const u64 h0 = a.limb[0] >> b | (b ? a.limb[1] << (64 - b) : 0);
    const u64 h1 = a.limb[1] >> b | (b ? a.limb[2] << (64 - b) : 0);
    const u64 h2 = a.limb[2] >> b | (b ? a.limb[3] << (64 - b) : 0);
    const ZQUInt128 h =
        s < 64 ? (static_cast<ZQUInt128>(h1) << 64 | h0) : (static_cast<ZQUInt128>(h2) << 64 | h1);
    ZQUInt128 q = h + multiplyHigh(h, t.wide);
    const ZQUInt128 d = kPow10[k];
    U256 r = subtract(a, multiply(q, d));
    const U256 wideD = U256::from(d);
    while (compare(r, wideD) >= 0) {
        ++q;
        r = subtract(r, wideD);
    }
    *remainder = r.low128();
    return q;
}

// Decimal digits, 0 for zero.
static inline int digitCount(const U256& a)
{
    int bits = 0;
    for (int i = 3; i >= 0; --i)
        if (a.limb[i]) {
            bits = i * 64 + 64 - __builtin_clzll(a.limb[i]);
            break;
        }
    // bits * log10(2), from below; then at most two steps up.
    int n = (bits * 1233) >> 12;
    const auto& p = pow10Table();
    while (n < 78 && compare(a, p[n]) >= 0)
        ++n;
    return n;
}

static inline int digitCount(ZQUInt128 a)
{
    const u64 hi = static_cast<u64>(a >> 64), lo = static_cast<u64>(a);
    const int bits = hi ? 128 - __builtin_clzll(hi) : (lo ? 64 - __builtin_clzll(lo) : 0);
    // floor(bits * log10(2)) digits or one more: 10^n <= 2^bits < 10^(n + 1).
    const int n = (bits * 1233) >> 12;
    return n + (a >= kPow10[n] ? 1 : 0);
}

static inline bool isMultipleOfTen(ZQUInt128 a)
{
    // 2^64 = 6 (mod 10).
    const u64 hi = static_cast<u64>(a >> 64), lo = static_cast<u64>(a);
    return ((hi % 10) * 6 + lo % 10) % 10 == 0;
}

// Quotient of a 256-bit number by a divisor of up to 128 bits; `inexact`
// tells whether the remainder is non-zero.
U256 divide(const U256& u256, ZQUInt128 v128, bool* inexact, ZQUInt128* remainder = nullptr);

// x * y mod m and 10^k mod m (k >= 0), for m > 0.
ZQUInt128 multiplyModulo(ZQUInt128 x, ZQUInt128 y, ZQUInt128 m);
ZQUInt128 powerOf10Modulo(int k, ZQUInt128 m);

} // namespace ZQDecimalKernel
