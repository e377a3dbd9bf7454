#include "calculator/ZQPrecisionFunctionEvaluator.h"

#include "calculator/ZQDecimalMath.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

struct ZQPrecisionFunctionTable
{
    static const std::unordered_map<std::string, ZQFunctionEvaluator::Builtin>& get()
    {
        using P = ZQPrecisionFunctionEvaluator;
        using B = ZQFunctionEvaluator::Builtin;
        static const std::unordered_map<std::string, B> table = [] {
            std::unordered_map<std::string, B> t = {
                {"add", static_cast<B>(&P::fnAdd)},
                {"subtract", static_cast<B>(&P::fnSubtract)},
                {"multiply", static_cast<B>(&P::fnMultiply)},
                {"divide", static_cast<B>(&P::fnDivide)},
                {"mod", static_cast<B>(&P::fnMod)},
                {"negate", static_cast<B>(&P::fnNegate)},
                {"factorial", static_cast<B>(&P::fnFactorial)},
                {"pow", static_cast<B>(&P::fnPow)},
                {"nthroot", static_cast<B>(&P::fnNthroot)},
                {"rshift", static_cast<B>(&P::fnRshift)},
                {"lshift", static_cast<B>(&P::fnLshift)},
                {"average", static_cast<B>(&P::fnAverage)},
                {"sum", static_cast<B>(&P::fnSum)},
                {"median", static_cast<B>(&P::fnMedian)},
                {"stddev", static_cast<B>(&P::fnStddev)},
                {"sqrt", static_cast<B>(&P::fnSqrt)},
                {"ceil", static_cast<B>(&P::fnCeil)},
                {"abs", static_cast<B>(&P::fnAbs)},
                {"floor", static_cast<B>(&P::fnFloor)},
                {"percent", static_cast<B>(&P::fnPercent)},
                {"dtor", static_cast<B>(&P::fnDtor)},
                {"rtod", static_cast<B>(&P::fnRtod)},
            };
            return t;
        }();
        return table;
    }
};

ZQFunctionEvaluator::Builtin ZQPrecisionFunctionEvaluator::lookup(const std::string& name) const
{
    const auto& table = ZQPrecisionFunctionTable::get();
    const auto found = table.find(name);
    return found != table.end() ? found->second : ZQFunctionEvaluator::lookup(name);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::unaryDecimal(const Call& call, const char* name, Unary f)
{
    if (!checkArgumentCount(call, name, 1))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    return a ? decimal(f(a->decimalValue())) : nullptr;
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::binaryDecimal(const Call& call, const char* name, Binary f)
{
    if (!checkArgumentCount(call, name, 2))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    if (!a)
        return nullptr;
    auto b = evaluateArgument(call, 1);
    return b ? decimal(f(a->decimalValue(), b->decimalValue())) : nullptr;
}

std::optional<std::vector<ZQDecimal>> ZQPrecisionFunctionEvaluator::decimalArguments(const Call& call) const
{
    auto values = evaluateArguments(call);
    if (!values)
        return std::nullopt;
    std::vector<ZQDecimal> decimals;
    decimals.reserve(values->size());
    for (const auto& value : *values)
        decimals.push_back(value.decimalValue());
    return decimals;
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnAdd(const Call& call)
{
    if (!checkArgumentCount(call, "add", 2))
        return nullptr;
    std::optional<ZQNumber> a, b;
    if (!evaluateAdditiveOperands(call, a, b))
        return nullptr;
    return decimal(decimalAdd(a->decimalValue(), b->decimalValue()));
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnSubtract(const Call& call)
{
    if (!checkArgumentCount(call, "subtract", 2))
        return nullptr;
    std::optional<ZQNumber> a, b;
    if (!evaluateAdditiveOperands(call, a, b))
        return nullptr;
    return decimal(decimalSubtract(a->decimalValue(), b->decimalValue()));
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnMultiply(const Call& call)
{
    return binaryDecimal(call, "multiply", decimalMultiply);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnDivide(const Call& call)
{
    return binaryDecimal(call, "divide", decimalDivide);
}

// Floored: the remainder takes the sign of b.
ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnMod(const Call& call)
{
    return binaryDecimal(call, "mod", decimalModulo);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnNegate(const Call& call)
{
    return unaryDecimal(call, "negate", [](const ZQDecimal& a) {
        ZQDecimal r = a;
        decimalNegate(&r);
        return r;
    });
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnFactorial(const Call& call)
{
    if (!checkArgumentCount(call, "factorial", 1))
        return nullptr;
    auto argument = evaluateArgument(call, 0);
    if (!argument)
        return nullptr;
    ZQDecimal a = argument->decimalValue();
    if (a.isNaN())
        return decimal(a);
    if (!decimalIsInteger(a))
        return number(std::tgamma(a.toDouble() + 1));
    if (decimalIsNegative(a))
        return number(std::numeric_limits<double>::quiet_NaN());
    // 104! and above overflow the type: answer at once instead of counting
    // down from a huge argument (1e40 - 1 rounds back to 1e40).
    if (ZQDecimalCompare(a, decimalFromInteger(103)) == ZQComparisonResult::Descending)
        return decimal(decimalNaN());
    ZQDecimal product = decimalOne();
    while (ZQDecimalCompare(a, decimalOne()) == ZQComparisonResult::Descending) {
        product = decimalMultiply(product, a);
        a = decimalSubtract(a, decimalOne());
    }
    return decimal(product);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnPow(const Call& call)
{
    return binaryDecimal(call, "pow", decimalPower);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnNthroot(const Call& call)
{
    return binaryDecimal(call, "nthroot", [](const ZQDecimal& a, const ZQDecimal& b) {
        const ZQDecimal root = decimalPower(a, decimalReciprocal(b));
        // 1/3 has no exact decimal, so the cube root of 27 comes out a unit
        // of the last place below 3. A whole root whose power gives a back
        // exactly is the true one.
        if (root.isNaN() || !decimalIsInteger(b) || decimalIsNegative(b))
            return root;
        ZQDecimal whole;
        ZQDecimalRound(&whole, root, 0, ZQRoundingMode::Bankers);
        ZQDecimal check;
        const std::uint64_t n = b.toUInt64();
        if (ZQDecimalPower(&check, whole, n, ZQRoundingMode::Bankers) == ZQCalculationError::NoError &&
            ZQDecimalCompare(check, a) == ZQComparisonResult::Same)
            return whole;
        return root;
    });
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnRshift(const Call& call)
{
    return binaryDecimal(call, "rshift", decimalShiftRight);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnLshift(const Call& call)
{
    return binaryDecimal(call, "lshift", decimalShiftLeft);
}

namespace {

ZQDecimal decimalSumOf(const std::vector<ZQDecimal>& values)
{
    ZQDecimal total = decimalZero();
    for (const auto& value : values)
        total = decimalAdd(total, value);
    return total;
}

ZQDecimal decimalAverageOf(const std::vector<ZQDecimal>& values)
{
    return decimalDivide(decimalSumOf(values), decimalFromInteger(values.size()));
}

} // namespace

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnSum(const Call& call)
{
    if (!checkArgumentCount(call, "sum", 1, true))
        return nullptr;
    auto values = decimalArguments(call);
    return values ? decimal(decimalSumOf(*values)) : nullptr;
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnAverage(const Call& call)
{
    if (!checkArgumentCount(call, "average", 2, true))
        return nullptr;
    auto values = decimalArguments(call);
    return values ? decimal(decimalAverageOf(*values)) : nullptr;
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnMedian(const Call& call)
{
    if (!checkArgumentCount(call, "median", 2, true))
        return nullptr;
    auto values = evaluateArguments(call);
    if (!values)
        return nullptr;
    std::stable_sort(values->begin(), values->end(),
                     [](const ZQNumber& a, const ZQNumber& b) { return a.compare(b) < 0; });
    const std::size_t n = values->size();
    if (n % 2)
        return number((*values)[n / 2]);
    return decimal(decimalMean((*values)[n / 2 - 1].decimalValue(), (*values)[n / 2].decimalValue()));
}

// Population standard deviation. Each argument is evaluated once, as in
// double precision, so arguments that draw random numbers spread as drawn.
ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnStddev(const Call& call)
{
    if (!checkArgumentCount(call, "stddev", 2, true))
        return nullptr;
    auto values = decimalArguments(call);
    if (!values)
        return nullptr;
    const ZQDecimal mean = decimalAverageOf(*values);
    ZQDecimal squares = decimalZero();
    for (const auto& value : *values)
        squares = decimalAdd(squares, decimalPower(decimalSubtract(mean, value), decimalTwo()));
    return decimal(decimalSquareRoot(decimalDivide(squares, decimalFromInteger(values->size()))));
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnSqrt(const Call& call)
{
    return unaryDecimal(call, "sqrt", decimalSquareRoot);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnCeil(const Call& call)
{
    return unaryDecimal(call, "ceil", [](const ZQDecimal& a) {
        ZQDecimal r;
        ZQDecimalRound(&r, a, 0, ZQRoundingMode::Up);
        return r;
    });
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnFloor(const Call& call)
{
    return unaryDecimal(call, "floor", [](const ZQDecimal& a) {
        ZQDecimal r;
        ZQDecimalRound(&r, a, 0, ZQRoundingMode::Down);
        return r;
    });
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnAbs(const Call& call)
{
    return unaryDecimal(call, "abs", decimalAbsolute);
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnPercent(const Call& call)
{
    if (!checkArgumentCount(call, "percent", 1))
        return nullptr;
    ZQDecimal context = decimalOne();
    if (auto found = percentContext(call)) {
        if (!*found)
            return nullptr;
        context = (*found)->decimalValue();
    }
    auto p = evaluateArgument(call, 0);
    if (!p)
        return nullptr;
    return decimal(decimalMultiply(decimalDivide(p->decimalValue(), decimalFromInteger(100)), context));
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnDtor(const Call& call)
{
    return unaryDecimal(call, "dtor", [](const ZQDecimal& a) {
        return decimalMultiply(decimalDivide(a, decimalFromInteger(180)), decimalPi());
    });
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::fnRtod(const Call& call)
{
    return unaryDecimal(call, "rtod", [](const ZQDecimal& a) {
        return decimalMultiply(decimalDivide(a, decimalPi()), decimalFromInteger(180));
    });
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::angleValue(const AngleFunction& f,
                                                         const ZQNumber& argument) const
{
    return decimal(f.decimal(argument.decimalValue()));
}

ZQExpressionPtr ZQPrecisionFunctionEvaluator::constantValue(const Constant& c) const
{
    return decimal(c.decimal());
}

std::unique_ptr<ZQFunctionEvaluator> ZQMakePrecisionFunctionEvaluator(ZQMathEvaluator& evaluator)
{
    return std::make_unique<ZQPrecisionFunctionEvaluator>(evaluator);
}
