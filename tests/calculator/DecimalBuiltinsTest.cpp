// The evaluator with high precision on: each replaced built-in against true
// values (DecimalBuiltinCases.py) and against the double evaluator on the
// same text, the kinds of the answers, and the faults of the plain loops.
#include "calculator/ZQDecimalMath.h"
#include "calculator/ZQFunctionEvaluator.h"
#include "calculator/ZQMathEvaluator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

ZQDecimal dec(const std::string& text)
{
    return ZQDecimal::fromString(text).value_or(ZQDecimal::notANumber());
}

std::unique_ptr<ZQMathEvaluator> makeEvaluator(bool highPrecision, bool degrees = false)
{
    auto evaluator = std::make_unique<ZQMathEvaluator>();
    evaluator->setUsesHighPrecisionEvaluation(highPrecision);
    if (degrees)
        evaluator->setAngleMeasurementMode(ZQAngleMeasurementMode::Degrees);
    return evaluator;
}

std::optional<ZQNumber> run(ZQMathEvaluator& evaluator, const std::string& text,
                            std::optional<ZQError>* error = nullptr)
{
    std::optional<ZQError> local;
    auto result = evaluator.evaluateString(text, nullptr, error ? error : &local);
    return result;
}

ZQDecimal absoluteError(const ZQDecimal& got, const ZQDecimal& want)
{
    return decimalAbsolute(decimalSubtract(got, want));
}

TEST(PrecisionFunctionEvaluator, EveryReplacedBuiltinIsAccurateAndBeatsDoubles)
{
    const char* root = std::getenv("QUILLARY_TEST_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/tests/calculator/DecimalBuiltinCases.tsv");
    auto radians = makeEvaluator(true), degrees = makeEvaluator(true, true);
    auto doubleRadians = makeEvaluator(false), doubleDegrees = makeEvaluator(false, true);
    int rows = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string text, mode, want, relative, absolute;
        for (std::string* field : {&text, &mode, &want, &relative, &absolute})
            std::getline(fields, *field, '\t');
        const bool inDegrees = mode == "deg";
        const auto got = run(inDegrees ? *degrees : *radians, text);
        ASSERT_TRUE(got) << text;
        EXPECT_EQ(got->kind(), ZQNumber::Kind::Decimal) << text;
        const ZQDecimal expected = dec(want);
        const ZQDecimal error = absoluteError(got->decimalValue(), expected);
        const ZQDecimal allowed =
            decimalAdd(decimalMultiply(dec(relative), decimalAbsolute(expected)), dec(absolute));
        EXPECT_NE(ZQDecimalCompare(error, allowed), ZQComparisonResult::Descending)
            << text << " (" << mode << ") = " << got->decimalValue().toString() << ", want " << want;
        // Never less accurate than the double evaluator on the same text.
        const auto plain = run(inDegrees ? *doubleDegrees : *doubleRadians, text);
        ASSERT_TRUE(plain) << text;
        const ZQDecimal plainError = absoluteError(ZQDecimal::fromDouble(plain->doubleValue()), expected);
        EXPECT_NE(ZQDecimalCompare(error, decimalAdd(plainError, dec("1e-38"))),
                  ZQComparisonResult::Descending)
            << text << ": decimal error " << error.toString() << ", double error " << plainError.toString();
        ++rows;
    }
    EXPECT_GT(rows, 100);
}

TEST(PrecisionFunctionEvaluator, StatedResultsAndKinds)
{
    auto h = makeEvaluator(true);
    const std::pair<const char*, const char*> exact[] = {{"0.1 + 0.2", "0.3"},
                                                         {"mod(-7, 3)", "2"},
                                                         {"abs(-2.5)", "2.5"},
                                                         {"ceil(-1.5)", "-1"},
                                                         {"floor(-1.5)", "-2"},
                                                         {"5!", "120"},
                                                         {"rshift(5, 1)", "2.5"},
                                                         {"rshift(1, 1)", "0"},
                                                         {"lshift(3, 2)", "12"},
                                                         {"median(1, 2, 3, 4)", "2.5"},
                                                         {"stddev(2, 4, 4, 4, 5, 5, 7, 9)", "2"},
                                                         {"crd(pi())", "2"},
                                                         {"haversin(pi())", "1"},
                                                         {"factorial(0)", "1"},
                                                         {"count(1, 2, 3)", "3"}};
    for (const auto& [text, want] : exact) {
        const auto got = run(*h, text);
        ASSERT_TRUE(got) << text;
        EXPECT_EQ(got->decimalValue(), dec(want)) << text << " = " << got->decimalValue().toString();
    }
    EXPECT_EQ(run(*h, "5!")->kind(), ZQNumber::Kind::Decimal);
    const auto negative = run(*h, "(-3)!");
    EXPECT_EQ(negative->kind(), ZQNumber::Kind::Double);
    EXPECT_TRUE(std::isnan(negative->doubleValue()));
    EXPECT_EQ(run(*h, "0.5!")->kind(), ZQNumber::Kind::Double);
    EXPECT_EQ(run(*h, "0.5!")->doubleValue(), std::tgamma(1.5));
    EXPECT_EQ(run(*h, "log(100)")->kind(), ZQNumber::Kind::Double);
    EXPECT_EQ(run(*h, "log(100)")->doubleValue(), 2.0);
    // Odd-count median answers the middle argument's own number.
    EXPECT_EQ(run(*h, "median(3, 1.5, 2)")->decimalValue(), dec("2"));
    auto hg = makeEvaluator(true, true);
    EXPECT_EQ(run(*hg, "acsc(2)")->decimalValue().toDouble(), 30.0);
    EXPECT_EQ(run(*hg, "sin(30)")->decimalValue(), dec("0.5"));
}

TEST(PrecisionFunctionEvaluator, InheritedBuiltinsAndErrorsMatchDoublePrecision)
{
    auto h = makeEvaluator(true), d = makeEvaluator(false);
    for (const char* text :
         {"max(0.1, 0.2)", "min(3, 2)", "0.1 < 0.2", "and(6, 3)", "xor(6, 3)", "l_eq(1, 1)"})
        EXPECT_EQ(run(*h, text)->compare(*run(*d, text)), 0) << text;
    // Wrong argument counts fail alike, with the operation's own name.
    for (const char* text :
         {"sqrt(1, 2)", "mod(1)", "average(1)", "sum()", "pi(1)", "sin()", "haversin(1, 2)", "median(1)",
          "stddev(1)", "factorial(1, 2)", "acotanh()", "percent()", "dtor(1, 2)"}) {
        std::optional<ZQError> hError, dError;
        EXPECT_FALSE(run(*h, text, &hError)) << text;
        run(*d, text, &dError);
        ASSERT_TRUE(hError && dError) << text;
        EXPECT_EQ(hError->code, static_cast<int>(ZQErrorCode::InvalidArgumentCount)) << text;
        EXPECT_EQ(hError->message, dError->message) << text;
    }
}

TEST(PrecisionFunctionEvaluator, SwitchingBackRestoresDoubles)
{
    auto evaluator = makeEvaluator(true);
    EXPECT_EQ(run(*evaluator, "0.1 + 0.2")->decimalValue(), dec("0.3"));
    evaluator->setUsesHighPrecisionEvaluation(false);
    EXPECT_EQ(run(*evaluator, "0.1 + 0.2")->doubleValue(), 0.1 + 0.2);
}

TEST(PrecisionFunctionEvaluator, FactorialOfHugeWholeNumberFinishes)
{
    auto h = makeEvaluator(true);
    for (const char* text : {"factorial(1e40)", "factorial(1e9)", "factorial(104)"})
        EXPECT_TRUE(run(*h, text)->isNaN()) << text;
    EXPECT_EQ(run(*h, "factorial(30)")->decimalValue(), dec("265252859812191058636308480000000"));
}

TEST(PrecisionFunctionEvaluator, MendedRoutineFaultsThroughTheStringEntry)
{
    auto h = makeEvaluator(true);
    EXPECT_EQ(run(*h, "sqrt(0)")->decimalValue(), dec("0"));
    EXPECT_EQ(run(*h, "stddev(5, 5)")->decimalValue(), dec("0"));
    EXPECT_TRUE(run(*h, "sqrt(-4)")->isNaN());
    EXPECT_EQ(run(*h, "mod(1e40, 7)")->decimalValue(), dec("4"));
    EXPECT_TRUE(run(*h, "atanh(1)")->isNaN());
    const ZQDecimal sine = run(*h, "sin(1e40)")->decimalValue();
    EXPECT_NE(ZQDecimalCompare(decimalAbsolute(sine), dec("1")), ZQComparisonResult::Descending)
        << sine.toString();
    EXPECT_NE(ZQDecimalCompare(run(*h, "tanh(10)")->decimalValue(), dec("1")),
              ZQComparisonResult::Descending);
    EXPECT_FALSE(run(*h, "asinh(2)")->isNaN());
    EXPECT_TRUE(run(*h, "lshift(1, 1e9)")->isNaN());
}

} // namespace
