#include "calculator/ZQParser.h"

#include "calculator/ZQExpression.h"

#include <algorithm>
#include <deque>
#include <map>

namespace {

enum class TermType
{
    Number = 1,
    Variable = 2,
    Operator = 3,
    Function = 4,
    Group = 5
};

struct Term;

// Terms live in their builder's arena, which frees them all at once when the
// parse ends; the pointers only mark who holds a term.
struct KeepTerm
{
    void operator()(Term*) const {}
};

struct Term
{
    TermType type;
    const ZQMathStringToken* token = nullptr;
    bool resolved = false;
    int depth = 1;
    std::string functionName;
    std::vector<std::unique_ptr<Term, KeepTerm>> subterms;

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
        case TermType::Number:
            return token->description();
        case TermType::Variable:
            return "$" + token->token();
        case TermType::Operator:
            return token->token();
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

using TermPtr = std::unique_ptr<Term, KeepTerm>;
using Terms = std::vector<TermPtr>;

void setTooComplex(ZQErrorPlace error)
{
    ZQSetError(error, ZQErrorCode::InvalidFormat, std::string(ZQTooComplexMessage));
}

bool isTooComplex(ZQErrorPlace error)
{
    return error && error->has_value() && (*error)->code == 1 && (*error)->message == ZQTooComplexMessage;
}

class Builder
{
public:
    Builder(ZQMathStringTokenizer& tokenizer, const ZQParser& parser)
        : m_tokenizer(tokenizer), m_parser(parser)
    {
    }

    TermPtr root(ZQErrorPlace error)
    {
        auto group = newTerm();
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
                ZQSetError(error, ZQErrorCode::MissingOperands,
                           "missing operands for operator: " + t.description());
            else if (t.operatorAssociativity() == ZQOperatorAssociativity::Right)
                ZQSetError(error, ZQErrorCode::UnaryMissingRightOperand,
                           "no right operand to unary " + t.description());
            else
                ZQSetError(error, ZQErrorCode::UnaryMissingLeftOperand,
                           "no left operand to unary " + t.description());
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
                ZQSetError(error, ZQErrorCode::InvalidVariable,
                           "variable names must be at least 1 character long");
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
            return ZQExpression::functionExpressionWithFunction(term.functionName, std::move(arguments),
                                                                error);
        }
        case TermType::Operator:
            break;
        }
        ZQSetError(error, ZQErrorCode::InvalidFormat,
                   "Unable to create expression from term: " + term.description());
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
        auto term = newTerm();
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
        auto group = newTerm();
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
        auto function = newTerm();
        function->type = TermType::Function;
        function->token = name;
        function->functionName = name->token();
        Terms stretch;
        auto flush = [&](bool last) {
            if (stretch.size() == 1) {
                function->subterms.push_back(std::move(stretch.front()));
            } else if (!stretch.empty() || !last) {
                auto argument = newTerm();
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

    // One group being folded. Terms sit in slots linked in order; folding
    // unlinks the terms it takes, and the operators still waiting are kept per
    // precedence level, so each step finds its operator without a rescan.
    struct Fold
    {
        static constexpr std::size_t None = static_cast<std::size_t>(-1);
        Terms slots;
        std::vector<std::size_t> prev, next;
        std::size_t head = None;
        std::size_t live = 0;
        struct Level
        {
            std::vector<std::size_t> positions; // ascending
            std::size_t front = 0, back = 0;    // [front, back) may still hold live operators
            std::size_t count = 0;
        };
        std::map<std::int64_t, Level> levels;

        bool isLiveOperator(std::size_t k) const { return slots[k] && slots[k]->isOperator(); }
        static std::int64_t precedence(const Term& t) { return t.token->operatorPrecedence(); }

        explicit Fold(Terms&& terms) : slots(std::move(terms))
        {
            const std::size_t n = slots.size();
            prev.resize(n);
            next.resize(n);
            for (std::size_t k = 0; k < n; ++k) {
                prev[k] = k == 0 ? None : k - 1;
                next[k] = k + 1 == n ? None : k + 1;
                if (slots[k]->isOperator()) {
                    Level& level = levels[precedence(*slots[k])];
                    level.positions.push_back(k);
                    ++level.count;
                }
            }
            for (auto& entry : levels)
                entry.second.back = entry.second.positions.size();
            head = n ? 0 : None;
            live = n;
        }

        // Takes the term out of its slot, forgetting it as a waiting operator.
        TermPtr take(std::size_t k)
        {
            if (slots[k]->isOperator()) {
                auto it = levels.find(precedence(*slots[k]));
                if (--it->second.count == 0)
                    levels.erase(it);
            }
            return std::move(slots[k]);
        }

        void unlink(std::size_t k)
        {
            if (prev[k] != None)
                next[prev[k]] = next[k];
            else
                head = next[k];
            if (next[k] != None)
                prev[next[k]] = prev[k];
            --live;
        }

        // Puts `term` in the slot of `first`, in place of first..last (in link order).
        void replace(std::size_t first, std::size_t last, TermPtr term)
        {
            std::size_t k = next[first];
            const std::size_t stop = last == first ? next[first] : next[last];
            while (k != stop) {
                const std::size_t following = next[k];
                unlink(k);
                k = following;
            }
            slots[first] = std::move(term);
        }

        Terms ordered()
        {
            Terms out;
            out.reserve(live);
            for (std::size_t k = head; k != None; k = next[k])
                out.push_back(std::move(slots[k]));
            return out;
        }

        std::string description()
        {
            std::string out = "(";
            for (std::size_t k = head; k != None; k = next[k])
                out += slots[k]->description();
            return out + ")";
        }
    };

    // Folds first..last into one new term (a group, or a function of the given name).
    bool foldInto(Fold& f, std::size_t first, std::size_t last, TermPtr term, ZQErrorPlace error)
    {
        for (std::size_t k = first;; k = f.next[k]) {
            term->subterms.push_back(f.take(k));
            if (k == last)
                break;
        }
        term->updateDepth();
        if (term->depth > ZQMaximumDepth) {
            setTooComplex(error);
            return false;
        }
        f.replace(first, last, std::move(term));
        return true;
    }

    TermPtr newTerm(TermType type, std::string name = {})
    {
        auto t = newTerm();
        t->type = type;
        t->functionName = std::move(name);
        return t;
    }

    // From `start` on, a run of unary operators and the term they apply to,
    // made into one group when it holds more than one term.
    bool operandRun(Fold& f, std::size_t start, ZQErrorPlace error)
    {
        std::size_t end = start;
        while (f.slots[end]->isUnaryOperator()) {
            if (f.next[end] == Fold::None) {
                ZQSetError(error, ZQErrorCode::UnaryMissingRightOperand,
                           "no right operand to unary " + f.slots[end]->token->description());
                return false;
            }
            end = f.next[end];
        }
        return end == start || foldInto(f, start, end, newTerm(TermType::Group), error);
    }

    static bool isPostfix(const Term& t)
    {
        return t.isUnaryOperator() && t.token->operatorAssociativity() == ZQOperatorAssociativity::Left;
    }

    bool reduce(Fold& f, std::size_t i, ZQErrorPlace error)
    {
        const ZQMathStringToken& token = *f.slots[i]->token;
        switch (token.operatorArity()) {
        case ZQOperatorArity::Binary: {
            if (f.prev[i] == Fold::None) {
                ZQSetError(error, ZQErrorCode::MissingLeftOperand,
                           "no left operand to binary " + token.description());
                return false;
            }
            if (f.next[i] == Fold::None) {
                ZQSetError(error, ZQErrorCode::MissingRightOperand,
                           "no right operand to binary " + token.description());
                return false;
            }
            // A right operand that starts with prefix operators is the whole
            // prefix expression (2 ** -2).
            if (f.slots[f.next[i]]->isOperator() && !operandRun(f, f.next[i], error))
                return false;
            // Likewise a left operand that ends with postfix operators (3! ** 2).
            std::size_t left = f.prev[i];
            if (isPostfix(*f.slots[left])) {
                std::size_t start = left;
                while (f.prev[start] != Fold::None && isPostfix(*f.slots[start]))
                    start = f.prev[start];
                if (!f.slots[start]->isOperator()) {
                    if (!foldInto(f, start, left, newTerm(TermType::Group), error))
                        return false;
                    left = start;
                }
            }
            const std::size_t right = f.next[i];
            auto function = newTerm(TermType::Function, token.operatorFunction());
            function->subterms.reserve(2);
            function->subterms.push_back(f.take(left));
            function->subterms.push_back(f.take(right));
            function->updateDepth();
            if (function->depth > ZQMaximumDepth) {
                setTooComplex(error);
                return false;
            }
            f.take(i); // the operator itself
            f.unlink(i);
            f.unlink(right);
            f.slots[left] = std::move(function);
            return true;
        }
        case ZQOperatorArity::Unary: {
            const std::string name = token.operatorFunction();
            if (associativity(name) == ZQOperatorAssociativity::Right) {
                if (f.next[i] == Fold::None) {
                    ZQSetError(error, ZQErrorCode::UnaryMissingRightOperand,
                               "no right operand to unary " + token.description());
                    return false;
                }
                // An operand that is itself a prefix expression (-~0) is taken whole.
                if (f.slots[f.next[i]]->isOperator() && !operandRun(f, f.next[i], error))
                    return false;
                auto function = newTerm(TermType::Function, name);
                const std::size_t operand = f.next[i];
                function->subterms.push_back(f.take(operand));
                function->updateDepth();
                if (function->depth > ZQMaximumDepth) {
                    setTooComplex(error);
                    return false;
                }
                f.take(i); // the operator itself
                f.unlink(operand);
                f.slots[i] = std::move(function);
                return true;
            }
            if (f.prev[i] == Fold::None) {
                ZQSetError(error, ZQErrorCode::UnaryMissingLeftOperand,
                           "no left operand to unary " + token.description());
                return false;
            }
            auto function = newTerm(TermType::Function, name);
            const std::size_t operand = f.prev[i];
            function->subterms.push_back(f.take(operand));
            function->updateDepth();
            if (function->depth > ZQMaximumDepth) {
                setTooComplex(error);
                return false;
            }
            f.take(i);
            f.unlink(i);
            f.slots[operand] = std::move(function);
            return true;
        }
        case ZQOperatorArity::Unknown:
            break;
        }
        ZQSetError(error, ZQErrorCode::UnknownArity, "unknown arity for operator: " + token.description());
        return false;
    }

    bool resolveGroup(Term& group, ZQErrorPlace error)
    {
        if (group.subterms.size() >= 2) {
            Fold f(std::move(group.subterms));
            bool ok = true;
            while (f.live >= 2) {
                if (f.levels.empty()) {
                    ZQSetError(error, ZQErrorCode::InvalidFormat, "invalid format: " + f.description());
                    ok = false;
                    break;
                }
                Fold::Level& level = f.levels.rbegin()->second;
                while (!f.isLiveOperator(level.positions[level.front]) ||
                       Fold::precedence(*f.slots[level.positions[level.front]]) != f.levels.rbegin()->first)
                    ++level.front;
                while (!f.isLiveOperator(level.positions[level.back - 1]) ||
                       Fold::precedence(*f.slots[level.positions[level.back - 1]]) !=
                           f.levels.rbegin()->first)
                    --level.back;
                std::size_t chosen = level.positions[level.front];
                if (level.count >= 2 &&
                    associativity(f.slots[chosen]->token->operatorType()) == ZQOperatorAssociativity::Right)
                    chosen = level.positions[level.back - 1];
                if (!reduce(f, chosen, error)) {
                    ok = false;
                    break;
                }
            }
            group.subterms = f.ordered();
            if (!ok)
                return false;
        }
        if (group.subterms.size() == 1 && !resolve(*group.subterms.front(), error))
            return false;
        group.resolved = true;
        return true;
    }

    // The parser's answer for the operator function, remembered for the
    // next operator of the same function (a long chain asks for one name
    // again and again).
    ZQOperatorAssociativity associativity(const std::string& function)
    {
        if (!m_lastAssociativity || function != m_lastFunction) {
            m_lastFunction = function;
            m_lastAssociativity = m_parser.associativityForOperatorFunction(function);
        }
        return *m_lastAssociativity;
    }

    TermPtr newTerm()
    {
        m_terms.emplace_back();
        return TermPtr(&m_terms.back());
    }

    ZQMathStringTokenizer& m_tokenizer;
    const ZQParser& m_parser;
    std::deque<Term> m_terms; // every term of this parse
    std::string m_lastFunction;
    std::optional<ZQOperatorAssociativity> m_lastAssociativity;
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
