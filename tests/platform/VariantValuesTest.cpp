// Truth and number of attribute values as notes carry them.
#include "platform/core/Variant.h"

#include <gtest/gtest.h>

TEST(VariantValues, TruthOfStringsNumbersAndOthers)
{
    struct Row
    {
        QVariant value;
        bool expected;
    };
    const Row rows[] = {
        {QVariant(true), true},  {QVariant(false), false},
        {QVariant(0), false},    {QVariant(2), true},
        {QVariant(0.5), true},   {QVariant("YES"), true},
        {QVariant("yes"), true}, {QVariant("true"), true},
        {QVariant("T"), true},   {QVariant("no"), false},
        {QVariant("NO"), false}, {QVariant("false"), false},
        {QVariant("0"), false},  {QVariant("007"), true},
        {QVariant(" +1"), true}, {QVariant("-0"), false},
        {QVariant(""), false},   {QVariant(), false},
        {QVariant("x"), false},  {QVariant(QVariantList{1}), false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(platform::variantBoolValue(row.value), row.expected) << row.value.toString().toStdString();
}

TEST(VariantValues, NumberOfStringsReadsTheLeadingNumber)
{
    struct Row
    {
        QVariant value;
        double expected;
    };
    const Row rows[] = {
        {QVariant(12), 12},    {QVariant(1.5), 1.5},        {QVariant(true), 1},     {QVariant("12abc"), 12},
        {QVariant("abc"), 0},  {QVariant(" -3.25"), -3.25}, {QVariant("1e3"), 1000}, {QVariant("1e"), 1},
        {QVariant(".5"), 0.5}, {QVariant("+"), 0},          {QVariant(""), 0},       {QVariant(), 0},
        {QVariant("1,5"), 1},  {QVariant("١٢"), 0},
    };
    for (const Row& row : rows)
        EXPECT_DOUBLE_EQ(platform::variantDoubleValue(row.value), row.expected)
            << row.value.toString().toStdString();
}
