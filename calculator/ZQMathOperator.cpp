#include "calculator/ZQMathOperator.h"

#include "calculator/ZQText.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {
using Arity = ZQOperatorArity;
using Assoc = ZQOperatorAssociativity;

std::string joined(const std::vector<std::string>& parts, const char* separator)
{
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i)
            out += separator;
        out += parts[i];
    }
    return out;
}
} // namespace

ZQMathOperator::ZQMathOperator(std::string function, std::vector<std::string> tokens, ZQOperatorArity arity,
                               std::int64_t precedence, ZQOperatorAssociativity associativity)
    : m_function(std::move(function)), m_tokens(std::move(tokens)), m_arity(arity), m_precedence(precedence),
      m_associativity(associativity)
{
}

std::shared_ptr<ZQMathOperator> ZQMathOperator::create(std::string function, std::vector<std::string> tokens,
                                                       ZQOperatorArity arity,
                                                       ZQOperatorAssociativity associativity)
{
    if (arity == ZQOperatorArity::Unknown)
        throw std::invalid_argument("Unable to create operator with unknown arity");
    for (auto& token : tokens) {
        token = ZQText::toLower(token);
        if (!_isValidToken(token))
            throw std::invalid_argument("Invalid operator token: " + token);
    }
    return std::make_shared<ZQMathOperator>(std::move(function), std::move(tokens), arity, 0, associativity);
}

bool ZQMathOperator::_isValidToken(const std::string& token)
{
    // An empty token would match nothing sensibly and be registered under "".
    if (token.empty())
        return false;
    const char first = token.front();
    if ((first >= '0' && first <= '9') || first == '"' || first == '$' || first == '\'' || first == '.')
        return false;
    const std::u32string chars = ZQText::decodeUtf8(token);
    return !ZQText::isWhitespace(chars.front()) && !ZQText::isWhitespace(chars.back());
}

const std::vector<std::shared_ptr<ZQMathOperator>>& ZQMathOperator::_defaultOperators()
{
    static const std::vector<std::shared_ptr<ZQMathOperator>> table = [] {
        const Assoc powAssociativity = ZQPlatformPowerChainValue == 512 ? Assoc::Right : Assoc::Left;
        auto make = [](const char* f, std::vector<std::string> t, Arity a, std::int64_t p, Assoc s) {
            return std::make_shared<ZQMathOperator>(f, std::move(t), a, p, s);
        };
        return std::vector<std::shared_ptr<ZQMathOperator>>{
            make("l_or", {"||", "\u2228"}, Arity::Binary, 0, Assoc::Left),
            make("l_and", {"&&", "\u2227"}, Arity::Binary, 1, Assoc::Left),
            make("l_eq", {"==", "="}, Arity::Binary, 2, Assoc::Left),
            make("l_neq", {"!="}, Arity::Binary, 2, Assoc::Left),
            make("l_lt", {"<"}, Arity::Binary, 3, Assoc::Left),
            make("l_gt", {">"}, Arity::Binary, 4, Assoc::Left),
            make("l_ltoe", {"<=", "=<", "\u2264", "\u226F"}, Arity::Binary, 5, Assoc::Left),
            make("l_gtoe", {">=", "=>", "\u2265", "\u226E"}, Arity::Binary, 6, Assoc::Left),
            make("l_not", {"!", "\u00AC"}, Arity::Unary, 7, Assoc::Right),
            make("or", {"|"}, Arity::Binary, 8, Assoc::Left),
            make("xor", {"^"}, Arity::Binary, 9, Assoc::Left),
            make("and", {"&"}, Arity::Binary, 10, Assoc::Left),
            make("lshift", {"<<"}, Arity::Binary, 11, Assoc::Left),
            make("rshift", {">>"}, Arity::Binary, 12, Assoc::Left),
            make("add", {"+"}, Arity::Binary, 13, Assoc::Left),
            make("subtract", {"-", "\u2212"}, Arity::Binary, 13, Assoc::Left),
            make("multiply", {"*", "\u00D7"}, Arity::Binary, 14, Assoc::Left),
            make("divide", {"/", "\u00F7"}, Arity::Binary, 14, Assoc::Left),
            make("not", {"~"}, Arity::Unary, 15, Assoc::Right),
            make("negate", {"-", "\u2212"}, Arity::Unary, 16, Assoc::Right),
            make("positive", {"+"}, Arity::Unary, 16, Assoc::Right),
            make("factorial", {"!"}, Arity::Unary, 17, Assoc::Left),
            make("dtor", {"\u00BA", "\u00B0"}, Arity::Unary, 17, Assoc::Left),
            make("pow", {"**"}, Arity::Binary, 18, powAssociativity),
            make("open_paren", {"("}, Arity::Unary, 19, Assoc::Right),
            make("close_paren", {")"}, Arity::Unary, 19, Assoc::Left),
            make("comma", {","}, Arity::Unknown, 20, Assoc::Left),
        };
    }();
    return table;
}

std::shared_ptr<ZQMathOperator> ZQMathOperator::infoForOperatorFunction(const std::string& function)
{
    return ZQMathOperatorSet::defaultOperatorSet()->operatorForFunction(function);
}

std::vector<std::shared_ptr<ZQMathOperator>> ZQMathOperator::infosForOperatorToken(const std::string& token)
{
    return ZQMathOperatorSet::defaultOperatorSet()->operatorsForToken(token);
}

void ZQMathOperator::addTokens(const std::vector<std::string>& tokens)
{
    for (const auto& token : tokens)
        m_tokens.push_back(ZQText::toLower(token));
}

std::shared_ptr<ZQMathOperator> ZQMathOperator::copy() const
{
    return std::make_shared<ZQMathOperator>(*this);
}

std::string ZQMathOperator::description() const
{
    static const char* const arityWords[] = {"Unknown", "Unary", "Binary"};
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<ZQMathOperator: ") + address + "> {(" + joined(m_tokens, ", ") + ") => " +
           m_function + "(), Arity: " + arityWords[static_cast<int>(m_arity)] +
           ", Assoc: " + (m_associativity == Assoc::Left ? "Left" : "Right") +
           ", Precedence: " + std::to_string(m_precedence) + "}";
}

// ---------------------------------------------------------------------------

const std::shared_ptr<ZQMathOperatorSet>& ZQMathOperatorSet::defaultOperatorSet()
{
    static const std::shared_ptr<ZQMathOperatorSet> set(
        new ZQMathOperatorSet(AdoptTag{}, ZQMathOperator::_defaultOperators()));
    return set;
}

ZQMathOperatorSet::ZQMathOperatorSet()
{
    // Further sets work on copies, so that they never shift the shared records.
    std::vector<Record> copies;
    for (const auto& record : ZQMathOperator::_defaultOperators())
        copies.push_back(record->copy());
    // The table records already carry the default set's shifted precedences
    // once that set exists; start again from the table's own values.
    static const std::int64_t tablePrecedence[] = {0,  1,  2,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                                   13, 13, 14, 14, 15, 16, 16, 17, 17, 18, 19, 19, 20};
    for (std::size_t i = 0; i < copies.size(); ++i)
        copies[i]->setPrecedence(tablePrecedence[i]);
    fill(copies);
}

ZQMathOperatorSet::ZQMathOperatorSet(AdoptTag, const std::vector<Record>& records)
{
    fill(records);
}

ZQMathOperatorSet::ZQMathOperatorSet(const ZQMathOperatorSet& other)
    : m_percentIsModulo(other.m_percentIsModulo)
{
    for (const auto& record : other.m_operators) {
        Record copy = record->copy();
        if (record == other.m_percentOperator)
            m_percentOperator = copy;
        m_operators.push_back(copy);
        m_byFunction[copy->function()] = copy;
    }
    for (const auto& [token, records] : other.m_byToken) {
        auto& mine = m_byToken[token];
        for (const auto& record : records)
            mine.push_back(m_byFunction.at(record->function()));
    }
    refreshCharacters();
}

void ZQMathOperatorSet::fill(const std::vector<Record>& records)
{
    for (const auto& record : records) {
        m_operators.push_back(record);
        m_byFunction[record->function()] = record;
        registerTokens(record, record->tokens());
    }
    std::stable_sort(m_operators.begin(), m_operators.end(),
                     [](const Record& a, const Record& b) { return a->precedence() < b->precedence(); });
    m_percentIsModulo = true;
    m_percentOperator =
        std::make_shared<ZQMathOperator>("mod", std::vector<std::string>{"%"}, Arity::Binary, 0, Assoc::Left);
    addOperatorHigherThan(m_percentOperator, operatorForFunction("multiply"));
}

ZQMathOperatorSet::Record ZQMathOperatorSet::operatorForFunction(const std::string& function) const
{
    auto it = m_byFunction.find(function);
    return it == m_byFunction.end() ? nullptr : it->second;
}

std::vector<ZQMathOperatorSet::Record> ZQMathOperatorSet::operatorsForToken(const std::string& token) const
{
    bool lower = true;
    for (char c : token)
        if ((c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80)
            lower = false;
    auto it = m_byToken.find(lower ? token : ZQText::toLower(token));
    return it == m_byToken.end() ? std::vector<Record>{} : it->second;
}

void ZQMathOperatorSet::addOperatorHigherThan(const Record& op, const Record& existing)
{
    op->setPrecedence(existing->precedence() + 1);
    insert(op, Relativity::Higher);
}

void ZQMathOperatorSet::addOperatorSameAs(const Record& op, const Record& existing)
{
    op->setPrecedence(existing->precedence());
    insert(op, Relativity::Same);
}

void ZQMathOperatorSet::addOperatorLowerThan(const Record& op, const Record& existing)
{
    op->setPrecedence(existing->precedence() - 1);
    insert(op, Relativity::Lower);
}

void ZQMathOperatorSet::addTokens(const std::vector<std::string>& tokens, const std::string& function)
{
    Record existing = operatorForFunction(function);
    if (!existing)
        throw std::invalid_argument("No operator is defined for function '" + function + "'");
    auto op = std::make_shared<ZQMathOperator>(function, tokens, Arity::Unknown, 0, Assoc::Left);
    addOperatorSameAs(op, existing);
}

void ZQMathOperatorSet::insert(const Record& op, Relativity relativity)
{
    if (Record existing = operatorForFunction(op->function())) {
        // A record for the function exists: merge the spellings into it.
        std::vector<std::string> lowered;
        for (const auto& token : op->tokens())
            lowered.push_back(ZQText::toLower(token));
        existing->addTokens(lowered);
        registerTokens(existing, lowered);
        refreshCharacters();
        return;
    }
    for (const auto& token : op->tokens()) {
        if (m_byToken.count(ZQText::toLower(token)))
            throw std::invalid_argument("An operator is already defined for '" + token + "'");
    }
    const std::int64_t p = op->precedence();
    m_operators.push_back(op);
    if (relativity == Relativity::Higher) {
        for (const auto& record : m_operators)
            if (record != op && record->precedence() >= p)
                record->setPrecedence(record->precedence() + 1);
    } else if (relativity == Relativity::Lower) {
        for (const auto& record : m_operators)
            if (record->precedence() > p)
                record->setPrecedence(record->precedence() + 1);
        op->setPrecedence(op->precedence() + 1);
    }
    std::stable_sort(m_operators.begin(), m_operators.end(),
                     [](const Record& a, const Record& b) { return a->precedence() < b->precedence(); });
    m_byFunction[op->function()] = op;
    std::vector<std::string> lowered;
    for (const auto& token : op->tokens())
        lowered.push_back(ZQText::toLower(token));
    registerTokens(op, lowered);
    refreshCharacters();
}

void ZQMathOperatorSet::registerTokens(const Record& op, const std::vector<std::string>& tokens)
{
    for (const auto& token : tokens) {
        auto& records = m_byToken[token];
        if (std::find(records.begin(), records.end(), op) == records.end())
            records.push_back(op);
    }
}

void ZQMathOperatorSet::setInterpretsPercentSignAsModulo(bool modulo)
{
    if (modulo == m_percentIsModulo)
        return;
    m_percentIsModulo = modulo;
    const Record old = m_percentOperator;
    m_operators.erase(std::remove(m_operators.begin(), m_operators.end(), old), m_operators.end());
    m_byFunction.erase(old->function());
    for (const auto& token : old->tokens()) {
        auto it = m_byToken.find(token);
        if (it == m_byToken.end())
            continue;
        auto& records = it->second;
        records.erase(std::remove(records.begin(), records.end(), old), records.end());
        if (records.empty())
            m_byToken.erase(it);
    }
    // The new record becomes the one bound to "%", so the next switch removes it.
    if (modulo) {
        m_percentOperator = std::make_shared<ZQMathOperator>("mod", std::vector<std::string>{"%"},
                                                             Arity::Binary, 0, Assoc::Left);
        addOperatorHigherThan(m_percentOperator, operatorForFunction("multiply"));
    } else {
        m_percentOperator = std::make_shared<ZQMathOperator>("percent", std::vector<std::string>{"%"},
                                                             Arity::Unary, 0, Assoc::Left);
        addOperatorHigherThan(m_percentOperator, operatorForFunction("negate"));
    }
}

bool ZQMathOperatorSet::isOperatorCharacter(char32_t c) const
{
    return std::binary_search(m_characters.begin(), m_characters.end(), c);
}

void ZQMathOperatorSet::refreshCharacters()
{
    m_characters.clear();
    m_maximumTokenLength = 0;
    for (const auto& [token, records] : m_byToken) {
        const std::u32string chars = ZQText::decodeUtf8(token);
        m_maximumTokenLength = std::max(m_maximumTokenLength, chars.size());
        for (char32_t c : chars)
            if (m_characters.find(c) == std::u32string::npos)
                m_characters.push_back(c);
    }
    std::sort(m_characters.begin(), m_characters.end());
}
