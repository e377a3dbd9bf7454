#pragma once

#include "calculator/ZQError.h"
#include "calculator/ZQMathOperator.h"
#include "calculator/ZQMathStringTokenizer.h"

#include <memory>
#include <string>
#include <string_view>

class ZQExpression;

// Turns a token list into an expression tree: parentheses and calls become
// nested groups, each group is folded around its tightest operator until one
// term is left, and the terms become expression nodes.
class ZQParser
{
public:
    // Nothing, with the error placed, when the text cannot be tokenized.
    static std::unique_ptr<ZQParser> parserWithString(std::string_view text, ZQErrorPlace error);
    // Nothing for a missing tokenizer.
    static std::unique_ptr<ZQParser> parserWithTokenizer(std::unique_ptr<ZQMathStringTokenizer> tokenizer,
                                                         ZQErrorPlace error);

    std::shared_ptr<ZQExpression> parsedExpressionWithError(ZQErrorPlace error);
    ZQOperatorAssociativity associativityForOperatorFunction(const std::string& function) const;

    ZQMathStringTokenizer& tokenizer() { return *m_tokenizer; }
    const std::shared_ptr<ZQMathOperatorSet>& operatorSet() const { return m_operatorSet; }

private:
    explicit ZQParser(std::unique_ptr<ZQMathStringTokenizer> tokenizer);
    std::unique_ptr<ZQMathStringTokenizer> m_tokenizer;
    std::shared_ptr<ZQMathOperatorSet> m_operatorSet;
};
