#include "DataTestSupport.h"

#include "platform/core/Variant.h"
#include "platform/data/SortDescriptor.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Every integer and floating-point width is a number, whichever way it
// reached the record (settings, property lists and key bindings hand over
// shorts, longs and 8-bit values); numbers never compare as text.
struct NumberWidthCase
{
    const char* name;
    QVariant small;
    QVariant large;
};

void PrintTo(const NumberWidthCase& c, std::ostream* os)
{
    *os << c.name;
}

class NumberWidths : public ::testing::TestWithParam<NumberWidthCase>
{
};

TEST_P(NumberWidths, ShortAndLongValuesSortAsNumbersNotAsText)
{
    const auto& c = GetParam();
    EXPECT_TRUE(isNumber(c.small));
    EXPECT_TRUE(isNumberOrBool(c.small));
    EXPECT_LT(compareValues(c.small, c.large), 0); // "2" > "10" as text
    EXPECT_GT(compareValues(c.large, c.small), 0);
    EXPECT_LT(compareValues(c.small, 10.5), 0); // and against other widths

    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        // Primitive values are kept as given, so the sort sees the width.
        auto* large = stack.root->insert(QStringLiteral("Item"));
        large->setPrimitiveValue(QStringLiteral("scratch"), c.large);
        auto* small = stack.root->insert(QStringLiteral("Item"));
        small->setPrimitiveValue(QStringLiteral("scratch"), c.small);
        std::vector<ManagedObject*> objects{large, small};
        sortObjects(objects, {{QStringLiteral("scratch"), true}});
        EXPECT_EQ(objects, (std::vector<ManagedObject*>{small, large}));
    });
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberWidths,
    ::testing::Values(
        NumberWidthCase{"Short", QVariant::fromValue<short>(2), QVariant::fromValue<short>(10)},
        NumberWidthCase{"UnsignedShort", QVariant::fromValue<ushort>(2), QVariant::fromValue<ushort>(10)},
        NumberWidthCase{"Long", QVariant::fromValue<long>(2), QVariant::fromValue<long>(10)},
        NumberWidthCase{"UnsignedLong", QVariant::fromValue<ulong>(2), QVariant::fromValue<ulong>(10)},
        NumberWidthCase{"SignedByte", QVariant::fromValue<qint8>(2), QVariant::fromValue<qint8>(10)},
        NumberWidthCase{"UnsignedByte", QVariant::fromValue<quint8>(2), QVariant::fromValue<quint8>(10)},
        NumberWidthCase{"Float", QVariant::fromValue<float>(2), QVariant::fromValue<float>(10)},
        NumberWidthCase{"Int", QVariant(2), QVariant(10)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NumberWidths, BooleansAndTextAreNotNumbers)
{
    EXPECT_FALSE(isNumber(true));
    EXPECT_TRUE(isNumberOrBool(true));
    EXPECT_FALSE(isNumberOrBool(QStringLiteral("12")));
    EXPECT_FALSE(isNumberOrBool(QVariant::fromValue(QChar(u'1'))));
    EXPECT_FALSE(isNumberOrBool(QVariant()));
}

} // namespace
