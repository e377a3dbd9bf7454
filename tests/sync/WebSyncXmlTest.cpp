#include "platform/core/Log.h"
#include "sync/QVRXMLParser.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

// Writes each report as one line: name|value|attributes, "-" for a null.
class Recorder : public QVRXMLParserDelegate
{
public:
    void parserEncounteredName(QVRXMLParser*, const QString& name, const std::optional<QString>& value,
                               const std::optional<QVRXMLAttributes>& attributes) override
    {
        QStringList attrs;
        if (attributes) {
            for (auto it = attributes->begin(); it != attributes->end(); ++it)
                attrs << it.key() + QLatin1Char('=') + it.value();
        }
        lines << name + QLatin1Char('|') + value.value_or(QStringLiteral("-")) + QLatin1Char('|') +
                     (attributes ? QLatin1Char('{') + attrs.join(QLatin1Char(',')) + QLatin1Char('}')
                                 : QStringLiteral("-"));
    }
    void parserCompleted(QVRXMLParser*) override { ++completed; }
    QStringList lines;
    int completed = 0;
};

struct Case
{
    const char* name;
    const char* xml;
    bool wellFormed;
    QStringList reports;
};

class XmlReply : public ::testing::TestWithParam<Case>
{
};

TEST_P(XmlReply, ReportsLeafElementsOnlyFromWellFormedDocuments)
{
    const Case& c = GetParam();
    QStringList logged;
    platform::setLogSink([&](const QString& line) { logged << line; });
    Recorder recorder;
    auto parser = QVRXMLParser::parseData(QByteArray(c.xml), &recorder);
    platform::setLogSink(nullptr);
    EXPECT_EQ(parser->success(), c.wellFormed);
    EXPECT_EQ(recorder.lines, c.reports);
    EXPECT_EQ(recorder.completed, 1) << "completion must come exactly once, also after an error";
    EXPECT_EQ(logged.contains(QStringLiteral("Unable to parse XML")), !c.wellFormed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlReply,
    ::testing::Values(
        Case{"ValueOnlyHasNoAttributes", "<r><updated value=\"12.5\"/></r>", true, {"updated|12.5|-"}},
        Case{"ValueAndTextKeepsBoth",
             "<r><note value=\"v\">hi</note></r>",
             true,
             {"note|v|{text=hi,value=v}"}},
        Case{"TextWithoutAttributes",
             "<r><message>Hello &amp; bye</message></r>",
             true,
             {"message|-|{text=Hello & bye}"}},
        Case{"EmptyElementHasEmptyAttributes", "<r><pushenabled/></r>", true, {"pushenabled|-|{}"}},
        Case{"RootAndLeadingTextAreNotReported",
             "<r>stray<a value=\"1\" retry=\"true\"/><b value=\"2\"/></r>",
             true,
             {"a|1|{retry=true,value=1}", "b|2|-"}},
        Case{"CdataIsText",
             "<r><note uuid=\"U\"><![CDATA[a <b> & c]]></note></r>",
             true,
             {"note|-|{text=a <b> & c,uuid=U}"}},
        Case{"DocumentOrderIsKept",
             "<r><success value=\"true\"/><note uuid=\"1\">x</note><updated value=\"3\"/></r>",
             true,
             {"success|true|-", "note|-|{text=x,uuid=1}", "updated|3|-"}},
        Case{"TruncatedDocumentReportsNothing",
             "<r><success value=\"true\"/><updated value=\"99\"/><note uuid=\"1\">x",
             false,
             {}},
        Case{"MismatchedTagsReportNothing", "<r><a value=\"1\"/></x>", false, {}},
        Case{"TrailingGarbageReportsNothing", "<r><a value=\"1\"/></r><extra/>", false, {}},
        Case{"InternalEntitiesAreRefused",
             "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"EXPANDED\">]><r><message>&e;</message></r>",
             false,
             {}},
        Case{"ExternalEntitiesAreRefused",
             "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM "
             "\"file:///etc/passwd\">]><r><a>&x;</a></r>",
             false,
             {}},
        Case{"UndeclaredEntityIsAnError", "<r><a>&nope;</a></r>", false, {}},
        Case{"EmptyBodyIsNotADocument", "", false, {}},
        // One malformed byte sequence in one note used to refuse the whole
        // reply; the bad bytes now read as U+FFFD and the rest is kept.
        Case{"MalformedUtf8InOneNoteKeepsTheOthers",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><note uuid=\"1\">caf\xe9 \xff ok</note>"
             "<note uuid=\"2\">intact \xc3\xa9</note></r>",
             true,
             {"note|-|{text=caf\uFFFD \uFFFD ok,uuid=1}", "note|-|{text=intact \u00e9,uuid=2}"}},
        Case{"EncodedSurrogateAndCutSequenceBecomeReplacements",
             "<r><note uuid=\"1\">a\xed\xa0\x80"
             "b\xf0\x9f\x98</note><a value=\"\xc0\xaf"
             "x\"/></r>",
             true,
             {"note|-|{text=a\uFFFD\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD,uuid=1}", "a|\uFFFD\uFFFDx|-"}},
        Case{"DeclaredLatin1IsStillReadAsLatin1",
             "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><m>caf\xe9</m></r>",
             true,
             {"m|-|{text=caf\u00e9}"}},
        Case{"HtmlIsNotXml", "<html><body><p>Gateway<br></body></html>", false, {}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(XmlReply, OnlyExactLowerCaseWordsAreTrueOrFalse)
{
    for (const char* word : {"TRUE", "True", "yes", "1", " true", "true ", ""}) {
        EXPECT_FALSE(QVRXMLExtentions::isTrue(QString::fromLatin1(word))) << word;
        EXPECT_FALSE(QVRXMLExtentions::isFalse(QString::fromLatin1(word))) << word;
    }
    EXPECT_TRUE(QVRXMLExtentions::isTrue(QStringLiteral("true")));
    EXPECT_TRUE(QVRXMLExtentions::isFalse(QStringLiteral("false")));
}

TEST(XmlReply, OversizedReplyIsRefusedUnread)
{
    QByteArray big = "<r><a>";
    big += QByteArray(QVRXMLParser::MaximumSize, 'x');
    big += "</a></r>";
    QVRXMLParser parser;
    EXPECT_FALSE(parser.read(big));
    EXPECT_TRUE(parser.reports().empty());
}

} // namespace
