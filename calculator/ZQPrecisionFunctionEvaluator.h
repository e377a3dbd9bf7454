#pragma once

#include "calculator/ZQDecimal.h"
#include "calculator/ZQFunctionEvaluator.h"

// The built-in functions while high precision is on: 73 of them compute on
// 38-digit decimals (so 0.1 + 0.2 is exactly 0.3). The bitwise and logical
// operators, min, max and random stay those of the double evaluator, and
// log, ln, log2, exp and count answer as they do there.
class ZQPrecisionFunctionEvaluator : public ZQFunctionEvaluator
{
public:
    using ZQFunctionEvaluator::ZQFunctionEvaluator;

protected:
    Builtin lookup(const std::string& name) const override;
    ZQExpressionPtr angleValue(const AngleFunction& f, const ZQNumber& argument) const override;
    ZQExpressionPtr constantValue(const Constant& c) const override;

private:
    friend struct ZQPrecisionFunctionTable;
    using Unary = ZQDecimal (*)(const ZQDecimal&);
    using Binary = ZQDecimal (*)(const ZQDecimal&, const ZQDecimal&);

    static ZQExpressionPtr decimal(const ZQDecimal& value) { return number(ZQNumber::fromDecimal(value)); }
    ZQExpressionPtr unaryDecimal(const Call& call, const char* name, Unary f);
    ZQExpressionPtr binaryDecimal(const Call& call, const char* name, Binary f);
    // Every argument's decimal value, in order; nothing once one fails.
    std::optional<std::vector<ZQDecimal>> decimalArguments(const Call& call) const;

    ZQExpressionPtr fnAdd(const Call&);
    ZQExpressionPtr fnSubtract(const Call&);
    ZQExpressionPtr fnMultiply(const Call&);
    ZQExpressionPtr fnDivide(const Call&);
    ZQExpressionPtr fnMod(const Call&);
    ZQExpressionPtr fnNegate(const Call&);
    ZQExpressionPtr fnFactorial(const Call&);
    ZQExpressionPtr fnPow(const Call&);
    ZQExpressionPtr fnNthroot(const Call&);
    ZQExpressionPtr fnRshift(const Call&);
    ZQExpressionPtr fnLshift(const Call&);
    ZQExpressionPtr fnAverage(const Call&);
    ZQExpressionPtr fnSum(const Call&);
    ZQExpressionPtr fnMedian(const Call&);
    ZQExpressionPtr fnStddev(const Call&);
    ZQExpressionPtr fnSqrt(const Call&);
    ZQExpressionPtr fnCeil(const Call&);
    ZQExpressionPtr fnAbs(const Call&);
    ZQExpressionPtr fnFloor(const Call&);
    ZQExpressionPtr fnPercent(const Call&);
    ZQExpressionPtr fnDtor(const Call&);
    ZQExpressionPtr fnRtod(const Call&);
};
