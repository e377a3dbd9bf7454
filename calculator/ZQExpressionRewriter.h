#pragma once

#include "calculator/ZQExpression.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ZQMathEvaluator;

// Placeholder name -> the node it matched. Bound nodes are shared, not copied,
// so that a rewrite that changes nothing answers the very same node.
using ZQRewriteBindings = std::unordered_map<std::string, ZQExpressionPtr>;

// One algebraic rewrite: a template with placeholders ("__exp1 + 0"), the
// replacement ("__exp1") and an optional condition ("__exp1 != 0").
// Placeholders are argument-less calls named "__exp…" (any node), "__num…",
// "__var…" or "__func…" (a node of that kind).
class ZQRewriteRule
{
public:
    // Nothing (and "error creating rule: …" logged) when a text does not parse
    // or the template is no function call. A condition that does not parse
    // refuses the rule too: dropping it would apply the rule unguarded.
    static std::shared_ptr<ZQRewriteRule> rewriteRuleWithTemplate(std::string_view templateText,
                                                                  std::string_view replacement,
                                                                  std::optional<std::string_view> condition);

    const ZQExpressionPtr& predicate() const { return m_template; }
    const ZQExpressionPtr& pattern() const { return m_replacement; }
    const ZQExpressionPtr& condition() const { return m_condition; }

    bool ruleMatchesExpression(const ZQExpressionPtr& expression, ZQMathEvaluator& evaluator) const;
    // The replacement when the rule matches the node itself; otherwise the same node.
    ZQExpressionPtr expressionByRewritingExpression(const ZQExpressionPtr& expression,
                                                    ZQMathEvaluator& evaluator) const;
    bool matchExpression(const ZQExpressionPtr& expression, ZQRewriteBindings& bindings,
                         ZQMathEvaluator& evaluator) const;
    std::string description() const;

private:
    bool matches(const ZQExpressionPtr& expression, ZQRewriteBindings& bindings,
                 ZQMathEvaluator& evaluator) const;
    ZQExpressionPtr m_template;
    ZQExpressionPtr m_replacement;
    ZQExpressionPtr m_condition;
};

class ZQExpressionRewriter
{
public:
    // The shared rewriter with the default rules.
    static ZQExpressionRewriter& defaultRewriter();
    ZQExpressionRewriter(); // the 27 default rules

    // Note the order: the replacement comes first. A rule that cannot be built is not added.
    void addRewriteRule(std::string_view replacement, std::string_view templateText,
                        std::optional<std::string_view> condition = std::nullopt);
    const std::vector<std::shared_ptr<ZQRewriteRule>>& rewriteRules() const { return m_rules; }

    // Simplifies, then applies every rule in order, cycle after cycle, until a
    // cycle changes nothing (or after MaximumCycles changing cycles). Nothing
    // when simplification fails.
    ZQExpressionPtr expressionByRewritingExpression(const ZQExpressionPtr& expression,
                                                    ZQMathEvaluator& evaluator) const;
    static constexpr int MaximumCycles = 256;

private:
    ZQExpressionPtr rewrite(const ZQExpressionPtr& expression, const ZQRewriteRule& rule,
                            ZQMathEvaluator& evaluator) const;
    std::vector<std::shared_ptr<ZQRewriteRule>> m_rules;
};
