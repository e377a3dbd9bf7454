#include "calculator/ZQNumber.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <locale.h>

namespace {

std::int64_t saturatedInt64(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::max();
    if (d < -9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

// Reads a literal the way the C library does in the C locale (the
// application's locale may use another decimal separator).
double parseDouble(std::string_view text)
{
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size())
        return value;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string copy(text);
    return strtod_l(copy.c_str(), nullptr, cLocale);
}

int sign(double d)
{
    return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

// Compares two finite-or-infinite non-NaN values exactly enough for the kinds
// that meet here.
int compareLongDouble(long double a, long double b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

} // namespace

ZQNumber ZQNumber::fromDouble(double value)
{
    ZQNumber n;
    n.m_kind = Kind::Double;
    n.m_double = value;
    return n;
}

ZQNumber ZQNumber::fromInt64(std::int64_t value)
{
    ZQNumber n;
    n.m_kind = Kind::Int64;
    n.m_int = value;
    n.m_double = static_cast<double>(value);
    return n;
}

ZQNumber ZQNumber::fromUInt64(std::uint64_t value)
{
    ZQNumber n;
    n.m_kind = Kind::UInt64;
    n.m_uint = value;
    n.m_double = static_cast<double>(value);
    return n;
}

ZQNumber ZQNumber::fromDecimal(const ZQDecimal& value)
{
    ZQNumber n;
    n.m_kind = Kind::Decimal;
    n.m_decimal = value;
    n.m_double = value.toDouble();
    return n;
}

std::optional<ZQNumber> ZQNumber::fromDecimalLiteral(std::string_view text)
{
    ZQCalculationError error = ZQCalculationError::NoError;
    std::optional<ZQDecimal> decimal = ZQDecimal::fromString(text, &error);
    if (!decimal)
        return std::nullopt;
    if (error == ZQCalculationError::Overflow || error == ZQCalculationError::Underflow || decimal->isNaN())
        return fromDouble(parseDouble(text)); // beyond the decimal range: never 0, never refused
    ZQNumber n;
    n.m_kind = Kind::Decimal;
    n.m_decimal = *decimal;
    // The double nearest the text itself, not the one nearest its 38 digits.
    // When the decimal holds the text exactly in at most 53 bits and the
    // power of ten is itself a double, one multiplication or division
    // rounds to that double (as the literal parser would, more slowly).
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const int exponent = decimal->exponent();
    if (error == ZQCalculationError::NoError && !decimal->isZero() && (decimal->mantissa() >> 53) == 0 &&
        exponent >= -22 && exponent <= 22) {
        const double m = static_cast<double>(static_cast<std::uint64_t>(decimal->mantissa()));
        const double v = exponent >= 0 ? m * kPowers[exponent] : m / kPowers[-exponent];
        n.m_double = decimal->isNegative() ? -v : v;
        return n;
    }
    n.m_double = parseDouble(text);
    return n;
}

std::int64_t ZQNumber::integerValue() const
{
    switch (m_kind) {
    case Kind::Int64:
        return m_int;
    case Kind::UInt64:
        return m_uint > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                   ? std::numeric_limits<std::int64_t>::max()
                   : static_cast<std::int64_t>(m_uint);
    case Kind::Decimal:
        return m_decimal.toInt64();
    case Kind::Double:
        break;
    }
    return saturatedInt64(m_double);
}

std::uint64_t ZQNumber::unsignedIntegerValue() const
{
    switch (m_kind) {
    case Kind::UInt64:
        return m_uint;
    case Kind::Int64:
        return static_cast<std::uint64_t>(m_int);
    case Kind::Decimal:
        return m_decimal.isNegative() ? static_cast<std::uint64_t>(m_decimal.toInt64())
                                      : m_decimal.toUInt64();
    case Kind::Double:
        break;
    }
    if (std::isnan(m_double))
        return 0;
    if (m_double >= 18446744073709551616.0)
        return std::numeric_limits<std::uint64_t>::max();
    if (m_double < 0)
        return static_cast<std::uint64_t>(saturatedInt64(m_double));
    return static_cast<std::uint64_t>(m_double);
}

bool ZQNumber::boolValue() const
{
    switch (m_kind) {
    case Kind::Int64:
        return m_int != 0;
    case Kind::UInt64:
        return m_uint != 0;
    case Kind::Decimal:
        return !m_decimal.isZero();
    case Kind::Double:
        break;
    }
    return m_double != 0 || std::isnan(m_double);
}

ZQDecimal ZQNumber::decimalValue() const
{
    switch (m_kind) {
    case Kind::Decimal:
        return m_decimal;
    case Kind::Int64:
        return ZQDecimal::fromInt64(m_int);
    case Kind::UInt64:
        return ZQDecimal::fromUInt64(m_uint);
    case Kind::Double:
        break;
    }
    return ZQDecimal::fromDouble(m_double);
}

bool ZQNumber::isNaN() const
{
    return m_kind == Kind::Decimal ? m_decimal.isNaN() : (m_kind == Kind::Double && std::isnan(m_double));
}

int ZQNumber::compare(const ZQNumber& other) const
{
    const bool nanA = isNaN();
    const bool nanB = other.isNaN();
    if (nanA || nanB)
        return nanA && nanB ? 0 : (nanA ? -1 : 1);

    const bool intA = m_kind == Kind::Int64 || m_kind == Kind::UInt64;
    const bool intB = other.m_kind == Kind::Int64 || other.m_kind == Kind::UInt64;
    if (intA && intB) {
        if (m_kind == Kind::Int64 && other.m_kind == Kind::Int64)
            return m_int < other.m_int ? -1 : (m_int > other.m_int ? 1 : 0);
        if (m_kind == Kind::UInt64 && other.m_kind == Kind::UInt64)
            return m_uint < other.m_uint ? -1 : (m_uint > other.m_uint ? 1 : 0);
        if (m_kind == Kind::Int64) // signed against unsigned
            return m_int < 0 ? -1
                             : (static_cast<std::uint64_t>(m_int) < other.m_uint
                                    ? -1
                                    : (static_cast<std::uint64_t>(m_int) > other.m_uint ? 1 : 0));
        return -other.compare(*this);
    }
    if (m_kind == Kind::Decimal || other.m_kind == Kind::Decimal) {
        // A double beyond the decimal range is beyond every decimal.
        const ZQNumber* d = m_kind == Kind::Double ? this : (other.m_kind == Kind::Double ? &other : nullptr);
        if (d && std::fabs(d->m_double) >= 1e166) {
            const int s = sign(d->m_double);
            return d == this ? s : -s;
        }
        switch (ZQDecimalCompare(decimalValue(), other.decimalValue())) {
        case ZQComparisonResult::Ascending:
            return -1;
        case ZQComparisonResult::Same:
            return 0;
        case ZQComparisonResult::Descending:
            return 1;
        }
        return 0;
    }
    // Doubles, or a double against an integer: long double holds every int64 exactly.
    auto wide = [](const ZQNumber& n) -> long double {
        switch (n.m_kind) {
        case Kind::Int64:
            return static_cast<long double>(n.m_int);
        case Kind::UInt64:
            return static_cast<long double>(n.m_uint);
        default:
            return n.m_double;
        }
    };
    return compareLongDouble(wide(*this), wide(other));
}

std::size_t ZQNumber::hash() const
{
    double d = m_double;
    if (std::isnan(d) || isNaN())
        return 0x7ff8;
    if (d == 0)
        d = 0; // -0 and 0 alike
    return std::hash<double>{}(d);
}

std::string ZQNumber::description() const
{
    switch (m_kind) {
    case Kind::Int64:
        return std::to_string(m_int);
    case Kind::UInt64:
        return std::to_string(m_uint);
    case Kind::Decimal:
        return m_decimal.toString();
    case Kind::Double:
        break;
    }
    if (std::isnan(m_double))
        return "nan";
    if (std::isinf(m_double))
        return m_double < 0 ? "-inf" : "inf";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, m_double);
    return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}
