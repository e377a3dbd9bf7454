#include "platform/plist/PropertyList.h"

#include "PlistHostileInputs.h"
#include "platform/plist/PropertyListBounds.h"

#include <QPointF>
#include <QRandomGenerator>

#include <cmath>

#include <gtest/gtest.h>

#include <limits>

using platform::PlistDate;
using platform::PropertyListFormat;
using platform::readPropertyList;
using platform::writePropertyList;

namespace {
QVariant roundTrip(const QVariant& value, PropertyListFormat format)
{
    QString error;
    const QByteArray bytes = writePropertyList(value, format, &error);
    EXPECT_FALSE(bytes.isEmpty()) << error.toStdString();
    return readPropertyList(bytes, &error);
}
} // namespace

TEST(PropertyList, RoundTripsEveryTypeInBothFormats)
{
    const QVariantMap value{
        {"string", QStringLiteral("Gr\u00fc\u00dfe \U0001F600")},
        {"ascii", QStringLiteral("plain")},
        {"empty", QString()},
        {"int", qint64(42)},
        {"negative", qint64(-7)},
        {"min", std::numeric_limits<qint64>::min()},
        {"max", std::numeric_limits<qint64>::max()},
        {"real", 0.1},
        {"true", true},
        {"false", false},
        {"data", QByteArray("\x00\x01\xff", 3)},
        {"array", QVariantList{1, "two", QVariantList{}}},
        {"dict", QVariantMap{{"nested", QVariantMap{}}}},
    };
    for (PropertyListFormat format : {PropertyListFormat::Binary, PropertyListFormat::Xml}) {
        const QVariantMap back = roundTrip(value, format).toMap();
        ASSERT_EQ(back.keys(), value.keys());
        EXPECT_EQ(back["string"].toString(), value["string"].toString());
        EXPECT_EQ(back["empty"].typeId(), QMetaType::QString);
        EXPECT_EQ(back["int"].toLongLong(), 42);
        EXPECT_EQ(back["negative"].toLongLong(), -7);
        EXPECT_EQ(back["min"].toLongLong(), std::numeric_limits<qint64>::min());
        EXPECT_EQ(back["max"].toLongLong(), std::numeric_limits<qint64>::max());
        EXPECT_EQ(back["real"].typeId(), QMetaType::Double);
        EXPECT_EQ(back["real"].toDouble(), 0.1);
        EXPECT_EQ(back["true"].typeId(), QMetaType::Bool);
        EXPECT_TRUE(back["true"].toBool());
        EXPECT_EQ(back["data"].toByteArray(), QByteArray("\x00\x01\xff", 3));
        EXPECT_EQ(back["array"].toList().size(), 3);
        EXPECT_EQ(back["array"].toList()[1].toString(), QStringLiteral("two"));
        EXPECT_TRUE(back["dict"].toMap()["nested"].toMap().isEmpty());
    }
    EXPECT_TRUE(writePropertyList(value).startsWith("bplist00"));
    EXPECT_TRUE(writePropertyList(value, PropertyListFormat::Xml).contains("<plist"));
}

TEST(PropertyList, DatesKeepMicroseconds)
{
    for (double seconds : {1700000000.123456, 978307200.0, 0.000001, -86400.5, 2000000000.999999}) {
        for (PropertyListFormat format : {PropertyListFormat::Binary, PropertyListFormat::Xml}) {
            if (format == PropertyListFormat::Xml && seconds != std::floor(seconds))
                continue; // the XML form carries whole seconds only
            const QVariant back = roundTrip(QVariant::fromValue(PlistDate{seconds}), format);
            ASSERT_EQ(back.userType(), qMetaTypeId<PlistDate>());
            EXPECT_NEAR(back.value<PlistDate>().secondsSince1970, seconds, 1e-6) << seconds;
        }
    }
}

TEST(PropertyList, ReadsPeerDatesBefore2001)
{
    // plistlib: {"d": datetime(2000, 12, 31, 0, 0, 0, 500000)}, binary.
    const QByteArray binary = QByteArray::fromHex("62706c6973743030d10102516433c0f517f800000000080b0d00000000"
                                                  "00000101000000000000000300000000000000000000000000000016");
    const QVariant d = readPropertyList(binary).toMap()["d"];
    ASSERT_EQ(d.userType(), qMetaTypeId<PlistDate>());
    EXPECT_NEAR(d.value<PlistDate>().secondsSince1970, 978220800.5, 1e-6);
}

TEST(PropertyList, RefusesWhatIsNotAPropertyList)
{
    const QByteArray inputs[] = {
        QByteArray(),
        QByteArray("hello"),
        QByteArray("bplist00"),
        QByteArray("bplist00\xff\xff\xff\xff"),
        QByteArray("<plist><dict><key>a</key>"),
        QByteArray("<html></html>"),
        QByteArray(64, '\0'),
        QByteArray("bplist00") + QByteArray(40, '\xff'),
    };
    for (const QByteArray& input : inputs) {
        QString error;
        EXPECT_FALSE(readPropertyList(input, &error).isValid()) << input.toHex().toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

// The library aborted the whole process on a string or key holding a NUL.
TEST(PropertyList, RefusesStringsWithNulInsteadOfAborting)
{
    const QByteArray inputs[] = {
        // plistlib: {"t": "a\x00b"}, binary.
        QByteArray::fromHex(
            "62706c6973743030d10102517453610062080b0d0000000000000101000000000000000300000000000000"
            "000000000000000011"),
        // plistlib: {"a\x00": 1}, binary.
        QByteArray::fromHex(
            "62706c6973743030d101025261001001080b0e00000000000001010000000000000003000000000000000000"
            "00000000000010"),
        // The same in UTF-16: {"\u00e9\x00": 1}.
        QByteArray::fromHex(
            "62706c6973743030d101026200e900001001080b1000000000000001010000000000000003000000000000"
            "0000000000000000000012"),
        QByteArray("<plist><dict><key>a&#0;</key><string>x</string></dict></plist>"),
        QByteArray("<plist><dict><key>a</key><string>&#x00;</string></dict></plist>"),
    };
    for (const QByteArray& input : inputs) {
        QString error;
        EXPECT_FALSE(readPropertyList(input, &error).isValid()) << input.toHex().toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    QString error;
    EXPECT_TRUE(writePropertyList(QVariantMap{{"t", QString::fromUtf16(u"a\0b", 3)}},
                                  PropertyListFormat::Binary, &error)
                    .isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(PropertyList, HostileBytesNeverCrash)
{
    // Mutations of a valid file in both forms, and deep nesting.
    const QByteArray seeds[] = {
        writePropertyList(QVariantMap{{"uuid", "U"}, {"text", "t"}, {"list", QVariantList{1, 2.5, true}}}),
        writePropertyList(QVariantMap{{"uuid", "U"}, {"text", "t"}}, PropertyListFormat::Xml),
    };
    QRandomGenerator random(1234);
    for (const QByteArray& seed : seeds) {
        for (int i = 0; i < 3000; ++i) {
            QByteArray bytes = seed;
            const int flips = 1 + random.bounded(4);
            for (int f = 0; f < flips; ++f)
                bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
            if (random.bounded(4) == 0)
                bytes.truncate(random.bounded(int(bytes.size())));
            QString error;
            const QVariant value = readPropertyList(bytes, &error);
            EXPECT_TRUE(value.isValid() || !error.isEmpty());
        }
    }
    QByteArray deep = "<plist>";
    for (int i = 0; i < 5000; ++i)
        deep += "<array>";
    QString error;
    (void)readPropertyList(deep, &error);
    QVariant nested = QVariantList{};
    for (int i = 0; i < 1000; ++i)
        nested = QVariantList{nested};
    EXPECT_TRUE(writePropertyList(nested, PropertyListFormat::Binary, &error).isEmpty());
}

TEST(PropertyList, ValuesWithoutAPropertyListForm)
{
    QString error;
    EXPECT_TRUE(writePropertyList(QVariant()).isEmpty());
    EXPECT_TRUE(writePropertyList(QVariantMap{{"p", QVariant::fromValue(QPointF(1, 2))}},
                                  PropertyListFormat::Binary, &error)
                    .isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

// The library recursed through nesting while parsing and freeing, so such
// files crashed every reader (notes, settings, the key-value file) with a
// stack overflow before any bound could be applied.
TEST(PropertyList, HostileNestingIsRefusedBeforeTheLibrarySeesIt)
{
    struct Case
    {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"xml 200000 deep", plist_inputs::deepXml(200000)},
        {"xml 200000 deep, never closed", plist_inputs::deepXml(200000, false)},
        {"binary 150000 deep", plist_inputs::deepBinary(150000)},
        {"xml just past the bound", plist_inputs::deepXml(platform::kPropertyListMaxDepth + 2)},
        {"binary just past the bound", plist_inputs::deepBinary(platform::kPropertyListMaxDepth + 2)},
        {"binary array holding itself", plist_inputs::cyclicBinary(1)},
        {"binary ring of three", plist_inputs::cyclicBinary(3)},
        {"binary unfolding to 2^40 values", plist_inputs::unfoldingBinary(40)},
        // Closing tags a parser would not take as such must not lower the count.
        {"close inside a quoted value",
         "<plist>" + QByteArray("<array x=\"</array>\">").repeated(300) + "</plist>"},
        {"close in another case", "<plist>" + QByteArray("<array></ARRAY>").repeated(300) + "</plist>"},
        {"close of another container", "<plist>" + QByteArray("<array></dict>").repeated(300) + "</plist>"},
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_FALSE(readPropertyList(c.bytes, &error).isValid()) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
        EXPECT_FALSE(platform::propertyListWithinBounds(c.bytes.constData(), std::size_t(c.bytes.size())))
            << c.name;
    }
}

TEST(PropertyList, NestingWithinTheBoundStillReads)
{
    const int depth = platform::kPropertyListMaxDepth - 1;
    QVariant nested = QVariantList{QStringLiteral("<array>"), QVariantMap{{"k", 1}}};
    for (int i = 1; i < depth; ++i)
        nested = QVariantList{nested};
    QByteArray withDeclarations =
        writePropertyList(QVariantMap{{"a", QVariantList{1}}}, PropertyListFormat::Xml);
    withDeclarations.replace(
        "<dict>", "<dict><!-- </dict></array> --><key>c</key><string><![CDATA[</dict>]]></string>");
    const QByteArray inputs[] = {
        plist_inputs::deepXml(depth),
        plist_inputs::deepBinary(depth),
        writePropertyList(nested, PropertyListFormat::Binary),
        writePropertyList(nested, PropertyListFormat::Xml),
        withDeclarations,
        // Shared objects that unfold modestly, as a writer that shares them makes.
        plist_inputs::unfoldingBinary(12),
    };
    for (const QByteArray& input : inputs) {
        QString error;
        EXPECT_TRUE(readPropertyList(input, &error).isValid())
            << error.toStdString() << " " << input.left(80).toStdString();
    }
    EXPECT_EQ(readPropertyList(withDeclarations).toMap().value("c").toString(), QStringLiteral("</dict>"));
}
