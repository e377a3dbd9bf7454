#pragma once

#include "calculator/ZQError.h"
#include "calculator/ZQNumber.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class ZQExpression;
class ZQMathEvaluator;
using ZQExpressionPtr = std::shared_ptr<ZQExpression>;

// What a substitution, a resolver or a registered function may answer. The
// empty alternative stands for a value of no usable type.
using ZQValue = std::variant<std::monostate, ZQNumber, ZQExpressionPtr, std::string>;
using ZQSubstitutions = std::map<std::string, ZQValue>;

enum class ZQExpressionType : std::int64_t
{
    Number = 0,
    Function = 1,
    Variable = 2
};

// A small keyed archive, enough to store an expression tree and read it back.
struct ZQArchive
{
    std::map<std::string, std::variant<ZQNumber, std::string, std::vector<ZQArchive>>> values;
};

// An immutable expression tree node: a number, a variable, or a call of a
// function with argument nodes. Operators are calls of their functions.
class ZQExpression : public std::enable_shared_from_this<ZQExpression>
{
public:
    virtual ~ZQExpression() = default;

    static ZQExpressionPtr numberExpressionWithNumber(const ZQNumber& number);
    // One leading "$" is dropped; an empty name gives nothing.
    static ZQExpressionPtr variableExpressionWithVariable(std::string_view name);
    // Every argument's parent becomes the new node. A missing argument is code
    // 18; a tree deeper than the calculator walks safely is code 1.
    static ZQExpressionPtr functionExpressionWithFunction(std::string_view function,
                                                          std::vector<ZQExpressionPtr> arguments,
                                                          ZQErrorPlace error);
    static ZQExpressionPtr expressionFromString(std::string_view text, ZQErrorPlace error);

    virtual ZQExpressionType expressionType() const = 0;
    // Each throws unless the node is of the matching kind.
    virtual const ZQNumber& number() const;
    virtual const std::string& function() const;
    virtual const std::vector<ZQExpressionPtr>& arguments() const;
    virtual const std::string& variable() const;

    // The function node that most recently took this node as an argument.
    ZQExpressionPtr parentExpression() const { return m_parent.lock(); }
    int depth() const { return m_depth; }

    std::optional<ZQNumber> evaluateWithSubstitutions(const ZQSubstitutions* substitutions,
                                                      ZQMathEvaluator* evaluator, ZQErrorPlace error) const;
    // A node can come back together with an error in the place (for example an
    // unknown function without arguments stays a function node): check the node first.
    ZQExpressionPtr simplifiedExpressionWithEvaluator(ZQMathEvaluator* evaluator, ZQErrorPlace error) const;
    // With the shared evaluator; logs "error: ..." and answers nothing when an error was placed.
    ZQExpressionPtr simplifiedExpression() const;

    virtual ZQExpressionPtr copy() const = 0;
    virtual std::size_t hash() const = 0;
    virtual bool isEqual(const ZQExpression& other) const = 0;
    virtual std::string description() const = 0;

    virtual ZQArchive encode() const = 0;
    static ZQExpressionPtr decode(const ZQArchive& archive);

protected:
    ZQExpression() = default;
    virtual ZQExpressionPtr simplified(ZQMathEvaluator* evaluator, ZQErrorPlace error) const = 0;
    int m_depth = 1;

private:
    friend class ZQFunctionExpression;
    mutable std::weak_ptr<ZQExpression> m_parent;
};

inline bool operator==(const ZQExpression& a, const ZQExpression& b)
{
    return a.isEqual(b);
}

class ZQNumberExpression final : public ZQExpression
{
public:
    explicit ZQNumberExpression(const ZQNumber& number) : m_number(number) {}
    ZQExpressionType expressionType() const override { return ZQExpressionType::Number; }
    const ZQNumber& number() const override { return m_number; }
    ZQExpressionPtr copy() const override;
    std::size_t hash() const override { return m_number.hash(); }
    bool isEqual(const ZQExpression& other) const override;
    std::string description() const override { return m_number.description(); }
    ZQArchive encode() const override;

protected:
    ZQExpressionPtr simplified(ZQMathEvaluator*, ZQErrorPlace) const override;

private:
    ZQNumber m_number;
};

class ZQVariableExpression final : public ZQExpression
{
public:
    explicit ZQVariableExpression(std::string name) : m_name(std::move(name)) {}
    ZQExpressionType expressionType() const override { return ZQExpressionType::Variable; }
    const std::string& variable() const override { return m_name; }
    ZQExpressionPtr copy() const override;
    std::size_t hash() const override;
    bool isEqual(const ZQExpression& other) const override;
    std::string description() const override { return "$" + m_name; }
    ZQArchive encode() const override;

protected:
    ZQExpressionPtr simplified(ZQMathEvaluator*, ZQErrorPlace) const override;

private:
    std::string m_name;
};

class ZQFunctionExpression final : public ZQExpression
{
public:
    ZQFunctionExpression(std::string function, std::vector<ZQExpressionPtr> arguments);
    ZQExpressionType expressionType() const override { return ZQExpressionType::Function; }
    // Read back lower-cased, so function names are case-insensitive everywhere.
    const std::string& function() const override { return m_function; }
    const std::vector<ZQExpressionPtr>& arguments() const override { return m_arguments; }
    ZQExpressionPtr copy() const override;
    std::size_t hash() const override;
    bool isEqual(const ZQExpression& other) const override;
    std::string description() const override;
    ZQArchive encode() const override;

    void adoptArguments();

protected:
    ZQExpressionPtr simplified(ZQMathEvaluator* evaluator, ZQErrorPlace error) const override;

private:
    std::string m_function;
    std::vector<ZQExpressionPtr> m_arguments;
};
