#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The calculator's error record. Every failure of the calculator answers
// nothing and leaves one of these in the caller's error place.
enum class ZQErrorCode : int
{
    InvalidFormat = 1,
    InvalidOperator = 2,
    InvalidIdentifier = 3,
    InvalidVariable = 4,
    InvalidNumber = 5,
    UnknownPrecedence = 6,
    ImbalancedParentheses = 7,
    UnknownArity = 8,
    MissingLeftOperand = 9,
    MissingRightOperand = 10,
    UnaryMissingLeftOperand = 11,
    UnaryMissingRightOperand = 12,
    MissingOperands = 13,
    UnknownVariable = 14,
    UnknownFunction = 15,
    InvalidReturnType = 16,
    InvalidArgumentCount = 17,
    InvalidArgument = 18,
};

struct ZQError
{
    static constexpr std::string_view Domain = "com.hollowmere.zqmathparser";
    std::string domain{Domain};
    int code = 0;
    std::string message;
    std::optional<std::string> function; // "com.hollowmere.zqmathparser.Function"
    std::optional<std::string> variable; // "com.hollowmere.zqmathparser.Variable"

    ZQErrorCode errorCode() const { return static_cast<ZQErrorCode>(code); }
    // "Error Domain=... Code=... \"message\"", the form the convenience entries log.
    std::string description() const;
};

// Where a failing operation leaves its error. A null pointer means the caller
// gave no place; operations must then still fail, just silently.
using ZQErrorPlace = std::optional<ZQError>*;

ZQError ZQMakeError(ZQErrorCode code, std::string message);
// Stores the error when a place was given.
void ZQSetError(ZQErrorPlace place, ZQErrorCode code, std::string message);
// Stores the error only when a place was given and it is still empty, so that
// an error placed by a deeper step is never replaced by a generic one.
bool ZQSetErrorIfEmpty(ZQErrorPlace place, ZQError error);

// The message sent by the overly-long-input guard (code 1).
inline constexpr std::string_view ZQTooComplexMessage = "expression is too complex";
// Limits that keep every pass over user text bounded.
inline constexpr std::size_t ZQMaximumTokenCount = 10000;
inline constexpr int ZQMaximumDepth = 1000;

// Log lines of the calculator ("error: ...", "supposedly invalid number: ...").
// The default sink writes one line to stderr; tests capture lines instead.
using ZQLogSink = std::function<void(std::string_view line)>;
void ZQSetLogSink(ZQLogSink sink); // an empty sink restores stderr
void ZQLog(std::string_view line);
