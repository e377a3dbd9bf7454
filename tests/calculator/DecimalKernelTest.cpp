// The 256-bit integer kernel under the decimal type, against Python's
// integers (DecimalKernelCases.py writes the table).
#include "calculator/ZQDecimalKernel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace ZQDecimalKernel;

namespace {

U256 fromHex(const std::string& text)
{
    U256 r;
    int bit = 0;
    for (auto it = text.rbegin(); it != text.rend(); ++it, bit += 4) {
        const char c = *it;
        const u64 nibble = c <= '9' ? u64(c - '0') : u64(c - 'a' + 10);
        if (bit >= 256) {
            ADD_FAILURE() << "more than 256 bits: " << text;
            break;
        }
        r.limb[bit / 64] |= nibble << (bit % 64);
    }
    return r;
}

ZQUInt128 fromHex128(const std::string& text)
{
    const U256 r = fromHex(text);
    EXPECT_TRUE(r.fitsIn128()) << text;
    return r.low128();
}

std::string toHex(const U256& a)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int bit = 252; bit >= 0; bit -= 4) {
        const char c = digits[(a.limb[bit / 64] >> (bit % 64)) & 15];
        if (!out.empty() || c != '0')
            out += c;
    }
    return out.empty() ? "0" : out;
}

std::string toHex(ZQUInt128 a)
{
    return toHex(U256::from(a));
}

std::vector<std::vector<std::string>> loadRows()
{
    const char* root = std::getenv("QUILLARY_TEST_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/tests/calculator/DecimalKernelCases.tsv");
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (!fields.empty())
            rows.push_back(fields);
    }
    return rows;
}

// Runs every row of one operation; `check` compares one row. Fails when the
// table is missing or holds no row of the operation.
template <typename Check> void forRows(const char* op, std::size_t fields, Check check)
{
    static const auto rows = loadRows();
    ASSERT_GT(rows.size(), 700u) << "DecimalKernelCases.tsv not found or cut short";
    int count = 0;
    for (const auto& row : rows) {
        if (row[0] != op)
            continue;
        ASSERT_EQ(row.size(), fields + 1) << op;
        SCOPED_TRACE(op + (" " + row[1]) + (row.size() > 2 ? " " + row[2] : std::string()));
        check(row);
        ++count;
    }
    EXPECT_GT(count, 0) << "no rows for " << op;
}

TEST(DecimalKernel, AddCarriesThroughEveryLimbAndSubtractUndoesIt)
{
    forRows("add", 3, [](const auto& row) {
        const U256 a = fromHex(row[1]), b = fromHex(row[2]);
        EXPECT_EQ(toHex(add(a, b)), row[3]);
        EXPECT_EQ(toHex(add(b, a)), row[3]);
        const U256 sum = fromHex(row[3]);
        EXPECT_EQ(toHex(subtract(sum, b)), row[1]) << "borrows back through every limb";
        EXPECT_EQ(toHex(subtract(sum, a)), row[2]);
        EXPECT_GE(compare(sum, a), 0);
        EXPECT_EQ(compare(sum, b) == 0, toHex(a) == "0");
        EXPECT_EQ(compare(a, a), 0);
    });
}

TEST(DecimalKernel, MultiplyKeepsTheFullProductOfTwo128BitNumbers)
{
    forRows("mul", 3, [](const auto& row) {
        const ZQUInt128 a = fromHex128(row[1]), b = fromHex128(row[2]);
        EXPECT_EQ(toHex(multiply(a, b)), row[3]);
        EXPECT_EQ(toHex(multiply(b, a)), row[3]);
        // By one limb: the same product when b fits 64 bits.
        if ((b >> 64) == 0) {
            EXPECT_EQ(toHex(multiplySmall(U256::from(a), u64(b))), row[3]);
        }
    });
}

TEST(DecimalKernel, DecimalShiftLeftUpTo77Digits)
{
    forRows("mulpow10", 3, [](const auto& row) {
        const int k = std::stoi(row[2]);
        EXPECT_EQ(toHex(multiplyPow10(fromHex(row[1]), k)), row[3]);
        if (row[1] == "1") {
            EXPECT_EQ(toHex(pow10Table()[k]), row[3]);
        }
    });
}

TEST(DecimalKernel, DivisionByOneLimbGivesQuotientAndRemainder)
{
    forRows("divsmall", 4, [](const auto& row) {
        U256 a = fromHex(row[1]);
        const u64 d = fromHex(row[2]).limb[0];
        const u64 r = divideSmall(a, d);
        EXPECT_EQ(toHex(a), row[3]);
        EXPECT_EQ(toHex(U256::from(r)), row[4]);
    });
}

// The reciprocal division must agree with the divide instruction for every
// power of ten it handles, at the edges of each limb too.
TEST(DecimalKernel, DecimalShiftRightByReciprocalMatchesDivision)
{
    forRows("divpow10", 4, [](const auto& row) {
        U256 a = fromHex(row[1]);
        const int k = std::stoi(row[2]);
        const u64 r = dividePow10Step(a, k);
        EXPECT_EQ(toHex(a), row[3]);
        EXPECT_EQ(toHex(U256::from(r)), row[4]);
    });
}

// The reciprocal estimates may fall short; the corrections must land on the
// true quotient for every power of ten, at 0, at 10^k +- 1 and at the top of
// the range.
TEST(DecimalKernel, DivisionByPowersOfTenThroughReciprocalsIsExact)
{
    forRows("quotpow10", 4, [](const auto& row) {
        ZQUInt128 remainder = 0;
        EXPECT_EQ(toHex(dividePow10(fromHex128(row[1]), std::stoi(row[2]), &remainder)), row[3]);
        EXPECT_EQ(toHex(remainder), row[4]);
    });
    forRows("widequot", 5, [](const auto& row) {
        const U256 a = fromHex(row[1]);
        const int k = std::stoi(row[2]);
        ZQUInt128 remainder = 0;
        EXPECT_EQ(toHex(dividePow10Wide(a, k, &remainder)), row[3]);
        EXPECT_EQ(toHex(remainder), row[4]);
    });
}

// Rounding trusts the estimated fraction unless it lies within four units of
// a boundary, so the estimate must never exceed the truth nor fall four
// units short of it.
TEST(DecimalKernel, QuotientEstimateFallsShortByLessThanFourUnits)
{
    forRows("widequot", 5, [](const auto& row) {
        u64 fraction = 0;
        const ZQUInt128 whole = estimatePow10Quotient(fromHex(row[1]), std::stoi(row[2]), &fraction);
        const U256 estimate{{fraction, static_cast<u64>(whole), static_cast<u64>(whole >> 64), 0}};
        const U256 truth = fromHex(row[5]);
        ASSERT_LE(compare(estimate, truth), 0) << "above the true quotient";
        EXPECT_LT(compare(subtract(truth, estimate), U256::from(4)), 0) << toHex(subtract(truth, estimate));
    });
}

TEST(DecimalKernel, LongDivisionIncludingTheAddBackStep)
{
    forRows("div", 4, [](const auto& row) {
        const U256 u = fromHex(row[1]);
        const ZQUInt128 v = fromHex128(row[2]);
        bool inexact = true;
        ZQUInt128 remainder = ~ZQUInt128(0);
        EXPECT_EQ(toHex(divide(u, v, &inexact, &remainder)), row[3]);
        EXPECT_EQ(toHex(remainder), row[4]);
        EXPECT_EQ(inexact, row[4] != "0");
        bool inexactAlone = !inexact;
        EXPECT_EQ(toHex(divide(u, v, &inexactAlone)), row[3]) << "without asking for the remainder";
        EXPECT_EQ(inexactAlone, inexact);
    });
}

TEST(DecimalKernel, DigitCountsAtEveryPowerOfTen)
{
    forRows("digits", 2, [](const auto& row) {
        const U256 a = fromHex(row[1]);
        const int expected = std::stoi(row[2]);
        EXPECT_EQ(digitCount(a), expected);
        if (a.fitsIn128() && expected <= 39) {
            EXPECT_EQ(digitCount(a.low128()), expected);
        }
    });
}

// The test splits the number at 2^64 (6 mod 10); the compiler's 128-bit
// remainder is the reference.
TEST(DecimalKernel, MultiplesOfTenAcrossTheLimbBoundary)
{
    int multiples = 0;
    for (ZQUInt128 high : {ZQUInt128(0), ZQUInt128(1), ZQUInt128(3), ZQUInt128(10), ZQUInt128(~u64(0))})
        for (ZQUInt128 low = 0; low < 40; ++low) {
            const ZQUInt128 value = (high << 64) + low;
            EXPECT_EQ(isMultipleOfTen(value), value % 10 == 0) << toHex(value);
            multiples += value % 10 == 0;
        }
    EXPECT_GT(multiples, 0);
    for (ZQUInt128 value : {kPow10[38], kPow10[38] + 1, ~ZQUInt128(0), ~ZQUInt128(0) - 5})
        EXPECT_EQ(isMultipleOfTen(value), value % 10 == 0) << toHex(value);
}

TEST(DecimalKernel, ProductsAndPowersOfTenModuloA128BitNumber)
{
    forRows("mulmod", 4, [](const auto& row) {
        EXPECT_EQ(toHex(multiplyModulo(fromHex128(row[1]), fromHex128(row[2]), fromHex128(row[3]))), row[4]);
    });
    forRows("pow10mod", 3, [](const auto& row) {
        EXPECT_EQ(toHex(powerOf10Modulo(std::stoi(row[1]), fromHex128(row[2]))), row[3]);
    });
}

} // namespace
