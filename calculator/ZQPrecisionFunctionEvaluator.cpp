#include "calculator/ZQFunctionEvaluator.h"

// Interim: high precision answers in double precision until the decimal
// function evaluator takes this file over.
std::unique_ptr<_ZQFunctionEvaluator> ZQMakePrecisionFunctionEvaluator(ZQMathEvaluator& evaluator)
{
    return std::make_unique<_ZQFunctionEvaluator>(evaluator);
}
