#include "calculator/ZQFunctionEvaluator.h"

#include "calculator/ZQDecimalMath.h"
#include "calculator/ZQMathEvaluator.h"
#include "calculator/ZQMathOperator.h"
#include "calculator/ZQText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <unordered_map>

namespace {

constexpr double Pi = 3.141592653589793;

using AngleFunction = ZQFunctionEvaluator::AngleFunction;
using Constant = ZQFunctionEvaluator::Constant;

double csc(double a)
{
    return 1 / std::sin(a);
}
double sec(double a)
{
    return 1 / std::cos(a);
}
double cotan(double a)
{
    return 1 / std::tan(a);
}
double csch(double a)
{
    return 1 / std::sinh(a);
}
double sech(double a)
{
    return 1 / std::cosh(a);
}
double cotanh(double a)
{
    return 1 / std::tanh(a);
}
// The inverses of the reciprocal functions are the arc functions of the
// reciprocal; acotan uses the same branch as the decimal evaluator (pi/2 - atan).
double acsc(double a)
{
    return std::asin(1 / a);
}
double asec(double a)
{
    return std::acos(1 / a);
}
double acotan(double a)
{
    return Pi / 2 - std::atan(a);
}
double acsch(double a)
{
    return std::asinh(1 / a);
}
double asech(double a)
{
    return std::acosh(1 / a);
}
double acotanh(double a)
{
    return std::atanh(1 / a);
}
double versin(double a)
{
    return 1 - std::cos(a);
}
double vercosin(double a)
{
    return std::cos(a) + 1;
}
double coversin(double a)
{
    return 1 - std::sin(a);
}
double covercosin(double a)
{
    return std::sin(a) + 1;
}
double haversin(double a)
{
    return (1 - std::cos(a)) * 0.5;
}
double havercosin(double a)
{
    return (std::cos(a) + 1) * 0.5;
}
double hacoversin(double a)
{
    return (1 - std::sin(a)) * 0.5;
}
double hacovercosin(double a)
{
    return (std::sin(a) + 1) * 0.5;
}
double exsec(double a)
{
    return 1 / std::cos(a) - 1;
}
double excsc(double a)
{
    return 1 / std::sin(a) - 1;
}
double crd(double a)
{
    const double s = std::sin(a * 0.5);
    return s + s;
}
double sin_(double a)
{
    return std::sin(a);
}
double cos_(double a)
{
    return std::cos(a);
}
double tan_(double a)
{
    return std::tan(a);
}
double asin_(double a)
{
    return std::asin(a);
}
double acos_(double a)
{
    return std::acos(a);
}
double atan_(double a)
{
    return std::atan(a);
}
double sinh_(double a)
{
    return std::sinh(a);
}
double cosh_(double a)
{
    return std::cosh(a);
}
double tanh_(double a)
{
    return std::tanh(a);
}
double asinh_(double a)
{
    return std::asinh(a);
}
double acosh_(double a)
{
    return std::acosh(a);
}
double atanh_(double a)
{
    return std::atanh(a);
}

// The same functions on decimals, from the decimal routines.
namespace decimal {

ZQDecimal half(const ZQDecimal& x)
{
    return decimalDivide(x, decimalTwo());
}
ZQDecimal versin(const ZQDecimal& a)
{
    return decimalSubtract(decimalOne(), decimalCosine(a));
}
ZQDecimal vercosin(const ZQDecimal& a)
{
    return decimalAdd(decimalCosine(a), decimalOne());
}
ZQDecimal coversin(const ZQDecimal& a)
{
    return decimalSubtract(decimalOne(), decimalSine(a));
}
ZQDecimal covercosin(const ZQDecimal& a)
{
    return decimalAdd(decimalSine(a), decimalOne());
}
ZQDecimal haversin(const ZQDecimal& a)
{
    return half(versin(a));
}
ZQDecimal havercosin(const ZQDecimal& a)
{
    return half(vercosin(a));
}
ZQDecimal hacoversin(const ZQDecimal& a)
{
    return half(coversin(a));
}
ZQDecimal hacovercosin(const ZQDecimal& a)
{
    return half(covercosin(a));
}
ZQDecimal exsec(const ZQDecimal& a)
{
    return decimalSubtract(decimalReciprocal(decimalCosine(a)), decimalOne());
}
ZQDecimal excsc(const ZQDecimal& a)
{
    return decimalSubtract(decimalReciprocal(decimalSine(a)), decimalOne());
}
ZQDecimal crd(const ZQDecimal& a)
{
    return decimalMultiply(decimalTwo(), decimalSine(half(a)));
}
ZQDecimal tau()
{
    return decimalMultiply(decimalTwo(), decimalPi());
}

} // namespace decimal

// One row per name for both evaluators, so that the two precisions cannot
// disagree on which functions take or give angles.
const std::unordered_map<std::string, AngleFunction>& angleFunctions()
{
    static const std::unordered_map<std::string, AngleFunction> table = {
        {"sin", {sin_, decimalSine, true, false}},
        {"cos", {cos_, decimalCosine, true, false}},
        {"tan", {tan_, decimalTangent, true, false}},
        {"asin", {asin_, decimalArcSine, false, true}},
        {"acos", {acos_, decimalArcCosine, false, true}},
        {"atan", {atan_, decimalArcTangent, false, true}},
        {"sinh", {sinh_, decimalHyperbolicSine, true, false}},
        {"cosh", {cosh_, decimalHyperbolicCosine, true, false}},
        {"tanh", {tanh_, decimalHyperbolicTangent, true, false}},
        {"asinh", {asinh_, decimalInverseHyperbolicSine, false, true}},
        {"acosh", {acosh_, decimalInverseHyperbolicCosine, false, true}},
        {"atanh", {atanh_, decimalInverseHyperbolicTangent, false, true}},
        {"csc", {csc, decimalCosecant, true, false}},
        {"sec", {sec, decimalSecant, true, false}},
        {"cotan", {cotan, decimalCotangent, true, false}},
        {"acsc", {acsc, decimalArcCosecant, false, true}},
        {"asec", {asec, decimalArcSecant, false, true}},
        {"acotan", {acotan, decimalArcCotangent, false, true}},
        {"csch", {csch, decimalHyperbolicCosecant, true, false}},
        {"sech", {sech, decimalHyperbolicSecant, true, false}},
        {"cotanh", {cotanh, decimalHyperbolicCotangent, true, false}},
        {"acsch", {acsch, decimalInverseHyperbolicCosecant, false, true}},
        {"asech", {asech, decimalInverseHyperbolicSecant, false, true}},
        {"acotanh", {acotanh, decimalInverseHyperbolicCotangent, false, true}},
        {"versin", {versin, decimal::versin, true, false}},
        {"vercosin", {vercosin, decimal::vercosin, true, false}},
        {"coversin", {coversin, decimal::coversin, true, false}},
        {"covercosin", {covercosin, decimal::covercosin, true, false}},
        {"haversin", {haversin, decimal::haversin, true, false}},
        {"havercosin", {havercosin, decimal::havercosin, true, false}},
        {"hacoversin", {hacoversin, decimal::hacoversin, true, false}},
        {"hacovercosin", {hacovercosin, decimal::hacovercosin, true, false}},
        {"exsec", {exsec, decimal::exsec, true, false}},
        {"excsc", {excsc, decimal::excsc, true, false}},
        {"crd", {crd, decimal::crd, true, false}},
    };
    return table;
}

const std::unordered_map<std::string, Constant>& constants()
{
    static const std::unordered_map<std::string, Constant> table = {
        {"phi", {1.618033988749895, decimalGoldenRatio}},
        {"pi", {Pi, decimalPi}},
        {"pi_2", {Pi / 2, decimalHalfPi}},
        {"pi_4", {Pi / 4, decimalQuarterPi}},
        {"tau", {6.283185307179586, decimal::tau}},
        {"sqrt2", {1.4142135623730951, decimalSqrtTwo}},
        {"e", {2.718281828459045, decimalE}},
        {"log2e", {1.4426950408889634, decimalLog2E}},
        {"log10e", {0.4342944819032518, decimalLog10E}},
        {"ln2", {0.6931471805599453, decimalLn2}},
        {"ln10", {2.302585092994046, decimalLn10}},
    };
    return table;
}

using Builtin = ZQFunctionEvaluator::Builtin;

std::mutex& randomMutex()
{
    static std::mutex mutex;
    return mutex;
}

ZQFunctionEvaluator::RandomSource& randomSource()
{
    static ZQFunctionEvaluator::RandomSource source;
    return source;
}

} // namespace

// The table lives in a member so that it may name the private built-ins.
struct ZQFunctionEvaluatorTable
{
    static const std::unordered_map<std::string, Builtin>& get();
};

ZQFunctionEvaluator::ZQFunctionEvaluator(ZQMathEvaluator& evaluator) : m_evaluator(evaluator) {}

const std::vector<std::string>& ZQFunctionEvaluator::standardFunctions()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const auto& entry : ZQFunctionEvaluatorTable::get())
            list.push_back(entry.first);
        std::sort(list.begin(), list.end());
        return list;
    }();
    return names;
}

bool ZQFunctionEvaluator::isStandardFunction(std::string_view name)
{
    return ZQFunctionEvaluatorTable::get().count(ZQText::toLower(name)) != 0;
}

ZQFunctionEvaluator::Builtin ZQFunctionEvaluator::lookup(const std::string& name) const
{
    const auto& table = ZQFunctionEvaluatorTable::get();
    auto it = table.find(name);
    return it == table.end() ? nullptr : it->second;
}

std::optional<ZQValue> ZQFunctionEvaluator::evaluateFunction(const ZQExpression& node,
                                                             const ZQSubstitutions* substitutions,
                                                             ZQErrorPlace error)
{
    // Names are stored lower-cased by the node factory.
    const std::string& name = node.function();
    if (Builtin builtin = lookup(name)) {
        const Call call{node, node.arguments(), substitutions, error};
        ZQExpressionPtr result = (this->*builtin)(call);
        if (!result)
            return std::nullopt;
        return ZQValue(std::move(result));
    }
    return m_evaluator.resolveFunction(node, substitutions, error);
}

void ZQFunctionEvaluator::setRandomSource(RandomSource source)
{
    std::lock_guard lock(randomMutex());
    randomSource() = std::move(source);
}

std::uint64_t ZQFunctionEvaluator::draw(std::uint64_t upper)
{
    if (upper == 0)
        return 0;
    std::lock_guard lock(randomMutex());
    if (randomSource())
        return randomSource()(upper) % upper;
    static std::mt19937_64 engine{std::random_device{}()};
    return std::uniform_int_distribution<std::uint64_t>(0, upper - 1)(engine);
}

// --- shared steps -------------------------------------------------------------

bool ZQFunctionEvaluator::checkArgumentCount(const Call& call, const char* name, std::size_t n,
                                             bool atLeast) const
{
    const std::size_t count = call.arguments.size();
    if (atLeast ? count >= n : count == n)
        return true;
    if (call.error) {
        std::string message = std::string(name) + ":variables:error: requires " +
                              (atLeast ? "at least " : "") + std::to_string(n) + " argument" +
                              (n == 1 ? "" : "s");
        *call.error = ZQMakeError(ZQErrorCode::InvalidArgumentCount, std::move(message));
    }
    return false;
}

std::optional<ZQNumber> ZQFunctionEvaluator::evaluateNode(const ZQExpressionPtr& node, const Call& call) const
{
    return m_evaluator.evaluateExpression(*node, call.substitutions, call.error);
}

std::optional<ZQNumber> ZQFunctionEvaluator::evaluateArgument(const Call& call, std::size_t index) const
{
    return evaluateNode(call.arguments[index], call);
}

std::optional<std::vector<ZQNumber>> ZQFunctionEvaluator::evaluateArguments(const Call& call) const
{
    std::vector<ZQNumber> values;
    values.reserve(call.arguments.size());
    for (const auto& argument : call.arguments) {
        auto value = evaluateNode(argument, call);
        if (!value)
            return std::nullopt;
        values.push_back(*value);
    }
    return values;
}

bool ZQFunctionEvaluator::evaluateAdditiveOperands(const Call& call, std::optional<ZQNumber>& a,
                                                   std::optional<ZQNumber>& b)
{
    a = evaluateArgument(call, 0);
    if (!a)
        return false;
    m_additiveContext.emplace_back(call.arguments[0].get(), *a);
    b = evaluateArgument(call, 1);
    m_additiveContext.pop_back();
    return b.has_value();
}

std::optional<std::optional<ZQNumber>> ZQFunctionEvaluator::percentContext(const Call& call)
{
    const ZQExpressionPtr parent = call.node.parentExpression();
    if (!parent || parent->expressionType() != ZQExpressionType::Function)
        return std::nullopt;
    const std::string& function = parent->function();
    if (function != "add" && function != "subtract")
        return std::nullopt;
    const auto info = ZQMathOperator::infoForOperatorFunction(function);
    if (!info || info->arity() != ZQOperatorArity::Binary)
        return std::nullopt;
    const auto& arguments = parent->arguments();
    if (arguments.size() < 2 || arguments[1].get() != &call.node)
        return std::nullopt;
    // The addition being evaluated has this value already: reuse it rather
    // than evaluate the operand a second time.
    for (auto it = m_additiveContext.rbegin(); it != m_additiveContext.rend(); ++it)
        if (it->first == arguments[0].get())
            return std::optional<ZQNumber>(it->second);
    return std::optional<std::optional<ZQNumber>>(evaluateNode(arguments[0], call));
}

ZQExpressionPtr ZQFunctionEvaluator::wrapAngleArgument(const ZQExpressionPtr& argument,
                                                       ZQErrorPlace error) const
{
    if (m_evaluator.angleMeasurementMode() != ZQAngleMeasurementMode::Degrees)
        return argument;
    if (argument->expressionType() == ZQExpressionType::Function && argument->function() == "dtor")
        return argument;
    return ZQExpression::functionExpressionWithFunction("dtor", {argument}, error);
}

ZQExpressionPtr ZQFunctionEvaluator::wrapAngleResult(ZQExpressionPtr result, ZQErrorPlace error) const
{
    if (m_evaluator.angleMeasurementMode() != ZQAngleMeasurementMode::Degrees)
        return result;
    if (result->expressionType() == ZQExpressionType::Function && result->function() == "rtod")
        return result;
    return ZQExpression::functionExpressionWithFunction("rtod", {std::move(result)}, error);
}

ZQExpressionPtr ZQFunctionEvaluator::unary(const Call& call, const char* name, double (*f)(double))
{
    if (!checkArgumentCount(call, name, 1))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    return a ? number(f(a->doubleValue())) : nullptr;
}

ZQExpressionPtr ZQFunctionEvaluator::binary(const Call& call, const char* name, double (*f)(double, double))
{
    if (!checkArgumentCount(call, name, 2))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    if (!a)
        return nullptr;
    auto b = evaluateArgument(call, 1);
    return b ? number(f(a->doubleValue(), b->doubleValue())) : nullptr;
}

ZQExpressionPtr ZQFunctionEvaluator::bitwise(const Call& call, const char* name,
                                             std::int64_t (*f)(std::int64_t, std::int64_t))
{
    if (!checkArgumentCount(call, name, 2))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    if (!a)
        return nullptr;
    auto b = evaluateArgument(call, 1);
    return b ? number(ZQNumber::fromInt64(f(a->integerValue(), b->integerValue()))) : nullptr;
}

ZQExpressionPtr ZQFunctionEvaluator::comparison(const Call& call, const char* name, bool (*test)(int))
{
    if (!checkArgumentCount(call, name, 2))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    if (!a)
        return nullptr;
    auto b = evaluateArgument(call, 1);
    return b ? number(ZQNumber::fromInt64(test(a->compare(*b)) ? 1 : 0)) : nullptr;
}

std::optional<ZQNumber> ZQFunctionEvaluator::sumOf(const Call&, const std::vector<ZQNumber>& values) const
{
    double total = 0;
    for (const auto& value : values)
        total += value.doubleValue();
    return ZQNumber::fromDouble(total);
}

// --- arithmetic -----------------------------------------------------------------

ZQExpressionPtr ZQFunctionEvaluator::fnAdd(const Call& call)
{
    if (!checkArgumentCount(call, "add", 2))
        return nullptr;
    std::optional<ZQNumber> a, b;
    if (!evaluateAdditiveOperands(call, a, b))
        return nullptr;
    return number(a->doubleValue() + b->doubleValue());
}

ZQExpressionPtr ZQFunctionEvaluator::fnSubtract(const Call& call)
{
    if (!checkArgumentCount(call, "subtract", 2))
        return nullptr;
    std::optional<ZQNumber> a, b;
    if (!evaluateAdditiveOperands(call, a, b))
        return nullptr;
    return number(a->doubleValue() - b->doubleValue());
}

ZQExpressionPtr ZQFunctionEvaluator::fnMultiply(const Call& call)
{
    return binary(call, "multiply", [](double a, double b) { return a * b; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnDivide(const Call& call)
{
    return binary(call, "divide", [](double a, double b) { return a / b; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnMod(const Call& call)
{
    return binary(call, "mod", [](double a, double b) { return std::fmod(a, b); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnNegate(const Call& call)
{
    return unary(call, "negate", [](double a) { return -a; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnPow(const Call& call)
{
    return binary(call, "pow", [](double a, double b) { return std::pow(a, b); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnNthroot(const Call& call)
{
    return binary(call, "nthroot", [](double a, double b) { return std::pow(a, 1 / b); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnFactorial(const Call& call)
{
    if (!checkArgumentCount(call, "factorial", 1))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    if (!a)
        return nullptr;
    const double v = a->doubleValue();
    if (std::round(v) == v && v > 0 && v < 21) {
        const std::uint64_t n = a->unsignedIntegerValue();
        std::uint64_t product = 1;
        for (std::uint64_t k = 2; k <= n; ++k)
            product *= k;
        return number(ZQNumber::fromUInt64(product));
    }
    return number(std::tgamma(v + 1));
}

ZQExpressionPtr ZQFunctionEvaluator::fnSqrt(const Call& call)
{
    return unary(call, "sqrt", [](double a) { return std::sqrt(a); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLog(const Call& call)
{
    return unary(call, "log", [](double a) { return std::log10(a); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLn(const Call& call)
{
    return unary(call, "ln", [](double a) { return std::log(a); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLog2(const Call& call)
{
    return unary(call, "log2", [](double a) { return std::log2(a); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnExp(const Call& call)
{
    return unary(call, "exp", [](double a) { return std::exp(a); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnCeil(const Call& call)
{
    return unary(call, "ceil", [](double a) { return std::ceil(a); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnFloor(const Call& call)
{
    return unary(call, "floor", [](double a) { return std::floor(a); });
}

// The absolute value keeps the fraction (abs(-2.5) is 2.5), as the decimal
// evaluator's does.
ZQExpressionPtr ZQFunctionEvaluator::fnAbs(const Call& call)
{
    return unary(call, "abs", [](double a) { return std::fabs(a); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnDtor(const Call& call)
{
    return unary(call, "dtor", [](double a) { return a / 180 * Pi; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnRtod(const Call& call)
{
    return unary(call, "rtod", [](double a) { return a / Pi * 180; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnPercent(const Call& call)
{
    if (!checkArgumentCount(call, "percent", 1))
        return nullptr;
    double context = 1;
    if (auto found = percentContext(call)) {
        if (!*found)
            return nullptr;
        context = (*found)->doubleValue();
    }
    auto p = evaluateArgument(call, 0);
    return p ? number(p->doubleValue() / 100 * context) : nullptr;
}

// --- bitwise --------------------------------------------------------------------

ZQExpressionPtr ZQFunctionEvaluator::fnAnd(const Call& call)
{
    return bitwise(call, "and", [](std::int64_t a, std::int64_t b) { return a & b; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnOr(const Call& call)
{
    return bitwise(call, "or", [](std::int64_t a, std::int64_t b) { return a | b; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnXor(const Call& call)
{
    return bitwise(call, "xor", [](std::int64_t a, std::int64_t b) { return a ^ b; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnRshift(const Call& call)
{
    return bitwise(call, "rshift", [](std::int64_t a, std::int64_t b) { return a >> (b & 63); });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLshift(const Call& call)
{
    return bitwise(call, "lshift", [](std::int64_t a, std::int64_t b) {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) << (b & 63));
    });
}

ZQExpressionPtr ZQFunctionEvaluator::fnNot(const Call& call)
{
    if (!checkArgumentCount(call, "not", 1))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    return a ? number(ZQNumber::fromInt64(~a->integerValue())) : nullptr;
}

// --- aggregates -----------------------------------------------------------------

ZQExpressionPtr ZQFunctionEvaluator::fnSum(const Call& call)
{
    if (!checkArgumentCount(call, "sum", 1, true))
        return nullptr;
    auto values = evaluateArguments(call);
    if (!values)
        return nullptr;
    return number(*sumOf(call, *values));
}

ZQExpressionPtr ZQFunctionEvaluator::fnAverage(const Call& call)
{
    if (!checkArgumentCount(call, "average", 2, true))
        return nullptr;
    auto values = evaluateArguments(call);
    if (!values)
        return nullptr;
    return number(sumOf(call, *values)->doubleValue() / static_cast<double>(call.arguments.size()));
}

ZQExpressionPtr ZQFunctionEvaluator::fnCount(const Call& call)
{
    if (!checkArgumentCount(call, "count", 1, true))
        return nullptr;
    return number(ZQNumber::fromDecimal(ZQDecimal::fromUInt64(call.arguments.size())));
}

ZQExpressionPtr ZQFunctionEvaluator::fnMin(const Call& call)
{
    if (!checkArgumentCount(call, "min", 2, true))
        return nullptr;
    std::optional<ZQNumber> current;
    for (const auto& argument : call.arguments) {
        auto value = evaluateNode(argument, call);
        if (!value)
            return nullptr;
        if (!current || current->compare(*value) > 0)
            current = value;
    }
    return number(*current);
}

ZQExpressionPtr ZQFunctionEvaluator::fnMax(const Call& call)
{
    if (!checkArgumentCount(call, "max", 2, true))
        return nullptr;
    std::optional<ZQNumber> current;
    for (const auto& argument : call.arguments) {
        auto value = evaluateNode(argument, call);
        if (!value)
            return nullptr;
        if (!current || current->compare(*value) < 0)
            current = value;
    }
    return number(*current);
}

ZQExpressionPtr ZQFunctionEvaluator::fnMedian(const Call& call)
{
    if (!checkArgumentCount(call, "median", 2, true))
        return nullptr;
    auto values = evaluateArguments(call);
    if (!values)
        return nullptr;
    // compare() is a total order (NaN lowest), so sorting is always defined.
    std::stable_sort(values->begin(), values->end(),
                     [](const ZQNumber& a, const ZQNumber& b) { return a.compare(b) < 0; });
    const std::size_t n = values->size();
    if (n % 2)
        return number((*values)[n / 2]);
    return number(((*values)[n / 2 - 1].doubleValue() + (*values)[n / 2].doubleValue()) / 2);
}

// Each argument is evaluated once, so arguments that draw random numbers
// spread as the draws do.
ZQExpressionPtr ZQFunctionEvaluator::fnStddev(const Call& call)
{
    if (!checkArgumentCount(call, "stddev", 2, true))
        return nullptr;
    auto values = evaluateArguments(call);
    if (!values)
        return nullptr;
    const double n = static_cast<double>(values->size());
    const double mean = sumOf(call, *values)->doubleValue() / n;
    double squares = 0;
    for (const auto& value : *values) {
        const double d = mean - value.doubleValue();
        squares += d * d;
    }
    return number(std::sqrt(squares / n));
}

// Draws directly in [max(lower, 0), upper): the same distribution as drawing
// until a value is not below the lower bound, in constant time.
ZQExpressionPtr ZQFunctionEvaluator::fnRandom(const Call& call)
{
    if (call.arguments.size() > 2) {
        ZQSetError(call.error, ZQErrorCode::InvalidArgumentCount, "random() may only have up to 2 arguments");
        return nullptr;
    }
    auto values = evaluateArguments(call);
    if (!values)
        return nullptr;
    const std::int64_t lower =
        values->empty() ? std::numeric_limits<std::int64_t>::min() : (*values)[0].integerValue();
    const std::uint64_t upper = values->size() == 2
                                    ? static_cast<std::uint64_t>((*values)[1].integerValue()) & 0xFFFFFFFFu
                                    : 4294967295u;
    const std::uint64_t low = lower < 0 ? 0 : static_cast<std::uint64_t>(lower);
    if (low >= upper) {
        ZQSetError(call.error, ZQErrorCode::InvalidArgumentCount,
                   "random() lower bound must be less than its upper bound");
        return nullptr;
    }
    return number(ZQNumber::fromInt64(static_cast<std::int64_t>(low + draw(upper - low))));
}

// --- logic and comparison -------------------------------------------------------

ZQExpressionPtr ZQFunctionEvaluator::fnLAnd(const Call& call)
{
    if (!checkArgumentCount(call, "l_and", 2))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    auto b = evaluateArgument(call, 1);
    if (!a || !b)
        return nullptr;
    return number(ZQNumber::fromInt64(a->boolValue() && b->boolValue() ? 1 : 0));
}

ZQExpressionPtr ZQFunctionEvaluator::fnLOr(const Call& call)
{
    if (!checkArgumentCount(call, "l_or", 2))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    auto b = evaluateArgument(call, 1);
    if (!a || !b)
        return nullptr;
    return number(ZQNumber::fromInt64(a->boolValue() || b->boolValue() ? 1 : 0));
}

ZQExpressionPtr ZQFunctionEvaluator::fnLNot(const Call& call)
{
    if (!checkArgumentCount(call, "l_not", 1))
        return nullptr;
    auto a = evaluateArgument(call, 0);
    return a ? number(ZQNumber::fromInt64(a->boolValue() ? 0 : 1)) : nullptr;
}

ZQExpressionPtr ZQFunctionEvaluator::fnLEq(const Call& call)
{
    return comparison(call, "l_eq", [](int c) { return c == 0; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLNeq(const Call& call)
{
    return comparison(call, "l_neq", [](int c) { return c != 0; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLLt(const Call& call)
{
    return comparison(call, "l_lt", [](int c) { return c < 0; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLGt(const Call& call)
{
    return comparison(call, "l_gt", [](int c) { return c > 0; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLLtoe(const Call& call)
{
    return comparison(call, "l_ltoe", [](int c) { return c <= 0; });
}

ZQExpressionPtr ZQFunctionEvaluator::fnLGtoe(const Call& call)
{
    return comparison(call, "l_gtoe", [](int c) { return c >= 0; });
}

// --- trigonometry and constants -------------------------------------------------

ZQExpressionPtr ZQFunctionEvaluator::fnAngle(const Call& call)
{
    const std::string& name = call.node.function();
    const AngleFunction& f = angleFunctions().at(name);
    if (!checkArgumentCount(call, name.c_str(), 1))
        return nullptr;
    std::optional<ZQNumber> a;
    if (f.convertsArgument) {
        ZQExpressionPtr argument = wrapAngleArgument(call.arguments[0], call.error);
        if (!argument)
            return nullptr;
        a = evaluateNode(argument, call);
    } else {
        a = evaluateArgument(call, 0);
    }
    if (!a)
        return nullptr;
    ZQExpressionPtr result = angleValue(f, *a);
    return f.convertsResult ? wrapAngleResult(std::move(result), call.error) : result;
}

ZQExpressionPtr ZQFunctionEvaluator::fnConstant(const Call& call)
{
    const std::string& name = call.node.function();
    if (!checkArgumentCount(call, name.c_str(), 0))
        return nullptr;
    return constantValue(constants().at(name));
}

ZQExpressionPtr ZQFunctionEvaluator::angleValue(const AngleFunction& f, const ZQNumber& argument) const
{
    return number(f.real(argument.doubleValue()));
}

ZQExpressionPtr ZQFunctionEvaluator::constantValue(const Constant& c) const
{
    return number(c.real);
}

const std::unordered_map<std::string, Builtin>& ZQFunctionEvaluatorTable::get()
{
    using F = ZQFunctionEvaluator;
    static const std::unordered_map<std::string, Builtin> table = [] {
        std::unordered_map<std::string, Builtin> t = {
            {"add", &F::fnAdd},
            {"subtract", &F::fnSubtract},
            {"multiply", &F::fnMultiply},
            {"divide", &F::fnDivide},
            {"mod", &F::fnMod},
            {"negate", &F::fnNegate},
            {"factorial", &F::fnFactorial},
            {"pow", &F::fnPow},
            {"nthroot", &F::fnNthroot},
            {"and", &F::fnAnd},
            {"or", &F::fnOr},
            {"not", &F::fnNot},
            {"xor", &F::fnXor},
            {"rshift", &F::fnRshift},
            {"lshift", &F::fnLshift},
            {"average", &F::fnAverage},
            {"sum", &F::fnSum},
            {"count", &F::fnCount},
            {"min", &F::fnMin},
            {"max", &F::fnMax},
            {"median", &F::fnMedian},
            {"stddev", &F::fnStddev},
            {"sqrt", &F::fnSqrt},
            {"random", &F::fnRandom},
            {"log", &F::fnLog},
            {"ln", &F::fnLn},
            {"log2", &F::fnLog2},
            {"exp", &F::fnExp},
            {"ceil", &F::fnCeil},
            {"abs", &F::fnAbs},
            {"floor", &F::fnFloor},
            {"percent", &F::fnPercent},
            {"dtor", &F::fnDtor},
            {"rtod", &F::fnRtod},
            {"l_and", &F::fnLAnd},
            {"l_or", &F::fnLOr},
            {"l_not", &F::fnLNot},
            {"l_eq", &F::fnLEq},
            {"l_neq", &F::fnLNeq},
            {"l_lt", &F::fnLLt},
            {"l_gt", &F::fnLGt},
            {"l_ltoe", &F::fnLLtoe},
            {"l_gtoe", &F::fnLGtoe},
        };
        for (const auto& entry : angleFunctions())
            t.emplace(entry.first, &F::fnAngle);
        for (const auto& entry : constants())
            t.emplace(entry.first, &F::fnConstant);
        return t;
    }();
    return table;
}
