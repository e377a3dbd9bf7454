#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The compiler's 128-bit integer holds a mantissa of up to 38 digits
// (10^38 < 2^127); __extension__ keeps -Wpedantic quiet about it.
__extension__ typedef unsigned __int128 ZQUInt128;

// What an operation had to give up. The values are those callers compare
// against, so they stay fixed.
enum class ZQCalculationError
{
    NoError = 0,
    LossOfPrecision = 1, // non-zero digits were rounded away
    Underflow = 2,       // the exact result lies below 10^-128; the rounded value (maybe 0) is kept
    Overflow = 3,        // the result does not fit; it is NaN
    DivideByZero = 4,    // x / 0, 0 / 0 included; the result is NaN
};

enum class ZQRoundingMode
{
    Plain = 0,   // half away from zero
    Down = 1,    // toward minus infinity
    Up = 2,      // toward plus infinity
    Bankers = 3, // half to even: the mode of every calculation
};

enum class ZQComparisonResult
{
    Ascending = -1,
    Same = 0,
    Descending = 1
};

// A decimal number with 38 significant digits: NaN, or (-1)^s * m * 10^e with
// 0 <= m < 10^38 and -128 <= e <= 127. Values are always kept compact
// (no trailing zeros in m, zero is m = 0, e = 0, never negative), so equal
// numbers have one representation and == compares values.
class ZQDecimal
{
public:
    static constexpr int MaxDigits = 38;
    static constexpr int MinExponent = -128;
    static constexpr int MaxExponent = 127;

    ZQDecimal() = default; // zero

    static ZQDecimal notANumber();
    static ZQDecimal zero() { return ZQDecimal(); }
    static ZQDecimal one();

    // Rounds m (any size up to 2^128 - 1) to 38 digits half-even and fits the
    // exponent (see ZQCalculationError for what happens out of range).
    static ZQDecimal fromParts(ZQUInt128 mantissa, int exponent, bool negative,
                               ZQCalculationError* error = nullptr);

    // "[+|-]digits[.digits][(e|E)[+|-]digits]" (also ".5" and "5."), nothing
    // else, no spaces. Extra digits round half-even. Nothing for text that is
    // not such a number; an exponent too large gives NaN with Overflow, one
    // too small the rounded value (maybe 0) with Underflow.
    static std::optional<ZQDecimal> fromString(std::string_view text, ZQCalculationError* error = nullptr);
    static ZQDecimal fromUInt64(std::uint64_t value);
    static ZQDecimal fromInt64(std::int64_t value);
    // The shortest digits that read back as the same double, so 0.1 gives
    // 0.1; NaN and infinities give NaN, magnitudes out of range NaN or 0.
    static ZQDecimal fromDouble(double value);

    bool isNaN() const { return m_nan; }
    bool isZero() const { return !m_nan && m_mantissa == 0; }
    bool isNegative() const { return m_negative; } // never for zero or NaN
    ZQUInt128 mantissa() const { return m_mantissa; }
    int exponent() const { return m_exponent; }

    double toDouble() const; // correctly rounded; NaN gives NaN
    // Cut toward zero, saturated at the limits; NaN gives 0.
    std::int64_t toInt64() const;
    std::uint64_t toUInt64() const;
    // Plain notation ("-0.00125", "1200", "NaN"), never an exponent.
    std::string toString() const;

    std::size_t hash() const;
    friend bool operator==(const ZQDecimal& a, const ZQDecimal& b)
    {
        return a.m_nan == b.m_nan && a.m_negative == b.m_negative && a.m_exponent == b.m_exponent &&
               a.m_mantissa == b.m_mantissa;
    }
    friend bool operator!=(const ZQDecimal& a, const ZQDecimal& b) { return !(a == b); }

private:
    friend class ZQDecimalBuilder;
    ZQUInt128 m_mantissa = 0;
    std::int16_t m_exponent = 0;
    bool m_negative = false;
    bool m_nan = false;
};

// Each computes the exact result and rounds it once, to 38 digits, in the mode
// given. A NaN operand gives NaN with NoError.
ZQCalculationError ZQDecimalAdd(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                ZQRoundingMode mode);
ZQCalculationError ZQDecimalSubtract(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                     ZQRoundingMode mode);
ZQCalculationError ZQDecimalMultiply(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                     ZQRoundingMode mode);
ZQCalculationError ZQDecimalDivide(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b,
                                   ZQRoundingMode mode);
// base^n by square-and-multiply, each product rounded; n = 0 gives 1 (even
// for NaN); stops at the first overflow with NaN.
ZQCalculationError ZQDecimalPower(ZQDecimal* result, const ZQDecimal& base, std::uint64_t n,
                                  ZQRoundingMode mode);
// x * 10^power.
ZQCalculationError ZQDecimalMultiplyByPowerOf10(ZQDecimal* result, const ZQDecimal& x, int power,
                                                ZQRoundingMode mode);
// Keeps at most `scale` digits after the point (a negative scale rounds to
// tens, hundreds, ...); a value with fewer is unchanged.
ZQCalculationError ZQDecimalRound(ZQDecimal* result, const ZQDecimal& x, int scale, ZQRoundingMode mode);
// a - b * trunc(a / b), exactly (the sign of a); x % 0 is NaN with DivideByZero.
ZQCalculationError ZQDecimalRemainder(ZQDecimal* result, const ZQDecimal& a, const ZQDecimal& b);
// Exact across exponents. NaN is Same as NaN and Ascending against every
// number, so the order is total.
ZQComparisonResult ZQDecimalCompare(const ZQDecimal& a, const ZQDecimal& b);
