#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

enum class ZQOperatorArity : std::int64_t
{
    Unknown = 0,
    Unary = 1,
    Binary = 2
};
// For a unary operator, Right means prefix (operand on its right) and Left postfix.
enum class ZQOperatorAssociativity : std::int64_t
{
    Left = 0,
    Right = 1
};

// What the desktop platform's own expression evaluator answers for
// "2 ** 3 ** 2". Its grammar folds "**" from the left, giving 64; the
// calculator agrees with it on chains of powers. 512 would make "pow" right-
// associative.
inline constexpr std::int64_t ZQPlatformPowerChainValue = 64;

class ZQMathOperator
{
public:
    // Stores the values as given (no lower-casing, no checks).
    ZQMathOperator(std::string function, std::vector<std::string> tokens, ZQOperatorArity arity,
                   std::int64_t precedence, ZQOperatorAssociativity associativity);
    // Lower-cases and checks the tokens; throws std::invalid_argument for an
    // unknown arity or an invalid token. Precedence starts at 0.
    static std::shared_ptr<ZQMathOperator> create(std::string function, std::vector<std::string> tokens,
                                                  ZQOperatorArity arity,
                                                  ZQOperatorAssociativity associativity);

    // Lookups in the shared default set.
    static std::shared_ptr<ZQMathOperator> infoForOperatorFunction(const std::string& function);
    static std::vector<std::shared_ptr<ZQMathOperator>> infosForOperatorToken(const std::string& token);
    // The 27 records of the default table, built once.
    static const std::vector<std::shared_ptr<ZQMathOperator>>& _defaultOperators();
    static bool _isValidToken(const std::string& token);

    const std::string& function() const { return m_function; }
    const std::vector<std::string>& tokens() const { return m_tokens; }
    ZQOperatorArity arity() const { return m_arity; }
    ZQOperatorAssociativity associativity() const { return m_associativity; }
    void setAssociativity(ZQOperatorAssociativity a) { m_associativity = a; }
    std::int64_t precedence() const { return m_precedence; }
    void setPrecedence(std::int64_t p) { m_precedence = p; }
    bool isPrefix() const
    {
        return m_arity == ZQOperatorArity::Unary && m_associativity == ZQOperatorAssociativity::Right;
    }
    bool isPostfix() const
    {
        return m_arity == ZQOperatorArity::Unary && m_associativity == ZQOperatorAssociativity::Left;
    }

    void addTokens(const std::vector<std::string>& tokens);
    std::shared_ptr<ZQMathOperator> copy() const;
    std::string description() const;

private:
    std::string m_function;
    std::vector<std::string> m_tokens;
    ZQOperatorArity m_arity;
    std::int64_t m_precedence;
    ZQOperatorAssociativity m_associativity;
};

class ZQMathOperatorSet
{
public:
    using Record = std::shared_ptr<ZQMathOperator>;

    // The shared set. It holds the default table's own records, so their
    // precedences are the set's.
    static const std::shared_ptr<ZQMathOperatorSet>& defaultOperatorSet();

    // A new set over copies of the default table, with "%" as modulo.
    ZQMathOperatorSet();
    ZQMathOperatorSet(const ZQMathOperatorSet& other); // deep copy, keeps the percent mode
    ZQMathOperatorSet& operator=(const ZQMathOperatorSet&) = delete;

    std::vector<Record> operators() const { return m_operators; }
    Record operatorForFunction(const std::string& function) const;
    std::vector<Record> operatorsForToken(const std::string& token) const;
    // The records of an already lower-cased token, without copying; null when none.
    const std::vector<Record>* recordsForLowercaseToken(const std::string& token) const
    {
        auto it = m_byToken.find(token);
        return it == m_byToken.end() ? nullptr : &it->second;
    }

    void addOperatorHigherThan(const Record& op, const Record& existing);
    void addOperatorSameAs(const Record& op, const Record& existing);
    void addOperatorLowerThan(const Record& op, const Record& existing);
    void addTokens(const std::vector<std::string>& tokens, const std::string& function);

    bool interpretsPercentSignAsModulo() const { return m_percentIsModulo; }
    void setInterpretsPercentSignAsModulo(bool modulo);
    const Record& percentTokenOperator() const { return m_percentOperator; }

    // Every character of every token, and the longest token in characters.
    const std::u32string& operatorCharacters() const { return m_characters; }
    bool isOperatorCharacter(char32_t c) const;
    std::size_t maximumTokenLength() const { return m_maximumTokenLength; }

    auto begin() const { return m_operators.begin(); }
    auto end() const { return m_operators.end(); }

private:
    enum class Relativity
    {
        Higher,
        Same,
        Lower
    };
    struct AdoptTag
    {
    };
    ZQMathOperatorSet(AdoptTag, const std::vector<Record>& records);
    void fill(const std::vector<Record>& records);
    void insert(const Record& op, Relativity relativity);
    void registerTokens(const Record& op, const std::vector<std::string>& tokens);
    void refreshCharacters();

    std::vector<Record> m_operators;
    std::unordered_map<std::string, Record> m_byFunction;
    std::unordered_map<std::string, std::vector<Record>> m_byToken;
    Record m_percentOperator;
    bool m_percentIsModulo = true;
    std::u32string m_characters;
    std::size_t m_maximumTokenLength = 0;
};
