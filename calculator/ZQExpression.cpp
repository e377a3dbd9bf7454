#include "calculator/ZQExpression.h"

#include "calculator/ZQMathEvaluator.h"
#include "calculator/ZQParser.h"
#include "calculator/ZQText.h"

#include <functional>
#include <stdexcept>

namespace {
// API users can build trees the parser never would; past this depth the
// recursive walks (copy, equality, destruction) are refused up front.
constexpr int MaximumTreeDepth = 2 * ZQMaximumDepth;
} // namespace

const ZQNumber& ZQExpression::number() const
{
    throw std::logic_error("This is not a numeric expression");
}

const std::string& ZQExpression::function() const
{
    throw std::invalid_argument("This is not a function expression");
}

const std::vector<ZQExpressionPtr>& ZQExpression::arguments() const
{
    throw std::invalid_argument("This is not a function expression");
}

const std::string& ZQExpression::variable() const
{
    throw std::invalid_argument("This is not a variable expression");
}

ZQExpressionPtr ZQExpression::numberExpressionWithNumber(const ZQNumber& number)
{
    return std::make_shared<ZQNumberExpression>(number);
}

ZQExpressionPtr ZQExpression::variableExpressionWithVariable(std::string_view name)
{
    if (!name.empty() && name.front() == '$')
        name.remove_prefix(1);
    if (name.empty())
        return nullptr;
    return std::make_shared<ZQVariableExpression>(std::string(name));
}

ZQExpressionPtr ZQExpression::functionExpressionWithFunction(std::string_view function,
                                                             std::vector<ZQExpressionPtr> arguments,
                                                             ZQErrorPlace error)
{
    int depth = 1;
    for (const auto& argument : arguments) {
        if (!argument) {
            ZQSetError(error, ZQErrorCode::InvalidArgument,
                       "function arguments must be ZQExpression objects");
            return nullptr;
        }
        depth = std::max(depth, argument->m_depth + 1);
    }
    if (depth > MaximumTreeDepth) {
        ZQSetError(error, ZQErrorCode::InvalidFormat, std::string(ZQTooComplexMessage));
        return nullptr;
    }
    auto node = std::make_shared<ZQFunctionExpression>(ZQText::toLower(function), std::move(arguments));
    node->m_depth = depth;
    node->adoptArguments();
    return node;
}

ZQExpressionPtr ZQExpression::expressionFromString(std::string_view text, ZQErrorPlace error)
{
    std::optional<ZQError> local;
    ZQErrorPlace place = error ? error : &local;
    auto parser = ZQParser::parserWithString(text, place);
    if (!parser)
        return nullptr;
    return parser->parsedExpressionWithError(place);
}

std::optional<ZQNumber> ZQExpression::evaluateWithSubstitutions(const ZQSubstitutions* substitutions,
                                                                ZQMathEvaluator* evaluator,
                                                                ZQErrorPlace error) const
{
    if (!evaluator)
        return std::nullopt;
    return evaluator->evaluateExpression(*this, substitutions, error);
}

ZQExpressionPtr ZQExpression::simplifiedExpressionWithEvaluator(ZQMathEvaluator* evaluator,
                                                                ZQErrorPlace error) const
{
    return simplified(evaluator ? evaluator : &ZQMathEvaluator::defaultMathEvaluator(), error);
}

ZQExpressionPtr ZQExpression::simplifiedExpression() const
{
    std::optional<ZQError> error;
    ZQExpressionPtr result = simplifiedExpressionWithEvaluator(nullptr, &error);
    if (error) {
        ZQLog("error: " + error->description());
        return nullptr;
    }
    return result;
}

// --- archive ----------------------------------------------------------------

ZQExpressionPtr ZQExpression::decode(const ZQArchive& archive)
{
    // Iterative over an explicit stack would be overkill: archives come from
    // encode(), whose trees are depth-limited; still refuse malformed input.
    std::function<ZQExpressionPtr(const ZQArchive&, int)> read = [&](const ZQArchive& a,
                                                                     int depth) -> ZQExpressionPtr {
        if (depth > MaximumTreeDepth)
            return nullptr;
        if (auto it = a.values.find("number"); it != a.values.end()) {
            if (auto* n = std::get_if<ZQNumber>(&it->second))
                return numberExpressionWithNumber(*n);
            return nullptr;
        }
        if (auto it = a.values.find("variable"); it != a.values.end()) {
            // The stored name is already without its "$"; a name that itself
            // starts with "$" must come back unchanged.
            if (auto* s = std::get_if<std::string>(&it->second); s && !s->empty())
                return std::make_shared<ZQVariableExpression>(*s);
            return nullptr;
        }
        auto f = a.values.find("function");
        auto args = a.values.find("arguments");
        if (f == a.values.end() || args == a.values.end())
            return nullptr;
        auto* name = std::get_if<std::string>(&f->second);
        auto* list = std::get_if<std::vector<ZQArchive>>(&args->second);
        if (!name || !list)
            return nullptr;
        std::vector<ZQExpressionPtr> arguments;
        for (const auto& child : *list) {
            auto node = read(child, depth + 1);
            if (!node)
                return nullptr;
            arguments.push_back(std::move(node));
        }
        return functionExpressionWithFunction(*name, std::move(arguments), nullptr);
    };
    return read(archive, 1);
}

// --- numbers ------------------------------------------------------------------

ZQExpressionPtr ZQNumberExpression::copy() const
{
    return std::make_shared<ZQNumberExpression>(m_number);
}

bool ZQNumberExpression::isEqual(const ZQExpression& other) const
{
    return other.expressionType() == ZQExpressionType::Number && m_number.isEqualToNumber(other.number());
}

ZQArchive ZQNumberExpression::encode() const
{
    ZQArchive a;
    a.values["number"] = m_number;
    return a;
}

ZQExpressionPtr ZQNumberExpression::simplified(ZQMathEvaluator*, ZQErrorPlace) const
{
    return std::const_pointer_cast<ZQExpression>(shared_from_this());
}

// --- variables ----------------------------------------------------------------

ZQExpressionPtr ZQVariableExpression::copy() const
{
    return std::make_shared<ZQVariableExpression>(m_name);
}

std::size_t ZQVariableExpression::hash() const
{
    return std::hash<std::string>{}(m_name);
}

bool ZQVariableExpression::isEqual(const ZQExpression& other) const
{
    return other.expressionType() == ZQExpressionType::Variable && m_name == other.variable();
}

ZQArchive ZQVariableExpression::encode() const
{
    ZQArchive a;
    a.values["variable"] = m_name;
    return a;
}

ZQExpressionPtr ZQVariableExpression::simplified(ZQMathEvaluator*, ZQErrorPlace) const
{
    return std::const_pointer_cast<ZQExpression>(shared_from_this());
}

// --- functions ----------------------------------------------------------------

ZQFunctionExpression::ZQFunctionExpression(std::string function, std::vector<ZQExpressionPtr> arguments)
    : m_function(std::move(function)), m_arguments(std::move(arguments))
{
}

void ZQFunctionExpression::adoptArguments()
{
    for (const auto& argument : m_arguments)
        argument->m_parent = weak_from_this();
}

ZQExpressionPtr ZQFunctionExpression::copy() const
{
    std::vector<ZQExpressionPtr> arguments;
    arguments.reserve(m_arguments.size());
    for (const auto& argument : m_arguments)
        arguments.push_back(argument->copy());
    return functionExpressionWithFunction(m_function, std::move(arguments), nullptr);
}

std::size_t ZQFunctionExpression::hash() const
{
    return std::hash<std::string>{}(m_function);
}

bool ZQFunctionExpression::isEqual(const ZQExpression& other) const
{
    if (other.expressionType() != ZQExpressionType::Function || m_function != other.function())
        return false;
    const auto& theirs = other.arguments();
    if (theirs.size() != m_arguments.size())
        return false;
    for (std::size_t i = 0; i < m_arguments.size(); ++i)
        if (!m_arguments[i]->isEqual(*theirs[i]))
            return false;
    return true;
}

std::string ZQFunctionExpression::description() const
{
    std::string out = m_function + "(";
    for (std::size_t i = 0; i < m_arguments.size(); ++i) {
        if (i)
            out += ",";
        out += m_arguments[i]->description();
    }
    return out + ")";
}

ZQArchive ZQFunctionExpression::encode() const
{
    ZQArchive a;
    a.values["function"] = m_function;
    std::vector<ZQArchive> arguments;
    for (const auto& argument : m_arguments)
        arguments.push_back(argument->encode());
    a.values["arguments"] = std::move(arguments);
    return a;
}

ZQExpressionPtr ZQFunctionExpression::simplified(ZQMathEvaluator* evaluator, ZQErrorPlace error) const
{
    std::vector<ZQExpressionPtr> arguments;
    arguments.reserve(m_arguments.size());
    bool allNumbers = true;
    for (const auto& argument : m_arguments) {
        ZQExpressionPtr simple = argument->simplifiedExpressionWithEvaluator(evaluator, error);
        if (!simple)
            return nullptr;
        allNumbers = allNumbers && simple->expressionType() == ZQExpressionType::Number;
        arguments.push_back(std::move(simple));
    }
    if (allNumbers) {
        // The original node is evaluated, in its own tree, so that functions
        // that look at their surroundings (percent) see them.
        std::optional<ZQError> local;
        if (auto value = evaluator->evaluateExpression(*this, nullptr, &local))
            return numberExpressionWithNumber(*value);
        if (local && error && !error->has_value())
            *error = std::move(local);
    }
    return functionExpressionWithFunction(m_function, std::move(arguments), error);
}
