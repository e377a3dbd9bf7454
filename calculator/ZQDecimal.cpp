#include "calculator/ZQDecimal.h"

// Interim bodies: the interface is settled, the arithmetic follows.

ZQDecimal ZQDecimal::notANumber() { ZQDecimal d; d.m_nan = true; return d; }
ZQDecimal ZQDecimal::one() { return fromParts(1, 0, false); }
ZQDecimal ZQDecimal::fromParts(ZQUInt128 mantissa, int exponent, bool negative, ZQCalculationError* error)
{
    if (error) *error = ZQCalculationError::NoError;
    ZQDecimal d;
    d.m_mantissa = mantissa;
    d.m_exponent = static_cast<std::int16_t>(exponent);
    d.m_negative = negative && mantissa != 0;
    return d;
}
std::optional<ZQDecimal> ZQDecimal::fromString(std::string_view, ZQCalculationError* error)
{
    if (error) *error = ZQCalculationError::NoError;
    return std::nullopt;
}
ZQDecimal ZQDecimal::fromUInt64(std::uint64_t value) { return fromParts(value, 0, false); }
ZQDecimal ZQDecimal::fromInt64(std::int64_t value)
{
    return fromParts(value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value), 0, value < 0);
}
ZQDecimal ZQDecimal::fromDouble(double) { return notANumber(); }
double ZQDecimal::toDouble() const { return 0.0; }
std::int64_t ZQDecimal::toInt64() const { return 0; }
std::uint64_t ZQDecimal::toUInt64() const { return 0; }
std::string ZQDecimal::toString() const { return m_nan ? "NaN" : "0"; }
std::size_t ZQDecimal::hash() const { return static_cast<std::size_t>(m_mantissa) ^ static_cast<std::size_t>(m_exponent); }

ZQCalculationError ZQDecimalAdd(ZQDecimal* r, const ZQDecimal&, const ZQDecimal&, ZQRoundingMode) { *r = ZQDecimal::notANumber(); return ZQCalculationError::NoError; }
ZQCalculationError ZQDecimalSubtract(ZQDecimal* r, const ZQDecimal&, const ZQDecimal&, ZQRoundingMode) { *r = ZQDecimal::notANumber(); return ZQCalculationError::NoError; }
ZQCalculationError ZQDecimalMultiply(ZQDecimal* r, const ZQDecimal&, const ZQDecimal&, ZQRoundingMode) { *r = ZQDecimal::notANumber(); return ZQCalculationError::NoError; }
ZQCalculationError ZQDecimalDivide(ZQDecimal* r, const ZQDecimal&, const ZQDecimal&, ZQRoundingMode) { *r = ZQDecimal::notANumber(); return ZQCalculationError::NoError; }
ZQCalculationError ZQDecimalPower(ZQDecimal* r, const ZQDecimal&, std::uint64_t, ZQRoundingMode) { *r = ZQDecimal::notANumber(); return ZQCalculationError::NoError; }
ZQCalculationError ZQDecimalMultiplyByPowerOf10(ZQDecimal* r, const ZQDecimal&, int, ZQRoundingMode) { *r = ZQDecimal::notANumber(); return ZQCalculationError::NoError; }
ZQCalculationError ZQDecimalRound(ZQDecimal* r, const ZQDecimal& x, int, ZQRoundingMode) { *r = x; return ZQCalculationError::NoError; }
ZQComparisonResult ZQDecimalCompare(const ZQDecimal&, const ZQDecimal&) { return ZQComparisonResult::Same; }
