// Expression trees and the evaluator's programming interface.
#include "CalcTestSupport.h"

#include "calculator/ZQFunctionEvaluator.h"
#include "calculator/ZQParser.h"

#include <cstdlib>
#include <random>
#include <vector>

namespace {

ZQExpressionPtr parse(const std::string& text)
{
    std::optional<ZQError> error;
    auto e = ZQExpression::expressionFromString(text, &error);
    EXPECT_TRUE(e) << text << ": " << (error ? error->message : "");
    return e;
}

ZQExpressionPtr num(double d)
{
    return ZQExpression::numberExpressionWithNumber(ZQNumber::fromDouble(d));
}

TEST(Expression, ParseShapes)
{
    const std::pair<const char*, const char*> shapes[] = {
        {"1 - 2 - 3", "subtract(subtract(1,2),3)"},
        {"-2 ** 2", "negate(pow(2,2))"},
        {"2 ** -2", "pow(2,negate(2))"},
        {"1/2pi", "multiply(divide(1,2),pi())"},
        {"- - 3", "negate(negate(3))"},
        {"3!!", "factorial(factorial(3))"},
        {"f(1,)", "f(1)"},
        {"f()", "f()"},
        {"f(1, 2)", "f(1,2)"},
        {"f(1, 2 + 3)", "f(1,add(2,3))"},
        {"SIN($X)", "sin($X)"},
        {"7 % 2", "mod(7,2)"},
        {"3! ** 2", "pow(factorial(3),2)"},
        {"-~0", "negate(not(0))"},
    };
    for (const auto& [text, description] : shapes) {
        auto e = parse(text);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->description(), description) << text;
    }
}

TEST(Expression, EqualityHashAndKinds)
{
    std::optional<ZQError> error;
    auto upper = ZQExpression::functionExpressionWithFunction("SIN", {num(1)}, &error);
    auto lower = ZQExpression::functionExpressionWithFunction("sin", {num(1)}, &error);
    EXPECT_EQ(upper->description(), "sin(1)");
    EXPECT_TRUE(*upper == *lower);
    EXPECT_EQ(upper->hash(), lower->hash());
    auto two = ZQExpression::numberExpressionWithNumber(ZQNumber::fromInt64(2));
    auto twoPointZero = ZQExpression::numberExpressionWithNumber(*ZQNumber::fromDecimalLiteral("2.0"));
    EXPECT_TRUE(*two == *twoPointZero);
    EXPECT_EQ(two->hash(), twoPointZero->hash());
    auto x = ZQExpression::variableExpressionWithVariable("$x");
    EXPECT_EQ(x->variable(), "x");
    EXPECT_FALSE(*x == *two);
    EXPECT_FALSE(*parse("f(1, 2)") == *parse("f(1, 3)"));
    EXPECT_FALSE(ZQExpression::variableExpressionWithVariable("$"));
    EXPECT_THROW(two->function(), std::invalid_argument);
    EXPECT_THROW(x->number(), std::logic_error);
    EXPECT_THROW(two->variable(), std::invalid_argument);
}

TEST(Expression, MissingArgumentIsCode18)
{
    std::optional<ZQError> error;
    EXPECT_FALSE(ZQExpression::functionExpressionWithFunction("f", {num(1), nullptr}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 18);
    EXPECT_EQ(error->message, "function arguments must be ZQExpression objects");
}

TEST(Expression, DeepCopyWithParents)
{
    auto tree = parse("add(1, multiply(2, $x))");
    auto copy = tree->copy();
    EXPECT_TRUE(*copy == *tree);
    ASSERT_EQ(copy->arguments().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NE(copy->arguments()[i], tree->arguments()[i]);
        EXPECT_EQ(copy->arguments()[i]->parentExpression(), copy);
        EXPECT_EQ(tree->arguments()[i]->parentExpression(), tree);
    }
    EXPECT_EQ(copy->arguments()[1]->arguments()[1]->parentExpression(), copy->arguments()[1]);
}

TEST(Expression, ArchiveRoundTrip)
{
    // A quoted name may itself start with "$"; it must not lose it on the way back.
    for (const char* text : {"f(1.5, $y, g(), -3)", "'$$a' + 1"}) {
        auto tree = parse(text);
        auto back = ZQExpression::decode(tree->encode());
        ASSERT_TRUE(back) << text;
        EXPECT_TRUE(*back == *tree) << text;
    }
    ZQArchive broken;
    broken.values["function"] = std::string("f");
    EXPECT_FALSE(ZQExpression::decode(broken));
}

TEST(Expression, Simplification)
{
    std::optional<ZQError> error;
    auto kept = parse("add(1, multiply(2, $x))")->simplifiedExpressionWithEvaluator(nullptr, &error);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->description(), "add(1,multiply(2,$x))");
    EXPECT_FALSE(error);
    auto three = parse("add(1, 2)")->simplifiedExpression();
    ASSERT_TRUE(three);
    EXPECT_EQ(three->expressionType(), ZQExpressionType::Number);
    EXPECT_EQ(three->number().doubleValue(), 3);
    EXPECT_TRUE(near(parse("pi()")->simplifiedExpression()->number().doubleValue(), 3.141592653589793));
    // The percent node is evaluated in its original tree.
    EXPECT_EQ(parse("50 + percent(10)")->simplifiedExpression()->number().doubleValue(), 55);
    // An unknown function stays a node, and the error is reported beside it.
    auto unknown = parse("nosuch()")->simplifiedExpressionWithEvaluator(nullptr, &error);
    ASSERT_TRUE(unknown);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 15);
}

TEST(Expression, TreesBeyondTheDepthLimitAreRefused)
{
    ZQExpressionPtr node = num(1);
    std::optional<ZQError> error;
    int built = 0;
    while (node && built < 5000) {
        auto next = ZQExpression::functionExpressionWithFunction("negate", {node}, &error);
        if (!next)
            break;
        node = next;
        ++built;
    }
    EXPECT_LT(built, 5000);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "expression is too complex");
    // The deepest tree allowed still evaluates, copies and compares.
    ZQMathEvaluator evaluator;
    std::optional<ZQError> e2;
    auto value = evaluator.evaluateExpression(*node, nullptr, &e2);
    EXPECT_TRUE(value || (e2 && e2->code == 1));
    EXPECT_TRUE(*node->copy() == *node);
}

// --- evaluator --------------------------------------------------------------------

TEST(Evaluator, RegisterAliasAndRefusals)
{
    ZQMathEvaluator evaluator;
    auto twice = [](const std::vector<ZQExpressionPtr>& args, const ZQSubstitutions* subs,
                    ZQMathEvaluator& ev, ZQErrorPlace error) -> std::optional<ZQValue> {
        auto v = ev.evaluateExpression(*args.at(0), subs, error);
        if (!v)
            return std::nullopt;
        return ZQValue(ZQNumber::fromDouble(v->doubleValue() * 2));
    };
    EXPECT_FALSE(evaluator.registerFunction(twice, "sin"));
    EXPECT_FALSE(evaluator.registerFunction(twice, "AVG")); // an alias already holds it
    EXPECT_TRUE(evaluator.registerFunction(twice, "Twice"));
    EXPECT_FALSE(evaluator.registerFunction(twice, "twice"));
    EXPECT_EQ(evaluate(evaluator, "twice(2)").number->doubleValue(), 4);
    EXPECT_EQ(evaluate(evaluator, "TWICE(twice(1))").number->doubleValue(), 4);
    EXPECT_TRUE(evaluator.addAlias("dbl", "twice"));
    EXPECT_EQ(evaluate(evaluator, "dbl(5)").number->doubleValue(), 10);
    EXPECT_FALSE(evaluator.addAlias("cos", "twice"));
    auto names = evaluator.registeredFunctions();
    EXPECT_EQ(names.size(), 89u + 13u + 2u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    evaluator.unregisterFunctionWithName("TWICE");
    EXPECT_EQ(evaluate(evaluator, "twice(2)").error->code, 15);
    evaluator.removeAlias("avg");
    EXPECT_EQ(evaluate(evaluator, "avg(1, 2)").error->code, 15);
    EXPECT_EQ(evaluate("avg(1, 3)").number->doubleValue(), 2); // the shared evaluator keeps it
}

TEST(Evaluator, SubstitutionsAndResolvers)
{
    ZQSubstitutions subs{{"x", ZQNumber::fromDouble(2)},
                         {"t", std::string("1+1")},
                         {"e", parse("3 * 3")},
                         {"bad", std::monostate{}}};
    EXPECT_EQ(evaluate("$x", &subs).number->doubleValue(), 2);
    EXPECT_EQ(evaluate("$t * 10", &subs).number->doubleValue(), 20);
    EXPECT_EQ(evaluate("$e", &subs).number->doubleValue(), 9);
    EXPECT_EQ(evaluate("$bad", &subs).error->code, 14);

    ZQMathEvaluator evaluator;
    evaluator.setVariableResolver([](const std::string& name) -> std::optional<ZQValue> {
        if (name == "answer")
            return ZQValue(ZQNumber::fromInt64(42));
        return std::nullopt;
    });
    EXPECT_EQ(evaluate(evaluator, "$answer").number->doubleValue(), 42);
    EXPECT_EQ(evaluate(evaluator, "answer()").error->code, 15);
    evaluator.setResolvesFunctionsAsVariables(true);
    EXPECT_EQ(evaluate(evaluator, "answer").number->doubleValue(), 42);
    EXPECT_EQ(evaluate(evaluator, "x + 1", &subs).number->doubleValue(), 3);

    evaluator.setFunctionResolver([](const std::string& name) -> std::optional<ZQMathFunction> {
        if (name != "seven")
            return std::nullopt;
        return ZQMathFunction(
            [](const std::vector<ZQExpressionPtr>&, const ZQSubstitutions*, ZQMathEvaluator&,
               ZQErrorPlace) -> std::optional<ZQValue> { return ZQValue(ZQNumber::fromInt64(7)); });
    });
    EXPECT_EQ(evaluate(evaluator, "seven() * 2").number->doubleValue(), 14);
    // A function that answers a value of no usable type is code 16.
    evaluator.registerFunction(
        [](const std::vector<ZQExpressionPtr>&, const ZQSubstitutions*, ZQMathEvaluator&,
           ZQErrorPlace) -> std::optional<ZQValue> { return ZQValue(std::monostate{}); },
        "odd");
    Outcome o = evaluate(evaluator, "odd()");
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code, 16);
    EXPECT_EQ(o.error->message, "invalid return type from odd function");
}

TEST(Evaluator, StaleErrorsDoNotSuppressNewOnes)
{
    std::optional<ZQError> error = ZQMakeError(ZQErrorCode::InvalidNumber, "old");
    auto result = ZQMathEvaluator::defaultMathEvaluator().evaluateString("$nothing", nullptr, &error);
    EXPECT_FALSE(result);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 14);
}

TEST(Evaluator, HighPrecisionSwitchKeepsTheEvaluatorWorking)
{
    ZQMathEvaluator evaluator;
    evaluator.setUsesHighPrecisionEvaluation(true);
    EXPECT_TRUE(evaluator.usesHighPrecisionEvaluation());
    EXPECT_TRUE(near(evaluate(evaluator, "1 + 2 * 3").number->doubleValue(), 7));
    EXPECT_EQ(evaluate(evaluator, "sqrt(1, 2)").error->code, 17);
    evaluator.setUsesHighPrecisionEvaluation(false);
    EXPECT_EQ(evaluate(evaluator, "2 ** 10").number->doubleValue(), 1024);
}

TEST(Number, ConversionsAreDefinedEverywhere)
{
    const std::tuple<double, std::int64_t, bool> cases[] = {
        {NAN, 0, true}, {1e300, INT64_MAX, true}, {-1e300, INT64_MIN, true}, {-2.7, -2, true},
        {0.5, 0, true}, {0.0, 0, false},          {-0.0, 0, false},          {INFINITY, INT64_MAX, true}};
    for (const auto& [d, i, b] : cases) {
        ZQNumber n = ZQNumber::fromDouble(d);
        EXPECT_EQ(n.integerValue(), i) << d;
        EXPECT_EQ(n.boolValue(), b) << d;
    }
    EXPECT_EQ(ZQNumber::fromDouble(NAN).unsignedIntegerValue(), 0u);
    EXPECT_EQ(ZQNumber::fromDouble(1e30).unsignedIntegerValue(), UINT64_MAX);
    EXPECT_EQ(ZQNumber::fromUInt64(UINT64_MAX).compare(ZQNumber::fromInt64(-1)), 1);
    EXPECT_EQ(ZQNumber::fromInt64(-1).compare(ZQNumber::fromUInt64(0)), -1);
    EXPECT_EQ(ZQNumber::fromDouble(0.1).compare(*ZQNumber::fromDecimalLiteral("0.1")), 0);
    EXPECT_EQ(ZQNumber::fromDouble(1e200).compare(*ZQNumber::fromDecimalLiteral("5")), 1);
    EXPECT_EQ(ZQNumber::fromDouble(-INFINITY).compare(*ZQNumber::fromDecimalLiteral("5")), -1);
    EXPECT_EQ(ZQNumber::fromDouble(NAN).compare(ZQNumber::fromDouble(-INFINITY)), -1);
    EXPECT_EQ(ZQNumber::fromDouble(NAN).compare(ZQNumber::fromDouble(NAN)), 0);
    EXPECT_EQ(ZQNumber::fromInt64(9007199254740993).compare(ZQNumber::fromDouble(9007199254740992.0)), 1);
    // The literal's double is the one nearest the text, even past 38 digits.
    EXPECT_EQ(ZQNumber::fromDecimalLiteral("0.1000000000000000055511151231257827021181583404541015625")
                  ->doubleValue(),
              0.1);
    EXPECT_FALSE(ZQNumber::fromDecimalLiteral("abc"));
}

// Short literals take their double from the decimal with one multiplication
// or division by a power of ten; it must be the very double the C library
// reads from the text, including at 2^53, 10^22 and just past both.
TEST(Number, LiteralDoublesMatchTheLibraryParserBitForBit)
{
    std::vector<std::string> texts = {"9007199254740991",
                                      "9007199254740992",
                                      "9007199254740993",
                                      "1e22",
                                      "1e23",
                                      "9007199254740991e22",
                                      "9007199254740991e-22",
                                      "1e-22",
                                      "1e-23",
                                      "0.1",
                                      "0.3",
                                      "123.456",
                                      "5e-324",
                                      "1.7976931348623157e308",
                                      "4.9406564584124654e-324",
                                      "0.000001",
                                      "8.589973e9"};
    std::mt19937_64 rng(18);
    for (int i = 0; i < 3000; ++i) {
        std::string digits = std::to_string(rng() % (i % 3 == 0 ? 9007199254740993ULL : 1000000ULL));
        const int exponent = static_cast<int>(rng() % 51) - 25;
        texts.push_back(digits + "e" + std::to_string(exponent));
        if (digits.size() > 1)
            texts.push_back(digits.insert(rng() % digits.size(), "."));
    }
    for (const std::string& text : texts) {
        const auto n = ZQNumber::fromDecimalLiteral(text);
        ASSERT_TRUE(n) << text;
        const double want = std::strtod(text.c_str(), nullptr);
        EXPECT_EQ(n->doubleValue(), want) << text;
        EXPECT_EQ(std::signbit(n->doubleValue()), std::signbit(want)) << text;
    }
}

} // namespace
