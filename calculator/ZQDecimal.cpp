#include "calculator/ZQDecimal.h"

#include "calculator/ZQDecimalKernel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

using namespace ZQDecimalKernel;

namespace {

constexpr int kDigits = ZQDecimal::MaxDigits;

void note(ZQCalculationError* error, ZQCalculationError value)
{
    if (error)
        *error = value;
}

} // namespace

// The single rounding step of every operation: the exact result is
// coefficient * 10^exponent, plus, when `sticky`, something non-zero below
// the coefficient's last digit (callers then always have digits to drop).
// The exponent never goes below `minExponent`.
class ZQDecimalBuilder
{
public:
    static ZQDecimal finish(U256 coefficient, int exponent, bool negative, bool sticky, ZQRoundingMode mode,
                            ZQCalculationError* error, int minExponent = ZQDecimal::MinExponent)
    {
        note(error, ZQCalculationError::NoError);
        if (coefficient.isZero() && !sticky)
            return ZQDecimal();
        // Narrow exact results (most results of short operands) need no count.
        const bool narrow =
            exponent >= minExponent && coefficient.fitsIn128() && coefficient.low128() < kPow10[kDigits];
        const int n = coefficient.isZero() ? 0 : (narrow ? kDigits : digitCount(coefficient));
        int drop = n > kDigits ? n - kDigits : 0;
        bool forcedByRange = false;
        if (exponent + drop < minExponent) {
            drop = minExponent - exponent;
            forcedByRange = minExponent == ZQDecimal::MinExponent;
        }
        // How the dropped part compares with half a unit of the last kept
        // digit: -1 below, 0 exactly half, 1 above.
        int half = -1;
        bool inexact = sticky;
        ZQUInt128 q = 0;
        if (drop == 0) {
            q = coefficient.low128();
        } else if (drop > n) {
            inexact = inexact || !coefficient.isZero();
        } else {
            // Divide from the low digits up. Only the last (top) remainder
            // is weighed against half a unit; the lower ones only tell
            // whether anything lies below it.
            bool lowerNonZero = false;
            int left = drop;
            u64 top = 0;
            int topStep = 0;
            while (left > 0) {
                const int step = left > 19 ? 19 : left;
                const u64 r = dividePow10Step(coefficient, step);
                left -= step;
                if (left > 0) {
                    lowerNonZero |= r != 0;
                } else {
                    top = r;
                    topStep = step;
                }
            }
            q = coefficient.low128();
            inexact = inexact || lowerNonZero || top != 0;
            const u64 halfUnit = 5 * static_cast<u64>(kPow10[topStep - 1]);
            half = top < halfUnit ? -1 : (top > halfUnit || lowerNonZero || sticky ? 1 : 0);
        }
        return fit(q, exponent + drop, negative, half, inexact, forcedByRange, mode, error);
    }

    // Rounds the kept digits q (below 10^38) by how the dropped part compares
    // with half a unit of q's last digit (`half`: -1 below, 0 exactly half, 1
    // above) and whether anything was dropped at all, then makes the result
    // compact and fits its exponent e.
    static ZQDecimal fit(ZQUInt128 q, int e, bool negative, int half, bool inexact, bool forcedByRange,
                         ZQRoundingMode mode, ZQCalculationError* error)
    {
        bool up = false;
        switch (mode) {
        case ZQRoundingMode::Bankers:
            up = half > 0 || (half == 0 && (q & 1));
            break;
        case ZQRoundingMode::Plain:
            up = half >= 0;
            break;
        case ZQRoundingMode::Down:
            up = inexact && negative;
            break;
        case ZQRoundingMode::Up:
            up = inexact && !negative;
            break;
        }
        if (up && ++q == kPow10[kDigits]) {
            q = kPow10[kDigits - 1];
            ++e;
        }
        note(error, !inexact        ? ZQCalculationError::NoError
                    : forcedByRange ? ZQCalculationError::Underflow
                                    : ZQCalculationError::LossOfPrecision);
        if (q == 0)
            return ZQDecimal();
        // A multiple of ten is even; most results are not.
        if ((q & 1) == 0) {
            if ((q >> 64) == 0) {
                u64 v = static_cast<u64>(q);
                while (v % 10 == 0) {
                    v /= 10;
                    ++e;
                }
                q = v;
            } else {
                while (isMultipleOfTen(q)) {
                    ZQUInt128 digit;
                    q = dividePow10(q, 1, &digit);
                    ++e;
                }
            }
        }
        if (e > ZQDecimal::MaxExponent) {
            const int extra = e - ZQDecimal::MaxExponent;
            if (digitCount(q) + extra > kDigits) {
                note(error, ZQCalculationError::Overflow);
                return ZQDecimal::notANumber();
            }
            q *= kPow10[extra];
            e = ZQDecimal::MaxExponent;
        }
        ZQDecimal d;
        d.m_mantissa = q;
        d.m_exponent = static_cast<std::int16_t>(e);
        d.m_negative = negative;
        return d;
    }

    static ZQCalculationError addSigned(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                        bool negateB, ZQRoundingMode mode);
    static ZQDecimal addMagnitudes(const ZQDecimal& big, const ZQDecimal& small, int bigLength,
                                   ZQRoundingMode mode, ZQCalculationError* error);
    static ZQCalculationError multiply(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                       ZQRoundingMode mode);
    static ZQCalculationError divide(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                     ZQRoundingMode mode);
    static ZQCalculationError scale(ZQDecimal* result, const ZQDecimal& x, int power, int minExponent,
                                    ZQRoundingMode mode);
};

ZQCalculationError ZQDecimalBuilder::addSigned(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b0,
                                               bool negateB, ZQRoundingMode mode)
{
    if (a.m_nan || b0.m_nan) {
        *result = ZQDecimal::notANumber();
        return ZQCalculationError::NoError;
    }
    ZQDecimal b = b0;
    if (negateB && !b.isZero())
        b.m_negative = !b.m_negative;
    if (a.isZero() || b.isZero()) {
        *result = a.isZero() ? b : a;
        return ZQCalculationError::NoError;
    }
    ZQCalculationError error;
    // `big` has the larger exponent.
    const ZQDecimal& big = a.m_exponent >= b.m_exponent ? a : b;
    const ZQDecimal& small = a.m_exponent >= b.m_exponent ? b : a;
    const int bigLength = digitCount(big.m_mantissa);
    if (big.m_negative == small.m_negative) {
        *result = addMagnitudes(big, small, bigLength, mode, &error);
        return error;
    }
    // An operand lying wholly below the rounding position only decides the
    // rounding, so it is replaced by one unit just under that position; this
    // bounds the alignment to 76 digits.
    ZQUInt128 smallMantissa = small.m_mantissa;
    int smallExponent = small.m_exponent;
    const int floorExponent = big.m_exponent + std::min(-1, bigLength - kDigits - 2);
    if (digitCount(smallMantissa) + smallExponent - 1 < floorExponent) {
        smallMantissa = 1;
        smallExponent = floorExponent;
    }
    const int shift = big.m_exponent - smallExponent;
    const U256 x =
        shift <= kDigits
            ? ZQDecimalKernel::multiply(big.m_mantissa, kPow10[shift])
            : multiplyPow10(ZQDecimalKernel::multiply(big.m_mantissa, kPow10[kDigits]), shift - kDigits);
    const U256 y = U256::from(smallMantissa);
    const int order = compare(x, y);
    if (order == 0) {
        *result = ZQDecimal();
        return ZQCalculationError::NoError;
    }
    if (order > 0)
        *result = finish(subtract(x, y), smallExponent, big.m_negative, false, mode, &error);
    else
        *result = finish(subtract(y, x), smallExponent, small.m_negative, false, mode, &error);
    return error;
}

// |big| + |small| for non-zero operands, big.m_exponent >= small.m_exponent.
// The sum is worked out only down to the rounding position: small splits
// there into the digits that join big's and the rest, which only decides
// the rounding.
ZQDecimal ZQDecimalBuilder::addMagnitudes(const ZQDecimal& big, const ZQDecimal& small, int bigLength,
                                          ZQRoundingMode mode, ZQCalculationError* error)
{
    const int shift = big.m_exponent - small.m_exponent;
    ZQUInt128 q;
    ZQUInt128 rest = 0; // the dropped digits below `last`
    int e;
    if (shift + bigLength <= kDigits) {
        // Both aligned at small's exponent fit 38 digits; the sum may have 39.
        q = big.m_mantissa * kPow10[shift] + small.m_mantissa;
        e = small.m_exponent;
    } else {
        // Drop `drop` digits of small's: big fills 38 digits, small adds its
        // upper part; its lower part `rest` only decides the rounding.
        const int drop = shift + bigLength - kDigits;
        ZQUInt128 upper = 0;
        rest = small.m_mantissa;
        if (drop <= kDigits)
            upper = dividePow10(small.m_mantissa, drop, &rest);
        q = big.m_mantissa * kPow10[kDigits - bigLength] + upper;
        e = small.m_exponent + drop;
        if (q < kPow10[kDigits]) {
            // Half a unit is 5 * 10^(drop - 1), above any rest when drop > 38.
            const int half = drop > kDigits
                                 ? -1
                                 : (rest < 5 * kPow10[drop - 1] ? -1 : (rest > 5 * kPow10[drop - 1] ? 1 : 0));
            return fit(q, e, big.m_negative, half, rest != 0, false, mode, error);
        }
    }
    if (q < kPow10[kDigits])
        return fit(q, e, big.m_negative, -1, false, false, mode, error);
    // A carry into a 39th digit: that digit is dropped too, on top of `rest`.
    ZQUInt128 last;
    q = dividePow10(q, 1, &last);
    const int half = last < 5 ? -1 : (last > 5 || rest != 0 ? 1 : 0);
    return fit(q, e + 1, big.m_negative, half, last != 0 || rest != 0, false, mode, error);
}

ZQCalculationError ZQDecimalBuilder::multiply(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                              ZQRoundingMode mode)
{
    if (a.m_nan || b.m_nan) {
        *result = ZQDecimal::notANumber();
        return ZQCalculationError::NoError;
    }
    ZQCalculationError error;
    const bool negative = a.m_negative != b.m_negative;
    const int exponent = a.m_exponent + b.m_exponent;
    if (((a.m_mantissa | b.m_mantissa) >> 64) == 0) {
        // Short operands: one 64 x 64 product, often exact.
        const ZQUInt128 product =
            static_cast<ZQUInt128>(static_cast<u64>(a.m_mantissa)) * static_cast<u64>(b.m_mantissa);
        if (product < kPow10[kDigits] && exponent >= ZQDecimal::MinExponent)
            *result = fit(product, exponent, negative, -1, false, false, mode, &error);
        else
            *result = finish(U256::from(product), exponent, negative, false, mode, &error);
        return error;
    }
    if (a.isZero() || b.isZero()) {
        *result = ZQDecimal();
        return ZQCalculationError::NoError;
    }
    const U256 product = ZQDecimalKernel::multiply(a.m_mantissa, b.m_mantissa);
    // The product has lengthA + lengthB or one digit fewer; one comparison
    // tells which.
    const int shorter = digitCount(a.m_mantissa) + digitCount(b.m_mantissa) - 1;
    const int length = shorter + (compare(product, kPow10Wide[shorter]) >= 0 ? 1 : 0);
    const int drop = length - kDigits;
    if (drop <= 0 || exponent + drop < ZQDecimal::MinExponent) {
        *result = finish(product, exponent, negative, false, mode, &error);
        return error;
    }
    // The quotient with 64 bits of fraction, short by less than four units,
    // settles the rounding unless it lies within that of 0 or of one half;
    // only then is the exact remainder needed.
    u64 fraction;
    ZQUInt128 q = estimatePow10Quotient(product, drop, &fraction);
    constexpr u64 kHalf = 1ULL << 63;
    if (fraction != 0 && fraction < ~0ULL - 4 && (fraction <= kHalf - 4 || fraction > kHalf)) {
        *result = fit(q, exponent + drop, negative, fraction < kHalf ? -1 : 1, true, false, mode, &error);
        return error;
    }
    ZQUInt128 rest;
    q = dividePow10Wide(product, drop, &rest);
    const ZQUInt128 halfUnit = 5 * kPow10[drop - 1];
    *result = fit(q, exponent + drop, negative, rest < halfUnit ? -1 : (rest > halfUnit ? 1 : 0), rest != 0,
                  false, mode, &error);
    return error;
}

ZQCalculationError ZQDecimalBuilder::divide(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                            ZQRoundingMode mode)
{
    if (a.m_nan || b.m_nan) {
        *result = ZQDecimal::notANumber();
        return ZQCalculationError::NoError;
    }
    if (b.isZero()) {
        *result = ZQDecimal::notANumber();
        return ZQCalculationError::DivideByZero;
    }
    if (a.isZero()) {
        *result = ZQDecimal();
        return ZQCalculationError::NoError;
    }
    // Scale the dividend so that the quotient has at least 39 digits (one to
    // round on) and the remainder tells whether anything lies beyond it.
    const int k = digitCount(b.m_mantissa) - digitCount(a.m_mantissa) + kDigits + 1;
    const U256 dividend = multiplyPow10(U256::from(a.m_mantissa), k);
    bool inexact = false;
    const U256 q = ZQDecimalKernel::divide(dividend, b.m_mantissa, &inexact);
    ZQCalculationError error;
    const int exponent = a.m_exponent - b.m_exponent - k;
    const bool negative = a.m_negative != b.m_negative;
    // The quotient lies in [10^38, 10^40): one or two digits to drop.
    const int drop = compare(q, kPow10Wide[kDigits + 1]) >= 0 ? 2 : 1;
    if (exponent + drop < ZQDecimal::MinExponent) {
        *result = finish(q, exponent, negative, inexact, mode, &error);
        return error;
    }
    ZQUInt128 rest;
    const ZQUInt128 kept = dividePow10Wide(q, drop, &rest);
    const ZQUInt128 halfUnit = 5 * kPow10[drop - 1];
    const int half = rest < halfUnit ? -1 : (rest > halfUnit || inexact ? 1 : 0);
    *result = fit(kept, exponent + drop, negative, half, inexact || rest != 0, false, mode, &error);
    return error;
}

ZQCalculationError ZQDecimalBuilder::scale(ZQDecimal* result, const ZQDecimal& x, int power, int minExponent,
                                           ZQRoundingMode mode)
{
    if (x.m_nan) {
        *result = x;
        return ZQCalculationError::NoError;
    }
    ZQCalculationError error;
    *result = finish(U256::from(x.m_mantissa), x.m_exponent + power, x.m_negative, false, mode, &error,
                     minExponent);
    return error;
}

ZQDecimal ZQDecimal::notANumber()
{
    ZQDecimal d;
    d.m_nan = true;
    return d;
}

ZQDecimal ZQDecimal::one()
{
    return fromUInt64(1);
}

ZQDecimal ZQDecimal::fromParts(ZQUInt128 mantissa, int exponent, bool negative, ZQCalculationError* error)
{
    // Far outside the range every digit is lost either way; clamping keeps
    // the exponent arithmetic small.
    exponent = std::max(-1000, std::min(1000, exponent));
    return ZQDecimalBuilder::finish(U256::from(mantissa), exponent, negative, false, ZQRoundingMode::Bankers,
                                    error);
}

std::optional<ZQDecimal> ZQDecimal::fromString(std::string_view text, ZQCalculationError* error)
{
    note(error, ZQCalculationError::NoError);
    // Whole numbers of up to 19 digits, most literals, fit 64 bits exactly.
    if (!text.empty() && text.size() <= 19) {
        u64 value = 0;
        std::size_t k = 0;
        for (; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k)
            value = value * 10 + static_cast<u64>(text[k] - '0');
        if (k == text.size())
            return ZQDecimalBuilder::fit(value, 0, false, -1, false, false, ZQRoundingMode::Bankers, error);
    }
    if (text == "NaN")
        return notANumber();
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    U256 coefficient;
    u64 pending = 0; // digits not yet moved into the coefficient, up to 19
    int pendingDigits = 0;
    int kept = 0;        // significant digits held in the coefficient and pending
    bool sticky = false; // a non-zero digit beyond those
    long long scale = 0; // power of ten of the coefficient's last digit
    bool anyDigit = false;
    bool seenPoint = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        anyDigit = true;
        const int digit = c - '0';
        if (kept == 0 && digit == 0) {
            if (seenPoint)
                --scale;
            continue;
        }
        if (kept < 76) {
            pending = pending * 10 + static_cast<u64>(digit);
            if (++pendingDigits == 19) {
                coefficient = add(multiplySmall(coefficient, kTen19), U256::from(pending));
                pending = 0;
                pendingDigits = 0;
            }
            ++kept;
            if (seenPoint)
                --scale;
        } else {
            sticky |= digit != 0;
            if (!seenPoint)
                ++scale;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    if (pendingDigits > 0)
        coefficient =
            add(multiplySmall(coefficient, static_cast<u64>(kPow10[pendingDigits])), U256::from(pending));
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        if (i == text.size())
            return std::nullopt;
        long long e = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9')
                return std::nullopt;
            e = std::min(e * 10 + (text[i] - '0'), 1'000'000'000LL);
        }
        scale += negativeExponent ? -e : e;
    }
    if (i != text.size())
        return std::nullopt;
    if (coefficient.isZero())
        return ZQDecimal();
    // Past these bounds the answer is overflow or nothing at all.
    const int exponent = static_cast<int>(std::max(-1000LL, std::min(1000LL, scale)));
    if (scale - exponent != 0 && scale > 0) {
        note(error, ZQCalculationError::Overflow);
        return notANumber();
    }
    return ZQDecimalBuilder::finish(coefficient, exponent, negative, sticky, ZQRoundingMode::Bankers, error);
}

ZQDecimal ZQDecimal::fromUInt64(std::uint64_t value)
{
    return fromParts(value, 0, false);
}

ZQDecimal ZQDecimal::fromInt64(std::int64_t value)
{
    const u64 magnitude = value < 0 ? 0 - static_cast<u64>(value) : static_cast<u64>(value);
    return fromParts(magnitude, 0, value < 0);
}

ZQDecimal ZQDecimal::fromDouble(double value)
{
    if (!std::isfinite(value))
        return notANumber();
    char buffer[64];
    // Scientific: in fixed notation a large whole double would print all the
    // digits of its binary value (2^63 as 9223372036854775808) instead of the
    // shortest ones that read back the same (9.223372036854776e+18).
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    return fromString(std::string_view(buffer, static_cast<std::size_t>(end.ptr - buffer)))
        .value_or(notANumber());
}

namespace {

// Writes the decimal digits of m so that they end just before `end`;
// answers where they begin. Nineteen digits at a time come off by one
// division by a reciprocal, the rest with 64-bit arithmetic.
char* writeMantissa(ZQUInt128 m, char* end)
{
    char* p = end;
    while ((m >> 64) != 0) {
        ZQUInt128 low;
        m = dividePow10(m, 19, &low);
        u64 chunk = static_cast<u64>(low);
        for (int i = 0; i < 19; ++i) {
            *--p = static_cast<char>('0' + chunk % 10);
            chunk /= 10;
        }
    }
    u64 v = static_cast<u64>(m);
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    return p;
}

std::string mantissaDigits(ZQUInt128 m)
{
    char buffer[48];
    return std::string(writeMantissa(m, buffer + sizeof buffer), buffer + sizeof buffer);
}

} // namespace

double ZQDecimal::toDouble() const
{
    if (m_nan)
        return std::numeric_limits<double>::quiet_NaN();
    // "<digits>e<exponent>" read back by the correctly rounding parser.
    char buffer[64];
    char* begin = writeMantissa(m_mantissa, buffer + 40);
    char* end = buffer + 40;
    *end++ = 'e';
    end = std::to_chars(end, buffer + sizeof buffer, static_cast<int>(m_exponent)).ptr;
    double value = 0.0;
    std::from_chars(begin, end, value);
    return m_negative ? -value : value;
}

std::int64_t ZQDecimal::toInt64() const
{
    if (m_nan)
        return 0;
    const std::uint64_t limit = m_negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    ZQUInt128 whole;
    if (m_exponent >= 0) {
        if (m_exponent > 19)
            whole = static_cast<ZQUInt128>(limit) + 1;
        else {
            whole = m_mantissa;
            for (int i = 0; i < m_exponent && whole <= limit; ++i)
                whole *= 10;
        }
    } else {
        whole = -m_exponent > kDigits ? 0 : m_mantissa / kPow10[-m_exponent];
    }
    const u64 magnitude = whole > limit ? limit : static_cast<u64>(whole);
    return m_negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

std::uint64_t ZQDecimal::toUInt64() const
{
    if (m_nan || m_negative)
        return 0;
    const ZQUInt128 limit = std::numeric_limits<u64>::max();
    ZQUInt128 whole;
    if (m_exponent >= 0) {
        if (m_exponent > 20)
            return std::numeric_limits<u64>::max();
        whole = m_mantissa;
        for (int i = 0; i < m_exponent && whole <= limit; ++i)
            whole *= 10;
    } else {
        whole = -m_exponent > kDigits ? 0 : m_mantissa / kPow10[-m_exponent];
    }
    return whole > limit ? std::numeric_limits<u64>::max() : static_cast<u64>(whole);
}

std::string ZQDecimal::toString() const
{
    if (m_nan)
        return "NaN";
    std::string digits = mantissaDigits(m_mantissa);
    std::string out = m_negative ? "-" : "";
    if (m_exponent >= 0) {
        out += digits;
        if (m_mantissa != 0)
            out.append(static_cast<std::size_t>(m_exponent), '0');
        return out;
    }
    const std::size_t fraction = static_cast<std::size_t>(-m_exponent);
    if (digits.size() <= fraction) {
        out += "0.";
        out.append(fraction - digits.size(), '0');
        out += digits;
    } else {
        out += digits.substr(0, digits.size() - fraction);
        out += '.';
        out += digits.substr(digits.size() - fraction);
    }
    return out;
}

std::size_t ZQDecimal::hash() const
{
    if (m_nan)
        return 0x9e3779b97f4a7c15ULL;
    const u64 lo = static_cast<u64>(m_mantissa), hi = static_cast<u64>(m_mantissa >> 64);
    u64 h = lo * 0x9e3779b97f4a7c15ULL;
    h ^= hi + 0x7f4a7c159e3779b9ULL + (h << 6) + (h >> 2);
    h ^= static_cast<u64>(static_cast<std::int64_t>(m_exponent) * 2 + (m_negative ? 1 : 0)) *
         0xff51afd7ed558ccdULL;
    return static_cast<std::size_t>(h);
}

ZQCalculationError ZQDecimalAdd(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                ZQRoundingMode mode)
{
    return ZQDecimalBuilder::addSigned(result, a, b, false, mode);
}

ZQCalculationError ZQDecimalSubtract(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                     ZQRoundingMode mode)
{
    return ZQDecimalBuilder::addSigned(result, a, b, true, mode);
}

ZQCalculationError ZQDecimalMultiply(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                     ZQRoundingMode mode)
{
    return ZQDecimalBuilder::multiply(result, a, b, mode);
}

ZQCalculationError ZQDecimalDivide(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                   ZQRoundingMode mode)
{
    return ZQDecimalBuilder::divide(result, a, b, mode);
}

ZQCalculationError ZQDecimalPower(ZQDecimal* result, const ZQDecimal& base, std::uint64_t n,
                                  ZQRoundingMode mode)
{
    ZQDecimal r = ZQDecimal::one();
    ZQDecimal b = base;
    ZQCalculationError worst = ZQCalculationError::NoError;
    const auto keep = [&worst](ZQCalculationError e) {
        if (static_cast<int>(e) > static_cast<int>(worst))
            worst = e;
    };
    while (n != 0) {
        if (n & 1) {
            keep(ZQDecimalMultiply(&r, r, b, mode));
            if (r.isNaN())
                break;
        }
        n >>= 1;
        if (n != 0) {
            keep(ZQDecimalMultiply(&b, b, b, mode));
            if (b.isNaN()) {
                r = b;
                break;
            }
        }
    }
    *result = r;
    return worst;
}

ZQCalculationError ZQDecimalMultiplyByPowerOf10(ZQDecimal* result, const ZQDecimal& x, int power,
                                                ZQRoundingMode mode)
{
    power = std::max(-1000, std::min(1000, power));
    return ZQDecimalBuilder::scale(result, x, power, ZQDecimal::MinExponent, mode);
}

ZQCalculationError ZQDecimalRound(ZQDecimal* result, const ZQDecimal& x, int scale, ZQRoundingMode mode)
{
    scale = std::max(-1000, std::min(1000, scale));
    if (x.isNaN() || x.exponent() >= -scale) {
        *result = x;
        return ZQCalculationError::NoError;
    }
    return ZQDecimalBuilder::scale(result, x, 0, std::max(-scale, ZQDecimal::MinExponent), mode);
}

ZQCalculationError ZQDecimalRemainder(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b)
{
    if (a.isNaN() || b.isNaN() || b.isZero()) {
        *result = ZQDecimal::notANumber();
        return b.isZero() && !a.isNaN() ? ZQCalculationError::DivideByZero : ZQCalculationError::NoError;
    }
    // Both operands are exact, so the remainder is too: reduce the integer
    // mantissas at the smaller exponent, with powers of ten taken modulo the
    // divisor so that no quotient of up to 255 digits is ever formed.
    ZQUInt128 r;
    int exponent;
    if (a.exponent() >= b.exponent()) {
        const ZQUInt128 m = b.mantissa();
        r = multiplyModulo(a.mantissa() % m, powerOf10Modulo(a.exponent() - b.exponent(), m), m);
        exponent = b.exponent();
    } else {
        const int d = b.exponent() - a.exponent();
        exponent = a.exponent();
        r = a.mantissa();
        if (d < kDigits) {
            const U256 divisor = multiplyPow10(U256::from(b.mantissa()), d);
            if (compare(divisor, U256::from(r)) <= 0)
                r %= divisor.low128();
        }
    }
    // r < 10^38 at an exponent of an operand: nothing to round.
    *result = ZQDecimalBuilder::finish(U256::from(r), exponent, a.isNegative(), false,
                                       ZQRoundingMode::Bankers, nullptr);
    return ZQCalculationError::NoError;
}

ZQComparisonResult ZQDecimalCompare(const ZQDecimal& a, const ZQDecimal& b)
{
    using R = ZQComparisonResult;
    if (a.isNaN() || b.isNaN())
        return a.isNaN() == b.isNaN() ? R::Same : (a.isNaN() ? R::Ascending : R::Descending);
    const int signA = a.isZero() ? 0 : (a.isNegative() ? -1 : 1);
    const int signB = b.isZero() ? 0 : (b.isNegative() ? -1 : 1);
    if (signA != signB)
        return signA < signB ? R::Ascending : R::Descending;
    if (signA == 0)
        return R::Same;
    const int lengthA = digitCount(a.mantissa()), lengthB = digitCount(b.mantissa());
    const int topA = a.exponent() + lengthA, topB = b.exponent() + lengthB;
    int magnitude = 0;
    if (topA != topB) {
        magnitude = topA < topB ? -1 : 1;
    } else {
        // Same leading position: pad both to 38 digits and compare.
        const ZQUInt128 x = a.mantissa() * kPow10[kDigits - lengthA];
        const ZQUInt128 y = b.mantissa() * kPow10[kDigits - lengthB];
        magnitude = x == y ? 0 : (x < y ? -1 : 1);
    }
    if (signA < 0)
        magnitude = -magnitude;
    return magnitude == 0 ? R::Same : (magnitude < 0 ? R::Ascending : R::Descending);
}
