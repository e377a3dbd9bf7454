#pragma once

#include "calculator/ZQMathEvaluator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

struct Outcome
{
    std::optional<ZQNumber> number;
    std::optional<ZQError> error;
};

inline Outcome evaluate(ZQMathEvaluator& evaluator, const std::string& text,
                        const ZQSubstitutions* subs = nullptr)
{
    Outcome o;
    o.number = evaluator.evaluateString(text, subs, &o.error);
    return o;
}

inline Outcome evaluate(const std::string& text, const ZQSubstitutions* subs = nullptr)
{
    Outcome o;
    o.number = ZQMathParsing::numberByEvaluatingStringWithSubstitutions(text, subs, &o.error);
    return o;
}

// Relative 1e-14, absolute 1e-15 near zero; NaN matches NaN, infinities match exactly.
inline ::testing::AssertionResult near(double actual, double expected)
{
    if (std::isnan(expected) && std::isnan(actual))
        return ::testing::AssertionSuccess();
    if (std::isinf(expected) || std::isinf(actual))
        return actual == expected ? ::testing::AssertionSuccess()
                                  : ::testing::AssertionFailure() << actual << " != " << expected;
    const double tolerance = std::max(1e-15, std::fabs(expected) * 1e-14);
    if (std::fabs(actual - expected) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::to_string(actual) << " != " << std::to_string(expected);
}
