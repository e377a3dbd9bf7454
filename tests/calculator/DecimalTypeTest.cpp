// The 38-digit decimal type against a table of answers from an independent
// implementation of the same arithmetic (DecimalCases.py), and the checks
// that table cannot express.
#include "calculator/ZQDecimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

ZQDecimal dec(const std::string& text)
{
    auto value = ZQDecimal::fromString(text);
    if (!value)
        ADD_FAILURE() << "not a number: " << text;
    return value.value_or(ZQDecimal::notANumber());
}

const std::map<std::string, ZQRoundingMode> kModes = {{"Bankers", ZQRoundingMode::Bankers},
                                                      {"Plain", ZQRoundingMode::Plain},
                                                      {"Down", ZQRoundingMode::Down},
                                                      {"Up", ZQRoundingMode::Up}};
const std::map<std::string, ZQCalculationError> kErrors = {
    {"NoError", ZQCalculationError::NoError},
    {"LossOfPrecision", ZQCalculationError::LossOfPrecision},
    {"Underflow", ZQCalculationError::Underflow},
    {"Overflow", ZQCalculationError::Overflow},
    {"DivideByZero", ZQCalculationError::DivideByZero}};

struct Case
{
    std::string op, a, b, mode, expected, error;
};

std::vector<Case> loadCases()
{
    const char* root = std::getenv("QUILLARY_TEST_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/tests/calculator/DecimalCases.tsv");
    std::vector<Case> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Case c;
        std::getline(fields, c.op, '\t');
        std::getline(fields, c.a, '\t');
        std::getline(fields, c.b, '\t');
        std::getline(fields, c.mode, '\t');
        std::getline(fields, c.expected, '\t');
        std::getline(fields, c.error, '\t');
        cases.push_back(c);
    }
    return cases;
}

// Runs one row; answers the value and error as text, in the table's terms.
std::string run(const Case& c, ZQCalculationError* error)
{
    *error = ZQCalculationError::NoError;
    const ZQRoundingMode mode = kModes.at(c.mode);
    ZQDecimal r;
    if (c.op == "add")
        *error = ZQDecimalAdd(&r, dec(c.a), dec(c.b), mode);
    else if (c.op == "subtract")
        *error = ZQDecimalSubtract(&r, dec(c.a), dec(c.b), mode);
    else if (c.op == "multiply")
        *error = ZQDecimalMultiply(&r, dec(c.a), dec(c.b), mode);
    else if (c.op == "divide")
        *error = ZQDecimalDivide(&r, dec(c.a), dec(c.b), mode);
    else if (c.op == "remainder")
        *error = ZQDecimalRemainder(&r, dec(c.a), dec(c.b));
    else if (c.op == "power")
        *error = ZQDecimalPower(&r, dec(c.a), std::stoull(c.b), mode);
    else if (c.op == "round")
        *error = ZQDecimalRound(&r, dec(c.a), std::stoi(c.b), mode);
    else if (c.op == "compare")
        return std::to_string(static_cast<int>(ZQDecimalCompare(dec(c.a), dec(c.b))));
    else if (c.op == "parse")
        r = ZQDecimal::fromString(c.a, error).value_or(ZQDecimal::zero());
    else if (c.op == "fromDouble")
        r = ZQDecimal::fromDouble(std::strtod(c.a.c_str(), nullptr));
    else if (c.op == "toDouble") {
        const double got = dec(c.a).toDouble();
        return got == std::strtod(c.expected.c_str(), nullptr) ? c.expected : std::to_string(got);
    }
    // Values compare by representation: equal values must also be spelled alike.
    return r == dec(c.expected) ? c.expected : r.toString();
}

TEST(ZQDecimal, AgreesWithReferenceArithmeticOnGeneratedTable)
{
    const std::vector<Case> cases = loadCases();
    ASSERT_GT(cases.size(), 4000u);
    int failures = 0;
    for (const Case& c : cases) {
        ZQCalculationError error;
        const std::string got = run(c, &error);
        const bool errorMatters = c.op != "compare" && c.op != "toDouble" && c.op != "fromDouble";
        if (got != c.expected || (errorMatters && error != kErrors.at(c.error))) {
            if (++failures <= 25)
                ADD_FAILURE() << c.op << "(" << c.a << ", " << c.b << ", " << c.mode << ") = " << got
                              << " error " << static_cast<int>(error) << "; expected " << c.expected << " "
                              << c.error;
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(ZQDecimal, PrintsPlainNotation)
{
    const std::pair<std::string, std::string> cases[] = {{"0", "0"},
                                                         {"-0", "0"},
                                                         {"-0.00125", "-0.00125"},
                                                         {"1200", "1200"},
                                                         {"1.5e3", "1500"},
                                                         {"000.5000", "0.5"},
                                                         {"1E-5", "0.00001"},
                                                         {"-123.456", "-123.456"},
                                                         {"NaN", "NaN"},
                                                         {"1e127", "1" + std::string(127, '0')},
                                                         {"1e-128", "0." + std::string(127, '0') + "1"}};
    for (const auto& [text, printed] : cases)
        EXPECT_EQ(dec(text).toString(), printed) << text;
    // Values that need a padded mantissa above the largest exponent.
    EXPECT_EQ(dec("1e164").toString(), "1" + std::string(164, '0'));
    EXPECT_EQ(dec("1e164").exponent(), 127);
}

TEST(ZQDecimal, RefusesTextThatIsNoNumber)
{
    for (const char* text :
         {"", ".", "-", "e5", "1e", "1e+", "1.2.3", "1 ", " 1", "0x10", "1e5x", "--1", "inf", "nan", "1,5"})
        EXPECT_FALSE(ZQDecimal::fromString(text).has_value()) << text;
    for (const char* text : {".5", "5.", "+5", "-0.0", "1E+3", "1e-3"})
        EXPECT_TRUE(ZQDecimal::fromString(text).has_value()) << text;
}

TEST(ZQDecimal, ReportsExponentsOutOfRangeInsteadOfZero)
{
    ZQCalculationError error;
    EXPECT_TRUE(ZQDecimal::fromString("1e400", &error)->isNaN());
    EXPECT_EQ(error, ZQCalculationError::Overflow);
    EXPECT_TRUE(ZQDecimal::fromString("1e99999999999999999999", &error)->isNaN());
    EXPECT_EQ(error, ZQCalculationError::Overflow);
    EXPECT_TRUE(ZQDecimal::fromString("1e-400", &error)->isZero());
    EXPECT_EQ(error, ZQCalculationError::Underflow);
    EXPECT_TRUE(ZQDecimal::fromString("0e99999", &error)->isZero());
    EXPECT_EQ(error, ZQCalculationError::NoError);
    // A long literal keeps its magnitude while its extra digits round away.
    EXPECT_EQ(ZQDecimal::fromString(std::string(150, '7'), &error)->exponent(), 150 - 38);
    EXPECT_EQ(error, ZQCalculationError::LossOfPrecision);
}

TEST(ZQDecimal, ConvertsIntegersAndDoubles)
{
    EXPECT_EQ(ZQDecimal::fromInt64(INT64_MIN).toString(), "-9223372036854775808");
    EXPECT_EQ(ZQDecimal::fromUInt64(UINT64_MAX).toString(), "18446744073709551615");
    EXPECT_EQ(ZQDecimal::fromDouble(0.1).toString(), "0.1");
    EXPECT_EQ(dec("0.1").toDouble(), 0.1);
    EXPECT_TRUE(ZQDecimal::fromDouble(INFINITY).isNaN());
    EXPECT_TRUE(ZQDecimal::fromDouble(NAN).isNaN());
    EXPECT_TRUE(ZQDecimal::fromDouble(1e300).isNaN());
    EXPECT_TRUE(ZQDecimal::fromDouble(1e-300).isZero());
    EXPECT_TRUE(std::isnan(ZQDecimal::notANumber().toDouble()));

    const std::tuple<const char*, std::int64_t, std::uint64_t> integers[] = {
        {"-2.9", -2, 0},
        {"2.9", 2, 2},
        {"NaN", 0, 0},
        {"1e30", INT64_MAX, UINT64_MAX},
        {"-1e30", INT64_MIN, 0},
        {"9223372036854775807.9", INT64_MAX, 9223372036854775807ULL},
        {"18446744073709551616", INT64_MAX, UINT64_MAX},
        {"1e-100", 0, 0},
        {"123e2", 12300, 12300}};
    for (const auto& [text, signedValue, unsignedValue] : integers) {
        EXPECT_EQ(dec(text).toInt64(), signedValue) << text;
        EXPECT_EQ(dec(text).toUInt64(), unsignedValue) << text;
    }
}

TEST(ZQDecimal, NaNPropagatesAndOrdersBelowEveryNumber)
{
    const ZQDecimal nan = ZQDecimal::notANumber();
    ZQDecimal r;
    EXPECT_EQ(ZQDecimalAdd(&r, nan, dec("1"), ZQRoundingMode::Bankers), ZQCalculationError::NoError);
    EXPECT_TRUE(r.isNaN());
    ZQDecimalDivide(&r, dec("1"), nan, ZQRoundingMode::Bankers);
    EXPECT_TRUE(r.isNaN());
    ZQDecimalPower(&r, nan, 0, ZQRoundingMode::Bankers);
    EXPECT_EQ(r, dec("1"));
    ZQDecimalRound(&r, nan, 0, ZQRoundingMode::Up);
    EXPECT_TRUE(r.isNaN());
    EXPECT_EQ(ZQDecimalCompare(nan, nan), ZQComparisonResult::Same);
    EXPECT_EQ(ZQDecimalCompare(nan, dec("-1e100")), ZQComparisonResult::Ascending);
    EXPECT_EQ(ZQDecimalCompare(dec("-1e100"), nan), ZQComparisonResult::Descending);
}

TEST(ZQDecimal, EqualValuesHashAlike)
{
    EXPECT_EQ(dec("1.50").hash(), dec("1.5").hash());
    EXPECT_EQ(dec("0.0").hash(), dec("-0").hash());
    EXPECT_NE(dec("1.5").hash(), dec("-1.5").hash());
}

TEST(ZQDecimal, HugePowerCountsFinishAtOnce)
{
    ZQDecimal r;
    EXPECT_EQ(ZQDecimalPower(&r, dec("1.0000000001"), UINT64_MAX, ZQRoundingMode::Bankers),
              ZQCalculationError::Overflow);
    EXPECT_TRUE(r.isNaN());
    ZQDecimalPower(&r, dec("-1"), UINT64_MAX, ZQRoundingMode::Bankers);
    EXPECT_EQ(r, dec("-1"));
}

} // namespace
