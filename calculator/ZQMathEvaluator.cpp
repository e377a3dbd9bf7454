#include "calculator/ZQMathEvaluator.h"

#include "calculator/ZQExpressionRewriter.h"
#include "calculator/ZQFunctionEvaluator.h"
#include "calculator/ZQMathStringTokenizer.h"
#include "calculator/ZQParser.h"
#include "calculator/ZQText.h"

#include <algorithm>

namespace {

struct DepthGuard
{
    int& depth;
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
};

void setTooComplex(ZQErrorPlace error)
{
    ZQSetError(error, ZQErrorCode::InvalidFormat, std::string(ZQTooComplexMessage));
}

} // namespace

ZQMathEvaluator& ZQMathEvaluator::defaultMathEvaluator()
{
    static ZQMathEvaluator evaluator;
    return evaluator;
}

ZQMathEvaluator::ZQMathEvaluator()
    : m_functionEvaluator(std::make_unique<ZQFunctionEvaluator>(*this)),
      m_operatorSet(ZQMathOperatorSet::defaultOperatorSet())
{
    static const char* const aliases[][2] = {
        {"avg", "average"}, {"mean", "average"}, {"trunc", "floor"},     {"modulo", "mod"},
        {"\u03C0", "pi"},   {"tau_2", "pi"},     {"\u03C4", "tau"},      {"\u03D5", "phi"},
        {"vers", "versin"}, {"ver", "versin"},   {"vercos", "vercosin"}, {"cvs", "coversin"},
        {"chord", "crd"},
    };
    for (const auto& alias : aliases)
        addAlias(alias[0], alias[1]);
}

ZQMathEvaluator::~ZQMathEvaluator() = default;

void ZQMathEvaluator::setOperatorSet(std::shared_ptr<ZQMathOperatorSet> set)
{
    m_operatorSet = set ? std::move(set) : ZQMathOperatorSet::defaultOperatorSet();
}

void ZQMathEvaluator::setUsesHighPrecisionEvaluation(bool value)
{
    if (value == m_highPrecision)
        return;
    m_highPrecision = value;
    m_functionEvaluator =
        value ? ZQMakePrecisionFunctionEvaluator(*this) : std::make_unique<ZQFunctionEvaluator>(*this);
    if (!m_functionEvaluator)
        m_functionEvaluator = std::make_unique<ZQFunctionEvaluator>(*this);
}

std::optional<ZQNumber> ZQMathEvaluator::evaluateString(std::string_view text,
                                                        const ZQSubstitutions* substitutions,
                                                        ZQErrorPlace error)
{
    std::optional<ZQError> local;
    ZQErrorPlace place = error ? error : &local;
    auto tokenizer = ZQMathStringTokenizer::tokenizerWithString(text, m_operatorSet, place);
    if (!tokenizer)
        return std::nullopt;
    auto parser = ZQParser::parserWithTokenizer(std::move(tokenizer), place);
    if (!parser)
        return std::nullopt;
    ZQExpressionPtr expression = parser->parsedExpressionWithError(place);
    if (!expression)
        return std::nullopt;
    return evaluateExpression(*expression, substitutions, place);
}

std::optional<ZQNumber> ZQMathEvaluator::evaluateString(std::string_view text,
                                                        const ZQSubstitutions* substitutions)
{
    std::optional<ZQError> error;
    auto result = evaluateString(text, substitutions, &error);
    if (!result)
        ZQLog("error: " + (error ? error->description() : std::string("(null)")));
    return result;
}

std::optional<ZQNumber> ZQMathEvaluator::evaluateExpression(const ZQExpression& expression,
                                                            const ZQSubstitutions* substitutions,
                                                            ZQErrorPlace error)
{
    if (m_depth >= MaximumEvaluationDepth) {
        setTooComplex(error);
        return std::nullopt;
    }
    DepthGuard guard(m_depth);
    switch (expression.expressionType()) {
    case ZQExpressionType::Number:
        return expression.number();
    case ZQExpressionType::Variable:
        return evaluateVariable(expression, substitutions, error);
    case ZQExpressionType::Function: {
        std::optional<ZQValue> value =
            m_functionEvaluator->evaluateFunction(expression, substitutions, error);
        if (!value)
            return std::nullopt;
        // Built-ins answer number nodes; take the number without another round.
        if (auto* node = std::get_if<ZQExpressionPtr>(&*value);
            node && *node && (*node)->expressionType() == ZQExpressionType::Number)
            return (*node)->number();
        auto number = reduceValue(*value, substitutions, error);
        if (!number)
            ZQSetErrorIfEmpty(error,
                              ZQMakeError(ZQErrorCode::InvalidReturnType,
                                          "invalid return type from " + expression.function() + " function"));
        return number;
    }
    }
    return std::nullopt;
}

std::optional<ZQNumber> ZQMathEvaluator::evaluateVariable(const ZQExpression& node,
                                                          const ZQSubstitutions* substitutions,
                                                          ZQErrorPlace error)
{
    const std::string& name = node.variable();
    auto unresolved = [&] {
        ZQError e = ZQMakeError(ZQErrorCode::UnknownVariable, "unable to resolve variable: $" + name);
        e.variable = name;
        return e;
    };
    // A substitution that leads back to itself ({x: "$x"}) has no value.
    if (std::find(m_variablesInProgress.begin(), m_variablesInProgress.end(), name) !=
        m_variablesInProgress.end()) {
        if (error)
            *error = unresolved();
        return std::nullopt;
    }
    std::optional<ZQValue> value;
    if (substitutions) {
        if (auto it = substitutions->find(name); it != substitutions->end())
            value = it->second;
    }
    if (!value)
        value = variableWithName(name);
    std::optional<ZQNumber> number;
    if (value) {
        m_variablesInProgress.push_back(name);
        number = reduceValue(*value, substitutions, error);
        m_variablesInProgress.pop_back();
    }
    if (!number)
        ZQSetErrorIfEmpty(error, unresolved());
    return number;
}

std::optional<ZQNumber> ZQMathEvaluator::reduceValue(const ZQValue& value,
                                                     const ZQSubstitutions* substitutions, ZQErrorPlace error)
{
    if (auto* number = std::get_if<ZQNumber>(&value))
        return *number;
    if (auto* expression = std::get_if<ZQExpressionPtr>(&value))
        return *expression ? evaluateExpression(**expression, substitutions, error) : std::nullopt;
    if (auto* text = std::get_if<std::string>(&value)) {
        if (m_depth >= MaximumEvaluationDepth) {
            setTooComplex(error);
            return std::nullopt;
        }
        DepthGuard guard(m_depth);
        return evaluateString(*text, substitutions, error);
    }
    return std::nullopt;
}

bool ZQMathEvaluator::registerFunction(ZQMathFunction function, std::string_view name)
{
    std::string key = ZQText::toLower(name);
    if (!function || key.empty() || ZQFunctionEvaluator::isStandardFunction(key) || m_functions.count(key))
        return false;
    m_functions.emplace(std::move(key), std::move(function));
    return true;
}

void ZQMathEvaluator::unregisterFunctionWithName(std::string_view name)
{
    m_functions.erase(ZQText::toLower(name));
}

bool ZQMathEvaluator::addAlias(std::string_view alias, std::string_view functionName)
{
    const std::string target(functionName);
    return registerFunction(
        [target](const std::vector<ZQExpressionPtr>& arguments, const ZQSubstitutions* substitutions,
                 ZQMathEvaluator& evaluator, ZQErrorPlace error) -> std::optional<ZQValue> {
            ZQExpressionPtr node = ZQExpression::functionExpressionWithFunction(target, arguments, error);
            if (!node)
                return std::nullopt;
            auto value = evaluator.evaluateExpression(*node, substitutions, error);
            if (!value)
                return std::nullopt;
            return ZQValue(*value);
        },
        alias);
}

void ZQMathEvaluator::removeAlias(std::string_view alias)
{
    unregisterFunctionWithName(alias);
}

std::vector<std::string> ZQMathEvaluator::registeredFunctions() const
{
    std::vector<std::string> names = ZQFunctionEvaluator::standardFunctions();
    for (const auto& entry : m_functions)
        names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<ZQValue> ZQMathEvaluator::variableWithName(const std::string& name) const
{
    if (!m_variableResolver)
        return std::nullopt;
    return m_variableResolver(name);
}

std::optional<ZQValue> ZQMathEvaluator::resolveFunction(const ZQExpression& node,
                                                        const ZQSubstitutions* substitutions,
                                                        ZQErrorPlace error)
{
    const std::string& name = node.function();
    std::optional<ZQMathFunction> function;
    if (auto it = m_functions.find(name); it != m_functions.end())
        function = it->second;
    if (!function && m_resolvesFunctionsAsVariables) {
        std::optional<ZQNumber> value;
        if (substitutions) {
            if (auto it = substitutions->find(name); it != substitutions->end())
                value = reduceValue(it->second, substitutions, error);
        }
        if (!value) {
            if (auto resolved = variableWithName(name))
                value = reduceValue(*resolved, substitutions, error);
        }
        if (value)
            return ZQValue(ZQExpression::numberExpressionWithNumber(*value));
    }
    if (!function && m_functionResolver)
        function = m_functionResolver(name);
    std::optional<ZQValue> answer;
    if (function && *function) {
        if (m_depth >= MaximumEvaluationDepth) {
            setTooComplex(error);
            return std::nullopt;
        }
        DepthGuard guard(m_depth);
        answer = (*function)(node.arguments(), substitutions, *this, error);
    }
    if (!answer) {
        ZQError e = ZQMakeError(ZQErrorCode::UnknownFunction, "unable to resolve function: " + name);
        e.function = name;
        ZQSetErrorIfEmpty(error, std::move(e));
    }
    return answer;
}

ZQExpressionPtr ZQMathEvaluator::expressionByRewritingExpression(const ZQExpressionPtr& expression)
{
    return expression
               ? ZQExpressionRewriter::defaultRewriter().expressionByRewritingExpression(expression, *this)
               : nullptr;
}

void ZQMathEvaluator::addRewriteRule(std::string_view replacement, std::string_view templateText,
                                     std::optional<std::string_view> condition)
{
    ZQExpressionRewriter::defaultRewriter().addRewriteRule(replacement, templateText, condition);
}

namespace ZQMathParsing {

std::optional<ZQNumber> numberByEvaluatingStringWithSubstitutions(std::string_view text,
                                                                  const ZQSubstitutions* substitutions,
                                                                  ZQErrorPlace error)
{
    return ZQMathEvaluator::defaultMathEvaluator().evaluateString(text, substitutions, error);
}

std::optional<ZQNumber> numberByEvaluatingStringWithSubstitutions(std::string_view text,
                                                                  const ZQSubstitutions* substitutions)
{
    return ZQMathEvaluator::defaultMathEvaluator().evaluateString(text, substitutions);
}

std::optional<ZQNumber> numberByEvaluatingString(std::string_view text)
{
    return numberByEvaluatingStringWithSubstitutions(text, nullptr);
}

} // namespace ZQMathParsing
