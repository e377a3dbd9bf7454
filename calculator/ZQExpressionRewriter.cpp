#include "calculator/ZQExpressionRewriter.h"

#include "calculator/ZQMathEvaluator.h"

#include <cstdio>

namespace {

enum class Placeholder
{
    None,
    Any,
    Number,
    Variable,
    Function
};

Placeholder placeholderKind(const ZQExpression& node)
{
    if (node.expressionType() != ZQExpressionType::Function)
        return Placeholder::None;
    const std::string& name = node.function();
    if (name.rfind("__exp", 0) == 0)
        return Placeholder::Any;
    if (name.rfind("__num", 0) == 0)
        return Placeholder::Number;
    if (name.rfind("__var", 0) == 0)
        return Placeholder::Variable;
    if (name.rfind("__func", 0) == 0)
        return Placeholder::Function;
    return Placeholder::None;
}

bool fits(Placeholder kind, const ZQExpression& node)
{
    switch (kind) {
    case Placeholder::Any:
        return true;
    case Placeholder::Number:
        return node.expressionType() == ZQExpressionType::Number;
    case Placeholder::Variable:
        return node.expressionType() == ZQExpressionType::Variable;
    case Placeholder::Function:
        return node.expressionType() == ZQExpressionType::Function;
    case Placeholder::None:
        break;
    }
    return false;
}

bool matchNode(const ZQExpressionPtr& pattern, const ZQExpressionPtr& node, ZQRewriteBindings& bindings)
{
    if (pattern->expressionType() != ZQExpressionType::Function)
        return pattern->isEqual(*node);
    const Placeholder kind = placeholderKind(*pattern);
    if (kind != Placeholder::None && fits(kind, *node)) {
        auto [it, inserted] = bindings.emplace(pattern->function(), node);
        return inserted || it->second->isEqual(*node);
    }
    if (node->expressionType() != ZQExpressionType::Function || node->function() != pattern->function())
        return false;
    const auto& mine = pattern->arguments();
    const auto& theirs = node->arguments();
    if (mine.size() != theirs.size())
        return false;
    for (std::size_t i = 0; i < mine.size(); ++i)
        if (!matchNode(mine[i], theirs[i], bindings))
            return false;
    return true;
}

// Nothing when the result would be deeper than trees may be.
ZQExpressionPtr applyBindings(const ZQExpressionPtr& pattern, const ZQRewriteBindings& bindings)
{
    if (pattern->expressionType() != ZQExpressionType::Function)
        return pattern;
    if (auto it = bindings.find(pattern->function()); it != bindings.end())
        return it->second;
    std::vector<ZQExpressionPtr> arguments;
    arguments.reserve(pattern->arguments().size());
    for (const auto& argument : pattern->arguments()) {
        auto applied = applyBindings(argument, bindings);
        if (!applied)
            return nullptr;
        arguments.push_back(std::move(applied));
    }
    return ZQExpression::functionExpressionWithFunction(pattern->function(), std::move(arguments), nullptr);
}

ZQExpressionPtr parseRuleText(std::string_view text)
{
    std::optional<ZQError> error;
    auto node = ZQExpression::expressionFromString(text, &error);
    if (!node)
        ZQLog("error creating rule: " + (error ? error->description() : std::string("(null)")));
    return node;
}

} // namespace

std::shared_ptr<ZQRewriteRule>
ZQRewriteRule::rewriteRuleWithTemplate(std::string_view templateText, std::string_view replacement,
                                       std::optional<std::string_view> condition)
{
    auto rule = std::make_shared<ZQRewriteRule>();
    rule->m_template = parseRuleText(templateText);
    if (!rule->m_template)
        return nullptr;
    rule->m_replacement = parseRuleText(replacement);
    if (!rule->m_replacement)
        return nullptr;
    if (rule->m_template->expressionType() != ZQExpressionType::Function) {
        ZQLog("error creating rule: (null)");
        return nullptr;
    }
    if (condition) {
        rule->m_condition = parseRuleText(*condition);
        if (!rule->m_condition)
            return nullptr;
    }
    return rule;
}

bool ZQRewriteRule::matchExpression(const ZQExpressionPtr& expression, ZQRewriteBindings& bindings,
                                    ZQMathEvaluator& evaluator) const
{
    return matches(expression, bindings, evaluator);
}

bool ZQRewriteRule::matches(const ZQExpressionPtr& expression, ZQRewriteBindings& bindings,
                            ZQMathEvaluator& evaluator) const
{
    if (!matchNode(m_template, expression, bindings))
        return false;
    if (!m_condition)
        return true;
    auto condition = applyBindings(m_condition, bindings);
    if (!condition)
        return false;
    // The bindings are already in the condition; handing them over again as
    // substitutions would let a bound "$__exp1" refer to itself without end.
    std::optional<ZQError> ignored;
    auto value = evaluator.evaluateExpression(*condition, nullptr, &ignored);
    return value && value->boolValue();
}

bool ZQRewriteRule::ruleMatchesExpression(const ZQExpressionPtr& expression, ZQMathEvaluator& evaluator) const
{
    ZQRewriteBindings bindings;
    return matches(expression, bindings, evaluator);
}

ZQExpressionPtr ZQRewriteRule::expressionByRewritingExpression(const ZQExpressionPtr& expression,
                                                               ZQMathEvaluator& evaluator) const
{
    ZQRewriteBindings bindings;
    if (!matches(expression, bindings, evaluator))
        return expression;
    auto result = applyBindings(m_replacement, bindings);
    return result ? result : expression;
}

std::string ZQRewriteRule::description() const
{
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<ZQRewriteRule: ") + address + "> (" + m_template->description() + " => " +
           m_replacement->description() + ")";
}

// ---------------------------------------------------------------------------

ZQExpressionRewriter& ZQExpressionRewriter::defaultRewriter()
{
    static ZQExpressionRewriter rewriter;
    return rewriter;
}

ZQExpressionRewriter::ZQExpressionRewriter()
{
    struct Rule
    {
        const char* templateText;
        const char* replacement;
        const char* condition;
    };
    static const Rule rules[] = {
        {"0 + __exp1", "__exp1", nullptr},
        {"__exp1 + 0", "__exp1", nullptr},
        {"__exp1 + __exp1", "2 * __exp1", nullptr},
        {"__exp1 - __exp1", "0", nullptr},
        {"1 * __exp1", "__exp1", nullptr},
        {"__exp1 * 1", "__exp1", nullptr},
        {"__exp1 * __exp1", "__exp1 ** 2", nullptr},
        {"__num1 * __var1", "__var1 * __num1", nullptr},
        {"0 * __exp1", "0", nullptr},
        {"__exp1 * 0", "0", nullptr},
        {"--__exp1", "__exp1", nullptr},
        {"abs(-__exp1)", "abs(__exp1)", nullptr},
        {"exp(__exp1) * exp(__exp2)", "exp(__exp1 + __exp2)", nullptr},
        {"(__exp1 ** __exp3) * (__exp2 ** __exp3)", "(__exp1 * __exp2) ** __exp3", nullptr},
        {"__exp1 ** 0", "1", nullptr},
        {"__exp1 ** 1", "__exp1", nullptr},
        {"sqrt(__exp1 ** 2)", "abs(__exp1)", nullptr},
        {"dtor(rtod(__exp1))", "__exp1", nullptr},
        {"rtod(dtor(__exp1))", "__exp1", nullptr},
        {"__exp1 / __exp1", "1", "__exp1 != 0"},
        {"(__exp1 * __exp2) / __exp2", "__exp1", "__exp2 != 0"},
        {"(__exp2 * __exp1) / __exp2", "__exp1", "__exp2 != 0"},
        {"__exp2 / (__exp2 * __exp1)", "1/__exp1", "__exp2 != 0"},
        {"__exp2 / (__exp1 * __exp2)", "1/__exp1", "__exp2 != 0"},
        {"nthroot(pow(__exp1, __exp2), __exp2)", "abs(__exp1)", "__exp2 % 2 == 0"},
        {"nthroot(pow(__exp1, __exp2), __exp2)", "__exp1", "__exp2 % 2 == 1"},
        {"abs(__exp1)", "__exp1", "__exp1 >= 0"},
    };
    for (const Rule& rule : rules)
        addRewriteRule(rule.replacement, rule.templateText,
                       rule.condition ? std::optional<std::string_view>(rule.condition) : std::nullopt);
}

void ZQExpressionRewriter::addRewriteRule(std::string_view replacement, std::string_view templateText,
                                          std::optional<std::string_view> condition)
{
    if (auto rule = ZQRewriteRule::rewriteRuleWithTemplate(templateText, replacement, condition))
        m_rules.push_back(std::move(rule));
}

ZQExpressionPtr ZQExpressionRewriter::rewrite(const ZQExpressionPtr& expression, const ZQRewriteRule& rule,
                                              ZQMathEvaluator& evaluator) const
{
    ZQExpressionPtr result = rule.expressionByRewritingExpression(expression, evaluator);
    if (result != expression || expression->expressionType() != ZQExpressionType::Function)
        return result;
    std::vector<ZQExpressionPtr> arguments;
    arguments.reserve(expression->arguments().size());
    bool changed = false;
    for (const auto& argument : expression->arguments()) {
        arguments.push_back(rewrite(argument, rule, evaluator));
        changed = changed || arguments.back() != argument;
    }
    if (!changed)
        return expression;
    auto rebuilt =
        ZQExpression::functionExpressionWithFunction(expression->function(), std::move(arguments), nullptr);
    return rebuilt ? rebuilt : expression;
}

ZQExpressionPtr ZQExpressionRewriter::expressionByRewritingExpression(const ZQExpressionPtr& expression,
                                                                      ZQMathEvaluator& evaluator) const
{
    ZQExpressionPtr current = expression;
    int cycles = 0;
    while (current) {
        std::optional<ZQError> ignored;
        current = current->simplifiedExpressionWithEvaluator(&evaluator, &ignored);
        if (!current)
            break;
        bool changed = false;
        for (const auto& rule : m_rules) {
            ZQExpressionPtr next = rewrite(current, *rule, evaluator);
            changed = changed || next != current;
            current = std::move(next);
        }
        if (!changed)
            break;
        if (++cycles >= MaximumCycles) {
            ZQLog("ABORT: replacement limit reached");
            break;
        }
    }
    return current;
}
