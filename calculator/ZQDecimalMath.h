#pragma once

#include "calculator/ZQDecimal.h"

#include <cstdint>

// Math on 38-digit decimals, for the high-precision built-in functions.
// Every operation rounds half-even. Nothing reports an error: a result that
// cannot be represented, or an argument outside a function's domain, is NaN,
// and a NaN argument gives NaN (except a power with exponent 0, which is 1).

// Constants, to the type's full precision.
ZQDecimal decimalNaN();
ZQDecimal decimalEpsilon(); // 10^-64
ZQDecimal decimalMinusOne();
ZQDecimal decimalZero();
ZQDecimal decimalOne();
ZQDecimal decimalTwo();
ZQDecimal decimalGoldenRatio();
ZQDecimal decimalPi();
ZQDecimal decimalTwoPi();
ZQDecimal decimalHalfPi();
ZQDecimal decimalQuarterPi();
ZQDecimal decimalSqrtTwo();
ZQDecimal decimalE();
ZQDecimal decimalLog2E();
ZQDecimal decimalLog10E();
ZQDecimal decimalLn2();
ZQDecimal decimalLn10();

ZQDecimal decimalFromInteger(std::uint64_t value);
ZQDecimal decimalFromDouble(double value); // shortest round-trip digits

bool decimalIsNegative(const ZQDecimal& x); // false for NaN
bool decimalIsInteger(const ZQDecimal& x);  // false for NaN
void decimalNegate(ZQDecimal* x);
void decimalInvert(ZQDecimal* x);
ZQDecimal decimalReciprocal(const ZQDecimal& x);
ZQDecimal decimalAbsolute(const ZQDecimal& x);
ZQDecimal decimalAdd(const ZQDecimal& a, const ZQDecimal& b);
ZQDecimal decimalSubtract(const ZQDecimal& a, const ZQDecimal& b);
ZQDecimal decimalMultiply(const ZQDecimal& a, const ZQDecimal& b);
ZQDecimal decimalDivide(const ZQDecimal& a, const ZQDecimal& b);
ZQDecimal decimalMean(const ZQDecimal& a, const ZQDecimal& b);
// Floored remainder, exact whatever the size of the quotient: it takes the
// sign of b and lies in [0, b) or (b, 0].
ZQDecimal decimalModulo(const ZQDecimal& a, const ZQDecimal& b);
bool decimalIsClose(const ZQDecimal& a, const ZQDecimal& b); // |a - b| < 10^-64
ZQDecimal decimalReduceAngle(const ZQDecimal& x);            // into [-pi, pi]

// base^p: exact square-and-multiply for whole p > 0, exp(p ln base) otherwise.
ZQDecimal decimalPower(const ZQDecimal& base, const ZQDecimal& p);
ZQDecimal decimalSquareRoot(const ZQDecimal& x); // 0 for 0, NaN below 0
// |x|! for whole x (NaN once it overflows, which is above 103), the double
// gamma function for fractions.
ZQDecimal decimalFactorial(const ZQDecimal& x);
// value * 2^count and value / 2^count, count cut toward minus infinity; any
// result below 1 is 0, a result too large NaN.
ZQDecimal decimalShiftLeft(const ZQDecimal& value, const ZQDecimal& count);
ZQDecimal decimalShiftRight(const ZQDecimal& value, const ZQDecimal& count);

ZQDecimal decimalExponential(const ZQDecimal& x);
ZQDecimal decimalNaturalLogarithm(const ZQDecimal& x);

// Angles in radians.
ZQDecimal decimalSine(const ZQDecimal& x);
ZQDecimal decimalCosine(const ZQDecimal& x);
ZQDecimal decimalTangent(const ZQDecimal& x);
ZQDecimal decimalCosecant(const ZQDecimal& x);
ZQDecimal decimalSecant(const ZQDecimal& x);
ZQDecimal decimalCotangent(const ZQDecimal& x);
ZQDecimal decimalArcSine(const ZQDecimal& x);
ZQDecimal decimalArcCosine(const ZQDecimal& x);
ZQDecimal decimalArcTangent(const ZQDecimal& x);
ZQDecimal decimalArcCosecant(const ZQDecimal& x);
ZQDecimal decimalArcSecant(const ZQDecimal& x);
ZQDecimal decimalArcCotangent(const ZQDecimal& x); // in (0, pi)

ZQDecimal decimalHyperbolicSine(const ZQDecimal& x);
ZQDecimal decimalHyperbolicCosine(const ZQDecimal& x);
ZQDecimal decimalHyperbolicTangent(const ZQDecimal& x);
ZQDecimal decimalHyperbolicCosecant(const ZQDecimal& x);
ZQDecimal decimalHyperbolicSecant(const ZQDecimal& x);
ZQDecimal decimalHyperbolicCotangent(const ZQDecimal& x);
ZQDecimal decimalInverseHyperbolicSine(const ZQDecimal& x);
ZQDecimal decimalInverseHyperbolicCosine(const ZQDecimal& x);
ZQDecimal decimalInverseHyperbolicTangent(const ZQDecimal& x);
ZQDecimal decimalInverseHyperbolicCosecant(const ZQDecimal& x);
ZQDecimal decimalInverseHyperbolicSecant(const ZQDecimal& x);
ZQDecimal decimalInverseHyperbolicCotangent(const ZQDecimal& x);
