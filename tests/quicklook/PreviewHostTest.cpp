// Runs the installed-style host program the way a user would.
#include "platform/plist/PropertyList.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct HostRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

HostRun host(const QStringList& arguments)
{
    QProcess process;
    process.start(qEnvironmentVariable("QUILLARY_PREVIEW_HOST"), arguments);
    HostRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString writeNote(const QTemporaryDir& dir, const QString& name, const QVariant& root,
                  platform::PropertyListFormat format = platform::PropertyListFormat::Binary)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(platform::writePropertyList(root, format));
    return path;
}

// The text between the note's div tags.
QString noteBody(const QByteArray& html)
{
    const QString page = QString::fromUtf8(html);
    const qsizetype start =
        page.indexOf(QStringLiteral("\">"), page.indexOf(QStringLiteral("<div class=\"note")));
    const qsizetype end = page.lastIndexOf(QStringLiteral("</div>"));
    return start < 0 || end < 0 ? QString() : page.mid(start + 2, end - start - 2);
}

} // namespace

TEST(PreviewHost, HostileTextsLeaveNoTagInThePage)
{
    QTemporaryDir dir;
    const QStringList hostile = {
        QStringLiteral("<script>alert(document.cookie)</script>"),
        QStringLiteral("<img src=\"http://example.invalid/x.png\" onerror=\"alert(1)\">"),
        QStringLiteral("</div><iframe src='http://example.invalid'></iframe><div>"),
        QStringLiteral("<!-- {TEXT} --><style>body{display:none}</style>"),
        QStringLiteral("&lt;already escaped&gt; & <b>bold</b>"),
        QStringLiteral("<svg/onload=alert(1)>\u00e9\U0001F600"),
    };
    const QRegularExpression tag(QStringLiteral("<[a-zA-Z!/]"));
    const HostRun plain =
        host({writeNote(dir, QStringLiteral("plain.quillary"), QVariantMap{{"text", "plain"}})});
    const qsizetype templateTags = QString::fromUtf8(plain.out).count(tag);
    ASSERT_GT(templateTags, 5);
    int i = 0;
    for (const QString& text : hostile) {
        SCOPED_TRACE(text.toStdString());
        const auto format = i % 2 ? platform::PropertyListFormat::Xml : platform::PropertyListFormat::Binary;
        const QString path =
            writeNote(dir, QStringLiteral("h%1.quillary").arg(i), QVariantMap{{"text", text}}, format);
        ++i;
        const HostRun run = host({path});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QString body = noteBody(run.out);
        EXPECT_FALSE(body.contains(QLatin1Char('<')));
        EXPECT_FALSE(body.contains(QLatin1Char('>')));
        EXPECT_FALSE(body.contains(QLatin1Char('"')));
        // The page as a whole has exactly the template's tags.
        EXPECT_EQ(QString::fromUtf8(run.out).count(tag), templateTags);
        // Unescaping gives the note's text back.
        QString back = body;
        back.replace("&lt;", "<")
            .replace("&gt;", ">")
            .replace("&quot;", "\"")
            .replace("&#39;", "'")
            .replace("&amp;", "&");
        EXPECT_EQ(back, text);
    }
}

TEST(PreviewHost, WritesThePageAndReportsItsProperties)
{
    QTemporaryDir dir;
    const QString path =
        writeNote(dir, QStringLiteral("a.quillary"), QVariantMap{{"text", "Hello"}, {"archived", true}});
    const QString out = dir.filePath(QStringLiteral("out.html"));
    const HostRun run = host({QStringLiteral("--info"), path, out});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("MIME type: text/html"));
    EXPECT_TRUE(run.out.contains("Text encoding: UTF-8"));
    EXPECT_TRUE(run.out.contains("Size: 320x380"));
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray page = f.readAll();
    EXPECT_TRUE(page.contains("<div class=\"note archived\">Hello</div>"));
}

TEST(PreviewHost, BadInputAndBadGenerators)
{
    QTemporaryDir dir;
    const QString junk = dir.filePath(QStringLiteral("junk.quillary"));
    QFile f(junk);
    f.open(QIODevice::WriteOnly);
    f.write("bplist00 this is not really one");
    f.close();
    HostRun run = host({junk});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("<div class=\"note \"></div>"));
    EXPECT_TRUE(run.err.contains("Error opening file: "));

    run = host({QStringLiteral("--generator"), dir.path(), junk});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("No generator"));

    EXPECT_EQ(host({}).exitCode, 2);
    EXPECT_EQ(host({QStringLiteral("--bogus"), junk}).exitCode, 2);
}
