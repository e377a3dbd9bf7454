// The decimal math routines against true values (DecimalMathCases.py), their
// stated edge cases, and the faults of their textbook forms: remainders
// larger than the divisor, sines far outside [-1, 1], wrong roots, short
// series, unbounded loops.
#include "calculator/ZQDecimalMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

ZQDecimal dec(const std::string& text)
{
    auto value = ZQDecimal::fromString(text);
    if (!value)
        ADD_FAILURE() << "not a number: " << text;
    return value.value_or(ZQDecimal::notANumber());
}

using Unary = std::function<ZQDecimal(const ZQDecimal&)>;

const std::map<std::string, Unary>& unaryRoutines()
{
    static const std::map<std::string, Unary> routines = {{"sqrt", decimalSquareRoot},
                                                          {"exp", decimalExponential},
                                                          {"ln", decimalNaturalLogarithm},
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
                                                          {"acoth", decimalInverseHyperbolicCotangent}};
    return routines;
}

ZQDecimal absDiff(const ZQDecimal& a, const ZQDecimal& b)
{
    return decimalAbsolute(decimalSubtract(a, b));
}

// |got - want| <= relative * |want| + absolute.
bool near(const ZQDecimal& got, const ZQDecimal& want, const ZQDecimal& relative, const ZQDecimal& absolute)
{
    const ZQDecimal allowed = decimalAdd(decimalMultiply(relative, decimalAbsolute(want)), absolute);
    return !got.isNaN() && ZQDecimalCompare(absDiff(got, want), allowed) != ZQComparisonResult::Descending;
}

TEST(ZQDecimalMath, EveryRoutineIsAccurateToItsStatedTolerance)
{
    const char* root = std::getenv("QUILLARY_TEST_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/tests/calculator/DecimalMathCases.tsv");
    std::map<std::string, double> worst; // largest relative error seen, per routine
    int rows = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name, x, y, want, relative, absolute;
        std::getline(fields, name, '\t');
        std::getline(fields, x, '\t');
        std::getline(fields, y, '\t');
        std::getline(fields, want, '\t');
        std::getline(fields, relative, '\t');
        std::getline(fields, absolute, '\t');
        const ZQDecimal got =
            name == "power" ? decimalPower(dec(x), dec(y)) : unaryRoutines().at(name)(dec(x));
        const ZQDecimal expected = dec(want);
        EXPECT_TRUE(near(got, expected, dec(relative), dec(absolute)))
            << name << "(" << x << (y.empty() ? "" : ", " + y) << ") = " << got.toString() << ", want "
            << want;
        if (!expected.isZero() && !got.isNaN()) {
            const double error = decimalDivide(absDiff(got, expected), decimalAbsolute(expected)).toDouble();
            worst[name] = std::max(worst[name], error);
        }
        ++rows;
    }
    EXPECT_GT(rows, 700);
    for (const auto& [name, error] : worst)
        std::cout << "largest relative error of " << name << ": " << error << "\n";
}

TEST(ZQDecimalMath, ConstantsAgreeWithTheDoubleConstants)
{
    const std::pair<ZQDecimal (*)(), double> constants[] = {{decimalPi, M_PI},
                                                            {decimalTwoPi, 2 * M_PI},
                                                            {decimalHalfPi, M_PI_2},
                                                            {decimalQuarterPi, M_PI_4},
                                                            {decimalE, M_E},
                                                            {decimalSqrtTwo, M_SQRT2},
                                                            {decimalLog2E, M_LOG2E},
                                                            {decimalLog10E, M_LOG10E},
                                                            {decimalLn2, M_LN2},
                                                            {decimalLn10, M_LN10},
                                                            {decimalGoldenRatio, (1 + std::sqrt(5.0)) / 2}};
    for (const auto& [constant, value] : constants) {
        EXPECT_EQ(constant().toDouble(), value) << constant().toString();
        EXPECT_GE(constant().mantissa(), dec("1e37").mantissa())
            << "not held to 38 digits: " << constant().toString();
    }
    EXPECT_EQ(decimalEpsilon(), dec("1e-64"));
    EXPECT_TRUE(decimalNaN().isNaN());
}

TEST(ZQDecimalMath, SmallOperationsKeepTheirStatedResults)
{
    const std::tuple<std::string, std::string, ZQDecimal (*)(const ZQDecimal&, const ZQDecimal&), std::string>
        cases[] = {{"-7", "3", decimalModulo, "2"},     {"7", "-3", decimalModulo, "-2"},
                   {"7.5", "2", decimalModulo, "1.5"},  {"2", "10", decimalPower, "1024"},
                   {"2", "-1", decimalPower, "0.5"},    {"NaN", "0", decimalPower, "1"},
                   {"3", "2", decimalShiftLeft, "12"},  {"5", "1", decimalShiftRight, "2.5"},
                   {"1", "1", decimalShiftRight, "0"},  {"-3", "1", decimalShiftLeft, "0"},
                   {"12", "-2", decimalShiftLeft, "3"}, {"12", "2.9", decimalShiftLeft, "48"},
                   {"1", "2", decimalMean, "1.5"},      {"1e-128", "0", decimalMean, "0"}};
    for (const auto& [a, b, routine, want] : cases)
        EXPECT_EQ(routine(dec(a), dec(b)), dec(want)) << a << ", " << b;
    EXPECT_EQ(decimalFactorial(dec("5")), dec("120"));
    EXPECT_EQ(decimalFactorial(dec("-3")), dec("6"));
    EXPECT_EQ(decimalFactorial(dec("25")), dec("15511210043330985984000000"));
    EXPECT_EQ(decimalFactorial(dec("0.5")), decimalFromDouble(std::tgamma(1.5)));
    EXPECT_EQ(decimalSquareRoot(dec("16")), dec("4"));
    EXPECT_TRUE(decimalIsClose(decimalSquareRoot(dec("2")), decimalSqrtTwo()));
    EXPECT_EQ(decimalArcSine(dec("1")), decimalHalfPi());
    EXPECT_EQ(decimalArcSine(dec("-1")), dec("-" + decimalHalfPi().toString()));
    EXPECT_TRUE(decimalIsInteger(dec("1e100")));
    EXPECT_FALSE(decimalIsInteger(dec("-1.5")));
    EXPECT_FALSE(decimalIsNegative(decimalNaN()));
    EXPECT_TRUE(near(decimalSine(decimalDivide(decimalPi(), dec("6"))), dec("0.5"), dec("1e-37"), dec("0")));
    EXPECT_TRUE(
        decimalIsClose(decimalSine(decimalAdd(dec("1.25"), decimalTwoPi())), decimalSine(dec("1.25"))) ||
        near(decimalSine(decimalAdd(dec("1.25"), decimalTwoPi())), decimalSine(dec("1.25")), dec("1e-36"),
             dec("0")));
}

TEST(ZQDecimalMath, OutOfDomainArgumentsAreNaN)
{
    const std::pair<Unary, std::string> cases[] = {{decimalArcSine, "2"},
                                                   {decimalArcCosine, "-1.0000001"},
                                                   {decimalInverseHyperbolicTangent, "1.5"},
                                                   {decimalInverseHyperbolicTangent, "1"},
                                                   {decimalInverseHyperbolicTangent, "-1"},
                                                   {decimalInverseHyperbolicCosine, "0.5"},
                                                   {decimalNaturalLogarithm, "0"},
                                                   {decimalNaturalLogarithm, "-1"},
                                                   {decimalSquareRoot, "-4"},
                                                   {decimalTangent, decimalHalfPi().toString()},
                                                   {decimalCotangent, "0"},
                                                   {decimalHyperbolicCosine, "1000"},
                                                   {decimalExponential, "400.5"}};
    for (const auto& [routine, argument] : cases)
        EXPECT_TRUE(routine(dec(argument)).isNaN()) << argument;
    EXPECT_TRUE(decimalPower(dec("-8"), dec("0.5")).isNaN());
    EXPECT_TRUE(decimalPower(dec("0"), dec("-1")).isNaN());
    EXPECT_EQ(decimalExponential(dec("-1000")), dec("0"));
}

TEST(ZQDecimalMath, NaNArgumentGivesNaNEverywhere)
{
    const ZQDecimal nan = decimalNaN();
    for (const auto& [name, routine] : unaryRoutines())
        EXPECT_TRUE(routine(nan).isNaN()) << name;
    for (auto routine : {decimalFactorial, decimalReciprocal, decimalAbsolute, decimalReduceAngle})
        EXPECT_TRUE(routine(nan).isNaN());
    for (auto routine : {decimalModulo, decimalShiftLeft, decimalShiftRight, decimalPower, decimalMean}) {
        EXPECT_TRUE(routine(nan, dec("2")).isNaN());
        EXPECT_TRUE(routine(dec("2"), nan).isNaN());
    }
}

TEST(ZQDecimalMath, ModuloRemainderNeverExceedsTheDivisor)
{
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"1e40", "7", "4"},
        {"1e50", "3", "1"},
        {"12345678901234567890123456789012345678", "7", "2"},
        {"-1e40", "7", "3"},
        {"1e160", "0.7", "0.5"},
        {"9.9e164", "1e-128", "0"},
        {"5e-100", "1e100", "5e-100"}};
    for (const auto& [a, b, want] : cases)
        EXPECT_EQ(decimalModulo(dec(a), dec(b)), dec(want)) << a << " mod " << b;
    EXPECT_TRUE(decimalModulo(dec("5"), dec("0")).isNaN());
}

TEST(ZQDecimalMath, SineAndCosineStayWithinOneForHugeArguments)
{
    for (const char* x :
         {"1e39", "1e40", "1e100", "-1e164", "1e37", "123456789012345678901234567890123456789"}) {
        for (Unary routine : {Unary(decimalSine), Unary(decimalCosine)}) {
            const ZQDecimal value = routine(dec(x));
            ASSERT_FALSE(value.isNaN()) << x;
            EXPECT_NE(ZQDecimalCompare(decimalAbsolute(value), dec("1")), ZQComparisonResult::Descending)
                << x;
        }
    }
    // Below the reduction limit the digits are true ones (sin(1e35) from mpmath).
    EXPECT_TRUE(near(decimalSine(dec("1e35")), dec("0.9575238006716051573380273119181830831"), dec("1e-30"),
                     dec("0")));
}

TEST(ZQDecimalMath, SquareRootIsRightForLargeSmallZeroAndNegative)
{
    EXPECT_EQ(decimalSquareRoot(dec("0")), dec("0"));
    EXPECT_TRUE(decimalSquareRoot(dec("-4")).isNaN());
    EXPECT_EQ(decimalSquareRoot(dec("1e-30")), dec("1e-15"));
    EXPECT_EQ(decimalSquareRoot(dec("1e-128")), dec("1e-64"));
    EXPECT_TRUE(near(decimalSquareRoot(dec("123456789012345678901234567890")),
                     dec("351364182882014.42531112223816981261183"), dec("1e-36"), dec("0")));
    // atan leans on the root in its half-angle steps.
    EXPECT_TRUE(near(decimalArcTangent(dec("1e20")), decimalHalfPi(), dec("1e-19"), dec("0")));
}

TEST(ZQDecimalMath, SeriesHaveRangeReductionAndEnoughTerms)
{
    // Values the short, unreduced series got wrong in the first few digits.
    const std::tuple<Unary, std::string, std::string> cases[] = {
        {decimalArcTangent, "1", "0.78539816339744830961566084581987572105"},
        {decimalArcCosine, "0.7", "0.79539883018414355549096833892476432854"},
        {decimalHyperbolicCosine, "10", "11013.232920103323139721376090437879963"},
        {decimalHyperbolicTangent, "10", "0.99999999587769276361959283713827574105"},
        {decimalHyperbolicSine, "100", "1.3440585709080677242063127757900067937E+43"},
        {decimalInverseHyperbolicSine, "2", "1.4436354751788103424932767402731052694"},
        {decimalInverseHyperbolicTangent, "0.9", "1.4722194895832202300045137159439267686"}};
    for (const auto& [routine, x, want] : cases)
        EXPECT_TRUE(near(routine(dec(x)), dec(want), dec("1e-36"), dec("0")))
            << x << " gives " << routine(dec(x)).toString();
    EXPECT_NE(ZQDecimalCompare(decimalHyperbolicTangent(dec("10")), dec("1")),
              ZQComparisonResult::Descending);
}

TEST(ZQDecimalMath, ShiftsWithHugeCountsAnswerAtOnce)
{
    EXPECT_TRUE(decimalShiftLeft(dec("1"), dec("1e9")).isNaN());
    EXPECT_TRUE(decimalShiftLeft(dec("1"), dec("600")).isNaN()); // overflows: not 0
    EXPECT_EQ(decimalShiftLeft(dec("0"), dec("1e9")), dec("0"));
    EXPECT_EQ(decimalShiftRight(dec("1e100"), dec("1e40")), dec("0"));
    EXPECT_EQ(decimalShiftRight(dec("1"), dec("-1e40")), decimalNaN());
    EXPECT_EQ(decimalShiftLeft(dec("1"), dec("100")), dec("1267650600228229401496703205376"));
}

TEST(ZQDecimalMath, FactorialOfHugeWholeNumbersFinishes)
{
    EXPECT_TRUE(decimalFactorial(dec("1e40")).isNaN());
    EXPECT_TRUE(decimalFactorial(dec("104")).isNaN());
    EXPECT_FALSE(decimalFactorial(dec("103")).isNaN());
}

// Every routine on the arguments that cost most. A runaway loop shows as the
// test's time-out; the timings themselves are measured by the benchmarks.
TEST(ZQDecimalMath, ExtremeArgumentsFinish)
{
    const char* arguments[] = {"9.9999999999999999999999999999999999999e164",
                               "-9.9999999999999999999999999999999999999e164",
                               "1e-128",
                               "-1e-128",
                               "0.99999999999999999999999999999999999999",
                               "1",
                               "-1",
                               "0",
                               "1.5707963267948966192313216916397514421",
                               "379.99",
                               "123456789.98765432123456789"};
    for (const char* x : arguments)
        for (const auto& [name, routine] : unaryRoutines())
            (void)routine(dec(x));
}

} // namespace
