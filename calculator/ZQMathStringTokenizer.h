#pragma once

#include "calculator/ZQError.h"
#include "calculator/ZQMathOperator.h"
#include "calculator/ZQNumber.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ZQTokenType : std::int64_t
{
    Number = 0,
    Operator = 1,
    Function = 2,
    Variable = 3
};

class ZQMathStringToken
{
public:
    // Nothing for an operator text that no record of the default set has.
    static std::optional<ZQMathStringToken> mathStringTokenWithToken(std::string token, ZQTokenType type);

    const std::string& token() const { return m_token; }
    ZQTokenType tokenType() const { return m_type; }
    const std::optional<ZQNumber>& numberValue() const { return m_number; }
    const std::shared_ptr<ZQMathOperator>& operatorInfo() const { return m_operator; }
    bool ambiguous() const { return m_ambiguous; }

    // "invalid" for an ambiguous operator token, "" for a non-operator.
    std::string operatorType() const;
    std::string operatorFunction() const;
    std::int64_t operatorPrecedence() const;
    ZQOperatorArity operatorArity() const;
    ZQOperatorAssociativity operatorAssociativity() const;
    bool isOperator(std::string_view function) const;

    void resolveToOperatorFunction(const std::string& function);
    std::string description() const;
    std::string debugDescription() const;

private:
    friend class ZQMathStringTokenizer;
    ZQMathStringToken() = default;
    std::string m_token;
    ZQTokenType m_type = ZQTokenType::Number;
    std::optional<ZQNumber> m_number;
    std::shared_ptr<ZQMathOperator> m_operator;
    bool m_ambiguous = false;
};

// Turns a text into tokens, all at creation, then hands them out one by one.
class ZQMathStringTokenizer
{
public:
    // Nothing, with the error placed, when the text cannot be tokenized. The
    // operator set defaults to the shared one.
    static std::unique_ptr<ZQMathStringTokenizer>
    tokenizerWithString(std::string_view text, std::shared_ptr<ZQMathOperatorSet> operatorSet,
                        ZQErrorPlace error);
    static std::unique_ptr<ZQMathStringTokenizer> tokenizerWithString(std::string_view text,
                                                                      ZQErrorPlace error)
    {
        return tokenizerWithString(text, nullptr, error);
    }
    virtual ~ZQMathStringTokenizer() = default;

    const ZQMathStringToken* nextObject();
    const ZQMathStringToken* peekNextObject() const;
    std::vector<ZQMathStringToken> allObjects() const;
    void reset();

    const std::shared_ptr<ZQMathOperatorSet>& operatorSet() const { return m_operatorSet; }
    const std::vector<ZQMathStringToken>& tokens() const { return m_tokens; }

protected:
    explicit ZQMathStringTokenizer(std::shared_ptr<ZQMathOperatorSet> operatorSet);
    // Called for every token about to be appended.
    virtual void didParseToken(const ZQMathStringToken&) {}
    void appendToken(ZQMathStringToken&& token);

private:
    bool tokenize(std::string_view text, ZQErrorPlace error);
    enum class Raw
    {
        Token,
        End,
        Failed
    };
    Raw nextRawToken(ZQMathStringToken& out, ZQErrorPlace error);
    bool readNumber(ZQMathStringToken& out, ZQErrorPlace error, bool& fatal);
    bool readHexNumber(ZQMathStringToken& out, ZQErrorPlace error);
    bool readIdentifier(std::u32string& name, ZQErrorPlace error, bool endAtDollar);
    bool readVariable(ZQMathStringToken& out, ZQErrorPlace error);
    bool readQuotedVariable(ZQMathStringToken& out, ZQErrorPlace error);
    bool readOperator(ZQMathStringToken& out, ZQErrorPlace error);
    // The token (moved from; none at the end of the text) after the tokens so far.
    bool processToken(ZQMathStringToken* token, ZQErrorPlace error);
    bool resolveAmbiguity(ZQMathStringToken& token, ZQErrorPlace error);
    bool isOperatorCharacter(char32_t c) const { return m_operatorSet->isOperatorCharacter(c); }
    char32_t peek() const { return m_index < m_lower.size() ? m_lower[m_index] : 0; }

    std::shared_ptr<ZQMathOperatorSet> m_operatorSet;
    std::u32string m_characters;
    std::u32string m_lower;
    std::size_t m_index = 0;
    std::vector<ZQMathStringToken> m_tokens;
    std::size_t m_tokenIndex = 0;
    bool m_tooMany = false;
    // The records of add, subtract, positive and negate, looked up by the
    // first + or - that needs them.
    std::array<std::shared_ptr<ZQMathOperator>, 4> m_signRecords;
    bool m_signRecordsLoaded = false;
};
