// Whole-text evaluation through the calculator's string entry.
#include "CalcTestSupport.h"

#include "calculator/ZQFunctionEvaluator.h"

#include <map>
#include <set>
#include <vector>

namespace {

struct ValueCase
{
    const char* text;
    double expected;
};

class Values : public ::testing::TestWithParam<ValueCase>
{
};

TEST_P(Values, Evaluate)
{
    const ValueCase& c = GetParam();
    Outcome o = evaluate(c.text);
    ASSERT_TRUE(o.number) << c.text << ": " << (o.error ? o.error->message : "no error");
    EXPECT_TRUE(near(o.number->doubleValue(), c.expected)) << c.text;
}

const double Pi = 3.141592653589793;

// Every operator, each precedence level against its neighbours, and
// associativity.
INSTANTIATE_TEST_SUITE_P(
    Operators, Values,
    ::testing::Values(
        ValueCase{"1 || 0", 1}, ValueCase{"0 \u2228 0", 0}, ValueCase{"1 && 0", 0},
        ValueCase{"1 \u2227 2", 1}, ValueCase{"2 == 2", 1}, ValueCase{"2 = 3", 0}, ValueCase{"2 != 3", 1},
        ValueCase{"2 < 3", 1}, ValueCase{"2 > 3", 0}, ValueCase{"3 <= 3", 1}, ValueCase{"3 =< 2", 0},
        ValueCase{"3 \u2264 3", 1}, ValueCase{"3 \u226F 4", 1}, ValueCase{"3 >= 4", 0},
        ValueCase{"4 => 4", 1}, ValueCase{"4 \u2265 5", 0}, ValueCase{"4 \u226E 3", 1}, ValueCase{"!0", 1},
        ValueCase{"\u00AC1", 0}, ValueCase{"5 | 2", 7}, ValueCase{"6 ^ 3", 5}, ValueCase{"6 & 3", 2},
        ValueCase{"1 << 4", 16}, ValueCase{"-8 >> 1", -4}, ValueCase{"2 + 3", 5}, ValueCase{"2 - 3", -1},
        ValueCase{"2 \u2212 3", -1}, ValueCase{"2 * 3", 6}, ValueCase{"2 \u00D7 3", 6},
        ValueCase{"7 / 2", 3.5}, ValueCase{"7 \u00F7 2", 3.5}, ValueCase{"7 % 3", 1}, ValueCase{"~0", -1},
        ValueCase{"-3", -3}, ValueCase{"\u22123", -3}, ValueCase{"+3", 3}, ValueCase{"4!", 24},
        ValueCase{"180\u00B0", Pi}, ValueCase{"180\u00BA", Pi}, ValueCase{"2 ** 10", 1024},
        ValueCase{"(2 + 3) * 4", 20},
        // precedence between neighbouring levels
        ValueCase{"1 || 0 && 0", 1}, ValueCase{"0 && 1 == 1", 0}, ValueCase{"1 == 1 < 2", 1},
        ValueCase{"1 < 2 > 0", 0}, ValueCase{"2 > 1 <= 1", 1}, ValueCase{"1 <= 2 >= 1", 1},
        ValueCase{"!0 >= 1", 1}, ValueCase{"!0 | 2", 0}, ValueCase{"1 | 6 ^ 3", 5}, ValueCase{"6 ^ 3 & 1", 7},
        ValueCase{"3 & 1 << 1", 2}, ValueCase{"1 << 4 >> 2", 2}, ValueCase{"16 >> 1 + 1", 4},
        ValueCase{"1 + 2 * 3", 7}, ValueCase{"2 * 7 % 4", 6}, ValueCase{"~1 % 3", -2}, ValueCase{"-~0", 1},
        ValueCase{"-3!", -6}, ValueCase{"-2 ** 2", -4}, ValueCase{"2 ** -2", 0.25}, ValueCase{"2 * -3", -6},
        ValueCase{"- - 3", 3}, ValueCase{"3!!", 720}, ValueCase{"1 - 2 - 3", -4}, ValueCase{"8 / 4 / 2", 1},
        ValueCase{"1/2pi", Pi / 2}, ValueCase{"2 ** 3 ** 2 ** 0", 1}));

// Juxtaposition multiplies.
INSTANTIATE_TEST_SUITE_P(ImplicitMultiplication, Values,
                         ::testing::Values(ValueCase{"2pi", 2 * Pi}, ValueCase{"pi 2", 2 * Pi},
                                           ValueCase{"2(3)", 6}, ValueCase{"(2)(3)", 6}, ValueCase{"3!2", 12},
                                           ValueCase{"2 3", 6}, ValueCase{"2 sqrt(4)", 4},
                                           ValueCase{"2~0", -2}, ValueCase{"1.2.3", 0.36},
                                           ValueCase{"2e", 2 * 2.718281828459045}, ValueCase{".5 2", 1},
                                           ValueCase{"2(3)(4)", 24}, ValueCase{"(1+1)pi", 2 * Pi}));

// Numbers and the built-ins with their documented values.
INSTANTIATE_TEST_SUITE_P(
    Builtins, Values,
    ::testing::Values(
        ValueCase{"1.5e3", 1500}, ValueCase{"0x1F", 31}, ValueCase{"0x1f", 31}, ValueCase{"1e200", 1e200},
        ValueCase{"1e400", INFINITY}, ValueCase{"1e-400", 0}, ValueCase{"add(1, 2)", 3},
        ValueCase{"subtract(1, 2)", -1}, ValueCase{"multiply(2, 3)", 6}, ValueCase{"divide(1, 4)", 0.25},
        ValueCase{"mod(-7, 3)", -1}, ValueCase{"negate(2)", -2}, ValueCase{"factorial(5)", 120},
        ValueCase{"20!", 2432902008176640000.0}, ValueCase{"21!", 51090942171709440000.0}, ValueCase{"0!", 1},
        ValueCase{"3.5!", 11.631728396567448}, ValueCase{"pow(2, 0.5)", 1.4142135623730951},
        ValueCase{"nthroot(27, 3)", 3}, ValueCase{"and(12, 10)", 8}, ValueCase{"or(12, 10)", 14},
        ValueCase{"not(0)", -1}, ValueCase{"xor(12, 10)", 6}, ValueCase{"rshift(-8, 1)", -4},
        ValueCase{"lshift(1, 65)", 2}, ValueCase{"average(1, 2, 3, 4)", 2.5}, ValueCase{"sum(1)", 1},
        ValueCase{"count(1/0, $x)", 2}, ValueCase{"min(3, 1, 2)", 1}, ValueCase{"max(3, 1, 2)", 3},
        ValueCase{"median(1, 2, 3, 4)", 2.5}, ValueCase{"median(3, 1, 2)", 2},
        ValueCase{"stddev(2, 4, 4, 4, 5, 5, 7, 9)", 2}, ValueCase{"sqrt(16)", 4}, ValueCase{"sqrt(-1)", NAN},
        ValueCase{"log(1000)", 3}, ValueCase{"ln(e)", 1}, ValueCase{"ln(-1)", NAN},
        ValueCase{"ln(0)", -INFINITY}, ValueCase{"log2(8)", 3}, ValueCase{"exp(0)", 1},
        ValueCase{"ceil(-1.5)", -1}, ValueCase{"floor(-1.5)", -2}, ValueCase{"trunc(2.7)", 2},
        ValueCase{"1/0", INFINITY}, ValueCase{"percent(10)", 0.1}, ValueCase{"50 + percent(10)", 55},
        ValueCase{"50 - percent(10)", 45}, ValueCase{"50 * percent(10)", 5},
        ValueCase{"percent(10) + 50", 50.1}, ValueCase{"dtor(180)", Pi}, ValueCase{"rtod(pi)", 180},
        ValueCase{"sin(pi_2)", 1}, ValueCase{"cos(0)", 1}, ValueCase{"tan(pi_4)", 0.9999999999999999},
        ValueCase{"asin(1)", Pi / 2}, ValueCase{"acos(1)", 0}, ValueCase{"atan(1)", Pi / 4},
        ValueCase{"sinh(1)", std::sinh(1.0)}, ValueCase{"cosh(1)", std::cosh(1.0)},
        ValueCase{"tanh(1)", std::tanh(1.0)}, ValueCase{"asinh(1)", std::asinh(1.0)},
        ValueCase{"acosh(2)", std::acosh(2.0)}, ValueCase{"atanh(0.5)", std::atanh(0.5)},
        ValueCase{"csc(pi_2)", 1}, ValueCase{"sec(0)", 1}, ValueCase{"cotan(pi_4)", 1.0000000000000002},
        ValueCase{"csch(1)", 1 / std::sinh(1.0)}, ValueCase{"sech(1)", 1 / std::cosh(1.0)},
        ValueCase{"cotanh(1)", 1 / std::tanh(1.0)}, ValueCase{"versin(0)", 0}, ValueCase{"vercosin(0)", 2},
        ValueCase{"coversin(0)", 1}, ValueCase{"covercosin(0)", 1}, ValueCase{"haversin(pi)", 1},
        ValueCase{"havercosin(0)", 1}, ValueCase{"hacoversin(0)", 0.5}, ValueCase{"hacovercosin(0)", 0.5},
        ValueCase{"exsec(0)", 0}, ValueCase{"excsc(pi_2)", 0}, ValueCase{"crd(pi)", 2},
        ValueCase{"phi", 1.618033988749895}, ValueCase{"pi", Pi}, ValueCase{"pi_2", Pi / 2},
        ValueCase{"pi_4", Pi / 4}, ValueCase{"tau", 2 * Pi}, ValueCase{"sqrt2", 1.4142135623730951},
        ValueCase{"e", 2.718281828459045}, ValueCase{"log2e", 1.4426950408889634},
        ValueCase{"log10e", 0.4342944819032518}, ValueCase{"ln2", 0.6931471805599453},
        ValueCase{"ln10", 2.302585092994046}, ValueCase{"l_and(0, 1)", 0}, ValueCase{"l_or(0, 1)", 1},
        ValueCase{"l_not(0)", 1}, ValueCase{"l_eq(1, 1.0)", 1}, ValueCase{"l_neq(1, 2)", 1},
        ValueCase{"l_lt(1, 2)", 1}, ValueCase{"l_gt(1, 2)", 0}, ValueCase{"l_ltoe(2, 2)", 1},
        ValueCase{"l_gtoe(1, 2)", 0}, ValueCase{"SIN(0)", 0}, ValueCase{"\u03C0", Pi}, ValueCase{"tau_2", Pi},
        ValueCase{"\u03C4", 2 * Pi}, ValueCase{"\u03D5", 1.618033988749895}, ValueCase{"\u03A0", Pi},
        ValueCase{"AVG(1, 2, 3)", 2}, ValueCase{"mean(1, 2, 3)", 2}, ValueCase{"modulo(7, 4)", 3},
        ValueCase{"vers(0)", 0}, ValueCase{"ver(0)", 0}, ValueCase{"vercos(0)", 2}, ValueCase{"cvs(0)", 1},
        ValueCase{"chord(pi)", 2}, ValueCase{"sin(30\u00B0)", 0.49999999999999994}));

struct ErrorCase
{
    const char* text;
    int code;
    const char* message;
};

class Errors : public ::testing::TestWithParam<ErrorCase>
{
};

TEST_P(Errors, Fail)
{
    const ErrorCase& c = GetParam();
    Outcome o = evaluate(c.text);
    EXPECT_FALSE(o.number) << c.text;
    ASSERT_TRUE(o.error) << c.text;
    EXPECT_EQ(o.error->domain, "com.hollowmere.zqmathparser");
    EXPECT_EQ(o.error->code, c.code) << c.text;
    EXPECT_EQ(o.error->message, c.message) << c.text;
}

// Every code a user can reach by typing (6 and 18 need API use; see the
// other test file).
INSTANTIATE_TEST_SUITE_P(
    Codes, Errors,
    ::testing::Values(ErrorCase{"", 1, "Unable to create expression from term: ()"},
                      ErrorCase{"   \n", 1, "Unable to create expression from term: ()"},
                      ErrorCase{"f(, 1)", 1, "Unable to create expression from term: ()"},
                      ErrorCase{"()", 1, "Unable to create expression from term: ()"},
                      ErrorCase{"2 * ** 3", 1, "invalid format: (2pow(*,3))"},
                      ErrorCase{"#", 15, "unable to resolve function: #"},
                      ErrorCase{"$", 15, "unable to resolve function: $"},
                      ErrorCase{"'$'", 4, "variable names must be at least 1 character long"},
                      ErrorCase{"\"\"", 4, "variable names must be at least 1 character long"},
                      ErrorCase{"'abc", 15, "unable to resolve function: 'abc"},
                      ErrorCase{".", 15, "unable to resolve function: ."},
                      ErrorCase{"0x", 5, "unable to parse hex number"},
                      ErrorCase{"(1 + 2", 7, "imbalanced parentheses"},
                      ErrorCase{"sin(1", 7, "missing parentheses after function \"sin\""},
                      ErrorCase{"1, 2", 8, "unknown arity for operator: ,"},
                      ErrorCase{"* 2", 9, "no left operand to binary *"},
                      ErrorCase{"1 +", 10, "no right operand to binary +"},
                      ErrorCase{"3 -", 10, "no right operand to binary -"},
                      ErrorCase{"!", 12, "no right operand to unary !"},
                      ErrorCase{")", 11, "no left operand to unary )"},
                      ErrorCase{"2 + -", 12, "no right operand to unary -"},
                      ErrorCase{"1 + (2 *)", 10, "no right operand to binary *"},
                      ErrorCase{"** 3", 9, "no left operand to binary **"},
                      ErrorCase{"$x", 14, "unable to resolve variable: $x"},
                      ErrorCase{"foo(1)", 15, "unable to resolve function: foo"},
                      ErrorCase{"1)", 15, "unable to resolve function: close_paren"},
                      ErrorCase{"sin 30", 17, "sin:variables:error: requires 1 argument"},
                      ErrorCase{"sqrt(1, 2)", 17, "sqrt:variables:error: requires 1 argument"},
                      ErrorCase{"pi(1)", 17, "pi:variables:error: requires 0 arguments"},
                      ErrorCase{"max(3)", 17, "max:variables:error: requires at least 2 arguments"},
                      ErrorCase{"sum()", 17, "sum:variables:error: requires at least 1 argument"},
                      ErrorCase{"average(1)", 17, "average:variables:error: requires at least 2 arguments"},
                      ErrorCase{"random(1, 2, 3)", 17, "random() may only have up to 2 arguments"},
                      ErrorCase{"and(1)", 17, "and:variables:error: requires 2 arguments"},
                      ErrorCase{"avg(1)", 17, "average:variables:error: requires at least 2 arguments"}));

TEST(StringEntry, ErrorsCarryTheNameOfTheUnresolvedFunctionOrVariable)
{
    Outcome f = evaluate("foo(1)");
    ASSERT_TRUE(f.error);
    EXPECT_EQ(f.error->function, std::optional<std::string>("foo"));
    Outcome v = evaluate("$x + 1");
    ASSERT_TRUE(v.error);
    EXPECT_EQ(v.error->variable, std::optional<std::string>("x"));
}

TEST(StringEntry, LoggingEntryLogsAndAnswersNothing)
{
    std::vector<std::string> lines;
    ZQSetLogSink([&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_FALSE(ZQMathParsing::numberByEvaluatingString("1+"));
    auto three = ZQMathParsing::numberByEvaluatingString("1+2");
    ZQSetLogSink(nullptr);
    ASSERT_TRUE(three);
    EXPECT_EQ(three->doubleValue(), 3);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "error: Error Domain=com.hollowmere.zqmathparser Code=10 \"no right operand to binary +\"");
}

TEST(StringEntry, PowerChainsAgreeWithThePlatformEvaluator)
{
    Outcome o = evaluate("2 ** 3 ** 2");
    ASSERT_TRUE(o.number);
    EXPECT_EQ(o.number->doubleValue(), static_cast<double>(ZQPlatformPowerChainValue));
}

TEST(StringEntry, ResultKindsFollowTheFunction)
{
    struct Kind
    {
        const char* text;
        ZQNumber::Kind kind;
    };
    const Kind cases[] = {
        {"1.5", ZQNumber::Kind::Decimal},         {"0x10", ZQNumber::Kind::Decimal},
        {"1 + 1", ZQNumber::Kind::Double},        {"5!", ZQNumber::Kind::UInt64},
        {"21!", ZQNumber::Kind::Double},          {"and(3, 1)", ZQNumber::Kind::Int64},
        {"1 == 1", ZQNumber::Kind::Int64},        {"count(1, 2)", ZQNumber::Kind::Decimal},
        {"min(2, 2.0)", ZQNumber::Kind::Decimal}, {"median(3, 1, 2)", ZQNumber::Kind::Decimal},
        {"random()", ZQNumber::Kind::Int64},      {"abs(-2.5)", ZQNumber::Kind::Double},
    };
    for (const Kind& c : cases) {
        Outcome o = evaluate(c.text);
        ASSERT_TRUE(o.number) << c.text;
        EXPECT_EQ(o.number->kind(), c.kind) << c.text;
    }
    EXPECT_EQ(evaluate("min(2, 2.0)").number->description(), "2");
}

// Each built-in refuses a wrong number of arguments with its own message.
TEST(Builtins, EveryBuiltinChecksItsArgumentCount)
{
    std::map<std::string, std::pair<int, bool>> arity; // name -> (n, at least)
    for (const char* n : {"phi", "pi", "pi_2", "pi_4", "tau", "sqrt2", "e", "log2e", "log10e", "ln2", "ln10"})
        arity[n] = {0, false};
    for (const char* n :
         {"add",    "subtract", "multiply", "divide", "mod",  "pow",   "nthroot", "and",  "or",     "xor",
          "rshift", "lshift",   "l_and",    "l_or",   "l_eq", "l_neq", "l_lt",    "l_gt", "l_ltoe", "l_gtoe"})
        arity[n] = {2, false};
    for (const char* n : {"average", "min", "max", "median", "stddev"})
        arity[n] = {2, true};
    for (const char* n : {"sum", "count"})
        arity[n] = {1, true};
    for (const auto& name : ZQFunctionEvaluator::standardFunctions())
        if (!arity.count(name) && name != "random")
            arity[name] = {1, false};
    ASSERT_EQ(arity.size() + 1, 89u);
    for (const auto& [name, rule] : arity) {
        const auto [n, atLeast] = rule;
        // One argument too few (or, for constants, one too many).
        const int given = n == 0 ? 1 : n - 1;
        std::string text = name + "(";
        for (int i = 0; i < given; ++i)
            text += i ? ",1" : "1";
        text += ")";
        Outcome o = evaluate(text);
        ASSERT_TRUE(o.error) << text;
        EXPECT_EQ(o.error->code, 17) << text;
        const std::string expected = name + ":variables:error: requires " + (atLeast ? "at least " : "") +
                                     std::to_string(n) + " argument" + (n == 1 ? "" : "s");
        EXPECT_EQ(o.error->message, expected);
        if (!atLeast && n > 0) {
            std::string tooMany = name + "(1";
            for (int i = 0; i < n; ++i)
                tooMany += ",1";
            tooMany += ")";
            Outcome m = evaluate(tooMany);
            ASSERT_TRUE(m.error) << tooMany;
            EXPECT_EQ(m.error->message, expected);
        }
    }
}

TEST(Builtins, StandardFunctionListIsPinned)
{
    const std::vector<std::string> expected = {
        "abs",    "acos",      "acosh",  "acotan",       "acotanh",    "acsc",       "acsch",      "add",
        "and",    "asec",      "asech",  "asin",         "asinh",      "atan",       "atanh",      "average",
        "ceil",   "cos",       "cosh",   "cotan",        "cotanh",     "count",      "covercosin", "coversin",
        "crd",    "csc",       "csch",   "divide",       "dtor",       "e",          "excsc",      "exp",
        "exsec",  "factorial", "floor",  "hacovercosin", "hacoversin", "havercosin", "haversin",   "l_and",
        "l_eq",   "l_gt",      "l_gtoe", "l_lt",         "l_ltoe",     "l_neq",      "l_not",      "l_or",
        "ln",     "ln10",      "ln2",    "log",          "log10e",     "log2",       "log2e",      "lshift",
        "max",    "median",    "min",    "mod",          "multiply",   "negate",     "not",        "nthroot",
        "or",     "percent",   "phi",    "pi",           "pi_2",       "pi_4",       "pow",        "random",
        "rshift", "rtod",      "sec",    "sech",         "sin",        "sinh",       "sqrt",       "sqrt2",
        "stddev", "subtract",  "sum",    "tan",          "tanh",       "tau",        "vercosin",   "versin",
        "xor"};
    EXPECT_EQ(ZQFunctionEvaluator::standardFunctions(), expected);
    EXPECT_TRUE(ZQFunctionEvaluator::isStandardFunction("SIN"));
    EXPECT_FALSE(ZQFunctionEvaluator::isStandardFunction("avg"));
}

// Every operator function but the grouping ones is a built-in of that name.
TEST(Builtins, EveryOperatorFunctionIsABuiltin)
{
    for (const auto& op : ZQMathOperatorSet::defaultOperatorSet()->operators()) {
        const std::string& f = op->function();
        if (f == "positive" || f == "open_paren" || f == "close_paren" || f == "comma")
            continue;
        EXPECT_TRUE(ZQFunctionEvaluator::isStandardFunction(f)) << f;
    }
    EXPECT_TRUE(ZQFunctionEvaluator::isStandardFunction("percent"));
}

struct DegreeCase
{
    const char* text;
    double expected;
};

TEST(Degrees, AnglesConvertOnTheWayInAndOut)
{
    ZQMathEvaluator degrees;
    degrees.setAngleMeasurementMode(ZQAngleMeasurementMode::Degrees);
    const DegreeCase cases[] = {
        {"sin(30)", 0.49999999999999994},
        {"sin(30\u00B0)", 0.49999999999999994},
        {"cos(60)", 0.5000000000000001},
        {"tan(45)", 0.9999999999999999},
        {"asin(0.5)", 30.000000000000004},
        {"acos(0.5)", 60.00000000000001},
        {"atan(1)", 45},
        {"acsc(2)", 30.000000000000004},
        {"acotan(1)", 45},
        {"crd(60)", 1.0},
        {"versin(90)", 0.9999999999999999},
        {"dtor(180)", Pi},
        {"rtod(pi)", 180},
        {"pi", Pi},
        {"sinh(0)", 0},
    };
    for (const DegreeCase& c : cases) {
        Outcome o = evaluate(degrees, c.text);
        ASSERT_TRUE(o.number) << c.text;
        EXPECT_TRUE(near(o.number->doubleValue(), c.expected)) << c.text;
    }
    // In radians, the degree sign still converts its operand.
    Outcome r = evaluate("sin(30\u00B0)");
    ASSERT_TRUE(r.number);
    EXPECT_TRUE(near(r.number->doubleValue(), std::sin(Pi / 6)));
}

// --- faults mended --------------------------------------------------------------

TEST(MendedFaults, NumberBeyondTheDecimalRangeIsNotZero)
{
    EXPECT_EQ(evaluate("1e200").number->doubleValue(), 1e200);
    EXPECT_TRUE(near(evaluate("1e200 / 1e199").number->doubleValue(), 10));
    EXPECT_EQ(evaluate("2e-200 * 1e200").number->doubleValue(), 2);
}

TEST(MendedFaults, HexOverflowAndEmptyHexAreErrors)
{
    for (const char* text : {"0x10000000000000000", "0x", "0x + 1", "0x+1", "0xg"}) {
        Outcome o = evaluate(text);
        EXPECT_FALSE(o.number) << text;
        ASSERT_TRUE(o.error) << text;
        EXPECT_EQ(o.error->code, 5) << text;
        EXPECT_EQ(o.error->message, "unable to parse hex number");
    }
    EXPECT_EQ(evaluate("0xFFFFFFFFFFFFFFFF").number->description(), "18446744073709551615");
}

// A runaway evaluation shows as the test's time-out.
TEST(MendedFaults, LongOperatorRunAnswersAtOnce)
{
    Outcome o = evaluate(std::string(5000, '-') + "1");
    EXPECT_FALSE(o.number); // too deep to fold, but answered
    Outcome p = evaluate("1" + std::string(3000, '<') + "2");
    EXPECT_FALSE(p.number);
}

TEST(MendedFaults, NulCharacterDoesNotEndTheText)
{
    Outcome o = evaluate(std::string("1+2\0"
                                     "5",
                                     5));
    EXPECT_FALSE(o.number);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code, 15);
}

TEST(MendedFaults, DollarNamesEndAtTheNextDollar)
{
    ZQSubstitutions subs{{"a", ZQNumber::fromDouble(2)}, {"b", ZQNumber::fromDouble(5)}};
    Outcome o = evaluate("$a$b", &subs);
    ASSERT_TRUE(o.number);
    EXPECT_EQ(o.number->doubleValue(), 10);
}

TEST(MendedFaults, PrefixOperatorTakesAFollowingPrefixExpression)
{
    const std::pair<const char*, double> cases[] = {{"-~0", 1},      {"-!0", -1},    {"~!0", -2},
                                                    {"-\u00AC1", 0}, {"2 * -~0", 2}, {"- - ~0", -1}};
    for (const auto& [text, value] : cases) {
        Outcome o = evaluate(text);
        ASSERT_TRUE(o.number) << text << ": " << (o.error ? o.error->message : "");
        EXPECT_EQ(o.number->doubleValue(), value) << text;
    }
}

TEST(MendedFaults, PostfixExpressionIsTheLeftOperandOfATighterOperator)
{
    const std::pair<const char*, double> cases[] = {
        {"3! ** 2", 36}, {"-3! ** 2", -36}, {"(3!) ** 2", 36}, {"3!! ** 1", 720}, {"2 + 3! ** 2", 38}};
    for (const auto& [text, value] : cases) {
        Outcome o = evaluate(text);
        ASSERT_TRUE(o.number) << text << ": " << (o.error ? o.error->message : "");
        EXPECT_EQ(o.number->doubleValue(), value) << text;
    }
    Outcome degrees = evaluate("180\u00B0 ** 2");
    ASSERT_TRUE(degrees.number);
    EXPECT_TRUE(near(degrees.number->doubleValue(), Pi * Pi));
}

TEST(MendedFaults, HugeOrDeepInputIsTooComplexNotACrash)
{
    std::string chain = "1";
    for (int i = 0; i < 2000; ++i)
        chain += "+1";
    std::string nested = std::string(3000, '(') + "1" + std::string(3000, ')');
    std::string prose;
    for (int i = 0; i < 3000; ++i)
        prose += "word ";
    std::string many;
    for (int i = 0; i < 6000; ++i)
        many += "1,";
    for (const std::string& text : {chain, nested, prose, many, "sum(" + many + "1)"}) {
        Outcome o = evaluate(text);
        EXPECT_FALSE(o.number);
        ASSERT_TRUE(o.error);
        EXPECT_EQ(o.error->code, 1);
        EXPECT_EQ(o.error->message, "expression is too complex");
    }
    // Within the limits, long sums still work.
    std::string sum = "1";
    for (int i = 0; i < 900; ++i)
        sum += "+1";
    EXPECT_EQ(evaluate(sum).number->doubleValue(), 901);
    std::string flat = "sum(1";
    for (int i = 0; i < 4000; ++i)
        flat += ",1";
    EXPECT_EQ(evaluate(flat + ")").number->doubleValue(), 4001);
}

TEST(MendedFaults, EmptyVariableNameIsAnError)
{
    for (const char* text : {"''", "\"\"", "'$'", "1 + ''"}) {
        Outcome o = evaluate(text);
        ASSERT_TRUE(o.error) << text;
        EXPECT_EQ(o.error->code, 4) << text;
    }
}

TEST(MendedFaults, CyclicSubstitutionsFailInsteadOfRecursing)
{
    ZQSubstitutions self{{"x", std::string("$x")}};
    ZQSubstitutions pair{{"x", std::string("$y + 1")}, {"y", std::string("$x")}};
    for (const ZQSubstitutions* subs : {&self, &pair}) {
        Outcome o = evaluate("$x", subs);
        EXPECT_FALSE(o.number);
        ASSERT_TRUE(o.error);
        EXPECT_EQ(o.error->code, 14);
    }
    ZQMathEvaluator evaluator;
    evaluator.setVariableResolver(
        [](const std::string& name) -> std::optional<ZQValue> { return "$" + name; });
    EXPECT_EQ(evaluate(evaluator, "$q").error->code, 14);
    // Aliases that call each other run out of depth instead of stack.
    evaluator.addAlias("ping", "pong");
    evaluator.addAlias("pong", "ping");
    Outcome loop = evaluate(evaluator, "ping(1)");
    ASSERT_TRUE(loop.error);
    EXPECT_EQ(loop.error->code, 1);
    // Acyclic chains still resolve.
    ZQSubstitutions chain{{"x", std::string("$y * 2")}, {"y", std::string("3")}};
    EXPECT_EQ(evaluate("$x + $x", &chain).number->doubleValue(), 12);
}

TEST(MendedFaults, RandomNeverHangsAndStaysInItsBounds)
{
    for (const char* text :
         {"random(5, 3)", "random(5, 0)", "random(5, 4294967296)", "random(1e10)", "random(3, 3)"}) {
        Outcome o = evaluate(text);
        ASSERT_TRUE(o.error) << text;
        EXPECT_EQ(o.error->code, 17);
        EXPECT_EQ(o.error->message, "random() lower bound must be less than its upper bound");
    }
    EXPECT_EQ(evaluate("random(4294967294)").number->integerValue(), 4294967294);
    EXPECT_EQ(evaluate("random(4000000000, 4000000001)").number->integerValue(), 4000000000);
    std::set<std::int64_t> seen;
    for (int i = 0; i < 400; ++i) {
        const std::int64_t r = evaluate("random(-5, 4)").number->integerValue();
        EXPECT_GE(r, 0);
        EXPECT_LT(r, 4);
        seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 4u);
}

TEST(MendedFaults, AbsKeepsTheFraction)
{
    EXPECT_EQ(evaluate("abs(-2.5)").number->doubleValue(), 2.5);
    EXPECT_EQ(evaluate("abs(-9223372036854775808)").number->doubleValue(), 9223372036854775808.0);
}

TEST(MendedFaults, InverseReciprocalFunctionsAreArcFunctionsOfTheReciprocal)
{
    const std::pair<const char*, double> cases[] = {{"acsc(2)", Pi / 6},
                                                    {"asec(2)", Pi / 3},
                                                    {"acotan(1)", Pi / 4},
                                                    {"acsch(2)", std::asinh(0.5)},
                                                    {"asech(0.5)", std::acosh(2.0)},
                                                    {"acotanh(2)", std::atanh(0.5)}};
    for (const auto& [text, value] : cases)
        EXPECT_TRUE(near(evaluate(text).number->doubleValue(), value)) << text;
}

TEST(MendedFaults, ArgumentsAreEvaluatedOnce)
{
    int calls = 0;
    ZQMathEvaluator evaluator;
    evaluator.registerFunction(
        [&calls](const std::vector<ZQExpressionPtr>&, const ZQSubstitutions*, ZQMathEvaluator&,
                 ZQErrorPlace) -> std::optional<ZQValue> {
            ++calls;
            return ZQValue(ZQNumber::fromDouble(calls * 10.0));
        },
        "tick");
    // The percent's context is the value the addition itself uses.
    EXPECT_EQ(evaluate(evaluator, "tick() + percent(50)").number->doubleValue(), 15);
    EXPECT_EQ(calls, 1);
    calls = 0;
    evaluate(evaluator, "stddev(tick(), tick())");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(evaluate(evaluator, "stddev(tick(), 0)").number->doubleValue(), 15);
}

TEST(MendedFaults, NaNSortsAndComparesWithoutUndefinedBehaviour)
{
    EXPECT_EQ(evaluate("median(0/0, 1, 2)").number->doubleValue(), 1);
    EXPECT_EQ(evaluate("0/0 == 0/0").number->doubleValue(), 1);
    EXPECT_EQ(evaluate("0/0 < -1e300").number->doubleValue(), 1);
    EXPECT_EQ(evaluate("min(1, 0/0)").number->isNaN(), true);
    // Integer conversions of NaN and of out-of-range values are defined.
    EXPECT_EQ(evaluate("and(0/0, -1)").number->integerValue(), 0);
    EXPECT_EQ(evaluate("or(1e300, 0)").number->integerValue(), INT64_MAX);
    EXPECT_EQ(evaluate("not(-1e300)").number->integerValue(), ~INT64_MIN);
    EXPECT_EQ(evaluate("lshift(-3, 1)").number->integerValue(), -6);
}

} // namespace
