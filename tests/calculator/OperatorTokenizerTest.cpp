// The operator table and set, and the tokenizer.
#include "calculator/ZQMathOperator.h"
#include "calculator/ZQMathStringTokenizer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(OperatorSet, DefaultPrecedencesAfterModulo)
{
    const auto& set = *ZQMathOperatorSet::defaultOperatorSet();
    const std::pair<const char*, int> expected[] = {
        {"l_or", 0},        {"l_and", 1},        {"l_eq", 2},       {"l_neq", 2},   {"l_lt", 3},
        {"l_gt", 4},        {"l_ltoe", 5},       {"l_gtoe", 6},     {"l_not", 7},   {"or", 8},
        {"xor", 9},         {"and", 10},         {"lshift", 11},    {"rshift", 12}, {"add", 13},
        {"subtract", 13},   {"multiply", 14},    {"divide", 14},    {"mod", 15},    {"not", 16},
        {"negate", 17},     {"positive", 17},    {"factorial", 18}, {"dtor", 18},   {"pow", 19},
        {"open_paren", 20}, {"close_paren", 20}, {"comma", 21}};
    for (const auto& [function, precedence] : expected) {
        auto record = set.operatorForFunction(function);
        ASSERT_TRUE(record) << function;
        EXPECT_EQ(record->precedence(), precedence) << function;
    }
    EXPECT_EQ(set.operators().size(), 28u);
    for (std::size_t i = 1; i < set.operators().size(); ++i)
        EXPECT_LE(set.operators()[i - 1]->precedence(), set.operators()[i]->precedence());
    EXPECT_EQ(set.operatorForFunction("pow")->associativity(), ZQPlatformPowerChainValue == 512
                                                                   ? ZQOperatorAssociativity::Right
                                                                   : ZQOperatorAssociativity::Left);
}

TEST(OperatorSet, TokensWithSeveralRecordsAndLowerCasedLookup)
{
    const auto& set = *ZQMathOperatorSet::defaultOperatorSet();
    for (const char* shared : {"-", "\u2212", "+", "!"})
        EXPECT_EQ(set.operatorsForToken(shared).size(), 2u) << shared;
    for (const char* single : {"*", "**", "%", "<=", "\u00B0", "(", ","})
        EXPECT_EQ(set.operatorsForToken(single).size(), 1u) << single;
    EXPECT_TRUE(set.operatorsForToken("?").empty());

    ZQMathOperatorSet own;
    own.addOperatorHigherThan(ZQMathOperator::create("implies", {"IMPLIES"}, ZQOperatorArity::Binary,
                                                     ZQOperatorAssociativity::Left),
                              own.operatorForFunction("l_or"));
    ASSERT_EQ(own.operatorsForToken("Implies").size(), 1u);
    EXPECT_EQ(own.operatorsForToken("implies").front()->function(), "implies");
}

TEST(OperatorSet, RelativeInsertionShiftsTheRightRecords)
{
    ZQMathOperatorSet set;
    auto add = set.operatorForFunction("add");
    auto multiply = set.operatorForFunction("multiply");
    auto higher = ZQMathOperator::create("h", {"@@"}, ZQOperatorArity::Binary, ZQOperatorAssociativity::Left);
    set.addOperatorHigherThan(higher, add);
    EXPECT_EQ(add->precedence(), 13);
    EXPECT_EQ(higher->precedence(), 14);
    EXPECT_EQ(multiply->precedence(), 15);

    auto lower = ZQMathOperator::create("l", {"@#"}, ZQOperatorArity::Binary, ZQOperatorAssociativity::Left);
    set.addOperatorLowerThan(lower, add);
    EXPECT_EQ(lower->precedence(), 13);
    EXPECT_EQ(add->precedence(), 14);
    EXPECT_EQ(set.operatorForFunction("rshift")->precedence(), 12);

    auto same = ZQMathOperator::create("s", {"@$"}, ZQOperatorArity::Binary, ZQOperatorAssociativity::Left);
    set.addOperatorSameAs(same, add);
    EXPECT_EQ(same->precedence(), add->precedence());
    EXPECT_EQ(add->precedence(), 14);
    // The shared set is untouched by other sets.
    EXPECT_EQ(ZQMathOperatorSet::defaultOperatorSet()->operatorForFunction("add")->precedence(), 13);
}

TEST(OperatorSet, DuplicateTokensAreRefusedAndMergesAreSilent)
{
    ZQMathOperatorSet set;
    auto clash =
        ZQMathOperator::create("plus2", {"+"}, ZQOperatorArity::Binary, ZQOperatorAssociativity::Left);
    try {
        set.addOperatorSameAs(clash, set.operatorForFunction("add"));
        FAIL() << "duplicate token accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "An operator is already defined for '+'");
    }
    const auto before = set.operatorForFunction("add")->precedence();
    set.addTokens({"PLUS"}, "add");
    EXPECT_EQ(set.operatorForFunction("add")->precedence(), before);
    EXPECT_EQ(set.operatorsForToken("plus").front()->function(), "add");
    EXPECT_THROW(set.addTokens({"x"}, "nosuch"), std::invalid_argument);
}

TEST(OperatorSet, CheckingInitialiserRefusesBadInput)
{
    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{"1x"}, "Invalid operator token: 1x"}, {{" x"}, "Invalid operator token:  x"},
        {{"$"}, "Invalid operator token: $"},   {{"."}, "Invalid operator token: ."},
        {{""}, "Invalid operator token: "},     {{"'"}, "Invalid operator token: '"}};
    for (const auto& [tokens, message] : bad) {
        try {
            ZQMathOperator::create("f", tokens, ZQOperatorArity::Unary, ZQOperatorAssociativity::Left);
            FAIL() << message;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    EXPECT_THROW(ZQMathOperator::create("f", {"?"}, ZQOperatorArity::Unknown, ZQOperatorAssociativity::Left),
                 std::invalid_argument);
    auto ok = ZQMathOperator::create("f", {"AB"}, ZQOperatorArity::Binary, ZQOperatorAssociativity::Right);
    EXPECT_EQ(ok->tokens(), std::vector<std::string>{"ab"});
    EXPECT_NE(ok->description().find("{(ab) => f(), Arity: Binary, Assoc: Right, Precedence: 0}"),
              std::string::npos);
}

TEST(OperatorSet, PercentModeSwitchesBackAndForth)
{
    ZQMathOperatorSet set;
    for (int round = 0; round < 2; ++round) {
        set.setInterpretsPercentSignAsModulo(false);
        auto records = set.operatorsForToken("%");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records.front()->function(), "percent");
        EXPECT_EQ(records.front()->arity(), ZQOperatorArity::Unary);
        EXPECT_GT(records.front()->precedence(), set.operatorForFunction("negate")->precedence());
        EXPECT_LT(records.front()->precedence(), set.operatorForFunction("factorial")->precedence());
        EXPECT_FALSE(set.operatorForFunction("mod"));
        set.setInterpretsPercentSignAsModulo(true);
        records = set.operatorsForToken("%");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records.front()->function(), "mod");
        EXPECT_EQ(set.percentTokenOperator(), records.front());
    }
    ZQMathOperatorSet copy(set);
    copy.setInterpretsPercentSignAsModulo(false);
    EXPECT_EQ(copy.operatorsForToken("%").front()->function(), "percent");
    EXPECT_EQ(set.operatorsForToken("%").front()->function(), "mod");
}

// --- tokenizer ------------------------------------------------------------------

std::vector<std::string> tokensOf(const std::string& text)
{
    std::optional<ZQError> error;
    auto tokenizer = ZQMathStringTokenizer::tokenizerWithString(text, &error);
    if (!tokenizer)
        return {"ERROR " + std::to_string(error ? error->code : 0)};
    std::vector<std::string> out;
    for (const auto& token : tokenizer->tokens()) {
        std::string s = token.description();
        if (token.tokenType() == ZQTokenType::Operator)
            s += "<" + token.operatorFunction() + ">";
        out.push_back(s);
    }
    return out;
}

using Tokens = std::vector<std::string>;

// A token weighs 160 bytes: a long entry whose array is grown while the old
// one is still held doubled the heap of every evaluation (and the allocator
// then gave the pages back and took them again, entry after entry).
TEST(Tokenizer, LongSumFitsTheArrayReservedForIt)
{
    std::string text = "1";
    for (int i = 2; i <= 200; ++i)
        text += "+" + std::to_string(i);
    std::optional<ZQError> error;
    auto tokenizer = ZQMathStringTokenizer::tokenizerWithString(text, &error);
    ASSERT_TRUE(tokenizer);
    const auto& tokens = tokenizer->tokens();
    EXPECT_EQ(tokens.size(), 399u);
    EXPECT_LE(tokens.capacity(), tokens.size() + 8) << "reserved far more than the entry needs";
}

TEST(Tokenizer, TokenStreams)
{
    const std::pair<const char*, Tokens> cases[] = {
        {"1.5e3", {"1.5e3"}},
        {"2e", {"2", "*<multiply>", "e", "(<open_paren>", ")<close_paren>"}},
        {"2e+x",
         {"2", "*<multiply>", "e", "(<open_paren>", ")<close_paren>", "+<add>", "x", "(<open_paren>",
          ")<close_paren>"}},
        {"1.2.3", {"1.2", "*<multiply>", ".3"}},
        {".5", {".5"}},
        {"0x1F", {"31"}},
        {"pi 2", {"pi", "(<open_paren>", ")<close_paren>", "*<multiply>", "2"}},
        {"-3", {"-<negate>", "3"}},
        {"2-3", {"2", "-<subtract>", "3"}},
        {"2*-3", {"2", "*<multiply>", "-<negate>", "3"}},
        {"+3", {"3"}},
        {"(-1)", {"(<open_paren>", "-<negate>", "1", ")<close_paren>"}},
        {"3!", {"3", "!<factorial>"}},
        {"!0", {"!<l_not>", "0"}},
        {"3!!", {"3", "!<factorial>", "!<factorial>"}},
        {"f(1, !0)", {"f", "(<open_paren>", "1", ",<comma>", "!<l_not>", "0", ")<close_paren>"}},
        {"3!2", {"3", "!<factorial>", "*<multiply>", "2"}},
        {"$a$b", {"$a", "*<multiply>", "$b"}},
        {"2 3", {"2", "*<multiply>", "3"}},
        {"<=", {"<=<l_ltoe>"}},
        {"1<-2", {"1", "<<l_lt>", "-<negate>", "2"}},
        {"2**3", {"2", "**<pow>", "3"}},
        {"'a b'", {"$a b"}},
        {"\"a\\\"b\"", {"$a\"b"}},
        {"'$a'", {"$$a"}},
        {"sin2 x.y",
         {"sin2", "(<open_paren>", ")<close_paren>", "*<multiply>", "x.y", "(<open_paren>",
          ")<close_paren>"}},
        {"2\u03C0", {"2", "*<multiply>", "\u03C0", "(<open_paren>", ")<close_paren>"}},
        {"", {}},
        {" \t\u3000\u2028 ", {}},
        {"0x", {"ERROR 5"}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(tokensOf(text), expected) << text;
}

TEST(Tokenizer, AmbiguousTokenWithoutAResolutionIsCode6)
{
    // Only reachable through a merge that gives one token to two functions.
    auto& set = *ZQMathOperatorSet::defaultOperatorSet();
    set.addTokens({"\u2a2f"}, "multiply");
    set.addTokens({"\u2a2f"}, "divide");
    std::optional<ZQError> error;
    EXPECT_FALSE(ZQMathStringTokenizer::tokenizerWithString("2 \u2a2f 3", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 6);
    EXPECT_EQ(error->message, "unknown precedence for token: \u2a2f");
}

TEST(Tokenizer, EnumerationAndDescriptions)
{
    std::optional<ZQError> error;
    auto tokenizer = ZQMathStringTokenizer::tokenizerWithString("1 + $x", &error);
    ASSERT_TRUE(tokenizer);
    EXPECT_EQ(tokenizer->peekNextObject()->token(), "1");
    EXPECT_EQ(tokenizer->nextObject()->token(), "1");
    EXPECT_EQ(tokenizer->allObjects().size(), 2u);
    EXPECT_EQ(tokenizer->nextObject()->debugDescription(),
              "+ (arity:BIN, precedence:13, associativity:LEFT, function:add)");
    EXPECT_EQ(tokenizer->nextObject()->description(), "$x");
    EXPECT_EQ(tokenizer->nextObject(), nullptr);
    EXPECT_TRUE(tokenizer->allObjects().empty());
    tokenizer->reset();
    EXPECT_EQ(tokenizer->nextObject()->token(), "1");
    auto ambiguous = ZQMathStringToken::mathStringTokenWithToken("-", ZQTokenType::Operator);
    ASSERT_TRUE(ambiguous);
    EXPECT_TRUE(ambiguous->ambiguous());
    EXPECT_EQ(ambiguous->operatorType(), "invalid");
    EXPECT_EQ(ambiguous->operatorPrecedence(), -1);
    EXPECT_FALSE(ZQMathStringToken::mathStringTokenWithToken("?", ZQTokenType::Operator));
}

TEST(Tokenizer, InvalidUtf8BecomesReplacementCharacters)
{
    const Tokens expected{"\xEF\xBF\xBD\xEF\xBF\xBD", "(<open_paren>", ")<close_paren>"};
    EXPECT_EQ(tokensOf("\xff\xfe"), expected);
}

} // namespace
