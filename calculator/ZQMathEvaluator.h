#pragma once

#include "calculator/ZQError.h"
#include "calculator/ZQExpression.h"
#include "calculator/ZQMathOperator.h"
#include "calculator/ZQNumber.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ZQFunctionEvaluator;

enum class ZQAngleMeasurementMode : std::int64_t
{
    Radians = 0,
    Degrees = 1
};

// A registered function, an alias or a resolved function: takes the argument
// nodes, the substitutions (may be null), the evaluator and the error place;
// answers a value (normally a number) or nothing with an error placed.
using ZQMathFunction = std::function<std::optional<ZQValue>(
    const std::vector<ZQExpressionPtr>& arguments, const ZQSubstitutions* substitutions,
    class ZQMathEvaluator& evaluator, ZQErrorPlace error)>;
using ZQFunctionResolver = std::function<std::optional<ZQMathFunction>(const std::string& name)>;
using ZQVariableResolver = std::function<std::optional<ZQValue>(const std::string& name)>;

// Evaluates expression trees: owns the function namespace (built-ins,
// registered functions, aliases, resolvers), the operator set used to read
// texts, the angle mode and the high-precision switch.
class ZQMathEvaluator
{
public:
    // The shared evaluator: radians, double precision, the default operators.
    static ZQMathEvaluator& defaultMathEvaluator();
    static ZQMathEvaluator& sharedMathEvaluator() { return defaultMathEvaluator(); }

    ZQMathEvaluator();
    ~ZQMathEvaluator();
    ZQMathEvaluator(const ZQMathEvaluator&) = delete;
    ZQMathEvaluator& operator=(const ZQMathEvaluator&) = delete;

    std::optional<ZQNumber> evaluateString(std::string_view text, const ZQSubstitutions* substitutions,
                                           ZQErrorPlace error);
    // Logs "error: ..." on failure.
    std::optional<ZQNumber> evaluateString(std::string_view text,
                                           const ZQSubstitutions* substitutions = nullptr);
    std::optional<ZQNumber> evaluateExpression(const ZQExpression& expression,
                                               const ZQSubstitutions* substitutions, ZQErrorPlace error);

    // Refused for a standard function name or a name already taken.
    bool registerFunction(ZQMathFunction function, std::string_view name);
    void unregisterFunctionWithName(std::string_view name);
    bool addAlias(std::string_view alias, std::string_view functionName);
    void removeAlias(std::string_view alias);
    // Standard names and every registered name and alias, sorted.
    std::vector<std::string> registeredFunctions() const;

    // For a function node that has no built-in: registered functions and
    // aliases, then functions as variables, then the function resolver.
    std::optional<ZQValue> resolveFunction(const ZQExpression& node, const ZQSubstitutions* substitutions,
                                           ZQErrorPlace error);
    std::optional<ZQValue> variableWithName(const std::string& name) const;
    // Reduces a substitution, a resolver's answer or a function's result to a number.
    std::optional<ZQNumber> reduceValue(const ZQValue& value, const ZQSubstitutions* substitutions,
                                        ZQErrorPlace error);

    const std::shared_ptr<ZQMathOperatorSet>& operatorSet() const { return m_operatorSet; }
    void setOperatorSet(std::shared_ptr<ZQMathOperatorSet> set);
    ZQAngleMeasurementMode angleMeasurementMode() const { return m_angleMode; }
    void setAngleMeasurementMode(ZQAngleMeasurementMode mode) { m_angleMode = mode; }
    bool resolvesFunctionsAsVariables() const { return m_resolvesFunctionsAsVariables; }
    void setResolvesFunctionsAsVariables(bool value) { m_resolvesFunctionsAsVariables = value; }
    const ZQFunctionResolver& functionResolver() const { return m_functionResolver; }
    void setFunctionResolver(ZQFunctionResolver resolver) { m_functionResolver = std::move(resolver); }
    const ZQVariableResolver& variableResolver() const { return m_variableResolver; }
    void setVariableResolver(ZQVariableResolver resolver) { m_variableResolver = std::move(resolver); }
    bool usesHighPrecisionEvaluation() const { return m_highPrecision; }
    // Swaps the function evaluator for the decimal one (or back).
    void setUsesHighPrecisionEvaluation(bool value);
    ZQFunctionEvaluator& functionEvaluator() { return *m_functionEvaluator; }

    // Algebraic rewriting with the shared rewriter, evaluating with this evaluator.
    ZQExpressionPtr expressionByRewritingExpression(const ZQExpressionPtr& expression);
    // Adds a rule to the shared rewriter. Note the order: replacement, template, condition.
    void addRewriteRule(std::string_view replacement, std::string_view templateText,
                        std::optional<std::string_view> condition = std::nullopt);

    // Evaluation nests deeper than any tree the parser builds (aliases,
    // angle conversions); past this it is a loop, reported as code 1.
    static constexpr int MaximumEvaluationDepth = 3 * ZQMaximumDepth;

private:
    std::optional<ZQNumber> evaluateVariable(const ZQExpression& node, const ZQSubstitutions* substitutions,
                                             ZQErrorPlace error);

    std::unordered_map<std::string, ZQMathFunction> m_functions;
    std::unique_ptr<ZQFunctionEvaluator> m_functionEvaluator;
    std::shared_ptr<ZQMathOperatorSet> m_operatorSet;
    ZQAngleMeasurementMode m_angleMode = ZQAngleMeasurementMode::Radians;
    bool m_highPrecision = false;
    bool m_resolvesFunctionsAsVariables = false;
    ZQFunctionResolver m_functionResolver;
    ZQVariableResolver m_variableResolver;
    int m_depth = 0;
    std::vector<std::string> m_variablesInProgress;
};

// One-call evaluation of a text with the shared evaluator: the entry of the
// application's Calculate command.
namespace ZQMathParsing {
std::optional<ZQNumber> numberByEvaluatingStringWithSubstitutions(std::string_view text,
                                                                  const ZQSubstitutions* substitutions,
                                                                  ZQErrorPlace error);
// Logs "error: ..." on failure.
std::optional<ZQNumber> numberByEvaluatingStringWithSubstitutions(std::string_view text,
                                                                  const ZQSubstitutions* substitutions);
std::optional<ZQNumber> numberByEvaluatingString(std::string_view text);
} // namespace ZQMathParsing
