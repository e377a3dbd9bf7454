#pragma once

#include "calculator/ZQDecimal.h"
#include "calculator/ZQError.h"
#include "calculator/ZQExpression.h"
#include "calculator/ZQNumber.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ZQMathEvaluator;

// The calculator's built-in functions, in double precision. The evaluator
// hands it every function node; names it does not know go back to the
// evaluator's resolver. The high-precision evaluator derives from it and
// replaces built-ins by answering them first from lookup().
class ZQFunctionEvaluator
{
public:
    // One call of a built-in: the node, its arguments, the substitutions and
    // the error place (null when the caller gave none).
    struct Call
    {
        const ZQExpression& node;
        const std::vector<ZQExpressionPtr>& arguments;
        const ZQSubstitutions* substitutions;
        ZQErrorPlace error;
    };
    using Builtin = ZQExpressionPtr (ZQFunctionEvaluator::*)(const Call&);

    explicit ZQFunctionEvaluator(ZQMathEvaluator& evaluator);
    virtual ~ZQFunctionEvaluator() = default;

    // The 89 built-in names, in byte order.
    static const std::vector<std::string>& standardFunctions();
    static bool isStandardFunction(std::string_view name);

    ZQMathEvaluator& evaluator() const { return m_evaluator; }

    // Calls the built-in of the node's (lower-cased) name, or asks the
    // evaluator's resolver when there is none.
    std::optional<ZQValue> evaluateFunction(const ZQExpression& node, const ZQSubstitutions* substitutions,
                                            ZQErrorPlace error);

    // Replaceable source of uniform draws in [0, upper) (0 for upper 0), for tests.
    using RandomSource = std::function<std::uint64_t(std::uint64_t upper)>;
    static void setRandomSource(RandomSource source); // empty restores the default

    // A function of the trigonometric family, in both precisions.
    struct AngleFunction
    {
        double (*real)(double);
        ZQDecimal (*decimal)(const ZQDecimal&);
        bool convertsArgument; // degrees in: the argument goes through "dtor"
        bool convertsResult;   // degrees out: the result goes through "rtod"
    };
    // A named constant, in both precisions.
    struct Constant
    {
        double real;
        ZQDecimal (*decimal)();
    };

protected:
    // The built-in for a lower-cased name, or null. A subclass answers its own
    // replacements first and falls back to this.
    virtual Builtin lookup(const std::string& name) const;

    // Code 17 unless the count fits: exactly n, or at least n when atLeast.
    // `name` is the built-in's name ("sqrt"); the message names its operation.
    bool checkArgumentCount(const Call& call, const char* name, std::size_t n, bool atLeast = false) const;
    std::optional<ZQNumber> evaluateArgument(const Call& call, std::size_t index) const;
    std::optional<ZQNumber> evaluateNode(const ZQExpressionPtr& node, const Call& call) const;
    // Every argument in order; nothing once one fails.
    std::optional<std::vector<ZQNumber>> evaluateArguments(const Call& call) const;
    // Both operands of "add" or "subtract", keeping the first operand's value
    // for a "percent" second operand, so that it is evaluated only once.
    bool evaluateAdditiveOperands(const Call& call, std::optional<ZQNumber>& a, std::optional<ZQNumber>& b);
    // The value "percent" scales by: the first operand of an enclosing
    // addition or subtraction whose second operand is this node; else 1 (as nothing).
    std::optional<std::optional<ZQNumber>> percentContext(const Call& call);

    // In degree mode: the argument wrapped in "dtor" (unless it already is
    // one); in radians the node itself.
    ZQExpressionPtr wrapAngleArgument(const ZQExpressionPtr& argument, ZQErrorPlace error) const;
    // In degree mode: an unevaluated "rtod" node over the result.
    ZQExpressionPtr wrapAngleResult(ZQExpressionPtr result, ZQErrorPlace error) const;
    static ZQExpressionPtr number(const ZQNumber& n) { return ZQExpression::numberExpressionWithNumber(n); }
    static ZQExpressionPtr number(double d) { return number(ZQNumber::fromDouble(d)); }
    static std::uint64_t draw(std::uint64_t upper);

    // The value of an angle function or a constant, in this evaluator's
    // precision; the argument and result conversions are the caller's.
    virtual ZQExpressionPtr angleValue(const AngleFunction& f, const ZQNumber& argument) const;
    virtual ZQExpressionPtr constantValue(const Constant& c) const;

private:
    friend struct ZQFunctionEvaluatorTable;
    ZQMathEvaluator& m_evaluator;
    // Values of first operands of additions under evaluation, for "percent".
    std::vector<std::pair<const ZQExpression*, ZQNumber>> m_additiveContext;

    // Built-ins (C++ names; the table maps the calculator's names to them).
    ZQExpressionPtr fnAdd(const Call&);
    ZQExpressionPtr fnSubtract(const Call&);
    ZQExpressionPtr fnMultiply(const Call&);
    ZQExpressionPtr fnDivide(const Call&);
    ZQExpressionPtr fnMod(const Call&);
    ZQExpressionPtr fnNegate(const Call&);
    ZQExpressionPtr fnFactorial(const Call&);
    ZQExpressionPtr fnPow(const Call&);
    ZQExpressionPtr fnNthroot(const Call&);
    ZQExpressionPtr fnAnd(const Call&);
    ZQExpressionPtr fnOr(const Call&);
    ZQExpressionPtr fnNot(const Call&);
    ZQExpressionPtr fnXor(const Call&);
    ZQExpressionPtr fnRshift(const Call&);
    ZQExpressionPtr fnLshift(const Call&);
    ZQExpressionPtr fnAverage(const Call&);
    ZQExpressionPtr fnSum(const Call&);
    ZQExpressionPtr fnCount(const Call&);
    ZQExpressionPtr fnMin(const Call&);
    ZQExpressionPtr fnMax(const Call&);
    ZQExpressionPtr fnMedian(const Call&);
    ZQExpressionPtr fnStddev(const Call&);
    ZQExpressionPtr fnSqrt(const Call&);
    ZQExpressionPtr fnRandom(const Call&);
    ZQExpressionPtr fnLog(const Call&);
    ZQExpressionPtr fnLn(const Call&);
    ZQExpressionPtr fnLog2(const Call&);
    ZQExpressionPtr fnExp(const Call&);
    ZQExpressionPtr fnCeil(const Call&);
    ZQExpressionPtr fnAbs(const Call&);
    ZQExpressionPtr fnFloor(const Call&);
    ZQExpressionPtr fnPercent(const Call&);
    ZQExpressionPtr fnDtor(const Call&);
    ZQExpressionPtr fnRtod(const Call&);
    ZQExpressionPtr fnLAnd(const Call&);
    ZQExpressionPtr fnLOr(const Call&);
    ZQExpressionPtr fnLNot(const Call&);
    ZQExpressionPtr fnLEq(const Call&);
    ZQExpressionPtr fnLNeq(const Call&);
    ZQExpressionPtr fnLLt(const Call&);
    ZQExpressionPtr fnLGt(const Call&);
    ZQExpressionPtr fnLLtoe(const Call&);
    ZQExpressionPtr fnLGtoe(const Call&);
    // The trigonometric family and the constants share one body each, keyed by name.
    ZQExpressionPtr fnAngle(const Call&);
    ZQExpressionPtr fnConstant(const Call&);

    ZQExpressionPtr unary(const Call& call, const char* name, double (*f)(double));
    ZQExpressionPtr binary(const Call& call, const char* name, double (*f)(double, double));
    ZQExpressionPtr bitwise(const Call& call, const char* name,
                            std::int64_t (*f)(std::int64_t, std::int64_t));
    ZQExpressionPtr comparison(const Call& call, const char* name, bool (*test)(int));
    std::optional<ZQNumber> sumOf(const Call& call, const std::vector<ZQNumber>& values) const;
};

// Makes the function evaluator used while high precision is on. Until the
// decimal evaluator exists it answers a double-precision one.
std::unique_ptr<ZQFunctionEvaluator> ZQMakePrecisionFunctionEvaluator(ZQMathEvaluator& evaluator);
