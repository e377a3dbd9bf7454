// The 38-digit decimal type and its math routines beside Boost.Multiprecision's
// cpp_dec_float at 38 and 50 digits, on the same operands; and every routine
// over the arguments that cost it most, with the slowest single call.
#include "calculator/ZQDecimal.h"
#include "calculator/ZQDecimalMath.h"

#include <benchmark/benchmark.h>
#include <boost/multiprecision/cpp_dec_float.hpp>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Dec38 =
    boost::multiprecision::number<boost::multiprecision::cpp_dec_float<38>, boost::multiprecision::et_off>;
using Dec50 =
    boost::multiprecision::number<boost::multiprecision::cpp_dec_float<50>, boost::multiprecision::et_off>;

constexpr std::size_t kOperands = 256;

// Texts of 38 significant digits with magnitudes from 10^-20 to 10^20, or in
// [lo, hi) for the routines.
std::vector<std::string> operandTexts(unsigned seed, int loExponent, int hiExponent)
{
    std::mt19937_64 rng(seed);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < kOperands; ++i) {
        std::string digits = std::to_string(1 + rng() % 9) + ".";
        for (int k = 0; k < 37; ++k)
            digits += static_cast<char>('0' + rng() % 10);
        const int exponent =
            loExponent + static_cast<int>(rng() % static_cast<unsigned>(hiExponent - loExponent + 1));
        texts.push_back(digits + "e" + std::to_string(exponent));
    }
    return texts;
}

template <typename T> std::vector<T> operands(const std::vector<std::string>& texts)
{
    std::vector<T> values;
    for (const auto& text : texts) {
        if constexpr (std::is_same_v<T, ZQDecimal>)
            values.push_back(*ZQDecimal::fromString(text));
        else
            values.push_back(T(text));
    }
    return values;
}

// Full 38-digit operands (range 0), or the short literals people type:
// up to six digits with up to three after the point (range 1).
std::vector<std::string> shortTexts(unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < kOperands; ++i) {
        std::string text = std::to_string(1 + rng() % 999999);
        const std::size_t point = rng() % 4;
        if (point > 0)
            text.insert(text.size() > point ? text.size() - point : 0, ".");
        texts.push_back(text);
    }
    return texts;
}

const std::vector<std::string>& operandSet(int set, unsigned seed)
{
    static const std::vector<std::string> a = operandTexts(1, -20, 20), b = operandTexts(2, -20, 20);
    static const std::vector<std::string> c = shortTexts(1), d = shortTexts(2);
    return set == 0 ? (seed == 1 ? a : b) : (seed == 1 ? c : d);
}

// --- arithmetic -------------------------------------------------------------

enum Op
{
    Add,
    Multiply,
    Divide
};

void ZQDecimalArithmetic(benchmark::State& state)
{
    const Op op = static_cast<Op>(state.range(0));
    const int set = static_cast<int>(state.range(1));
    const auto a = operands<ZQDecimal>(operandSet(set, 1)), b = operands<ZQDecimal>(operandSet(set, 2));
    std::size_t i = 0;
    ZQDecimal r;
    for (auto _ : state) {
        const std::size_t k = i++ % kOperands;
        switch (op) {
        case Add:
            ZQDecimalAdd(&r, a[k], b[k], ZQRoundingMode::Bankers);
            break;
        case Multiply:
            ZQDecimalMultiply(&r, a[k], b[k], ZQRoundingMode::Bankers);
            break;
        case Divide:
            ZQDecimalDivide(&r, a[k], b[k], ZQRoundingMode::Bankers);
            break;
        }
        benchmark::DoNotOptimize(r);
    }
}

template <typename T> void BoostArithmetic(benchmark::State& state)
{
    const Op op = static_cast<Op>(state.range(0));
    const int set = static_cast<int>(state.range(1));
    const auto a = operands<T>(operandSet(set, 1)), b = operands<T>(operandSet(set, 2));
    std::size_t i = 0;
    T r;
    for (auto _ : state) {
        const std::size_t k = i++ % kOperands;
        switch (op) {
        case Add:
            r = a[k] + b[k];
            break;
        case Multiply:
            r = a[k] * b[k];
            break;
        case Divide:
            r = a[k] / b[k];
            break;
        }
        benchmark::DoNotOptimize(r);
    }
}

BENCHMARK(ZQDecimalArithmetic)
    ->ArgNames({"add0_mul1_div2", "full0_short1"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}});
BENCHMARK(BoostArithmetic<Dec38>)
    ->ArgNames({"add0_mul1_div2", "full0_short1"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}});

// --- routines ---------------------------------------------------------------

enum Routine
{
    Sqrt,
    Exp,
    Ln,
    Sin,
    Atan
};

std::vector<std::string> routineTexts(Routine routine)
{
    switch (routine) {
    case Sqrt:
        return operandTexts(3, -60, 60);
    case Exp:
        return operandTexts(4, -3, 1); // |x| < 100
    case Ln:
        return operandTexts(5, -60, 60);
    case Sin:
        return operandTexts(6, -3, 1); // |x| < 100
    case Atan:
        return operandTexts(7, -10, 10);
    }
    return {};
}

void ZQDecimalRoutine(benchmark::State& state)
{
    const Routine routine = static_cast<Routine>(state.range(0));
    const auto x = operands<ZQDecimal>(routineTexts(routine));
    ZQDecimal (*f)(const ZQDecimal&) = nullptr;
    switch (routine) {
    case Sqrt:
        f = decimalSquareRoot;
        break;
    case Exp:
        f = decimalExponential;
        break;
    case Ln:
        f = decimalNaturalLogarithm;
        break;
    case Sin:
        f = decimalSine;
        break;
    case Atan:
        f = decimalArcTangent;
        break;
    }
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(f(x[i++ % kOperands]));
}

template <typename T> void BoostRoutine(benchmark::State& state)
{
    const Routine routine = static_cast<Routine>(state.range(0));
    const auto x = operands<T>(routineTexts(routine));
    std::size_t i = 0;
    for (auto _ : state) {
        const T& v = x[i++ % kOperands];
        T r;
        switch (routine) {
        case Sqrt:
            r = sqrt(v);
            break;
        case Exp:
            r = exp(v);
            break;
        case Ln:
            r = log(v);
            break;
        case Sin:
            r = sin(v);
            break;
        case Atan:
            r = atan(v);
            break;
        }
        benchmark::DoNotOptimize(r);
    }
}

BENCHMARK(ZQDecimalRoutine)->ArgName("sqrt0_exp1_ln2_sin3_atan4")->DenseRange(0, 4);
BENCHMARK(BoostRoutine<Dec38>)->ArgName("sqrt0_exp1_ln2_sin3_atan4")->DenseRange(0, 4);
BENCHMARK(BoostRoutine<Dec50>)->ArgName("sqrt0_exp1_ln2_sin3_atan4")->DenseRange(0, 4);

// --- extreme arguments --------------------------------------------------------

using UnaryRoutine = std::function<ZQDecimal(const ZQDecimal&)>;

const std::vector<std::pair<const char*, UnaryRoutine>>& allRoutines()
{
    static const std::vector<std::pair<const char*, UnaryRoutine>> routines = {
        {"sqrt", decimalSquareRoot},
        {"exp", decimalExponential},
        {"ln", decimalNaturalLogarithm},
        {"factorial", decimalFactorial},
        {"sin", decimalSine},
        {"cos", decimalCosine},
        {"tan", decimalTangent},
        {"csc", decimalCosecant},
        {"sec", decimalSecant},
        {"cot", decimalCotangent},
        {"asin", decimalArcSine},
        {"acos", decimalArcCosine},
        {"atan", decimalArcTangent},
        {"acsc", decimalArcCosecant},
        {"asec", decimalArcSecant},
        {"acot", decimalArcCotangent},
        {"sinh", decimalHyperbolicSine},
        {"cosh", decimalHyperbolicCosine},
        {"tanh", decimalHyperbolicTangent},
        {"csch", decimalHyperbolicCosecant},
        {"sech", decimalHyperbolicSecant},
        {"coth", decimalHyperbolicCotangent},
        {"asinh", decimalInverseHyperbolicSine},
        {"acosh", decimalInverseHyperbolicCosine},
        {"atanh", decimalInverseHyperbolicTangent},
        {"acsch", decimalInverseHyperbolicCosecant},
        {"asech", decimalInverseHyperbolicSecant},
        {"acoth", decimalInverseHyperbolicCotangent},
        {"power(x,x)", [](const ZQDecimal& x) { return decimalPower(x, x); }},
        {"power(1.0000001,x)",
         [](const ZQDecimal& x) { return decimalPower(*ZQDecimal::fromString("1.0000001"), x); }},
        {"lshift(1,x)", [](const ZQDecimal& x) { return decimalShiftLeft(decimalOne(), x); }},
        {"rshift(x,1000)", [](const ZQDecimal& x) { return decimalShiftRight(x, decimalFromInteger(1000)); }},
        {"mod(x,7e-128)",
         [](const ZQDecimal& x) { return decimalModulo(x, *ZQDecimal::fromString("7e-128")); }},
    };
    return routines;
}

const std::vector<ZQDecimal>& extremeArguments()
{
    static const std::vector<ZQDecimal> values = [] {
        std::vector<ZQDecimal> v;
        for (const char* text : {"9.9999999999999999999999999999999999999e164",
                                 "-9.9999999999999999999999999999999999999e164",
                                 "1e-128",
                                 "-1e-128",
                                 "0.99999999999999999999999999999999999999",
                                 "1.0000000000000000000000000000000000001",
                                 "1",
                                 "-1",
                                 "0",
                                 "1000",
                                 "103",
                                 "1100",
                                 "3.1415926535897932384626433832795028842",
                                 "1.5707963267948966192313216916397514421",
                                 "123456789012345678901234567890.12345678",
                                 "379.99",
                                 "-379.99",
                                 "1e35",
                                 "1e36",
                                 "0.2",
                                 "0.5",
                                 "44.9"})
            v.push_back(*ZQDecimal::fromString(text));
        v.push_back(ZQDecimal::notANumber());
        return v;
    }();
    return values;
}

void ExtremeArguments(benchmark::State& state)
{
    const auto& [name, routine] = allRoutines()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(name);
    // Each argument's fastest call over the repetitions (so that a
    // preemption does not count), and the slowest argument of those.
    const auto& arguments = extremeArguments();
    std::vector<double> best(arguments.size(), 1e300);
    for (auto _ : state) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(routine(arguments[i]));
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
            best[i] = std::min(best[i], us);
        }
    }
    state.counters["slowest_call_us"] = *std::max_element(best.begin(), best.end());
    state.counters["arguments"] = static_cast<double>(extremeArguments().size());
}

BENCHMARK(ExtremeArguments)->DenseRange(0, 32)->Unit(benchmark::kMicrosecond);

} // namespace
