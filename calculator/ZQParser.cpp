#include "calculator/ZQParser.h"

#include "calculator/ZQExpression.h"

#include <algorithm>

namespace {

enum class TermType { Number = 1, Variable = 2, Operator = 3, Function = 4, Group = 5 };

struct Term {
    TermType type;
    const ZQMathStringToken* token = nullptr;
    bool resolved = false;
    int depth = 1;
    std::string functionName;
    std::vector<std::unique_ptr<Term>> subterms;

    bool isOperator() const { return type == TermType::Operator; }
    bool isUnaryOperator() const
    {
        return type == TermType::Operator && token->operatorArity() == ZQOperatorArity::Unary;
    }
    void updateDepth()
    {
        depth = 1;
        for (const auto& t : subterms)
            depth = std::max(depth, t->depth + 1);
    }
    std::string description() const
    {
        switch (type) {
        case TermType::Number: return token->description();
        case TermType::Variable: return "$" + token->token();
        case TermType::Operator: return token->token();
        case TermType::Group: {
            std::string out = "(";
            for (const auto& t : subterms)
                out += t->description();
            return out + ")";
        }
        case TermType::Function: {
            std::string out = functionName + "(";
            for (std::size_t i = 0; i < subterms.size(); ++i) {
                if (i)
                    out += ",";
                out += subterms[i]->description();
            }
            return out + ")";
        }
        }
        return {};
    }
};

using TermPtr = std::unique_ptr<Term>;
using Terms = std::vector<TermPtr>;

void setTooComplex(ZQErrorPlace error)
{
    ZQSetError(error, ZQErrorCode::InvalidFormat, std::string(ZQTooComplexMessage));
}

bool isTooComplex(ZQErrorPlace error)
{
    return error && error->has_value() && (*error)->code == 1 && (*error)->message == ZQTooComplexMessage;
}

class Builder {
public:
    Builder(ZQMathStringTokenizer& tokenizer, const ZQParser& parser) : m_tokenizer(tokenizer), m_parser(parser) {}

    TermPtr root(ZQErrorPlace error)
    {
        auto group = std::make_unique<Term>();
        group->type = TermType::Group;
        while (m_tokenizer.peekNextObject()) {
            TermPtr term = build(error, 0);
            if (!term)
                return nullptr;
            group->subterms.push_back(std::move(term));
        }
        group->updateDepth();
        return group;
    }

    bool resolve(Term& term, ZQErrorPlace error)
    {
        if (term.resolved)
            return true;
        switch (term.type) {
        case TermType::Number:
        case TermType::Variable:
            term.resolved = true;
            return true;
        case TermType::Operator: {
            const ZQMathStringToken& t = *term.token;
            if (t.operatorArity() != ZQOperatorArity::Unary)
                ZQSetError(error, ZQErrorCode::MissingOperands, "missing operands for operator: " + t.description());
            else if (t.operatorAssociativity() == ZQOperatorAssociativity::Right)
                ZQSetError(error, ZQErrorCode::UnaryMissingRightOperand, "no right operand to unary " + t.description());
            else
                ZQSetError(error, ZQErrorCode::UnaryMissingLeftOperand, "no left operand to unary " + t.description());
            return false;
        }
        case TermType::Function:
            for (auto& argument : term.subterms)
                if (!resolve(*argument, error))
                    return false;
            term.resolved = true;
            return true;
        case TermType::Group:
            return resolveGroup(term, error);
        }
        return false;
    }

    ZQExpressionPtr convert(const Term& term, ZQErrorPlace error)
    {
        switch (term.type) {
        case TermType::Number:
            return ZQExpression::numberExpressionWithNumber(*term.token->numberValue());
        case TermType::Variable: {
            auto node = ZQExpression::variableExpressionWithVariable(term.token->token());
            if (!node)
                ZQSetError(error, ZQErrorCode::InvalidVariable, "variable names must be at least 1 character long");
            return node;
        }
        case TermType::Group:
            if (term.subterms.size() != 1) {
                ZQSetError(error, ZQErrorCode::InvalidFormat,
                           "Unable to create expression from term: " + term.description());
                return nullptr;
            }
            return convert(*term.subterms.front(), error);
        case TermType::Function: {
            std::vector<ZQExpressionPtr> arguments;
            arguments.reserve(term.subterms.size());
            for (const auto& argument : term.subterms) {
                auto node = convert(*argument, error);
                if (!node)
                    return nullptr;
                arguments.push_back(std::move(node));
            }
            return ZQExpression::functionExpressionWithFunction(term.functionName, std::move(arguments), error);
        }
        case TermType::Operator:
            break;
        }
        ZQSetError(error, ZQErrorCode::InvalidFormat, "Unable to create expression from term: " + term.description());
        return nullptr;
    }

private:
    TermPtr build(ZQErrorPlace error, int nesting)
    {
        const ZQMathStringToken* token = m_tokenizer.peekNextObject();
        if (!token) {
            ZQSetError(error, ZQErrorCode::InvalidFormat, "can't create a term with a nil token");
            return nullptr;
        }
        auto term = std::make_unique<Term>();
        switch (token->tokenType()) {
        case ZQTokenType::Number:
            term->type = TermType::Number;
            term->token = m_tokenizer.nextObject();
            return term;
        case ZQTokenType::Variable:
            term->type = TermType::Variable;
            term->token = m_tokenizer.nextObject();
            return term;
        case ZQTokenType::Function:
            return buildFunction(error, nesting);
        case ZQTokenType::Operator:
            if (token->isOperator("open_paren"))
                return buildGroup(error, nesting);
            term->type = TermType::Operator;
            term->token = m_tokenizer.nextObject();
            return term;
        }
        return nullptr;
    }

    TermPtr buildGroup(ZQErrorPlace error, int nesting)
    {
        if (nesting >= ZQMaximumDepth) {
            setTooComplex(error);
            return nullptr;
        }
        auto group = std::make_unique<Term>();
        group->type = TermType::Group;
        group->token = m_tokenizer.nextObject();
        while (true) {
            const ZQMathStringToken* next = m_tokenizer.peekNextObject();
            if (!next || next->isOperator("close_paren"))
                break;
            TermPtr term = build(error, nesting + 1);
            if (!term)
                return nullptr;
            group->subterms.push_back(std::move(term));
        }
        if (!m_tokenizer.nextObject()) {
            ZQSetError(error, ZQErrorCode::ImbalancedParentheses, "imbalanced parentheses");
            return nullptr;
        }
        group->updateDepth();
        return group;
    }

    TermPtr buildFunction(ZQErrorPlace error, int nesting)
    {
        const ZQMathStringToken* name = m_tokenizer.nextObject();
        TermPtr group = buildGroup(error, nesting);
        if (!group) {
            if (!isTooComplex(error))
                ZQSetError(error, ZQErrorCode::ImbalancedParentheses,
                           "missing parentheses after function \"" + name->description() + "\"");
            return nullptr;
        }
        auto function = std::make_unique<Term>();
        function->type = TermType::Function;
        function->token = name;
        function->functionName = name->token();
        Terms stretch;
        auto flush = [&](bool last) {
            if (stretch.size() == 1) {
                function->subterms.push_back(std::move(stretch.front()));
            } else if (!stretch.empty() || !last) {
                auto argument = std::make_unique<Term>();
                argument->type = TermType::Group;
                argument->subterms = std::move(stretch);
                argument->updateDepth();
                function->subterms.push_back(std::move(argument));
            }
            stretch.clear();
        };
        for (auto& term : group->subterms) {
            if (term->isOperator() && term->token->isOperator("comma"))
                flush(false);
            else
                stretch.push_back(std::move(term));
        }
        flush(true);
        function->updateDepth();
        return function;
    }

    // Replaces terms[first, last] by one new term of the given type holding them.
    bool fold(Terms& terms, std::size_t first, std::size_t last, TermPtr folded, ZQErrorPlace error)
    {
        folded->updateDepth();
        if (folded->depth > ZQMaximumDepth) {
            setTooComplex(error);
            return false;
        }
        terms.erase(terms.begin() + static_cast<std::ptrdiff_t>(first) + 1,
                    terms.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        terms[first] = std::move(folded);
        return true;
    }

    TermPtr groupOf(Terms& terms, std::size_t first, std::size_t last)
    {
        auto group = std::make_unique<Term>();
        group->type = TermType::Group;
        for (std::size_t k = first; k <= last; ++k)
            group->subterms.push_back(std::move(terms[k]));
        return group;
    }

    // From terms[start] on, a run of unary operators and the term they apply
    // to; answers the index of the run's last term.
    bool unaryRun(Terms& terms, std::size_t start, std::size_t& end, ZQErrorPlace error)
    {
        end = start;
        while (terms[end]->isUnaryOperator()) {
            if (end + 1 >= terms.size()) {
                ZQSetError(error, ZQErrorCode::UnaryMissingRightOperand,
                           "no right operand to unary " + terms[end]->token->description());
                return false;
            }
            ++end;
        }
        return true;
    }

    // Turns a multi-term run into one group term so that it can be an operand.
    bool collapse(Terms& terms, std::size_t first, std::size_t last, ZQErrorPlace error)
    {
        if (last <= first)
            return true;
        return fold(terms, first, last, groupOf(terms, first, last), error);
    }

    bool reduce(Terms& terms, std::size_t i, ZQErrorPlace error)
    {
        const Term& op = *terms[i];
        const ZQMathStringToken& token = *op.token;
        switch (token.operatorArity()) {
        case ZQOperatorArity::Binary: {
            if (i == 0) {
                ZQSetError(error, ZQErrorCode::MissingLeftOperand, "no left operand to binary " + token.description());
                return false;
            }
            if (i == terms.size() - 1) {
                ZQSetError(error, ZQErrorCode::MissingRightOperand, "no right operand to binary " + token.description());
                return false;
            }
            // A right operand that starts with prefix operators is the whole
            // prefix expression (2 ** -2).
            if (terms[i + 1]->isOperator()) {
                std::size_t end = 0;
                if (!unaryRun(terms, i + 1, end, error) || !collapse(terms, i + 1, end, error))
                    return false;
            }
            // Likewise a left operand that ends with postfix operators (3! ** 2).
            std::size_t left = i - 1;
            if (terms[left]->isUnaryOperator() &&
                terms[left]->token->operatorAssociativity() == ZQOperatorAssociativity::Left) {
                std::size_t start = left;
                while (start > 0 && terms[start]->isUnaryOperator() &&
                       terms[start]->token->operatorAssociativity() == ZQOperatorAssociativity::Left)
                    --start;
                if (!terms[start]->isOperator()) {
                    if (!collapse(terms, start, left, error))
                        return false;
                    i = start + 1;
                    left = start;
                }
            }
            auto function = std::make_unique<Term>();
            function->type = TermType::Function;
            function->functionName = token.operatorFunction();
            function->subterms.push_back(std::move(terms[left]));
            function->subterms.push_back(std::move(terms[i + 1]));
            return fold(terms, left, i + 1, std::move(function), error);
        }
        case ZQOperatorArity::Unary: {
            const std::string name = token.operatorFunction();
            if (m_parser.associativityForOperatorFunction(name) == ZQOperatorAssociativity::Right) {
                if (i == terms.size() - 1) {
                    ZQSetError(error, ZQErrorCode::UnaryMissingRightOperand,
                               "no right operand to unary " + token.description());
                    return false;
                }
                // An operand that is itself a prefix expression (-~0) is taken whole.
                if (terms[i + 1]->isOperator()) {
                    std::size_t end = 0;
                    if (!unaryRun(terms, i + 1, end, error) || !collapse(terms, i + 1, end, error))
                        return false;
                }
                auto function = std::make_unique<Term>();
                function->type = TermType::Function;
                function->functionName = name;
                function->subterms.push_back(std::move(terms[i + 1]));
                return fold(terms, i, i + 1, std::move(function), error);
            }
            if (i == 0) {
                ZQSetError(error, ZQErrorCode::UnaryMissingLeftOperand, "no left operand to unary " + token.description());
                return false;
            }
            auto function = std::make_unique<Term>();
            function->type = TermType::Function;
            function->functionName = name;
            function->subterms.push_back(std::move(terms[i - 1]));
            return fold(terms, i - 1, i, std::move(function), error);
        }
        case ZQOperatorArity::Unknown:
            break;
        }
        ZQSetError(error, ZQErrorCode::UnknownArity, "unknown arity for operator: " + token.description());
        return false;
    }

    bool resolveGroup(Term& group, ZQErrorPlace error)
    {
        Terms& terms = group.subterms;
        std::vector<std::size_t> highest;
        while (terms.size() >= 2) {
            highest.clear();
            std::int64_t level = -1;
            for (std::size_t k = 0; k < terms.size(); ++k) {
                if (!terms[k]->isOperator())
                    continue;
                const std::int64_t p = terms[k]->token->operatorPrecedence();
                if (p > level) {
                    level = p;
                    highest.clear();
                }
                if (p == level)
                    highest.push_back(k);
            }
            if (highest.empty()) {
                ZQSetError(error, ZQErrorCode::InvalidFormat, "invalid format: " + group.description());
                return false;
            }
            std::size_t chosen = highest.front();
            if (highest.size() >= 2 &&
                m_parser.associativityForOperatorFunction(terms[chosen]->token->operatorType()) ==
                    ZQOperatorAssociativity::Right)
                chosen = highest.back();
            if (!reduce(terms, chosen, error))
                return false;
        }
        if (terms.size() == 1 && !resolve(*terms.front(), error))
            return false;
        group.resolved = true;
        return true;
    }

    ZQMathStringTokenizer& m_tokenizer;
    const ZQParser& m_parser;
};

} // namespace

ZQParser::ZQParser(std::unique_ptr<ZQMathStringTokenizer> tokenizer)
    : m_tokenizer(std::move(tokenizer)), m_operatorSet(m_tokenizer->operatorSet())
{
}

std::unique_ptr<ZQParser> ZQParser::parserWithString(std::string_view text, ZQErrorPlace error)
{
    return parserWithTokenizer(ZQMathStringTokenizer::tokenizerWithString(text, nullptr, error), error);
}

std::unique_ptr<ZQParser> ZQParser::parserWithTokenizer(std::unique_ptr<ZQMathStringTokenizer> tokenizer,
                                                        ZQErrorPlace)
{
    if (!tokenizer)
        return nullptr;
    return std::unique_ptr<ZQParser>(new ZQParser(std::move(tokenizer)));
}

ZQOperatorAssociativity ZQParser::associativityForOperatorFunction(const std::string& function) const
{
    auto record = m_operatorSet->operatorForFunction(function);
    return record ? record->associativity() : ZQOperatorAssociativity::Left;
}

std::shared_ptr<ZQExpression> ZQParser::parsedExpressionWithError(ZQErrorPlace error)
{
    m_tokenizer->reset();
    Builder builder(*m_tokenizer, *this);
    TermPtr root = builder.root(error);
    if (!root || !builder.resolve(*root, error))
        return nullptr;
    return builder.convert(*root, error);
}
