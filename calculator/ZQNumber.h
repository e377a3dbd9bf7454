#pragma once

#include "calculator/ZQDecimal.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A number of the calculator: a double, a signed or unsigned 64-bit integer,
// or a 38-digit decimal. The kind is kept because results depend on it
// (literals are decimals, bitwise results integers, factorial unsigned).
class ZQNumber
{
public:
    enum class Kind
    {
        Double,
        Int64,
        UInt64,
        Decimal
    };

    ZQNumber() = default;
    static ZQNumber fromDouble(double value);
    static ZQNumber fromInt64(std::int64_t value);
    static ZQNumber fromUInt64(std::uint64_t value);
    static ZQNumber fromDecimal(const ZQDecimal& value);
    // A literal "digits[.digits][(e|E)[+|-]digits]". A literal whose exponent the
    // decimal type cannot hold stays a double (1e200 is 1e200, 1e400 infinity);
    // nothing is answered only for text that is no literal at all.
    static std::optional<ZQNumber> fromDecimalLiteral(std::string_view text);

    Kind kind() const { return m_kind; }
    double doubleValue() const { return m_double; }
    // Cut toward zero; saturated at the limits; NaN gives 0.
    std::int64_t integerValue() const;
    std::uint64_t unsignedIntegerValue() const;
    // Non-zero is true, NaN included.
    bool boolValue() const;
    // Decimals as they are, integers exactly, doubles through their shortest
    // round-trip digits (infinities and NaN give NaN).
    ZQDecimal decimalValue() const;
    bool isNaN() const;

    // -1, 0 or 1. A total order: NaN equals NaN and lies below every number.
    int compare(const ZQNumber& other) const;
    bool isEqualToNumber(const ZQNumber& other) const { return compare(other) == 0; }
    // Equal numbers of any kind hash alike.
    std::size_t hash() const;
    std::string description() const;

private:
    Kind m_kind = Kind::Double;
    double m_double = 0.0; // kept for every kind: the value the math functions use
    std::int64_t m_int = 0;
    std::uint64_t m_uint = 0;
    ZQDecimal m_decimal;
};
