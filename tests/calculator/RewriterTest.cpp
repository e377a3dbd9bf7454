// Algebraic rewriting with placeholder rules.
#include "CalcTestSupport.h"

#include "calculator/ZQExpressionRewriter.h"

#include <random>

namespace {

ZQExpressionPtr parse(const std::string& text)
{
    std::optional<ZQError> error;
    auto e = ZQExpression::expressionFromString(text, &error);
    EXPECT_TRUE(e) << text;
    return e;
}

std::string rewritten(const std::string& text, ZQMathEvaluator& evaluator)
{
    auto result = evaluator.expressionByRewritingExpression(parse(text));
    return result ? result->description() : "(nothing)";
}

TEST(Rewriter, DefaultRulesOnATableOfExpressions)
{
    ZQMathEvaluator evaluator;
    EXPECT_EQ(ZQExpressionRewriter::defaultRewriter().rewriteRules().size(), 27u);
    const std::pair<const char*, const char*> cases[] = {
        {"0 + $x", "$x"},
        {"$x + 0", "$x"},
        {"$x * 1", "$x"},
        {"1 * $x", "$x"},
        {"$x - $x", "0"},
        {"2 * $x", "multiply($x,2)"},
        {"$x + $x", "multiply($x,2)"},
        {"$y + $x", "add($y,$x)"},
        {"$x * $x", "pow($x,2)"},
        {"0 * $x", "0"},
        {"$x * 0", "0"},
        {"--$x", "$x"},
        {"abs(-$x)", "abs($x)"},
        {"abs(-3)", "3"},
        {"exp($x) * exp($y)", "exp(add($x,$y))"},
        {"($x ** 3) * ($y ** 3)", "pow(multiply($x,$y),3)"},
        {"$x ** 0", "1"},
        {"$x ** 1", "$x"},
        {"sqrt($x ** 2)", "abs($x)"},
        {"dtor(rtod($x))", "$x"},
        {"rtod(dtor($x))", "$x"},
        {"$x / $x", "divide($x,$x)"},
        {"($x * $y) / $y", "divide(multiply($x,$y),$y)"},
        {"($x * 2) / 2", "$x"},
        {"(2 * $x) / 2", "$x"},
        {"2 / (2 * $x)", "divide(1,$x)"},
        {"2 / ($x * 2)", "divide(1,$x)"},
        {"nthroot(pow($x, 2), 2)", "abs($x)"},
        {"nthroot(pow($x, 3), 3)", "$x"},
        {"1 + 2 * 3", "7"},
        {"0 + (0 + ($x * 1))", "$x"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(rewritten(text, evaluator), expected) << text;
}

TEST(Rewriter, ConditionsSeeTheEvaluatorsVariables)
{
    ZQMathEvaluator evaluator;
    evaluator.setVariableResolver([](const std::string& name) -> std::optional<ZQValue> {
        if (name == "five")
            return ZQValue(ZQNumber::fromDouble(5));
        if (name == "zero")
            return ZQValue(ZQNumber::fromDouble(0));
        return std::nullopt;
    });
    EXPECT_EQ(rewritten("$five / $five", evaluator), "1");
    EXPECT_EQ(rewritten("$zero / $zero", evaluator), "divide($zero,$zero)");
    EXPECT_EQ(rewritten("abs($five)", evaluator), "$five");
}

TEST(Rewriter, UnchangedTreeIsTheSameObject)
{
    ZQMathEvaluator evaluator;
    auto rule = ZQRewriteRule::rewriteRuleWithTemplate("__exp1 + 0", "__exp1", std::nullopt);
    ASSERT_TRUE(rule);
    auto tree = parse("$a * $b");
    EXPECT_EQ(rule->expressionByRewritingExpression(tree, evaluator), tree);
    ZQRewriteBindings bindings;
    auto sum = parse("$q + 0");
    EXPECT_TRUE(rule->matchExpression(sum, bindings, evaluator));
    ASSERT_EQ(bindings.count("__exp1"), 1u);
    EXPECT_EQ(bindings["__exp1"], sum->arguments()[0]);
    // Kinds of placeholders.
    auto numbers = ZQRewriteRule::rewriteRuleWithTemplate("__num1 + __var1 + __func1", "0", std::nullopt);
    EXPECT_TRUE(numbers->ruleMatchesExpression(parse("1 + $x + f(2)"), evaluator));
    EXPECT_FALSE(numbers->ruleMatchesExpression(parse("$x + 1 + f(2)"), evaluator));
    EXPECT_NE(rule->description().find("(add(__exp1(),0) => __exp1())"), std::string::npos);
}

TEST(Rewriter, RulesThatCannotBeBuiltAreLoggedAndSkipped)
{
    std::vector<std::string> lines;
    ZQSetLogSink([&](std::string_view line) { lines.emplace_back(line); });
    ZQExpressionRewriter rewriter;
    rewriter.addRewriteRule("1", "(", std::nullopt);
    rewriter.addRewriteRule("1", "$x", std::nullopt); // a template must be a call
    rewriter.addRewriteRule("1 +", "f(__exp1)", std::nullopt);
    ZQSetLogSink(nullptr);
    EXPECT_EQ(rewriter.rewriteRules().size(), 27u);
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines)
        EXPECT_EQ(line.rfind("error creating rule: ", 0), 0u) << line;
}

TEST(Rewriter, EndlessRewritingStopsAtTheCycleLimit)
{
    std::vector<std::string> lines;
    ZQSetLogSink([&](std::string_view line) { lines.emplace_back(line); });
    ZQExpressionRewriter rewriter;
    rewriter.addRewriteRule("f(g(__exp1))", "f(__exp1)", std::nullopt);
    ZQMathEvaluator evaluator;
    auto result = rewriter.expressionByRewritingExpression(parse("f($x)"), evaluator);
    ZQSetLogSink(nullptr);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->depth(), ZQExpressionRewriter::MaximumCycles + 2);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "ABORT: replacement limit reached");
}

TEST(MendedFaults, ConditionThatDoesNotParseRefusesTheRule)
{
    ZQSetLogSink([](std::string_view) {});
    ZQExpressionRewriter rewriter;
    rewriter.addRewriteRule("1", "__exp1 / __exp1", "__exp1 !=");
    ZQSetLogSink(nullptr);
    EXPECT_EQ(rewriter.rewriteRules().size(), 27u);
    ZQMathEvaluator evaluator;
    EXPECT_EQ(rewriter.expressionByRewritingExpression(parse("$x / $x"), evaluator)->description(),
              "divide($x,$x)");
}

TEST(MendedFaults, ConditionIsNotEvaluatedThroughTheBindings)
{
    ZQMathEvaluator evaluator;
    // "$__exp1" is bound to itself; evaluating the condition must not recurse.
    EXPECT_EQ(rewritten("$__exp1 / $__exp1", evaluator), "divide($__exp1,$__exp1)");
}

// A rewritten expression has the value of the original wherever the original
// has a finite value.
TEST(Rewriter, RewritingKeepsTheValue)
{
    std::mt19937 random(1234);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::function<std::string(int)> build = [&](int depth) -> std::string {
        if (depth == 0 || pick(4) == 0) {
            switch (pick(4)) {
            case 0:
                return "$x";
            case 1:
                return "$y";
            case 2:
                return std::to_string(pick(4));
            default:
                return "$x";
            }
        }
        static const char* const binary[] = {"+", "-", "*", "/", "**"};
        switch (pick(7)) {
        case 0:
            return "abs(" + build(depth - 1) + ")";
        case 1:
            return "sqrt(" + build(depth - 1) + ")";
        case 2:
            return "exp(" + build(depth - 1) + ")";
        case 3:
            return "-(" + build(depth - 1) + ")";
        case 4:
            return "nthroot(pow(" + build(depth - 1) + ", 2), 2)";
        default:
            return "(" + build(depth - 1) + ") " + binary[pick(5)] + " (" + build(depth - 1) + ")";
        }
    };
    ZQMathEvaluator evaluator;
    int compared = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string text = build(4);
        auto original = parse(text);
        auto result = evaluator.expressionByRewritingExpression(original);
        ASSERT_TRUE(result) << text;
        for (int k = 0; k < 3; ++k) {
            ZQSubstitutions subs{{"x", ZQNumber::fromDouble(pick(7) - 3 + 0.5)},
                                 {"y", ZQNumber::fromDouble(pick(5) + 0.25)}};
            std::optional<ZQError> e1, e2;
            auto a = evaluator.evaluateExpression(*original, &subs, &e1);
            if (!a || !std::isfinite(a->doubleValue()) || std::fabs(a->doubleValue()) > 1e12)
                continue;
            auto b = evaluator.evaluateExpression(*result, &subs, &e2);
            ASSERT_TRUE(b) << text << " => " << result->description();
            const double x = a->doubleValue(), y = b->doubleValue();
            EXPECT_NEAR(y, x, 1e-9 * std::max(1.0, std::fabs(x))) << text << " => " << result->description();
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
}

} // namespace
