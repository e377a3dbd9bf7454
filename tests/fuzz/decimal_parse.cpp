// Fuzz target: the decimal type's parser on arbitrary bytes, and the
// arithmetic and math routines on whatever it accepts. Any accepted value
// must be in canonical form and survive printing and reading back; no
// operation may crash, hang or leave the type's range.
#include "calculator/ZQDecimal.h"
#include "calculator/ZQDecimalMath.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void checkCanonical(const ZQDecimal& x)
{
    if (x.isNaN())
        return;
    ZQUInt128 limit = 1;
    for (int i = 0; i < 38; ++i)
        limit *= 10;
    require(x.mantissa() < limit);
    require(x.exponent() >= ZQDecimal::MinExponent && x.exponent() <= ZQDecimal::MaxExponent);
    if (x.isZero())
        require(x.exponent() == 0 && !x.isNegative());
    else if (x.mantissa() % 10 == 0)
        require(x.exponent() == ZQDecimal::MaxExponent); // padded only where the exponent is capped
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The first half and the rest make two operands.
    const std::size_t cut = text.find(' ');
    const auto a = ZQDecimal::fromString(text.substr(0, cut));
    if (!a)
        return 0;
    checkCanonical(*a);
    const auto again = ZQDecimal::fromString(a->toString());
    require(again && *again == *a);
    require(ZQDecimalCompare(*a, *a) == ZQComparisonResult::Same);
    (void)a->toDouble();
    (void)a->toInt64();
    (void)a->toUInt64();

    ZQDecimal b = ZQDecimal::fromInt64(7);
    if (cut != std::string_view::npos)
        b = ZQDecimal::fromString(text.substr(cut + 1)).value_or(b);
    checkCanonical(b);
    ZQDecimal r;
    const ZQRoundingMode modes[] = {ZQRoundingMode::Bankers, ZQRoundingMode::Plain, ZQRoundingMode::Down,
                                    ZQRoundingMode::Up};
    for (ZQRoundingMode mode : modes) {
        ZQDecimalAdd(&r, *a, b, mode), checkCanonical(r);
        ZQDecimalSubtract(&r, *a, b, mode), checkCanonical(r);
        ZQDecimalMultiply(&r, *a, b, mode), checkCanonical(r);
        ZQDecimalDivide(&r, *a, b, mode), checkCanonical(r);
        ZQDecimalRound(&r, *a, static_cast<int>(b.toInt64() % 200), mode), checkCanonical(r);
    }
    ZQDecimalPower(&r, *a, b.toUInt64(), ZQRoundingMode::Bankers), checkCanonical(r);
    ZQDecimalRemainder(&r, *a, b), checkCanonical(r);
    if (!r.isNaN())
        require(ZQDecimalCompare(decimalAbsolute(r), decimalAbsolute(b)) == ZQComparisonResult::Ascending);

    for (auto routine : {decimalSquareRoot, decimalSine, decimalCosine, decimalTangent, decimalArcTangent,
                         decimalArcSine, decimalArcCosine, decimalExponential, decimalNaturalLogarithm,
                         decimalHyperbolicSine, decimalHyperbolicTangent, decimalInverseHyperbolicSine,
                         decimalInverseHyperbolicCosine, decimalInverseHyperbolicTangent, decimalFactorial,
                         decimalArcCotangent, decimalInverseHyperbolicSecant}) {
        const ZQDecimal value = routine(*a);
        checkCanonical(value);
    }
    const ZQDecimal s = decimalSine(*a);
    require(s.isNaN() ||
            ZQDecimalCompare(decimalAbsolute(s), decimalOne()) != ZQComparisonResult::Descending);
    checkCanonical(decimalPower(*a, b));
    checkCanonical(decimalModulo(*a, b));
    checkCanonical(decimalShiftLeft(*a, b));
    checkCanonical(decimalShiftRight(*a, b));
    return 0;
}
