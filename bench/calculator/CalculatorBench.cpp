// Parse and evaluate a text from scratch, each iteration, in the calculator
// and in two other expression libraries, on the same expressions.
#include "calculator/ZQMathEvaluator.h"

#include <benchmark/benchmark.h>

#include <string>

#if QUILLARY_BENCH_MUPARSER
#include <muParser.h>
#endif
#if QUILLARY_BENCH_QALCULATE
#include <libqalculate/qalculate.h>
#endif

namespace {

enum Expression
{
    Short,
    Functions,
    LongSum,
    Nested
};

std::string longSum()
{
    std::string s = "1";
    for (int i = 2; i <= 200; ++i)
        s += "+" + std::to_string(i);
    return s;
}

std::string nested()
{
    // ((((1+1)*2+2)*2+3)... twenty levels deep
    std::string s = "1";
    for (int i = 1; i <= 20; ++i)
        s = "(" + s + "+" + std::to_string(i) + ")*1.5";
    return s;
}

// The calculator writes powers as "**" ("^" is exclusive or); the others use "^".
std::string text(Expression e, bool caretPower)
{
    switch (e) {
    case Short:
        return "1+2*3";
    case Functions:
        return caretPower ? "sin(0.5)^2+cos(0.5)^2" : "sin(0.5)**2+cos(0.5)**2";
    case LongSum:
        return longSum();
    case Nested:
        return nested();
    }
    return {};
}

void ZQCalculatorEntry(benchmark::State& state)
{
    const std::string expression = text(static_cast<Expression>(state.range(0)), false);
    ZQMathEvaluator& evaluator = ZQMathEvaluator::defaultMathEvaluator();
    for (auto _ : state) {
        std::optional<ZQError> error;
        auto value = evaluator.evaluateString(expression, nullptr, &error);
        if (!value)
            state.SkipWithError("calculator failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(ZQCalculatorEntry)->DenseRange(Short, Nested)->ArgName("expr");

#if QUILLARY_BENCH_MUPARSER
void MuParser(benchmark::State& state)
{
    const std::string expression = text(static_cast<Expression>(state.range(0)), true);
    mu::Parser parser;
    for (auto _ : state) {
        parser.SetExpr(expression);
        double value = parser.Eval();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(MuParser)->DenseRange(Short, Nested)->ArgName("expr");
#endif

#if QUILLARY_BENCH_QALCULATE
void Qalculate(benchmark::State& state)
{
    const std::string expression = text(static_cast<Expression>(state.range(0)), true);
    static ::Calculator* calculator = [] {
        auto* c = new ::Calculator();
        c->loadGlobalDefinitions();
        return c;
    }();
    EvaluationOptions options;
    for (auto _ : state) {
        MathStructure value = calculator->calculate(expression, options);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(Qalculate)->DenseRange(Short, Nested)->ArgName("expr");
#endif

} // namespace
