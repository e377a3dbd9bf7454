#include "calculator/ZQMathStringTokenizer.h"

#include "calculator/ZQText.h"

#include <algorithm>

// --- tokens ----------------------------------------------------------------

std::optional<ZQMathStringToken> ZQMathStringToken::mathStringTokenWithToken(std::string token,
                                                                             ZQTokenType type)
{
    ZQMathStringToken t;
    t.m_type = type;
    if (type == ZQTokenType::Operator) {
        const auto& set = *ZQMathOperatorSet::defaultOperatorSet();
        const auto* records = set.recordsForLowercaseToken(token);
        std::vector<std::shared_ptr<ZQMathOperator>> lowered;
        if (!records) {
            lowered = set.operatorsForToken(token);
            records = &lowered;
        }
        if (records->empty())
            return std::nullopt;
        if (records->size() == 1)
            t.m_operator = records->front();
        else
            t.m_ambiguous = true;
    }
    t.m_token = std::move(token);
    return t;
}

std::string ZQMathStringToken::operatorType() const
{
    if (m_type != ZQTokenType::Operator)
        return {};
    return (m_ambiguous || !m_operator) ? "invalid" : m_operator->function();
}

std::string ZQMathStringToken::operatorFunction() const
{
    if (m_type != ZQTokenType::Operator || m_ambiguous || !m_operator)
        return {};
    return m_operator->function();
}

std::int64_t ZQMathStringToken::operatorPrecedence() const
{
    if (m_type != ZQTokenType::Operator)
        return 0;
    return (m_ambiguous || !m_operator) ? -1 : m_operator->precedence();
}

ZQOperatorArity ZQMathStringToken::operatorArity() const
{
    return (m_ambiguous || !m_operator) ? ZQOperatorArity::Unknown : m_operator->arity();
}

ZQOperatorAssociativity ZQMathStringToken::operatorAssociativity() const
{
    return (m_ambiguous || !m_operator) ? ZQOperatorAssociativity::Left : m_operator->associativity();
}

bool ZQMathStringToken::isOperator(std::string_view function) const
{
    return m_type == ZQTokenType::Operator && !m_ambiguous && m_operator &&
           m_operator->function() == function;
}

void ZQMathStringToken::resolveToOperatorFunction(const std::string& function)
{
    m_operator = ZQMathOperator::infoForOperatorFunction(function);
    m_ambiguous = !m_operator;
}

std::string ZQMathStringToken::description() const
{
    return m_type == ZQTokenType::Variable ? "$" + m_token : m_token;
}

std::string ZQMathStringToken::debugDescription() const
{
    std::string out = description();
    if (m_type != ZQTokenType::Operator)
        return out;
    static const char* const arity[] = {"UNK", "UN", "BIN"};
    out += " (arity:";
    out += arity[static_cast<int>(operatorArity())];
    out += ", precedence:" + std::to_string(operatorPrecedence()) + ", associativity:";
    out += operatorAssociativity() == ZQOperatorAssociativity::Left ? "LEFT" : "RIGHT";
    out += ", function:" + operatorFunction() + ")";
    return out;
}

// --- tokenizer ---------------------------------------------------------------

ZQMathStringTokenizer::ZQMathStringTokenizer(std::shared_ptr<ZQMathOperatorSet> operatorSet)
    : m_operatorSet(operatorSet ? std::move(operatorSet) : ZQMathOperatorSet::defaultOperatorSet())
{
}

std::unique_ptr<ZQMathStringTokenizer>
ZQMathStringTokenizer::tokenizerWithString(std::string_view text,
                                           std::shared_ptr<ZQMathOperatorSet> operatorSet, ZQErrorPlace error)
{
    std::optional<ZQError> local;
    ZQErrorPlace place = error ? error : &local;
    std::unique_ptr<ZQMathStringTokenizer> tokenizer(new ZQMathStringTokenizer(std::move(operatorSet)));
    if (!tokenizer->tokenize(text, place))
        return nullptr;
    return tokenizer;
}

const ZQMathStringToken* ZQMathStringTokenizer::nextObject()
{
    if (m_tokenIndex >= m_tokens.size())
        return nullptr;
    return &m_tokens[m_tokenIndex++];
}

const ZQMathStringToken* ZQMathStringTokenizer::peekNextObject() const
{
    return m_tokenIndex < m_tokens.size() ? &m_tokens[m_tokenIndex] : nullptr;
}

std::vector<ZQMathStringToken> ZQMathStringTokenizer::allObjects() const
{
    return {m_tokens.begin() + static_cast<std::ptrdiff_t>(m_tokenIndex), m_tokens.end()};
}

void ZQMathStringTokenizer::reset()
{
    m_tokenIndex = 0;
    m_index = 0;
}

void ZQMathStringTokenizer::appendToken(ZQMathStringToken&& token)
{
    didParseToken(token);
    if (m_tokens.size() >= ZQMaximumTokenCount) {
        m_tooMany = true;
        return;
    }
    m_tokens.push_back(std::move(token));
}

bool ZQMathStringTokenizer::tokenize(std::string_view text, ZQErrorPlace error)
{
    m_characters = ZQText::decodeUtf8(text);
    m_lower = ZQText::toLower(m_characters);
    m_index = 0;
    // Room for about as many tokens as the text will give, since each token
    // weighs 160 bytes and growing the vector holds the old and the new array
    // at once: a token starts at the first of a run of digits, letters and
    // points, or is one other character (spaces give none). Operators of
    // several characters and implicit multiplications make the count
    // inexact, in either direction.
    std::size_t starts = 0;
    bool inRun = false;
    for (const char32_t c : m_characters) {
        const bool word = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          c == '.' || c == '_' || c >= 0x80;
        if (word && !inRun)
            ++starts;
        else if (!word && c != ' ' && c != '\t' && c != '\n' && c != '\r')
            ++starts;
        inRun = word;
    }
    m_tokens.reserve(std::min(starts + 2, ZQMaximumTokenCount + 1));
    error->reset();
    while (true) {
        ZQMathStringToken token;
        const Raw raw = nextRawToken(token, error);
        if (raw == Raw::End)
            break;
        if (raw == Raw::Failed)
            return false;
        if (!processToken(&token, error))
            return false;
        if (m_tooMany) {
            *error = ZQMakeError(ZQErrorCode::InvalidFormat, std::string(ZQTooComplexMessage));
            return false;
        }
    }
    if (!processToken(nullptr, error))
        return false;
    if (m_tooMany) {
        *error = ZQMakeError(ZQErrorCode::InvalidFormat, std::string(ZQTooComplexMessage));
        return false;
    }
    m_index = 0;
    return !error->has_value();
}

ZQMathStringTokenizer::Raw ZQMathStringTokenizer::nextRawToken(ZQMathStringToken& out, ZQErrorPlace error)
{
    // The end of the text is its length: a U+0000 inside it is an ordinary character.
    while (m_index < m_lower.size() && ZQText::isWhitespace(m_lower[m_index]))
        ++m_index;
    if (m_index >= m_lower.size())
        return Raw::End;
    const char32_t c = m_lower[m_index];
    bool found = false;
    if (ZQText::isDigit(c) || c == U'.') {
        bool fatal = false;
        found = readNumber(out, error, fatal);
        if (fatal)
            return Raw::Failed;
    }
    if (!found && c == U'$')
        found = readVariable(out, error);
    if (!found && (c == U'"' || c == U'\'')) {
        if (readQuotedVariable(out, error)) {
            error->reset();
            return Raw::Token;
        }
    }
    if (!found) {
        found = readOperator(out, error);
        if (!found) {
            std::u32string name;
            found = readIdentifier(name, error, false);
            if (found) {
                out.m_type = ZQTokenType::Function;
                out.m_token = ZQText::encodeUtf8(name);
            }
        }
    }
    if (!found)
        return Raw::Failed;
    error->reset();
    return Raw::Token;
}

bool ZQMathStringTokenizer::readNumber(ZQMathStringToken& out, ZQErrorPlace error, bool& fatal)
{
    const std::size_t start = m_index;
    if (peek() == U'0' && m_index + 1 < m_lower.size() && m_lower[m_index + 1] == U'x') {
        m_index += 2;
        if (readHexNumber(out, error))
            return true;
        // "0x" with no hexadecimal digits, or too many of them, is no number,
        // and must not silently turn into something else.
        fatal = true;
        return false;
    }
    while (ZQText::isDigit(peek()))
        ++m_index;
    if (peek() == U'.') {
        ++m_index;
        while (ZQText::isDigit(peek()))
            ++m_index;
    }
    const std::size_t mantissaEnd = m_index;
    if (peek() == U'e') {
        ++m_index;
        if (peek() == U'-' || peek() == U'+')
            ++m_index;
        const std::size_t digitsStart = m_index;
        while (ZQText::isDigit(peek()))
            ++m_index;
        if (m_index == digitsStart)
            m_index = mantissaEnd;
    }
    std::string text;
    text.reserve(m_index - start);
    for (std::size_t i = start; i < m_index; ++i)
        text.push_back(static_cast<char>(m_characters[i]));
    if (text.empty() || text == ".") {
        m_index = start;
        ZQSetError(error, ZQErrorCode::InvalidNumber, "unable to parse number");
        return false;
    }
    out.m_type = ZQTokenType::Number;
    out.m_number = ZQNumber::fromDecimalLiteral(text);
    if (!out.m_number) {
        // The grammar above only lets literals through, so this cannot happen;
        // refuse rather than invent a value.
        m_index = start;
        ZQSetError(error, ZQErrorCode::InvalidNumber, "unable to parse number");
        fatal = true;
        return false;
    }
    out.m_token = std::move(text);
    return true;
}

bool ZQMathStringTokenizer::readHexNumber(ZQMathStringToken& out, ZQErrorPlace error)
{
    std::uint64_t value = 0;
    std::size_t digits = 0;
    bool overflow = false;
    while (true) {
        const char32_t c = peek();
        unsigned digit;
        if (c >= U'0' && c <= U'9')
            digit = c - U'0';
        else if (c >= U'a' && c <= U'f')
            digit = c - U'a' + 10;
        else
            break;
        if (value >> 60)
            overflow = true;
        value = (value << 4) | digit;
        ++digits;
        ++m_index;
    }
    if (digits == 0 || overflow) {
        ZQSetError(error, ZQErrorCode::InvalidNumber, "unable to parse hex number");
        return false;
    }
    out.m_type = ZQTokenType::Number;
    out.m_token = std::to_string(value);
    out.m_number = ZQNumber::fromDecimalLiteral(out.m_token);
    return true;
}

bool ZQMathStringTokenizer::readIdentifier(std::u32string& name, ZQErrorPlace error, bool endAtDollar)
{
    const std::size_t start = m_index;
    const char32_t c = peek();
    if (m_index < m_lower.size() && (c == U'\u03C0' || c == U'\u03D5' || c == U'\u03C4')) {
        name.assign(1, m_characters[m_index]);
        ++m_index;
        return true;
    }
    while (m_index < m_lower.size()) {
        const char32_t ch = m_lower[m_index];
        if (ZQText::isWhitespace(ch) || isOperatorCharacter(ch) || (endAtDollar && ch == U'$'))
            break;
        ++m_index;
    }
    if (m_index == start) {
        ZQSetError(error, ZQErrorCode::InvalidIdentifier, "unable to parse identifier");
        return false;
    }
    name.assign(m_characters, start, m_index - start);
    return true;
}

bool ZQMathStringTokenizer::readVariable(ZQMathStringToken& out, ZQErrorPlace error)
{
    const std::size_t start = m_index;
    ++m_index;
    std::u32string name;
    // A "$" name ends at the next "$", so "$a$b" is two variables.
    if (!readIdentifier(name, error, true)) {
        m_index = start;
        ZQSetError(error, ZQErrorCode::InvalidVariable, "variable names must be at least 1 character long");
        return false;
    }
    out.m_type = ZQTokenType::Variable;
    out.m_token = ZQText::encodeUtf8(name);
    return true;
}

bool ZQMathStringTokenizer::readQuotedVariable(ZQMathStringToken& out, ZQErrorPlace error)
{
    const std::size_t start = m_index;
    const char32_t quote = m_characters[m_index++];
    std::u32string name;
    name.reserve(42);
    bool closed = false;
    while (m_index < m_characters.size()) {
        char32_t ch = m_characters[m_index++];
        if (ch == quote) {
            closed = true;
            break;
        }
        if (ch == U'\\') {
            if (m_index >= m_characters.size())
                break;
            ch = m_characters[m_index++];
        }
        name.push_back(ch);
    }
    if (!closed) {
        m_index = start;
        ZQSetError(error, ZQErrorCode::InvalidVariable, "Unable to parsed quoted variable name");
        return false;
    }
    out.m_type = ZQTokenType::Variable;
    out.m_token = ZQText::encodeUtf8(name);
    return true;
}

bool ZQMathStringTokenizer::readOperator(ZQMathStringToken& out, ZQErrorPlace error)
{
    const std::size_t start = m_index;
    if (!isOperatorCharacter(peek()) || m_index >= m_lower.size()) {
        std::string text;
        ZQText::appendUtf8(text, m_characters[start]);
        ZQSetError(error, ZQErrorCode::InvalidOperator, text + " is not a valid operator");
        return false;
    }
    // Tokens are looked up in the shared set, so no match can be longer than
    // its longest token; looking further would only cost time on long runs.
    const ZQMathOperatorSet& shared = *ZQMathOperatorSet::defaultOperatorSet();
    const std::size_t limit = shared.maximumTokenLength();
    std::size_t longest = 0;
    std::string candidate;
    std::string matched;
    const std::vector<ZQMathOperatorSet::Record>* matchedRecords = nullptr;
    std::size_t length = 0;
    while (length < limit && start + length < m_lower.size() &&
           isOperatorCharacter(m_lower[start + length])) {
        ZQText::appendUtf8(candidate, m_lower[start + length]);
        ++length;
        if (const auto* records = shared.recordsForLowercaseToken(candidate)) {
            longest = length;
            matched = candidate;
            matchedRecords = records;
        }
    }
    if (longest == 0) {
        const std::size_t stop = std::min(start + length, m_characters.size() - 1);
        std::string text;
        ZQText::appendUtf8(text, m_characters[stop]);
        ZQSetError(error, ZQErrorCode::InvalidOperator, text + " is not a valid operator");
        return false;
    }
    m_index = start + longest;
    // As mathStringTokenWithToken would make it, from the records just found.
    out = ZQMathStringToken();
    out.m_type = ZQTokenType::Operator;
    if (matchedRecords->size() == 1)
        out.m_operator = matchedRecords->front();
    else
        out.m_ambiguous = true;
    out.m_token = std::move(matched);
    return true;
}

bool ZQMathStringTokenizer::resolveAmbiguity(ZQMathStringToken& token, ZQErrorPlace error)
{
    const ZQMathStringToken* previous = m_tokens.empty() ? nullptr : &m_tokens.back();
    bool prefixPosition = true;
    if (previous) {
        if (previous->tokenType() != ZQTokenType::Operator) {
            prefixPosition = false;
        } else {
            const ZQOperatorArity arity = previous->operatorArity();
            prefixPosition = arity == ZQOperatorArity::Binary || arity == ZQOperatorArity::Unknown ||
                             (arity == ZQOperatorArity::Unary &&
                              previous->operatorAssociativity() == ZQOperatorAssociativity::Right);
        }
    }
    static const char* const candidateNames[] = {"add", "subtract", "positive", "negate"};
    if (!m_signRecordsLoaded) {
        for (std::size_t i = 0; i < m_signRecords.size(); ++i)
            m_signRecords[i] = ZQMathOperator::infoForOperatorFunction(candidateNames[i]);
        m_signRecordsLoaded = true;
    }
    const std::size_t first = prefixPosition ? 2 : 0;
    const std::shared_ptr<ZQMathOperator>* found = nullptr;
    for (std::size_t i = first; i < first + 2 && !found; ++i) {
        const auto& record = m_signRecords[i];
        if (record && std::find(record->tokens().begin(), record->tokens().end(), token.token()) !=
                          record->tokens().end())
            found = &record;
    }
    if (found) {
        token.m_operator = *found;
        token.m_ambiguous = false;
    } else if (token.token() == "!") {
        token.resolveToOperatorFunction(prefixPosition ? "l_not" : "factorial");
    } else {
        token.m_ambiguous = true;
    }
    if (token.ambiguous()) {
        ZQSetError(error, ZQErrorCode::UnknownPrecedence,
                   "unknown precedence for token: " + token.description());
        return false;
    }
    return true;
}

bool ZQMathStringTokenizer::processToken(ZQMathStringToken* token, ZQErrorPlace error)
{
    if (token && token->tokenType() == ZQTokenType::Operator &&
        (token->ambiguous() || !token->operatorInfo())) {
        if (!resolveAmbiguity(*token, error))
            return false;
    }
    if (token && token->isOperator("positive"))
        return true;
    const bool isOpenParen = token && token->isOperator("open_paren");
    if (!m_tokens.empty() && m_tokens.back().tokenType() == ZQTokenType::Function && !isOpenParen) {
        appendToken(*ZQMathStringToken::mathStringTokenWithToken("(", ZQTokenType::Operator));
        appendToken(*ZQMathStringToken::mathStringTokenWithToken(")", ZQTokenType::Operator));
    }
    if (!token)
        return true;
    if (!m_tokens.empty()) {
        const ZQMathStringToken& last = m_tokens.back();
        const bool lastEndsOperand = last.tokenType() == ZQTokenType::Number ||
                                     last.tokenType() == ZQTokenType::Variable ||
                                     (last.tokenType() == ZQTokenType::Operator && last.operatorInfo() &&
                                      !last.ambiguous() && last.operatorInfo()->isPostfix());
        const bool startsOperand = token->tokenType() == ZQTokenType::Number ||
                                   token->tokenType() == ZQTokenType::Function ||
                                   token->tokenType() == ZQTokenType::Variable ||
                                   (token->tokenType() == ZQTokenType::Operator && token->operatorInfo() &&
                                    !token->ambiguous() && token->operatorInfo()->isPrefix());
        if (lastEndsOperand && startsOperand)
            appendToken(*ZQMathStringToken::mathStringTokenWithToken("*", ZQTokenType::Operator));
    }
    appendToken(std::move(*token));
    return true;
}
