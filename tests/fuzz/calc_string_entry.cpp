// Feeds arbitrary text to the calculator's string entry, and walks the parsed
// tree the way callers do (copy, compare, describe, simplify). Each input is
// also evaluated in high precision, where every built-in runs in decimals.
#include "calculator/ZQExpression.h"
#include "calculator/ZQMathEvaluator.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<ZQError> error;
    auto value = ZQMathParsing::numberByEvaluatingStringWithSubstitutions(text, nullptr, &error);
    if (!value && !error)
        __builtin_trap(); // every failure must say why
    if (value)
        (void)value->description();

    static ZQMathEvaluator degrees;
    degrees.setAngleMeasurementMode(ZQAngleMeasurementMode::Degrees);
    std::optional<ZQError> degreeError;
    (void)degrees.evaluateString(text, nullptr, &degreeError);

    static ZQMathEvaluator precise;
    static const bool preciseReady = (precise.setUsesHighPrecisionEvaluation(true), true);
    (void)preciseReady;
    std::optional<ZQError> preciseError;
    auto preciseValue = precise.evaluateString(text, nullptr, &preciseError);
    if (!preciseValue && !preciseError)
        __builtin_trap();
    if (preciseValue)
        (void)preciseValue->description();

    std::optional<ZQError> parseError;
    if (auto tree = ZQExpression::expressionFromString(text, &parseError)) {
        auto copy = tree->copy();
        if (!copy || !copy->isEqual(*tree) || copy->hash() != tree->hash())
            __builtin_trap();
        (void)tree->description();
        std::optional<ZQError> simplifyError;
        (void)tree->simplifiedExpressionWithEvaluator(&degrees, &simplifyError);
        if (auto back = ZQExpression::decode(tree->encode()); !back || !back->isEqual(*tree))
            __builtin_trap();
    }
    return 0;
}
