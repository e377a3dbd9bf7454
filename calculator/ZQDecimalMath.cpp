#include "calculator/ZQDecimalMath.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr ZQRoundingMode kMode = ZQRoundingMode::Bankers;
// A series stops once its term is this many digits below its sum: two
// guard digits beyond the 38 kept.
constexpr int kSeriesDigits = 41;
constexpr int kMaxTerms = 400;

ZQDecimal parse(const char* text)
{
    return ZQDecimal::fromString(text).value_or(ZQDecimal::notANumber());
}

ZQDecimal add(const ZQDecimal& a, const ZQDecimal& b)
{
    ZQDecimal r;
    ZQDecimalAdd(&r, a, b, kMode);
    return r;
}

ZQDecimal sub(const ZQDecimal& a, const ZQDecimal& b)
{
    ZQDecimal r;
    ZQDecimalSubtract(&r, a, b, kMode);
    return r;
}

ZQDecimal mul(const ZQDecimal& a, const ZQDecimal& b)
{
    ZQDecimal r;
    ZQDecimalMultiply(&r, a, b, kMode);
    return r;
}

ZQDecimal div(const ZQDecimal& a, const ZQDecimal& b)
{
    ZQDecimal r;
    ZQDecimalDivide(&r, a, b, kMode);
    return r;
}

ZQDecimal integer(std::int64_t n)
{
    return ZQDecimal::fromInt64(n);
}

int compare(const ZQDecimal& a, const ZQDecimal& b)
{
    return static_cast<int>(ZQDecimalCompare(a, b));
}

ZQDecimal negated(ZQDecimal x)
{
    decimalNegate(&x);
    return x;
}

// Position of the leading digit: x = d.ddd * 10^magnitude(x).
int magnitude(const ZQDecimal& x)
{
    static const auto powers = [] {
        std::array<ZQUInt128, 39> p{};
        p[0] = 1;
        for (std::size_t i = 1; i < p.size(); ++i)
            p[i] = p[i - 1] * 10;
        return p;
    }();
    const ZQUInt128 m = x.mantissa();
    const int digits = static_cast<int>(std::upper_bound(powers.begin(), powers.end(), m) - powers.begin());
    return x.exponent() + digits - 1;
}

bool negligible(const ZQDecimal& term, const ZQDecimal& sum)
{
    return term.isZero() || (!sum.isZero() && magnitude(term) < magnitude(sum) - kSeriesDigits);
}

// x * 2^k for |k| up to about 1100, in two steps so that no power of two
// overflows on its own.
ZQDecimal timesPowerOfTwo(const ZQDecimal& x, int k)
{
    ZQDecimal result = x;
    const std::uint64_t n = static_cast<std::uint64_t>(k < 0 ? -k : k);
    for (std::uint64_t part : {n / 2, n - n / 2}) {
        ZQDecimal p;
        ZQDecimalPower(&p, decimalTwo(), part, kMode);
        result = k < 0 ? div(result, p) : mul(result, p);
    }
    return result;
}

// Constants split in two, to cut arguments down without losing the digits
// of the result: pi/2 = decimalHalfPi() + halfPiLow() (the first part to the
// type's 38 digits) and ln 2 = ln2High() + ln2Low() (the first part to 34
// digits, so that a three-digit multiple of it stays exact).
const ZQDecimal& halfPiLow()
{
    static const ZQDecimal value = parse("-1.4153003124470895125277038460917968569E-39");
    return value;
}

const ZQDecimal& ln2High()
{
    static const ZQDecimal value = parse("0.6931471805599453094172321214581766");
    return value;
}

const ZQDecimal& ln2Low()
{
    static const ZQDecimal value = parse("-3.1924499865639744745879319990506606378E-35");
    return value;
}

// Cuts x to r in [-pi/4, pi/4] with x = r + k pi/2; answers k mod 4. The
// remainder by the 38-digit pi/2 is exact, and the low part of pi/2 makes up
// the rest, so r keeps its digits even when x lies near a multiple of pi/2.
int reduceQuadrant(const ZQDecimal& x, ZQDecimal* r)
{
    const ZQDecimal halfPi = decimalHalfPi();
    ZQDecimal r1;
    ZQDecimalRemainder(&r1, x, halfPi);
    ZQDecimal k;
    ZQDecimalRound(&k, div(sub(x, r1), halfPi), 0, kMode);
    const ZQDecimal quarter = decimalQuarterPi();
    if (compare(r1, quarter) > 0) {
        r1 = sub(r1, halfPi);
        k = add(k, decimalOne());
    } else if (compare(r1, negated(quarter)) < 0) {
        r1 = add(r1, halfPi);
        k = sub(k, decimalOne());
    }
    *r = sub(r1, mul(k, halfPiLow()));
    ZQDecimal quadrant;
    ZQDecimalRemainder(&quadrant, k, integer(4));
    return static_cast<int>((quadrant.toInt64() + 4) % 4);
}

// Taylor series of sine or cosine for |r| <= pi/4.
ZQDecimal sineSeries(const ZQDecimal& r)
{
    const ZQDecimal r2 = mul(r, r);
    ZQDecimal term = r, sum = r;
    for (int n = 3; n < kMaxTerms; n += 2) {
        term = negated(div(mul(term, r2), integer(static_cast<std::int64_t>(n - 1) * n)));
        sum = add(sum, term);
        if (negligible(term, sum))
            break;
    }
    return sum;
}

ZQDecimal cosineSeries(const ZQDecimal& r)
{
    const ZQDecimal r2 = mul(r, r);
    ZQDecimal term = decimalOne(), sum = decimalOne();
    for (int n = 2; n < kMaxTerms; n += 2) {
        term = negated(div(mul(term, r2), integer(static_cast<std::int64_t>(n - 1) * n)));
        sum = add(sum, term);
        if (negligible(term, sum))
            break;
    }
    return sum;
}

// Beyond this the 38 digits of an argument hold no fraction of a turn that a
// fixed-precision pi could recover; the double functions answer there, as
// the double evaluator does.
bool beyondReduction(const ZQDecimal& x)
{
    return magnitude(x) >= 36;
}

// sin (wantSine) or cos of x, from one reduction.
ZQDecimal circular(const ZQDecimal& x, bool wantSine)
{
    if (x.isNaN())
        return x;
    if (beyondReduction(x))
        return decimalFromDouble(wantSine ? std::sin(x.toDouble()) : std::cos(x.toDouble()));
    ZQDecimal r;
    const int quadrant = (reduceQuadrant(x, &r) + (wantSine ? 0 : 1)) % 4;
    switch (quadrant) {
    case 0:
        return sineSeries(r);
    case 1:
        return cosineSeries(r);
    case 2:
        return negated(sineSeries(r));
    default:
        return negated(cosineSeries(r));
    }
}

// x + x^3/3 + x^5/5 + ..., for |x| <= 0.35.
ZQDecimal atanhSeries(const ZQDecimal& x)
{
    const ZQDecimal x2 = mul(x, x);
    ZQDecimal power = x, sum = x;
    for (int n = 3; n < kMaxTerms; n += 2) {
        power = mul(power, x2);
        const ZQDecimal term = div(power, integer(n));
        sum = add(sum, term);
        if (negligible(term, sum))
            break;
    }
    return sum;
}

// ln(1 + u), keeping the digits of a small u.
ZQDecimal logOnePlus(const ZQDecimal& u)
{
    if (u.isNaN() || compare(u, decimalMinusOne()) <= 0)
        return decimalNaN();
    if (magnitude(u) < 0 && compare(decimalAbsolute(u), parse("0.5")) < 0)
        return mul(decimalTwo(), atanhSeries(div(u, add(decimalTwo(), u))));
    return decimalNaturalLogarithm(add(decimalOne(), u));
}

// atan for 0 <= x <= 1: halve the angle until x <= 0.2, then the series.
ZQDecimal arcTangentOfFraction(ZQDecimal x)
{
    ZQDecimal factor = decimalOne();
    const ZQDecimal limit = parse("0.2");
    while (compare(x, limit) > 0) {
        x = div(x, add(decimalOne(), decimalSquareRoot(add(decimalOne(), mul(x, x)))));
        factor = mul(factor, decimalTwo());
    }
    const ZQDecimal x2 = mul(x, x);
    ZQDecimal power = x, sum = x;
    for (int n = 3; n < kMaxTerms; n += 2) {
        power = negated(mul(power, x2));
        const ZQDecimal term = div(power, integer(n));
        sum = add(sum, term);
        if (negligible(term, sum))
            break;
    }
    return mul(factor, sum);
}

// acosh(1 + d) = log1p(d + sqrt(d (2 + d))), which keeps the digits of d.
ZQDecimal arcCoshOfOnePlus(const ZQDecimal& d)
{
    // Above 10^20 the terms below d no longer reach the kept digits (and
    // d^2 may not fit): acosh y = ln 2y.
    if (magnitude(d) >= 20)
        return add(decimalNaturalLogarithm(add(d, decimalOne())), decimalLn2());
    return logOnePlus(add(d, decimalSquareRoot(mul(d, add(decimalTwo(), d)))));
}

ZQDecimal withSignOf(const ZQDecimal& value, const ZQDecimal& sign)
{
    return decimalIsNegative(sign) ? negated(value) : value;
}

} // namespace

ZQDecimal decimalNaN()
{
    return ZQDecimal::notANumber();
}

ZQDecimal decimalEpsilon()
{
    static const ZQDecimal value = ZQDecimal::fromParts(1, -64, false);
    return value;
}

ZQDecimal decimalMinusOne()
{
    static const ZQDecimal value = ZQDecimal::fromInt64(-1);
    return value;
}

ZQDecimal decimalZero()
{
    return ZQDecimal::zero();
}

ZQDecimal decimalOne()
{
    static const ZQDecimal value = ZQDecimal::one();
    return value;
}

ZQDecimal decimalTwo()
{
    static const ZQDecimal value = ZQDecimal::fromInt64(2);
    return value;
}

#define ZQ_DECIMAL_CONSTANT(name, text)                                                                      \
    ZQDecimal name()                                                                                         \
    {                                                                                                        \
        static const ZQDecimal value = parse(text);                                                          \
        return value;                                                                                        \
    }

ZQ_DECIMAL_CONSTANT(decimalGoldenRatio, "1.6180339887498948482045868343656381177203091798058")
ZQ_DECIMAL_CONSTANT(decimalPi, "3.1415926535897932384626433832795028841971693993751")
ZQ_DECIMAL_CONSTANT(decimalHalfPi, "1.5707963267948966192313216916397514420985846996876")
ZQ_DECIMAL_CONSTANT(decimalQuarterPi, "0.78539816339744830961566084581987572104929234984378")
ZQ_DECIMAL_CONSTANT(decimalSqrtTwo, "1.4142135623730950488016887242096980785696718753769")
ZQ_DECIMAL_CONSTANT(decimalE, "2.7182818284590452353602874713526624977572470937000")
ZQ_DECIMAL_CONSTANT(decimalLog2E, "1.4426950408889634073599246810018921374266459541530")
ZQ_DECIMAL_CONSTANT(decimalLog10E, "0.43429448190325182765112891891660508229439700580367")
ZQ_DECIMAL_CONSTANT(decimalLn2, "0.69314718055994530941723212145817656807550013436026")
ZQ_DECIMAL_CONSTANT(decimalLn10, "2.3025850929940456840179914546843642076011014886288")
#undef ZQ_DECIMAL_CONSTANT

ZQDecimal decimalTwoPi()
{
    static const ZQDecimal value = mul(decimalPi(), decimalTwo());
    return value;
}

ZQDecimal decimalFromInteger(std::uint64_t value)
{
    return ZQDecimal::fromUInt64(value);
}

ZQDecimal decimalFromDouble(double value)
{
    return ZQDecimal::fromDouble(value);
}

bool decimalIsNegative(const ZQDecimal& x)
{
    return !x.isNaN() && x.isNegative();
}

bool decimalIsInteger(const ZQDecimal& x)
{
    if (x.isNaN())
        return false;
    ZQDecimal whole;
    ZQDecimalRound(&whole, x, 0, ZQRoundingMode::Down);
    return compare(whole, x) == 0;
}

void decimalNegate(ZQDecimal* x)
{
    *x = mul(*x, decimalMinusOne());
}

void decimalInvert(ZQDecimal* x)
{
    *x = div(decimalOne(), *x);
}

ZQDecimal decimalReciprocal(const ZQDecimal& x)
{
    return div(decimalOne(), x);
}

ZQDecimal decimalAbsolute(const ZQDecimal& x)
{
    return decimalIsNegative(x) ? negated(x) : x;
}

ZQDecimal decimalAdd(const ZQDecimal& a, const ZQDecimal& b)
{
    return add(a, b);
}
ZQDecimal decimalSubtract(const ZQDecimal& a, const ZQDecimal& b)
{
    return sub(a, b);
}
ZQDecimal decimalMultiply(const ZQDecimal& a, const ZQDecimal& b)
{
    return mul(a, b);
}
ZQDecimal decimalDivide(const ZQDecimal& a, const ZQDecimal& b)
{
    return div(a, b);
}

ZQDecimal decimalMean(const ZQDecimal& a, const ZQDecimal& b)
{
    // Halving by multiplication rounds the same exact value as dividing by 2
    // does, without a long division.
    static const ZQDecimal half = parse("0.5");
    return mul(add(a, b), half);
}

ZQDecimal decimalModulo(const ZQDecimal& a, const ZQDecimal& b)
{
    // a - b * floor(a / b) loses the remainder once the quotient has more
    // digits than the type; the exact truncated remainder does not.
    ZQDecimal r;
    ZQDecimalRemainder(&r, a, b);
    if (!r.isNaN() && !r.isZero() && r.isNegative() != b.isNegative())
        r = add(r, b);
    return r;
}

bool decimalIsClose(const ZQDecimal& a, const ZQDecimal& b)
{
    const ZQDecimal d = sub(a, b);
    return !d.isNaN() && compare(decimalAbsolute(d), decimalEpsilon()) < 0;
}

ZQDecimal decimalReduceAngle(const ZQDecimal& x)
{
    const ZQDecimal r = decimalModulo(x, decimalTwoPi());
    return compare(r, decimalPi()) > 0 ? sub(r, decimalTwoPi()) : r;
}

ZQDecimal decimalPower(const ZQDecimal& base, const ZQDecimal& p)
{
    if (p.isZero())
        return decimalOne();
    if (base.isNaN() || p.isNaN())
        return decimalNaN();
    const bool whole = decimalIsInteger(p);
    const ZQDecimal n = decimalAbsolute(p);
    ZQDecimal nAsUInt = decimalFromInteger(n.toUInt64());
    if (whole && compare(nAsUInt, n) == 0) {
        ZQDecimal r;
        const ZQCalculationError error = ZQDecimalPower(&r, base, n.toUInt64(), kMode);
        if (!decimalIsNegative(p))
            return r;
        // A power too large to hold has a reciprocal too small to hold.
        if (error == ZQCalculationError::Overflow)
            return decimalZero();
        return decimalReciprocal(r);
    }
    if (base.isZero())
        return decimalIsNegative(p) ? decimalNaN() : decimalZero();
    if (decimalIsNegative(base) && !whole)
        return decimalNaN();
    ZQDecimal r = decimalExponential(mul(p, decimalNaturalLogarithm(decimalAbsolute(base))));
    if (decimalIsNegative(base)) {
        ZQDecimal parity;
        ZQDecimalRemainder(&parity, p, decimalTwo());
        if (!parity.isZero())
            r = negated(r);
    }
    return r;
}

ZQDecimal decimalSquareRoot(const ZQDecimal& x)
{
    if (x.isNaN() || decimalIsNegative(x))
        return decimalNaN();
    if (x.isZero())
        return x;
    // Every value of the type lies within the double range, so the double
    // root is a seed good to 16 digits; each Newton step doubles them.
    ZQDecimal g = decimalFromDouble(std::sqrt(x.toDouble()));
    for (int round = 0; round < 8; ++round) {
        const ZQDecimal next = decimalMean(g, div(x, g));
        if (next == g)
            break;
        g = next;
    }
    return g;
}

ZQDecimal decimalFactorial(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    if (!decimalIsInteger(x))
        return decimalFromDouble(std::tgamma(x.toDouble() + 1.0));
    const ZQDecimal n = decimalAbsolute(x);
    // 104! is the first factorial the type cannot hold.
    if (compare(n, integer(103)) > 0)
        return decimalNaN();
    ZQDecimal product = decimalOne();
    for (std::int64_t k = n.toInt64(); k > 1; --k)
        product = mul(product, integer(k));
    return product;
}

namespace {

// Past 1100 doublings every non-zero value has overflowed and past 1100
// halvings every value is below 1, so larger counts answer at once.
constexpr std::int64_t kShiftLimit = 1100;

ZQDecimal shift(const ZQDecimal& value, const ZQDecimal& count, bool left)
{
    if (value.isNaN() || count.isNaN())
        return decimalNaN();
    ZQDecimal c;
    ZQDecimalRound(&c, count, 0, ZQRoundingMode::Down);
    if (decimalIsNegative(c)) {
        left = !left;
        c = negated(c);
    }
    ZQDecimal v = value;
    if (compare(c, integer(kShiftLimit)) > 0) {
        if (!left || v.isZero())
            return decimalZero();
        return decimalNaN();
    }
    for (std::int64_t n = c.toInt64(); n > 0 && !v.isNaN(); --n)
        v = left ? mul(v, decimalTwo()) : div(v, decimalTwo());
    if (v.isNaN())
        return v;
    return compare(v, decimalOne()) < 0 ? decimalZero() : v;
}

} // namespace

ZQDecimal decimalShiftLeft(const ZQDecimal& value, const ZQDecimal& count)
{
    return shift(value, count, true);
}

ZQDecimal decimalShiftRight(const ZQDecimal& value, const ZQDecimal& count)
{
    return shift(value, count, false);
}

namespace {

// x as a double, to within a few units of its last bit: enough to choose a
// reduction, which the exact arithmetic then checks.
double roughly(const ZQDecimal& x)
{
    static const auto powers = [] {
        std::array<double, 256> p{};
        for (int e = -128; e < 128; ++e)
            p[static_cast<std::size_t>(e + 128)] = std::pow(10.0, e);
        return p;
    }();
    const double v = static_cast<double>(x.mantissa()) * powers[static_cast<std::size_t>(x.exponent() + 128)];
    return x.isNegative() ? -v : v;
}

// e^(m/32) for m = 0 .. 73, the steps of [0, ln 10).
const std::array<ZQDecimal, 74>& exponentialSteps()
{
    static const auto steps = [] {
        static const char* const texts[74] = {
            "1.0",
            "1.03174340749910267093874781528150714419449833",
            "1.06449445891785942956339059464288967310072544",
            "1.09828514030782584865020993425678671880982631",
            "1.13314845306682631682900722781179387256550313",
            "1.16911844616950440229818469151189144459160467",
            "1.20623024942098071065558601044643354804039365",
            "1.24452010776609515494619895207665445812335307",
            "1.28402541668774148407342056806243645833628087",
            "1.32478475872886556893523756068896444538146443",
            "1.36683794117379636283875677272120867217273329",
            "1.41022603492571070569972793418159129759753359",
            "1.45499141461820133605379369198751850834684202",
            "1.50117780000012275190098436819451268398471947",
            "1.54883029863413309799855198459549233755830366",
            "1.59799544995063326789964514708421045721593574",
            "1.6487212707001281468486507878141635716537761",
            "1.70105730184840067940618349548482853493069563",
            "1.75505465696029855724404703659896768873823753",
            "1.81076607211938716412053043884763957018048735",
            "1.86824595743222240650183562018810445311497228",
            "1.9275504501675446645908831925937307660930033",
            "1.98873746958229183111747734964692536684825518",
            "2.05186677348797682356990329033882027870863248",
            "2.11700001661267466854536981983709561013449158",
            "2.18420081081561792457635501545212297834217217",
            "2.25353478721320854485733107842928624130868615",
            "2.32506966027712105082411019794800030841957999",
            "2.39887529396709791469164573371629674828546587",
            "2.47502376996302521487450632645989577348223492",
            "2.55358945806292687344696507754856636121462745",
            "2.63464908881563111180226593835456984982401009",
            "2.71828182845904523536028747135266249775724709",
            "2.80456935623722661204591245859725807920278995",
            "2.89359594417176094147428127189720997605481561",
            "2.9854485393653558912998562577337187928319772",
            "3.08021684891803124500466787877703957705899376",
            "3.17799342753883827681909061119322970135809517",
            "3.27887376793867363645775776957389549248889665",
            "3.38295639409246915998919440721184143949950783",
            "3.4903429574618413761305460296722654826517344",
            "3.60113833627217578646395131726811409038053233",
            "3.71545073794110408728258314219583635900469727",
            "3.83339180475841028340230431862882294427814889",
            "3.95507672292057712621095846858945355846306269",
            "4.08062433502646059078049316566323620271808469",
            "4.21015725614396038979245698888056700720004266",
            "4.34380199356104210665111805772498083626186544",
            "4.48168907033806482260205546011927581900574987",
            "4.62395315278208062718101708477104364241192375",
            "4.77073318196760276368561966208641978974145184",
            "4.92217250943229111248375885178518326521936764",
            "5.0784190371800811144887489580334242873899337",
            "5.23962536212848906720174144442383163199105373",
            "5.40594892514116709491370931230083861697528897",
            "5.57755216479125924195897218386815240148641507",
            "5.75460267600573043686649970484269237092292231",
            "5.93727337374560703824196649589272440245393643",
            "6.12574266188198595584888858474232041039389396",
            "6.3201946074327437460424178418705707132134806",
            "6.52081912033011256532210007964615344456263082",
            "6.72781213889469154250414875437767568686961914",
            "6.94137582119703527437378609217846378982107154",
            "7.1617187424937112046306741429541579316534969",
            "7.38905609893065022723042746057500781318031557",
            "7.62360991771273575686057734535047360908130955",
            "7.86560927394489170919960955834375936711647479",
            "8.11529051435644549948213881549147298662454334",
            "8.37289748812726466320470515836998741960152914",
            "8.63868178504110159302618035628473309297817643",
            "8.91290298119873694492588227842978882371651072",
            "9.19582889253089548338881875568456998107062036",
            "9.48773583635852572055036904451173842377022497",
            "9.7889089012558940975055822258318677093877074",
        };
        std::array<ZQDecimal, 74> t{};
        for (std::size_t m = 0; m < t.size(); ++m)
            t[m] = parse(texts[m]);
        return t;
    }();
    return steps;
}

// 1/n! for n = 0 .. 24.
const std::array<ZQDecimal, 25>& inverseFactorials()
{
    static const auto values = [] {
        std::array<ZQDecimal, 25> t{};
        std::uint64_t factorial = 1;
        for (std::size_t n = 0; n < t.size(); ++n) {
            if (n > 1)
                factorial *= n;
            t[n] = n < 21 ? div(decimalOne(), decimalFromInteger(factorial))
                          : div(t[n - 1], integer(static_cast<std::int64_t>(n)));
        }
        return t;
    }();
    return values;
}

// e^b for |b| below about 1/32, by Horner's rule on the Taylor polynomial
// with just enough terms that the first one left out lies 42 digits below 1.
ZQDecimal exponentialPolynomial(const ZQDecimal& b)
{
    const double size = std::fabs(roughly(b));
    int terms = 0;
    for (double term = 1.0; term > 1e-42 && terms < 24;)
        term *= size / ++terms;
    const auto& c = inverseFactorials();
    ZQDecimal sum = c[static_cast<std::size_t>(terms)];
    for (int n = terms - 1; n >= 0; --n)
        sum = add(mul(sum, b), c[static_cast<std::size_t>(n)]);
    return sum;
}

// ln 10 split as ln10High() + ln10Low(), the first part to 34 digits so that
// a three-digit multiple of it stays exact.
const ZQDecimal& ln10High()
{
    static const ZQDecimal value = parse("2.302585092994045684017991454684364");
    return value;
}

const ZQDecimal& ln10Low()
{
    static const ZQDecimal value = parse("2.0760110148862877297603332794012639849094320E-34");
    return value;
}

} // namespace

ZQDecimal decimalExponential(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    // e^400 and e^-400 lie far outside the type's range (10^165).
    if (compare(decimalAbsolute(x), integer(400)) > 0)
        return decimalIsNegative(x) ? decimalZero() : decimalNaN();
    const double rough = roughly(x);
    if (rough >= 0 && rough < 1.0 / 32)
        return exponentialPolynomial(x);
    // x = k ln 10 + m/32 + b with 0 <= m/32 + b < ln 10 and b about in
    // [0, 1/32): e^x = 10^k e^(m/32) e^b. k ln10High + m/32 is exact, and so
    // is its distance from x up to b's last digits; the low part of ln 10
    // comes off b.
    const int k = static_cast<int>(std::floor(rough / 2.302585092994045684));
    const double rest = rough - k * 2.302585092994045684;
    const int m = std::max(0, std::min(73, static_cast<int>(std::floor(rest * 32))));
    const ZQDecimal kDecimal = integer(k);
    static const ZQDecimal thirtySecond = parse("0.03125");
    const ZQDecimal taken = add(mul(kDecimal, ln10High()), mul(integer(m), thirtySecond));
    const ZQDecimal b = sub(sub(x, taken), mul(kDecimal, ln10Low()));
    ZQDecimal result = mul(exponentialSteps()[static_cast<std::size_t>(m)], exponentialPolynomial(b));
    ZQDecimalMultiplyByPowerOf10(&result, result, k, kMode);
    return result;
}

ZQDecimal decimalNaturalLogarithm(const ZQDecimal& x)
{
    if (x.isNaN() || decimalIsNegative(x) || x.isZero())
        return decimalNaN();
    // x = f * 2^k with f near 1; ln f = 2 atanh((f - 1) / (f + 1)).
    const int k = static_cast<int>(std::lround(std::log2(x.toDouble())));
    const ZQDecimal f = timesPowerOfTwo(x, -k);
    const ZQDecimal lnF = mul(decimalTwo(), atanhSeries(div(sub(f, decimalOne()), add(f, decimalOne()))));
    const ZQDecimal kDecimal = integer(k);
    return add(mul(kDecimal, ln2High()), add(mul(kDecimal, ln2Low()), lnF));
}

ZQDecimal decimalSine(const ZQDecimal& x)
{
    return circular(x, true);
}

ZQDecimal decimalCosine(const ZQDecimal& x)
{
    return circular(x, false);
}

ZQDecimal decimalTangent(const ZQDecimal& x)
{
    // A cosine within half a unit of the 34th place of 0 counts as 0, so
    // tan(pi/2) is NaN rather than a number made of rounding errors; any
    // other cosine divides with all its digits.
    const ZQDecimal c = decimalCosine(x);
    ZQDecimal rounded;
    ZQDecimalRound(&rounded, c, 34, kMode);
    return rounded.isZero() ? decimalNaN() : div(decimalSine(x), c);
}

ZQDecimal decimalCosecant(const ZQDecimal& x)
{
    return decimalReciprocal(decimalSine(x));
}
ZQDecimal decimalSecant(const ZQDecimal& x)
{
    return decimalReciprocal(decimalCosine(x));
}
ZQDecimal decimalCotangent(const ZQDecimal& x)
{
    // cos / sin rather than 1 / tan, so that cot(pi/2) is (nearly) 0, not
    // the reciprocal of tan's NaN there.
    return div(decimalCosine(x), decimalSine(x));
}

ZQDecimal decimalArcTangent(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    const ZQDecimal a = decimalAbsolute(x);
    const ZQDecimal angle = compare(a, decimalOne()) > 0
                                ? sub(decimalHalfPi(), arcTangentOfFraction(decimalReciprocal(a)))
                                : arcTangentOfFraction(a);
    return withSignOf(angle, x);
}

ZQDecimal decimalArcSine(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    const int against = compare(decimalAbsolute(x), decimalOne());
    if (against > 0)
        return decimalNaN();
    if (against == 0)
        return withSignOf(decimalHalfPi(), x);
    // (1 - x)(1 + x) keeps the digits that 1 - x^2 would cancel near |x| = 1.
    const ZQDecimal cosine = decimalSquareRoot(mul(sub(decimalOne(), x), add(decimalOne(), x)));
    return decimalArcTangent(div(x, cosine));
}

ZQDecimal decimalArcCosine(const ZQDecimal& x)
{
    if (x.isNaN() || compare(decimalAbsolute(x), decimalOne()) > 0)
        return decimalNaN();
    if (compare(x, decimalMinusOne()) == 0)
        return decimalPi();
    // 2 atan(sqrt((1 - x) / (1 + x))) keeps the digits of small angles near x = 1.
    const ZQDecimal t = decimalSquareRoot(div(sub(decimalOne(), x), add(decimalOne(), x)));
    return mul(decimalTwo(), decimalArcTangent(t));
}

ZQDecimal decimalArcCosecant(const ZQDecimal& x)
{
    return decimalArcSine(decimalReciprocal(x));
}
ZQDecimal decimalArcSecant(const ZQDecimal& x)
{
    if (x.isNaN() || compare(decimalAbsolute(x), decimalOne()) < 0)
        return decimalNaN();
    // acos(1/x) = atan(sqrt((x - 1)(x + 1))): no rounded 1/x near x = 1.
    const ZQDecimal angle = decimalArcTangent(
        decimalSquareRoot(mul(sub(decimalAbsolute(x), decimalOne()), add(decimalAbsolute(x), decimalOne()))));
    return decimalIsNegative(x) ? sub(decimalPi(), angle) : angle;
}

ZQDecimal decimalArcCotangent(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    if (x.isZero())
        return decimalHalfPi();
    const ZQDecimal angle = decimalArcTangent(decimalReciprocal(x));
    return decimalIsNegative(x) ? add(decimalPi(), angle) : angle;
}

ZQDecimal decimalHyperbolicSine(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    const ZQDecimal a = decimalAbsolute(x);
    if (compare(a, decimalOne()) < 0) {
        // The series, which has no cancellation for small x.
        const ZQDecimal x2 = mul(x, x);
        ZQDecimal term = x, sum = x;
        for (int n = 3; n < kMaxTerms; n += 2) {
            term = div(mul(term, x2), integer(static_cast<std::int64_t>(n - 1) * n));
            sum = add(sum, term);
            if (negligible(term, sum))
                break;
        }
        return sum;
    }
    const ZQDecimal e = decimalExponential(a);
    return withSignOf(div(sub(e, decimalReciprocal(e)), decimalTwo()), x);
}

ZQDecimal decimalHyperbolicCosine(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    const ZQDecimal e = decimalExponential(decimalAbsolute(x));
    return div(add(e, decimalReciprocal(e)), decimalTwo());
}

ZQDecimal decimalHyperbolicTangent(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    const ZQDecimal a = decimalAbsolute(x);
    // 1 - tanh(45) < 2 * 10^-39: the answer is 1 to every kept digit.
    if (compare(a, integer(45)) > 0)
        return withSignOf(decimalOne(), x);
    if (compare(a, decimalOne()) < 0)
        return div(decimalHyperbolicSine(x), decimalHyperbolicCosine(x));
    const ZQDecimal e2 = decimalExponential(mul(decimalTwo(), a));
    return withSignOf(div(sub(e2, decimalOne()), add(e2, decimalOne())), x);
}

ZQDecimal decimalHyperbolicCosecant(const ZQDecimal& x)
{
    return decimalReciprocal(decimalHyperbolicSine(x));
}
ZQDecimal decimalHyperbolicSecant(const ZQDecimal& x)
{
    return decimalReciprocal(decimalHyperbolicCosine(x));
}
ZQDecimal decimalHyperbolicCotangent(const ZQDecimal& x)
{
    return decimalReciprocal(decimalHyperbolicTangent(x));
}

ZQDecimal decimalInverseHyperbolicSine(const ZQDecimal& x)
{
    if (x.isNaN())
        return x;
    const ZQDecimal a = decimalAbsolute(x);
    // Above 10^20 the 1 under the root no longer reaches the kept digits
    // (and a^2 may not fit): asinh a = ln 2a.
    if (magnitude(a) >= 20)
        return withSignOf(add(decimalNaturalLogarithm(a), decimalLn2()), x);
    // asinh a = log1p(a + a^2 / (1 + sqrt(1 + a^2))), exact in form for small a.
    const ZQDecimal a2 = mul(a, a);
    const ZQDecimal u = add(a, div(a2, add(decimalOne(), decimalSquareRoot(add(decimalOne(), a2)))));
    return withSignOf(logOnePlus(u), x);
}

ZQDecimal decimalInverseHyperbolicCosine(const ZQDecimal& x)
{
    if (x.isNaN() || compare(x, decimalOne()) < 0)
        return decimalNaN();
    return arcCoshOfOnePlus(sub(x, decimalOne()));
}

ZQDecimal decimalInverseHyperbolicTangent(const ZQDecimal& x)
{
    if (x.isNaN() || compare(decimalAbsolute(x), decimalOne()) >= 0)
        return decimalNaN();
    // atanh x = ln((1 + x) / (1 - x)) / 2, whose two sides are exact; near 0
    // the same as log1p(2x / (1 - x)) / 2, which keeps the digits of x.
    const ZQDecimal y = compare(decimalAbsolute(x), parse("0.5")) < 0
                            ? logOnePlus(div(mul(decimalTwo(), x), sub(decimalOne(), x)))
                            : decimalNaturalLogarithm(div(add(decimalOne(), x), sub(decimalOne(), x)));
    return div(y, decimalTwo());
}

ZQDecimal decimalInverseHyperbolicCosecant(const ZQDecimal& x)
{
    return decimalInverseHyperbolicSine(decimalReciprocal(x));
}
ZQDecimal decimalInverseHyperbolicSecant(const ZQDecimal& x)
{
    if (x.isNaN() || decimalIsNegative(x) || x.isZero() || compare(x, decimalOne()) > 0)
        return decimalNaN();
    // acosh(1/x) with 1/x - 1 formed as (1 - x) / x, exact in its numerator.
    return arcCoshOfOnePlus(div(sub(decimalOne(), x), x));
}
ZQDecimal decimalInverseHyperbolicCotangent(const ZQDecimal& x)
{
    return decimalInverseHyperbolicTangent(decimalReciprocal(x));
}
