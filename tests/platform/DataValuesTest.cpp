#include "DataTestSupport.h"

#include "platform/core/Log.h"
#include "platform/data/SortDescriptor.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace platform;

namespace {

struct CoercionCase
{
    const char* name;
    AttributeType type;
    QVariant input;
    bool accepted;
    QVariant expected;
};

class ValueCoercion : public ::testing::TestWithParam<CoercionCase>
{
};

TEST_P(ValueCoercion, BringsValueToAttributeType)
{
    const auto& c = GetParam();
    AttributeDescription attribute{QStringLiteral("a"), c.type, {}, false, false};
    bool ok = false;
    const QVariant result = coerceValue(attribute, c.input, &ok);
    EXPECT_EQ(ok, c.accepted);
    if (c.accepted) {
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(result.typeId(), c.expected.typeId());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ValueCoercion,
    ::testing::Values(
        CoercionCase{"NumberTextBecomesDouble", AttributeType::Double, QStringLiteral("1700000000.5"), true,
                     1700000000.5},
        CoercionCase{"PaddedNumberText", AttributeType::Double, QStringLiteral(" 12.25 "), true, 12.25},
        CoercionCase{"WordIsRefusedForDouble", AttributeType::Double, QStringLiteral("soon"), false, {}},
        CoercionCase{"InfinityTextIsRefused", AttributeType::Double, QStringLiteral("inf"), false, {}},
        CoercionCase{"CommaDecimalIsRefused", AttributeType::Double, QStringLiteral("1,5"), false, {}},
        CoercionCase{"IntegerBecomesDouble", AttributeType::Double, qint64(3), true, 3.0},
        CoercionCase{"YesBecomesTrue", AttributeType::Boolean, QStringLiteral("YES"), true, true},
        CoercionCase{"ZeroTextBecomesFalse", AttributeType::Boolean, QStringLiteral("0"), true, false},
        CoercionCase{"NumberBecomesBool", AttributeType::Boolean, 2, true, true},
        CoercionCase{"WordIsRefusedForBool", AttributeType::Boolean, QStringLiteral("maybe"), false, {}},
        CoercionCase{"NumberBecomesText", AttributeType::String, 42, true, QStringLiteral("42")},
        CoercionCase{"ListIsRefusedForText", AttributeType::String, QVariantList{1}, false, {}},
        CoercionCase{"IntegerText", AttributeType::Integer, QStringLiteral("17"), true, qint64(17)},
        CoercionCase{"HugeDoubleIsRefusedForInteger", AttributeType::Integer, 1e300, false, {}},
        CoercionCase{"NullStaysNull", AttributeType::Double, QVariant(), true, QVariant()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValueCoercion, ReadsNumbersTheSameUnderACommaLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    AttributeDescription attribute{QStringLiteral("a"), AttributeType::Double, {}, false, false};
    bool ok = false;
    EXPECT_EQ(coerceValue(attribute, QStringLiteral("1700000000.5"), &ok), QVariant(1700000000.5));
    EXPECT_TRUE(ok);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(SortDescriptor, MissingSortsFirstAndNumbersCompareNumerically)
{
    EXPECT_LT(compareValues(QVariant(), 0.0), 0);
    EXPECT_GT(compareValues(10.0, 9), 0);
    EXPECT_LT(compareValues(2.0, 10.0), 0); // not as text
    EXPECT_EQ(compareValues(true, 1), 0);
    EXPECT_EQ(compareValues(QVariant(), QVariant()), 0);
}

TEST(SortDescriptor, EqualKeysKeepTheirOrderAcrossArrangements)
{
    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    std::vector<ManagedObject*> items;
    stack.root->performAndWait([&] {
        for (int i = 0; i < 50; ++i) {
            auto* item = stack.root->insert(QStringLiteral("Item"));
            item->setValue(QStringLiteral("rank"), double(i % 3));
            item->setValue(QStringLiteral("count"), i);
            items.push_back(item);
        }
        auto once = items;
        sortObjects(once, {{QStringLiteral("rank"), false}});
        auto twice = once;
        sortObjects(twice, {{QStringLiteral("rank"), false}});
        EXPECT_EQ(once, twice);
        for (size_t i = 1; i < once.size(); ++i) {
            const double a = once[i - 1]->value(QStringLiteral("rank")).toDouble();
            const double b = once[i]->value(QStringLiteral("rank")).toDouble();
            ASSERT_GE(a, b);
            if (a == b) { // ties keep insertion order
                EXPECT_LT(once[i - 1]->value(QStringLiteral("count")).toInt(),
                          once[i]->value(QStringLiteral("count")).toInt());
            }
        }
    });
}

TEST(ManagedObject, RefusedValueIsLoggedAndNotStored)
{
    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    QStringList lines;
    setLogSink([&](const QString& line) { lines << line; });
    stack.root->performAndWait([&] {
        auto* item = stack.root->insert(QStringLiteral("Item"));
        item->setValue(QStringLiteral("rank"), 5.0);
        EXPECT_FALSE(item->setValue(QStringLiteral("rank"), QStringLiteral("five")));
        EXPECT_EQ(item->value(QStringLiteral("rank")), QVariant(5.0));
        EXPECT_FALSE(item->setValue(QStringLiteral("nosuchkey"), 1));
        EXPECT_TRUE(item->setValue(QStringLiteral("rank"), QStringLiteral("6.5")));
        EXPECT_EQ(item->value(QStringLiteral("rank")), QVariant(6.5));
    });
    setLogSink({});
    EXPECT_EQ(lines.size(), 2);
}

} // namespace
