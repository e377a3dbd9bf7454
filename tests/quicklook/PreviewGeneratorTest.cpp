#include "quicklook/QuillaryQuickLook.h"

#include "platform/plist/PropertyList.h"

#include "../platform/PlistHostileInputs.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct UuidDeleter
{
    void operator()(QLUUID* u) const { QLUUIDRelease(u); }
};
using Uuid = std::unique_ptr<QLUUID, UuidDeleter>;

Uuid uuid(const char* text)
{
    return Uuid(QLUUIDCreateFromString(text));
}

QLGeneratorInterfaceStruct* table(void* instance)
{
    return *static_cast<QLGeneratorInterfaceStruct**>(instance);
}

std::string note(const QVariantMap& root,
                 platform::PropertyListFormat format = platform::PropertyListFormat::Binary)
{
    return platform::writePropertyList(root, format).toStdString();
}

std::string render(const std::string& templ, const std::string& bytes)
{
    return quillary_preview::renderPreview(templ, bytes.data(), bytes.size());
}

const QString kBundle = qEnvironmentVariable("QUILLARY_PREVIEW_BUNDLE");

} // namespace

TEST(PreviewGenerator, FactoryMakesGeneratorsOnlyForTheGeneratorType)
{
    Uuid generatorType = uuid(QL_GENERATOR_TYPE_ID);
    Uuid otherType = uuid("00000000-0000-0000-0000-000000000001");
    Uuid factory = uuid(QUILLARY_PREVIEW_FACTORY_ID);
    EXPECT_EQ(QuickLookGeneratorPluginFactory(nullptr, otherType.get()), nullptr);
    EXPECT_EQ(QuickLookGeneratorPluginFactory(nullptr, nullptr), nullptr);

    void* instance = QuickLookGeneratorPluginFactory(nullptr, generatorType.get());
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(QLPlugInInstanceCountForFactory(factory.get()), 1);
    EXPECT_EQ(table(instance)->GeneratePreviewForURL, nullptr); // filled only by a query

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(table(instance)->QueryInterface(instance, QLUUIDGetBytes(otherType.get()), &out),
              QL_E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    Uuid callbacks = uuid(QL_GENERATOR_CALLBACKS_INTERFACE_ID);
    EXPECT_EQ(table(instance)->QueryInterface(instance, QLUUIDGetBytes(callbacks.get()), &out), QL_S_OK);
    EXPECT_EQ(out, instance);
    EXPECT_EQ(table(instance)->GeneratePreviewForURL, GeneratePreviewForURL);
    EXPECT_EQ(table(instance)->CancelPreviewGeneration, CancelPreviewGeneration);
    EXPECT_EQ(table(instance)->AddRef(instance), 3u);
    EXPECT_EQ(table(instance)->Release(instance), 2u);
    EXPECT_EQ(table(instance)->Release(instance), 1u);
    EXPECT_EQ(QuickLookGeneratorPluginRelease(instance), 0u);
    EXPECT_EQ(QLPlugInInstanceCountForFactory(factory.get()), 0);
}

// Freeing the record first and then reading its factory identifier read freed
// memory (the sanitizer build catches it).
TEST(PreviewGenerator, DeallocReadsNothingFromTheFreedRecord)
{
    Uuid factory = uuid(QUILLARY_PREVIEW_FACTORY_ID);
    for (int i = 0; i < 3; ++i) {
        void* instance = AllocQuickLookGeneratorPluginType(factory.get());
        EXPECT_EQ(QLPlugInInstanceCountForFactory(factory.get()), 1);
        DeallocQuickLookGeneratorPluginType(instance);
        EXPECT_EQ(QLPlugInInstanceCountForFactory(factory.get()), 0);
    }
    // The identifier we still hold is intact after all those releases.
    char text[37];
    QLUUIDGetString(factory.get(), text);
    EXPECT_STREQ(text, QUILLARY_PREVIEW_FACTORY_ID);
}

// A plain counter lost updates when the loader added and released
// references on several threads, freeing a live instance or leaking it.
TEST(PreviewGenerator, ReferenceCountHoldsUnderConcurrentAddRefAndRelease)
{
    Uuid generatorType = uuid(QL_GENERATOR_TYPE_ID);
    Uuid factory = uuid(QUILLARY_PREVIEW_FACTORY_ID);
    void* instance = QuickLookGeneratorPluginFactory(nullptr, generatorType.get());
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([instance] {
            for (int i = 0; i < 20000; ++i) {
                QuickLookGeneratorPluginAddRef(instance);
                QuickLookGeneratorPluginRelease(instance);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(QuickLookGeneratorPluginAddRef(instance), 2u);
    EXPECT_EQ(QuickLookGeneratorPluginRelease(instance), 1u);
    EXPECT_EQ(QuickLookGeneratorPluginRelease(instance), 0u);
    EXPECT_EQ(QLPlugInInstanceCountForFactory(factory.get()), 0);
}

TEST(PreviewGenerator, FillsClassAndText)
{
    const std::string templ = "[{CLASS}]({TEXT})({TEXT})";
    struct Case
    {
        const char* label;
        std::string file;
        const char* expected;
    };
    const Case cases[] = {
        {"archived", note({{"text", "hi"}, {"archived", true}}), "[archived](hi)(hi)"},
        {"not archived", note({{"text", "hi"}, {"archived", false}}), "[](hi)(hi)"},
        {"no archived entry", note({{"text", "hi"}}), "[](hi)(hi)"},
        {"archived number", note({{"text", "hi"}, {"archived", 3}}), "[archived](hi)(hi)"},
        {"archived zero", note({{"archived", 0.0}}), "[]()()"},
        {"archived string", note({{"text", "hi"}, {"archived", "yes"}}), "[](hi)(hi)"},
        {"class placeholder in text", note({{"text", "{CLASS}"}, {"archived", true}}),
         "[archived]({CLASS})({CLASS})"},
        {"no text", note({{"archived", true}}), "[archived]()()"},
        {"xml", note({{"text", "x"}}, platform::PropertyListFormat::Xml), "[](x)(x)"},
        {"not a property list", "hello world, not a note", "[]()()"},
        {"array root", platform::writePropertyList(QVariantList{"a"}).toStdString(), "[]()()"},
        {"empty", "", "[]()()"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render(templ, c.file), c.expected) << c.label;
}

// A number or a dictionary where the text belongs was used as a string.
// The generator handed any bytes to the library, which recursed through the
// nesting until the stack ran out: previewing such a file crashed the host.
TEST(PreviewGenerator, HostileNestingGivesAnEmptyPreviewInsteadOfACrash)
{
    const QByteArray inputs[] = {
        plist_inputs::deepXml(200000),
        plist_inputs::deepBinary(150000),
        plist_inputs::cyclicBinary(2),
    };
    for (const QByteArray& input : inputs) {
        std::string problem;
        EXPECT_EQ(quillary_preview::renderPreview("[{CLASS}]({TEXT})", input.constData(),
                                                  std::size_t(input.size()), &problem),
                  "[]()");
        EXPECT_FALSE(problem.empty());
    }
}

TEST(PreviewGenerator, NonStringTextCountsAsEmpty)
{
    for (const QVariant& text : {QVariant(5), QVariant(QVariantMap{{"a", 1}}), QVariant(QVariantList{"<b>"}),
                                 QVariant(QByteArray("<b>")), QVariant(true)})
        EXPECT_EQ(render("({TEXT})", note({{"text", text}, {"archived", true}})), "()") << text.typeName();
}

// Note text went into the page as markup: a file could run script or load
// from a server merely by being previewed.
TEST(PreviewGenerator, EscapesEveryMarkupCharacterInTheText)
{
    EXPECT_EQ(quillary_preview::escapeHtml("a<b & c>\"d\" 'e'"),
              "a&lt;b &amp; c&gt;&quot;d&quot; &#39;e&#39;");
    const std::string page = render("<p class=\"{CLASS}\">{TEXT}</p>",
                                    note({{"text", "<script>alert(1)</script><img src=http://x/>"}}));
    EXPECT_EQ(page, "<p class=\"\">&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=http://x/&gt;</p>");
}

TEST(PreviewGenerator, RequestsThatCannotBeServed)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("n.quillary");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(platform::writePropertyList(QVariantMap{{"text", "t"}}));
    f.close();

    // No template in the bundle: no preview at all.
    QLPreviewRequestRef noTemplate = QLPreviewRequestCreate(dir.path().toUtf8().constData());
    EXPECT_EQ(GeneratePreviewForURL(nullptr, noTemplate, file.toUtf8().constData(), "", nullptr), 0);
    EXPECT_EQ(QLPreviewRequestGetData(noTemplate, nullptr), nullptr);
    QLPreviewRequestDestroy(noTemplate);

    // Cancelled before it starts: nothing either.
    QLPreviewRequestRef cancelled = QLPreviewRequestCreate(kBundle.toUtf8().constData());
    QLPreviewRequestCancel(cancelled);
    EXPECT_EQ(GeneratePreviewForURL(nullptr, cancelled, file.toUtf8().constData(), "", nullptr), 0);
    EXPECT_EQ(QLPreviewRequestGetData(cancelled, nullptr), nullptr);
    QLPreviewRequestDestroy(cancelled);

    // A missing file still gives the page, with both placeholders empty.
    QLPreviewRequestRef missing = QLPreviewRequestCreate(kBundle.toUtf8().constData());
    EXPECT_EQ(GeneratePreviewForURL(nullptr, missing, dir.filePath("none").toUtf8().constData(), "", nullptr),
              0);
    size_t length = 0;
    const char* data = QLPreviewRequestGetData(missing, &length);
    ASSERT_NE(data, nullptr);
    const std::string page(data, length);
    EXPECT_NE(page.find("<div class=\"note \"></div>"), std::string::npos);
    const QLPreviewProperties p = QLPreviewRequestGetProperties(missing);
    EXPECT_STREQ(p.mimeType, "text/html");
    EXPECT_STREQ(p.textEncodingName, "UTF-8");
    EXPECT_EQ(p.width, 320);
    EXPECT_EQ(p.height, 380);
    QLPreviewRequestDestroy(missing);
}

TEST(PreviewGenerator, IdentifierParsing)
{
    for (const char* bad : {"", "CEE252FA", "CEE252FA-BCEF-485C-AB30-096AE8393C6",
                            "CEE252FA-BCEF-485C-AB30-096AE8393C6Z", "CEE252FAXBCEF-485C-AB30-096AE8393C69"})
        EXPECT_EQ(QLUUIDCreateFromString(bad), nullptr) << bad;
    Uuid lower = uuid("cee252fa-bcef-485c-ab30-096ae8393c69");
    Uuid upper = uuid(QUILLARY_PREVIEW_FACTORY_ID);
    EXPECT_TRUE(QLUUIDBytesEqual(QLUUIDGetBytes(lower.get()), QLUUIDGetBytes(upper.get())));
}
