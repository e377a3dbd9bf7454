// The roads into and out of the application: URLs of the quillary scheme,
// files opened in every common encoding, note files, the script commands,
// export, copy, sharing by e-mail, printing and the menu items for them.
#include "AppTestSupport.h"

#include "app/alerts/Alert.h"
#include "app/commands/QVRCommandLine.h"
#include "app/commands/QVRFileTypes.h"
#include "app/commands/QVRScriptCommands.h"
#include "app/commands/QVRURLParts.h"
#include "app/search/QVRSearchField.h"
#include "platform/data/StoreWriteFaults.h"
#include "platform/plist/PropertyList.h"
#include "platform/shell/ApplicationShell.h"
#include "store/QVRUtilities.h"
#include "tests/support/TemporaryProfile.h"
#include "tests/support/Wait.h"

#include <QAction>
#include <QClipboard>
#include <QDBusConnection>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTimer>

#include <optional>

#include <chrono>
#include <future>

#include <sys/stat.h>
#include <unistd.h>

using apptest::AppTest;

namespace {

const QString A = QStringLiteral("AAAAAAAA-0000-0000-0000-00000000000A");
const QString B = QStringLiteral("AAAAAAAA-0000-0000-0000-00000000000B");

QString writeFile(const QString& path, const QByteArray& bytes, double mtime = 0)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(bytes);
    file.flush(); // a later flush would stamp the file anew
    if (mtime > 0)
        file.setFileTime(QDateTime::fromMSecsSinceEpoch(qint64(mtime * 1000)),
                         QFileDevice::FileModificationTime);
    return path;
}

// A file of `size` bytes that uses no disk; nothing of it may be read.
QString sparseFile(const QString& path, qint64 size)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size)) << qPrintable(path);
    return path;
}

QByteArray noteFile(const QVariantMap& root)
{
    return platform::writePropertyList(root, platform::PropertyListFormat::Binary);
}

double mtimeOf(const QString& path)
{
    return double(QFileInfo(path).lastModified().toMSecsSinceEpoch()) / 1000.0;
}

class CommandsTest : public AppTest
{
protected:
    // The program connects the bus object once launch has finished; this
    // shell has no bus and only stands where the program's would.
    platform::ApplicationShell shell{nullptr, QStringLiteral("com.quorvane.QuillaryTest")};

    void SetUp() override
    {
        AppTest::SetUp();
        app->connectShell(shell, {});
    }

    // Restarts the delegate with an autosave that runs as soon as the event
    // loop does.
    void startWithQuickAutosave()
    {
        app.reset();
        QuillaryAppDelegate::Environment quick = environment();
        quick.autosaveIntervalMs = 0;
        start(quick);
        app->connectShell(shell, {});
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    Note* onlyNoteWithText(const QString& text)
    {
        Note* found = nullptr;
        for (int i = 0; i < app->listModel()->rowCount(); ++i) {
            if (app->listModel()->noteAt(i)->text() == text)
                found = app->listModel()->noteAt(i);
        }
        return found;
    }

    bool openAndWait(const QString& file, const std::function<bool()>& done)
    {
        app->openFiles({file});
        return testsupport::waitFor(done, 5000);
    }
};

} // namespace

// --- URLs ----------------------------------------------------------------------

TEST(URLParts, HostAndQueryAreTakenAsWritten)
{
    struct Row
    {
        const char* url;
        bool valid;
        const char* scheme;
        const char* host;
        const char* query;
    };
    const Row cases[] = {
        {"quillary://add?text=Hello%20World", true, "quillary", "add", "text=Hello%20World"},
        {"quillary://ADD?text=x", true, "quillary", "ADD", "text=x"},
        {"quillary://search", true, "quillary", "search", ""},
        {"quillary://add/path?a=1#frag?x", true, "quillary", "add", "a=1"},
        {"quillary://user@add:99?q", true, "quillary", "add", "q"},
        {"quillary:add?text=x", true, "quillary", "", "text=x"},
        {"quillary://add?text=%zz", false, "", "", ""},
        {"quillary://add?text=a b", false, "", "", ""},
        {"quillary://add?text=line\nbreak", false, "", "", ""},
        {"no scheme at all", false, "", "", ""},
    };
    for (const Row& row : cases) {
        const auto parts = QVRURLParts::parse(QString::fromUtf8(row.url));
        ASSERT_EQ(parts.has_value(), row.valid) << row.url;
        if (!parts)
            continue;
        EXPECT_EQ(parts->scheme, row.scheme) << row.url;
        EXPECT_EQ(parts->host, row.host) << row.url;
        EXPECT_EQ(parts->query, row.query) << row.url;
    }
}

TEST_F(CommandsTest, UrlAddIsAutosavedWithoutFurtherTyping)
{
    startWithQuickAutosave();
    EXPECT_TRUE(app->processURL(QStringLiteral("quillary://add?text=Hello%20World")));
    EXPECT_EQ(app->textView()->toPlainText(), "Hello World");
    ASSERT_TRUE(testsupport::waitFor([&] { return onlyNoteWithText("Hello World") != nullptr; }, 5000))
        << "the added text was never stored";
}

// The first note of an empty list may come by URL: once stored it is the
// selected row, the editor still holds it, and typing goes on in it.
TEST_F(CommandsTest, UrlAddToAnEmptyListStaysTheNoteThatTakesTheTyping)
{
    startWithQuickAutosave();
    ASSERT_TRUE(rows().isEmpty());
    EXPECT_TRUE(app->processURL(QStringLiteral("quillary://add?text=From%20a%20link")));
    ASSERT_TRUE(testsupport::waitFor([&] { return !app->noteNeedsSaving(); }, 5000));
    Note* note = onlyNoteWithText("From a link");
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(app->selectedNote(), note);
    EXPECT_EQ(app->textView()->toPlainText(), "From a link");
    app->textView()->moveCursor(QTextCursor::End);
    typeInEditor(" and more");
    app->saveCurrentNote();
    EXPECT_EQ(app->noteCount(), 1u);
    EXPECT_EQ(note->text(), "From a link and more");
}

TEST_F(CommandsTest, UrlAddBeforeLaunchFinishedWaitsForIt)
{
    app.reset();
    start(environment());
    EXPECT_TRUE(app->processURL(QStringLiteral("quillary://add?text=Early%20bird")));
    EXPECT_EQ(app->textToInsert(), "Early bird");
    EXPECT_TRUE(app->textView()->toPlainText().isEmpty());
    app->connectShell(shell, {});
    EXPECT_EQ(app->textView()->toPlainText(), "Early bird");
    EXPECT_TRUE(app->textToInsert().isNull());
}

TEST_F(CommandsTest, UrlsThatChangeNothing)
{
    app->saveItem(item(A, "kept"), true);
    const QString query3001 = QStringLiteral("text=") + QString(2996, QLatin1Char('x'));
    struct Row
    {
        QString url;
        bool result;
    };
    const Row cases[] = {
        {QStringLiteral("quillary://ADD?text=upper"), true}, // hosts compare exactly
        {QStringLiteral("quillary://Add?text=mixed"), true},
        {QStringLiteral("quillary://unknown?text=x"), true},
        {QStringLiteral("quillary://add?") + query3001, false},
        {QStringLiteral("quillary://add?text=%zz"), false},
        {QStringLiteral("quillary://add?text=%E2%82"), true}, // not UTF-8: the text is left out
        {QStringLiteral("javascript:alert(1)"), false},
        {QStringLiteral("file:///etc/passwd"), false},
        {QStringLiteral("https://add?text=web"), false},
        {QString(), false},
    };
    for (const Row& row : cases) {
        app->window()->hide();
        EXPECT_EQ(app->processURL(row.url), row.result) << qPrintable(row.url.left(60));
        EXPECT_EQ(app->window()->isVisible(), row.result) << "only a handled URL opens the window";
        EXPECT_TRUE(app->textView()->toPlainText().isEmpty() || app->textView()->toPlainText() == "kept")
            << qPrintable(row.url.left(60));
    }
    EXPECT_EQ(rows(), QStringList({"kept"}));
}

TEST_F(CommandsTest, UrlQueryValueKeepsEveryCharacterAfterItsFirstEquals)
{
    struct Row
    {
        const char* url;
        const char* text; // null: the URL is ignored
    };
    const Row cases[] = {
        {"quillary://add?text=a=b", "a=b"},
        {"quillary://add?text=1+1=2", "1+1=2"},
        {"quillary://add?text===", "=="},
        {"quillary://add?text=a%3Db=c", "a=b=c"},
        {"quillary://add?text=see%20https://example.com/?q=1", "see https://example.com/?q=1"},
        {"quillary://add?text=a=b&other=c=d", "a=b"},
        {"quillary://add?other=text=x&text=y", "y"},
        {"quillary://add?text=", ""},
        {"quillary://add?text=%ZZ", nullptr},
    };
    for (const Row& row : cases) {
        app->textView()->setPlainText(QStringLiteral("before"));
        const bool handled = app->processURL(QString::fromLatin1(row.url));
        EXPECT_EQ(handled, row.text != nullptr) << row.url;
        EXPECT_EQ(app->textView()->toPlainText(), QString::fromLatin1(row.text ? row.text : "before"))
            << row.url;
    }
    EXPECT_TRUE(app->processURL(QStringLiteral("quillary://search?text=k=v")));
    EXPECT_EQ(app->searchField()->text(), "k=v");
}

TEST_F(CommandsTest, UrlQueryOfExactlyTheLimitIsHandled)
{
    const QString text(2995, QLatin1Char('y'));
    const QString url = QStringLiteral("quillary://add?text=") + text;
    ASSERT_EQ(url.mid(url.indexOf('?') + 1).size(), 3000);
    EXPECT_TRUE(app->processURL(url));
    EXPECT_EQ(app->textView()->toPlainText(), text);
}

TEST_F(CommandsTest, UrlAddWithoutQueryMakesAnEmptyNoteAndSearchWithoutTextOpensTheField)
{
    app->saveItem(item(A, "existing"), true);
    EXPECT_TRUE(app->processURL(QStringLiteral("quillary://add")));
    EXPECT_EQ(app->selectedNote(), nullptr);
    EXPECT_TRUE(app->textView()->toPlainText().isEmpty());

    EXPECT_TRUE(app->processURL(QStringLiteral("quillary://search")));
    EXPECT_TRUE(app->searchShowing());
    EXPECT_TRUE(app->searchField()->text().isEmpty());
    EXPECT_TRUE(app->processURL(QStringLiteral("quillary://search?text=exist")));
    EXPECT_EQ(app->searchField()->text(), "exist");
}

// Any web page can raise the cloud reset prompt through a quillary: link, so
// the key a user presses without reading must never wipe the cloud folder.
namespace {

const QString ResetTitle = QStringLiteral("Reset iCloud Sync");
const QString ResetMessage = QStringLiteral("This will delete the app\u2019s sync data.");

// The message box showing now, if any.
QMessageBox* shownBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

// While one lives, a real box that should not have shown is closed as soon
// as the event loop runs (inside its own exec), so that a failing test ends.
class StrayBoxGuard
{
public:
    StrayBoxGuard()
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            if (QMessageBox* box = shownBox()) {
                ADD_FAILURE() << "a real message box showed: " << qPrintable(box->text());
                box->done(QDialog::Rejected);
            }
        });
        m_timer.start(0);
    }

private:
    QTimer m_timer;
};

} // namespace

TEST_F(CommandsTest, CloudResetPromptDefaultsToCancel)
{
    AlertResponder alerts;
    StrayBoxGuard guard;
    std::optional<bool> accepted;
    app->shouldPromptWithTitle(ResetTitle, ResetMessage, QStringLiteral("Reset"), QStringLiteral("Cancel"),
                               [&](bool answer) { accepted = answer; });
    ASSERT_EQ(alerts.shown.size(), 1);
    const Alert& prompt = alerts.shown.first();
    EXPECT_EQ(prompt.windowTitle(), ResetTitle);
    EXPECT_EQ(prompt.text(), ResetTitle);
    EXPECT_EQ(prompt.informativeText(), ResetMessage);
    ASSERT_EQ(prompt.buttons().size(), 2);
    EXPECT_EQ(prompt.buttons().at(0).title, "Reset") << "the order stays";
    EXPECT_EQ(prompt.buttons().at(1).title, "Cancel");
    EXPECT_EQ(prompt.defaultButton(), prompt.buttonTitled(QStringLiteral("Cancel")));
    EXPECT_EQ(prompt.escapeButton(), prompt.buttonTitled(QStringLiteral("Cancel")));
    EXPECT_EQ(accepted, std::optional<bool>(false)) << "the default answer keeps the cloud folder";

    AlertResponder reset(AlertResponder::choosing(QStringLiteral("Reset")));
    app->shouldPromptWithTitle(ResetTitle, ResetMessage, QStringLiteral("Reset"), QStringLiteral("Cancel"),
                               [&](bool answer) { accepted = answer; });
    EXPECT_EQ(accepted, std::optional<bool>(true)) << "choosing Reset still resets";
}

TEST_F(CommandsTest, ReturnOnTheRealCloudResetPromptCancels)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTimer::singleShot(0, qApp, [key] {
            QMessageBox* box = shownBox();
            if (!box) {
                ADD_FAILURE() << "no message box shows";
                return;
            }
            EXPECT_TRUE(QTest::qWaitForWindowActive(box));
            QTest::keyClick(QApplication::focusWidget(), key);
            if (box->isVisible()) {
                ADD_FAILURE() << "the key did not answer the box";
                box->done(QDialog::Rejected);
            }
        });
        std::optional<bool> accepted;
        app->shouldPromptWithTitle(ResetTitle, ResetMessage, QStringLiteral("Reset"),
                                   QStringLiteral("Cancel"), [&](bool answer) { accepted = answer; });
        EXPECT_EQ(accepted, std::optional<bool>(false)) << "key " << key;
        EXPECT_EQ(shownBox(), nullptr);
    }
}

// --- Opening files ---------------------------------------------------------------

TEST(FileTypes, TextIsDecodedFromEveryCommonEncoding)
{
    const QString expected = QStringLiteral("Caf\u00e9 \u20ac 1");
    struct Row
    {
        const char* name;
        QByteArray bytes;
        bool readable;
    };
    auto encoded = [&](QStringEncoder::Encoding encoding) {
        return QByteArray(QStringEncoder(encoding)(expected));
    };
    const Row cases[] = {
        {"UTF-8", expected.toUtf8(), true},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + expected.toUtf8(), true},
        {"UTF-16 LE with BOM", QByteArray("\xFF\xFE", 2) + encoded(QStringEncoder::Utf16LE), true},
        {"UTF-16 BE with BOM", QByteArray("\xFE\xFF", 2) + encoded(QStringEncoder::Utf16BE), true},
        {"UTF-32 LE with BOM", QByteArray("\xFF\xFE\x00\x00", 4) + encoded(QStringEncoder::Utf32LE), true},
        {"UTF-32 BE with BOM", QByteArray("\x00\x00\xFE\xFF", 4) + encoded(QStringEncoder::Utf32BE), true},
        {"Windows-1252", QByteArray("Caf\xe9 \x80 1"), true},
        {"binary with NUL bytes",
         QByteArray("\x7f"
                    "ELF\x02\x01\x00\x00",
                    8),
         false},
        {"UTF-16 with a lone surrogate",
         QByteArray("\xFF\xFE\x00\xD8"
                    "A\x00",
                    6),
         false},
        {"UTF-16 with half a unit at the end",
         QByteArray("\xFF\xFE"
                    "A\x00B",
                    5),
         false},
    };
    for (const Row& row : cases) {
        const std::optional<QString> text = QVRFileTypes::decodeText(row.bytes);
        EXPECT_EQ(text.has_value(), row.readable) << row.name;
        if (text && row.readable) {
            EXPECT_EQ(*text, expected) << row.name;
        }
    }
    EXPECT_EQ(QVRFileTypes::decodeText(QByteArray()), QString());
}

TEST_F(CommandsTest, FileTypesAreToldByName)
{
    QDir(dir.path()).mkdir(QStringLiteral("folder.txt"));
    // A pipe would block the first read for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.txt")).constData(), 0600), 0);
    QFile::link(path("absent.txt"), path("dangling.txt"));
    writeFile(path("real.txt"), "x");
    QFile::link(path("real.txt"), path("link.txt"));
    using T = QVRFileTypes::FileType;
    const std::pair<const char*, T> cases[] = {
        {"a.txt", T::PlainText},
        {"b.TXT", T::PlainText},
        {"d.md", T::Other},
        {"e.csv", T::Other},
        {"noextension", T::Other},
        {"f.quillary", T::NoteDocument},
        {"g.QUILLARY", T::NoteDocument},
        {"folder.txt", T::Other},
        {"pipe.txt", T::Other},
        {"link.txt", T::PlainText},
        {"dangling.txt", T::Unreadable},
        {"missing.txt", T::Unreadable},
    };
    for (const auto& [name, type] : cases) {
        const QString file = path(QString::fromUtf8(name));
        if (!QFileInfo::exists(file) && !QFileInfo(file).isSymLink() &&
            QString::fromUtf8(name) != "missing.txt")
            writeFile(file, "content");
        EXPECT_EQ(QVRFileTypes::typeOfFile(file), type) << name;
    }
}

TEST_F(CommandsTest, OneTextFileBecomesASelectedNoteWithItsNameAndDate)
{
    const QString file = writeFile(path("Groceries.txt"), "milk\r\neggs\rbread\n", 1600000000.5);
    EXPECT_TRUE(app->openFiles({file}));
    Note* note = onlyNoteWithText("Groceries\n\nmilk\neggs\nbread\n");
    ASSERT_NE(note, nullptr) << qPrintable(rows().join('|'));
    EXPECT_NEAR(note->date().toDouble(), 1600000000.5, 0.001);
    EXPECT_EQ(app->selectedNote(), note);
    EXPECT_EQ(QVRUtilities::validUUID(note->uuid()), note->uuid());
}

TEST_F(CommandsTest, FilesThatMakeNoNoteOrAnUnsurprisingOne)
{
    AlertResponder alerts;
    const QString binary = writeFile(path("binary.txt"), QByteArray("\x00\x01\x02\x03", 4));
    const QString large = sparseFile(path("large.txt"), 200LL * 1024 * 1024);
    const QString largeNote = sparseFile(path("large.quillary"), 200LL * 1024 * 1024);
    const QString markdown = writeFile(path("readme.md"), "# not taken");

    EXPECT_TRUE(app->openFiles({binary, large}));
    EXPECT_TRUE(log.hasLineStartingWith(QStringLiteral("Error opening file: ")));
    EXPECT_FALSE(app->openFiles({markdown, path("missing.txt")}));
    EXPECT_TRUE(log.hasLineStartingWith(QStringLiteral("Error opening file ")))
        << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(app->openFiles({largeNote}));
    EXPECT_TRUE(rows().isEmpty());

    // An empty file and one whose name holds a line break still read well.
    const QString empty = writeFile(path("Empty.txt"), "");
    const QString broken = writeFile(path("two\nlines.txt"), "body");
    EXPECT_TRUE(app->openFiles({empty, broken}));
    EXPECT_NE(onlyNoteWithText("Empty\n\n"), nullptr);
    EXPECT_NE(onlyNoteWithText("two lines\n\nbody"), nullptr);
}

TEST_F(CommandsTest, NoteFileEntriesOfTheWrongKindCreateNothing)
{
    AlertResponder alerts;
    const QVariantMap cases[] = {
        {{"uuid", A}, {"text", 5}},
        {{"uuid", 7}, {"text", "number uuid"}},
        {{"uuid", "not a uuid"}, {"text", "bad uuid"}},
        {{"uuid", "..hidden"}, {"text", "dots"}},
        {{"uuid", A}, {"text", "bad date"}, {"date", "yesterday"}},
    };
    int n = 0;
    for (const QVariantMap& root : cases) {
        const QString file = writeFile(path(QStringLiteral("bad%1.quillary").arg(n++)), noteFile(root));
        log.clear();
        app->openFiles({file});
        ASSERT_TRUE(testsupport::waitFor(
            [&] { return log.contains(QStringLiteral("The file is not the right format.")); }, 5000))
            << qPrintable(root.value("text").toString());
    }
    // A good file after them shows that the bad ones had their turn.
    app->openFiles({writeFile(path("good.quillary"), noteFile({{"uuid", B}, {"text", "good"}}))});
    ASSERT_TRUE(testsupport::waitFor([&] { return app->noteWithId(B) != nullptr; }, 5000));
    EXPECT_EQ(rows(), QStringList({"good"}));
}

TEST_F(CommandsTest, RefusedFilesAreToldByNameAndWhyInOneAlert)
{
    AlertResponder alerts;
    const QString binary = writeFile(path("binary.txt"), QByteArray("\x00\x01\x02\x03", 4));
    const QString large = sparseFile(path("large.txt"), QVRFileTypes::MaximumFileSize + 1);
    const QString markdown = writeFile(path("readme.md"), "# not taken");
    const QString good = writeFile(path("Good.txt"), "kept");

    // Files read at once: told before openFiles() returns.
    EXPECT_TRUE(app->openFiles({binary, large, markdown, path("missing.txt"), good}));
    ASSERT_EQ(alerts.shown.size(), 1) << "one alert for the whole request";
    const Alert& told = alerts.shown.first();
    EXPECT_EQ(told.text(), QStringLiteral("4 files couldn\u2019t be opened."));
    struct Row
    {
        const char* name;
        const char* why;
    };
    const Row rows[] = {
        {"binary.txt", "not text"},
        {"large.txt", "too large"},
        {"readme.md", "note files and plain text files"},
        {"missing.txt", "no such file"},
    };
    const QStringList lines = told.informativeText().split('\n');
    ASSERT_EQ(lines.size(), 4) << qPrintable(told.informativeText());
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(lines.at(i).contains(QString::fromUtf8(rows[i].name))) << qPrintable(lines.at(i));
        EXPECT_TRUE(lines.at(i).contains(QString::fromUtf8(rows[i].why))) << qPrintable(lines.at(i));
    }
    EXPECT_NE(onlyNoteWithText("Good\n\nkept"), nullptr) << "the good file is still opened";

    // Note files are read in the background: one alert once the last is in,
    // after the good one among them was saved.
    const QString badNote =
        writeFile(path("bad.quillary"), noteFile({{"uuid", "not a uuid"}, {"text", "x"}}));
    const QString brokenNote = writeFile(path("broken.quillary"), "not a property list");
    const QString goodNote = writeFile(path("good.quillary"), noteFile({{"uuid", B}, {"text", "good"}}));
    app->openFiles({badNote, brokenNote, goodNote});
    ASSERT_TRUE(testsupport::waitFor([&] { return alerts.shown.size() == 2; }, 5000));
    EXPECT_NE(app->noteWithId(B), nullptr);
    EXPECT_EQ(alerts.shown.last().text(), QStringLiteral("2 files couldn\u2019t be opened."));
    EXPECT_TRUE(alerts.shown.last().informativeText().contains("bad.quillary"));
    EXPECT_TRUE(alerts.shown.last().informativeText().contains("broken.quillary"));

    // One file: its name in the text, the reason below.
    app->openFiles({markdown});
    ASSERT_EQ(alerts.shown.size(), 3);
    EXPECT_EQ(alerts.shown.last().text(),
              QStringLiteral("The file \u201creadme.md\u201d couldn\u2019t be opened."));
    EXPECT_TRUE(alerts.shown.last().informativeText().contains("note files and plain text files"));
    // Nothing refused, nothing told.
    app->openFiles({good});
    EXPECT_EQ(alerts.shown.size(), 3);
}

TEST_F(CommandsTest, OpeningAnOlderCopyNeverOverwritesNewerText)
{
    app->saveItem(item(A, "written today"), true);
    const double stored = app->noteWithId(A)->modified().toDouble();
    const QString older = writeFile(path("older.quillary"), noteFile({{"uuid", A}, {"text", "last month"}}),
                                    stored - 30 * 86400);
    app->selectNote(nullptr);
    app->openFiles({older});
    ASSERT_TRUE(testsupport::waitFor([&] { return app->selectedNote() != nullptr; }, 5000));
    EXPECT_EQ(app->noteWithId(A)->text(), "written today");
    EXPECT_EQ(selectedUuid(), A);

    const QString newer =
        writeFile(path("newer.quillary"),
                  noteFile({{"uuid", A}, {"text", "from tomorrow"}, {"archived", true}}), stored + 86400);
    app->openFiles({newer});
    ASSERT_TRUE(testsupport::waitFor([&] { return app->noteWithId(A)->text() == "from tomorrow"; }, 5000));
    EXPECT_FALSE(app->noteWithId(A)->archived().toBool()) << "an opened note is always live";
}

TEST_F(CommandsTest, NoteFileWithLowerCaseUuidUpdatesTheStoredNote)
{
    app->saveItem(item(A, "before"), true);
    const double stored = app->noteWithId(A)->modified().toDouble();
    const QString lower = writeFile(path("lower.quillary"),
                                    noteFile({{"uuid", A.toLower()}, {"text", "after"}}), stored + 86400);
    app->openFiles({lower});
    ASSERT_TRUE(testsupport::waitFor([&] { return app->noteWithId(A)->text() == "after"; }, 5000))
        << qPrintable(log.lines().join('\n'));
    EXPECT_EQ(rows(), QStringList({"after"}));
}

TEST_F(CommandsTest, DropsOfTextAndOfFiles)
{
    QMimeData text;
    text.setText(QStringLiteral("Dropped words"));
    EXPECT_TRUE(app->supportsPasteboard(&text));
    EXPECT_TRUE(app->addFromPasteboard(&text));
    ASSERT_NE(app->selectedNote(), nullptr);
    EXPECT_EQ(app->selectedNote()->text(), "Dropped words");

    const QString plain = writeFile(path("Dropped.txt"), "from a file");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(path("missing.txt")), QUrl::fromLocalFile(plain)});
    EXPECT_FALSE(app->supportsPasteboard(&files)) << "a first file that cannot be read refuses the drop";
    EXPECT_FALSE(app->addFromPasteboard(&files));
    files.setUrls({QUrl::fromLocalFile(writeFile(path("skip.md"), "x")), QUrl::fromLocalFile(plain)});
    EXPECT_TRUE(app->addFromPasteboard(&files));
    EXPECT_NE(onlyNoteWithText("Dropped\n\nfrom a file"), nullptr);
    EXPECT_EQ(app->noteCount(), 2u);
}

// --- Script commands ---------------------------------------------------------------

TEST_F(CommandsTest, MalformedSaveCommandNeverDeletesAndReportsFailure)
{
    app->saveItem(item(A, "original"), true);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1500000000, Qt::UTC);
    struct Row
    {
        const char* name;
        QVariantMap arguments;
        bool saved;
        QString uuid; // empty: a new note
        double date;
    };
    const Row cases[] = {
        {"copy suffix", {{"", A + "-2"}, {"text", "suffix"}, {"date", 1000.0}}, true, A, 1000.0},
        {"date as a date", {{"", A}, {"text", "dated"}, {"date", when}}, true, A, 1500000000.0},
        {"no date is now", {{"", A}, {"text", "now"}}, true, A, testsupport::ManualClock::DefaultStart},
        {"lower case uuid",
         {{"", A.toLower()}, {"text", "lower"}},
         true,
         A,
         testsupport::ManualClock::DefaultStart},
        {"uuid that is a number", {{"", 42}, {"text", "number"}}, true, QString(), 0},
        {"no uuid", {{"text", "fresh"}}, true, QString(), 0},
        {"no text", {{"", A}}, false, A, 0},
        {"text that is a number", {{"", A}, {"text", 3}}, false, A, 0},
        {"text under a misspelt key", {{"", A}, {"txet", "typo"}}, false, A, 0},
    };
    for (const Row& row : cases) {
        const quint64 before = app->noteCount();
        QVRSaveNoteScriptCommand command(row.arguments, app.get());
        EXPECT_EQ(command.performDefaultImplementation(), row.saved) << row.name;
        if (!row.uuid.isEmpty() && row.saved) {
            EXPECT_EQ(app->noteWithId(row.uuid)->text(), row.arguments.value("text").toString()) << row.name;
            EXPECT_NEAR(app->noteWithId(row.uuid)->date().toDouble(), row.date, 0.001) << row.name;
        } else if (row.saved) {
            EXPECT_EQ(app->noteCount(), before + 1) << row.name;
        } else {
            EXPECT_EQ(app->noteCount(), before) << row.name;
            EXPECT_FALSE(app->noteWithId(A)->archived().toBool())
                << row.name << ": a bad save deleted the note";
        }
    }
}

TEST_F(CommandsTest, DeleteScriptCommandNeedsAValidUuid)
{
    app->saveItem(item(A, "to delete"), true);
    const QVariantMap bad[] = {{}, {{"", 7}}, {{"", "nonsense"}}, {{"", "{" + A + "}"}}};
    for (const QVariantMap& arguments : bad) {
        QVRDeleteNoteScriptCommand command(arguments, app.get());
        command.performDefaultImplementation();
        EXPECT_EQ(command.scriptErrorNumber(), -1703);
        EXPECT_EQ(command.scriptErrorString(), "A valid UUID is required.");
    }
    EXPECT_FALSE(app->noteWithId(A)->archived().toBool());

    QVRDeleteNoteScriptCommand absent({{"", B}}, app.get());
    absent.performDefaultImplementation();
    EXPECT_EQ(absent.scriptErrorNumber(), 0);

    QVRScriptingHandler handler(app.get());
    EXPECT_TRUE(handler.deleteNote(A + "-3"));
    EXPECT_TRUE(app->noteWithId(A)->archived().toBool());
    EXPECT_FALSE(handler.deleteNote(QStringLiteral("../x")));
}

TEST_F(CommandsTest, LowerCaseUuidFromAScriptNamesTheStoredNote)
{
    // uuidgen prints lower case; the note was stored upper-case.
    app->saveItem(item(A, "original"), true);
    const char* spellings[][2] = {
        {"as stored", "AAAAAAAA-0000-0000-0000-00000000000A"},
        {"lower case", "aaaaaaaa-0000-0000-0000-00000000000a"},
        {"lower case with a copy suffix", "aaaaaaaa-0000-0000-0000-00000000000a-2"},
        {"mixed case", "aaaaaaaa-0000-0000-0000-00000000000A"},
    };
    QVRScriptingHandler handler(app.get());
    for (const auto& [name, spelling] : spellings) {
        const QString text = QStringLiteral("saved as ") + QString::fromLatin1(name);
        EXPECT_TRUE(handler.saveNote({{"", QString::fromLatin1(spelling)}, {"text", text}})) << name;
        EXPECT_EQ(app->noteCount(), 1u) << name << ": a second note was made";
        Note* stored = app->noteWithId(A);
        ASSERT_NE(stored, nullptr) << name;
        EXPECT_EQ(stored->text(), text) << name;
        EXPECT_EQ(stored->uuid(), A) << name << ": stored under another spelling";
    }
    EXPECT_TRUE(handler.deleteNote(A.toLower()));
    EXPECT_TRUE(app->noteWithId(A)->archived().toBool());

    // A new note named by a script in lower case is stored upper-case.
    EXPECT_TRUE(handler.saveNote({{"", B.toLower()}, {"text", "new"}}));
    ASSERT_NE(app->noteWithId(B), nullptr);
    EXPECT_EQ(app->noteWithId(B)->text(), "new");
}

// Fault 1: "quillary --save-note" exited 0 when nothing was stored; a save
// or delete that cannot be written now exits 1 with the reason.
TEST_F(CommandsTest, CommandLineExitsOneWhenTheStoreCannotBeWritten)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "needs a session bus (scripts/test starts one)";
    const QString service = QStringLiteral("com.quorvane.QuillaryTest.commands%1").arg(::getpid());
    platform::ApplicationShell bus(nullptr, service);
    ASSERT_EQ(bus.claimSingleInstance({}), platform::ApplicationShell::InstanceRole::Primary);
    app->connectShell(bus, {});
    app->noteSession()->prompts().saveFailed = [](const platform::Error&) {};
    // The command blocks on its call, as its own process would; this thread
    // goes on running the instance that answers.
    auto run = [&](const QStringList& arguments) {
        std::future<int> status = std::async(std::launch::async, [=] {
            return QVRCommandLine::runScriptingCommand(QStringList{"quillary"} + arguments, service)
                .value_or(-1);
        });
        EXPECT_TRUE(testsupport::waitFor(
            [&] { return status.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20000));
        return status.get();
    };
    ASSERT_EQ(run({"--save-note", A, "stored"}), 0);
    platform::StoreWriteFaults::setDiskFull(true);
    EXPECT_EQ(run({"--save-note", B, "not stored"}), 1);
    EXPECT_EQ(run({"--delete-note", A}), 1);
    platform::StoreWriteFaults::setDiskFull(false);
    EXPECT_EQ(run({"--delete-note", A}), 0);
    EXPECT_TRUE(app->noteWithId(A)->archived().toBool());
}

// --- Export ------------------------------------------------------------------------

TEST_F(CommandsTest, ExportedFileNames)
{
    const QString forty = QString(40, QLatin1Char('a'));
    const QString fortyOne = QString(41, QLatin1Char('b'));
    // An emoji across the cut is kept whole or left out, never split.
    const QString emoji = QString(38, QLatin1Char('c')) + QStringLiteral("\U0001F600tail");
    struct Row
    {
        QString title;
        QString expected;
    };
    const Row cases[] = {
        {QStringLiteral("a/b:c"), QStringLiteral("a-b-c.txt")},
        {QStringLiteral("a/b:c"), QStringLiteral("a-b-c-1.txt")},
        {QStringLiteral("a/b:c"), QStringLiteral("a-b-c-2.txt")},
        {forty, forty + QStringLiteral(".txt")},
        {fortyOne, QString(39, QLatin1Char('b')) + QStringLiteral("\u2026.txt")},
        {emoji, QString(38, QLatin1Char('c')) + QStringLiteral("\u2026.txt")},
    };
    const QString folder = path("out");
    QDir().mkpath(folder);
    int n = 0;
    for (const Row& row : cases) {
        const QString uuid = QStringLiteral("BBBBBBBB-0000-0000-0000-%1").arg(n++, 12, 10, QLatin1Char('0'));
        Note* note =
            app->saveItem({{"uuid", uuid}, {"text", row.title + "\nbody"}, {"date", 1234567890.0}}, true);
        platform::Error error;
        const QString file = app->exportNote(note, "txt", folder, &error);
        EXPECT_EQ(QFileInfo(file).fileName(), row.expected);
        QFile written(file);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), (row.title + "\nbody").toUtf8());
        EXPECT_NEAR(mtimeOf(file), 1234567890.0, 0.01);
    }
}

TEST_F(CommandsTest, NoteFileExportOpensBackAsTheSameNote)
{
    Note* note =
        app->saveItem({{"uuid", A}, {"text", "R\u00f6und trip \U0001F600"}, {"date", 1400000000.0}}, true);
    platform::Error error;
    const QString file = app->exportNote(note, "quillary", dir.path(), &error);
    ASSERT_FALSE(file.isEmpty()) << qPrintable(error.localizedDescription);
    app->deleteItemWithUUID(A);
    ASSERT_TRUE(app->noteWithId(A)->archived().toBool());
    app->openFiles({file});
    ASSERT_TRUE(testsupport::waitFor([&] { return !app->noteWithId(A)->archived().toBool(); }, 5000));
    EXPECT_EQ(app->noteWithId(A)->text(), "R\u00f6und trip \U0001F600");
    EXPECT_NEAR(app->noteWithId(A)->date().toDouble(), 1400000000.0, 0.001);
}

TEST_F(CommandsTest, ExportAllWritesEveryLiveNoteAndCancelStopsAtTheFirstFailure)
{
    app->saveItem(item(A, "first"), true);
    app->saveItem(item(B, "second"), true);
    app->saveItem(item(QStringLiteral("AAAAAAAA-0000-0000-0000-00000000000C"), "gone"), true);
    app->deleteItemWithUUID(QStringLiteral("AAAAAAAA-0000-0000-0000-00000000000C"));
    QString folder = path("all");
    QDir().mkpath(folder);
    QString answer = QStringLiteral("OK");
    AlertResponder alerts([&](const Alert& alert) {
        EXPECT_NE(alert.buttonTitled("Cancel"), Alert::NoButton);
        return alert.buttonTitled(answer);
    });
    int panels = 0;
    app->commandPanels().chooseExportFolder = [&](const QString& extension) {
        EXPECT_EQ(extension, ++panels == 1 ? "quillary" : "txt") << "the choice lasts for the run";
        return QuillaryAppDelegate::ExportChoice{folder, QStringLiteral("txt")};
    };
    app->exportAllNotes();
    QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(names, QStringList({"first.txt", "second.txt"}));
    EXPECT_EQ(app->exportFileExtension(), "txt");
    EXPECT_TRUE(alerts.shown.isEmpty());

    folder = path("no/such/folder");
    answer = QStringLiteral("Cancel");
    app->exportAllNotes();
    EXPECT_EQ(alerts.shown.size(), 1) << "Cancel stops before the next note";
    answer = QStringLiteral("OK");
    alerts.shown.clear();
    app->exportAllNotes();
    EXPECT_EQ(alerts.shown.size(), 2) << "OK goes on with the next note";
    EXPECT_TRUE(log.hasLineStartingWith(QStringLiteral("File could not be exported: ")));
}

// --- Copy, print and share ----------------------------------------------------------

TEST_F(CommandsTest, CopyWithoutANoteKeepsTheClipboard)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("the user's own"));
    app->selectNote(nullptr);
    app->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "the user's own");

    app->saveItem(item(A, "whole\nnote"), true);
    app->selectNote(app->noteWithId(A));
    app->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "whole\nnote");
}

TEST_F(CommandsTest, PrintedNoteReadsBackFromThePdf)
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    app->saveItem(item(A, "Printed heading\nsecond line of the note"), true);
    app->selectNote(app->noteWithId(A));
    const QString pdf = path("note.pdf");
    int dialogs = 0;
    app->commandPanels().preparePrinter = [&](QPrinter& printer) {
        ++dialogs;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    };
    app->print();
    ASSERT_EQ(dialogs, 1);
    QProcess reader;
    reader.start(pdftotext, {pdf, QStringLiteral("-")});
    ASSERT_TRUE(reader.waitForFinished(30000));
    const QString text = QString::fromUtf8(reader.readAllStandardOutput());
    EXPECT_TRUE(text.contains("Printed heading")) << qPrintable(text);
    EXPECT_TRUE(text.contains("second line of the note")) << qPrintable(text);

    // Nothing to print: no dialog.
    app->selectNote(nullptr);
    app->print();
    EXPECT_EQ(dialogs, 1);
}

// Qt's page-setup dialog, shown without exec(), kept the user's choice to
// itself: a note printed after choosing Landscape came out portrait.
TEST_F(CommandsTest, OrientationChosenInPageSetupIsUsedByTheNextPrint)
{
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdfinfo.isEmpty())
        GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
    app->saveItem(item(A, "Wide page\nof text"), true);
    app->selectNote(app->noteWithId(A));
    struct Row
    {
        const char* choice; // the dialog's radio button
        bool wide;
    };
    const Row rows[] = {{"landscape", true}, {"portrait", false}};
    for (const Row& row : rows) {
        bool answered = false;
        QTimer::singleShot(0, app.get(), [&] {
            auto* dialog = app->window()->findChild<QPageSetupDialog*>();
            ASSERT_NE(dialog, nullptr);
            auto* choice = dialog->findChild<QRadioButton*>(QString::fromLatin1(row.choice));
            ASSERT_NE(choice, nullptr) << row.choice;
            choice->click();
            dialog->accept();
            answered = true;
        });
        app->showPageSetup();
        ASSERT_TRUE(testsupport::waitFor([&] { return answered; }, 10000)) << row.choice;
        const QString pdf = path(QStringLiteral("%1.pdf").arg(QString::fromLatin1(row.choice)));
        app->commandPanels().preparePrinter = [&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        };
        app->print();
        QProcess reader;
        reader.start(pdfinfo, {pdf});
        ASSERT_TRUE(reader.waitForFinished(30000));
        // "Page size:       842 x 595 pts (A4)"
        const QString info = QString::fromUtf8(reader.readAllStandardOutput());
        const QRegularExpressionMatch size =
            QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(info);
        ASSERT_TRUE(size.hasMatch()) << qPrintable(info);
        EXPECT_EQ(size.captured(1).toDouble() > size.captured(2).toDouble(), row.wide)
            << row.choice << ": " << qPrintable(info);
    }
}

TEST_F(CommandsTest, SharingRunsXdgEmailWithTheNote)
{
    apptest::FakeXdgEmail mail(path("mail"));
    app->saveItem(item(A, "Subject line\nBody text"), true);
    app->selectNote(app->noteWithId(A));
    QMenu owner;
    const QList<QAction*> items = app->sharingMenuItemsForNote(app->selectedNote(), &owner);
    ASSERT_EQ(items.size(), 2);
    items[0]->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return mail.calls().endsWith("--\n"); }, 10000));
    EXPECT_EQ(mail.calls(), "--subject\nSubject line\n--body\nSubject line\nBody text\n--\n");

    mail.forget();
    items[1]->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return mail.calls().endsWith("--\n"); }, 10000));
    const QStringList lines = mail.calls().split('\n');
    ASSERT_EQ(lines.value(0), "--attach");
    QFile attachment(lines.value(1));
    ASSERT_TRUE(attachment.open(QIODevice::ReadOnly)) << qPrintable(lines.value(1));
    EXPECT_EQ(attachment.readAll(), "Subject line\nBody text");

    qputenv("FAIL_SHARE", "1");
    items[0]->trigger();
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return log.hasLineStartingWith("Sharing failed: exit status 3, broken"); }, 10000));
}

// One argument of 128 KiB or more cannot be passed to a program at all, and
// xdg-email percent-encodes the body into one address: such a note went
// nowhere, with a line in the log only.
TEST_F(CommandsTest, LongNoteIsEmailedAsAnAttachmentRatherThanFailingSilently)
{
    apptest::FakeXdgEmail mail(path("mail"));
    struct Row
    {
        const char* name;
        QString text;
        bool inBody;
    };
    const QString title = QStringLiteral("Long note");
    const Row rows[] = {
        {"short", title + QStringLiteral("\nshort body"), true},
        {"just under the bound", title + QLatin1Char('\n') + QString(90 * 1024, QLatin1Char('a')), true},
        {"128 KiB", title + QLatin1Char('\n') + QString(128 * 1024, QLatin1Char('a')), false},
        {"accents that encode to nine bytes", title + QLatin1Char('\n') + QString(20000, QChar(0xE9)), false},
    };
    for (const Row& row : rows) {
        app->saveItem(item(A, row.text), true);
        app->selectNote(app->noteWithId(A));
        mail.forget();
        app->share(QStringLiteral("email"));
        ASSERT_TRUE(testsupport::waitFor([&] { return mail.calls().endsWith("--\n"); }, 10000))
            << row.name << ": xdg-email was never run";
        const QStringList arguments = mail.calls().chopped(4).split('\n');
        ASSERT_GE(arguments.size(), 4) << row.name;
        EXPECT_EQ(arguments.mid(0, 2), QStringList({"--subject", title})) << row.name;
        if (row.inBody) {
            EXPECT_EQ(arguments.value(2), "--body") << row.name;
            EXPECT_EQ(arguments.mid(3).join('\n'), row.text) << row.name;
            continue;
        }
        ASSERT_EQ(arguments.size(), 4) << row.name;
        EXPECT_EQ(arguments.value(2), "--attach") << row.name;
        QFile attachment(arguments.value(3));
        ASSERT_TRUE(attachment.open(QIODevice::ReadOnly)) << row.name;
        EXPECT_EQ(QString::fromUtf8(attachment.readAll()), row.text) << row.name;
    }
    EXPECT_FALSE(log.hasLineStartingWith("Sharing failed"));
}

// The attachment was written into the data folder and never removed: a copy
// of every shared note stayed beside the store.
TEST_F(CommandsTest, EmailAttachmentIsACacheOfItsOwnClearedByTheNextRun)
{
    testsupport::TemporaryProfile profile;
    apptest::FakeXdgEmail mail(path("mail"));
    app->saveItem(item(A, "Attached\nnote"), true);
    app->selectNote(app->noteWithId(A));
    app->share(QStringLiteral("email-attachment"));
    ASSERT_TRUE(testsupport::waitFor([&] { return mail.calls().endsWith("--\n"); }, 10000));
    const QString attached = mail.calls().split('\n').value(1);
    const QString folder = QDir(profile.cacheHome()).filePath(QStringLiteral("Quillary/SharedItems"));
    EXPECT_TRUE(attached.startsWith(folder + QLatin1Char('/'))) << qPrintable(attached);
    EXPECT_TRUE(QFile::exists(attached));
    EXPECT_FALSE(QDir(profile.dataHome()).exists(QStringLiteral("Quillary/Library/Caches/SharedItems")));

    // The mail program may still read it while this run lasts; the next run
    // removes it, and what earlier versions left in the data folder.
    const QString legacy =
        QDir(profile.dataHome()).filePath(QStringLiteral("Quillary/Library/Caches/SharedItems"));
    QDir().mkpath(legacy + QStringLiteral("/share-old"));
    writeFile(legacy + QStringLiteral("/share-old/Old note.txt"), "old note");
    app.reset();
    start(environment());
    EXPECT_TRUE(QFile::exists(attached)) << "removed before this process became the running instance";
    app->connectShell(shell, {});
    EXPECT_FALSE(QFile::exists(attached));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(QFileInfo::exists(legacy));
}

// --- Menu items ---------------------------------------------------------------------

TEST_F(CommandsTest, MenuItemsAreCheckedWhenTheMenuOpensAndWhenTheirShortcutFires)
{
    QAction* open = app->window()->findChild<QAction*>("openAction");
    QMenu* file = nullptr;
    for (QAction* action : app->window()->menuBar()->actions()) {
        if (action->menu() && action->menu()->actions().contains(open))
            file = action->menu();
    }
    ASSERT_NE(file, nullptr);
    auto* exportAction = app->window()->findChild<QAction*>("exportMenuItem");
    auto* exportAll = app->window()->findChild<QAction*>("exportAllAction");
    auto* printAction = app->window()->findChild<QAction*>("printMenuItem");
    ASSERT_TRUE(exportAction && exportAll && printAction);
    const QList<QAction*> order = file->actions();
    EXPECT_LT(order.indexOf(open), order.indexOf(exportAction));
    EXPECT_LT(order.indexOf(exportAction), order.indexOf(printAction));

    emit file->aboutToShow();
    EXPECT_FALSE(exportAction->isEnabled());
    EXPECT_FALSE(exportAll->isEnabled());
    EXPECT_FALSE(printAction->isEnabled());
    // Closed again, the items take their shortcuts back: the commands check
    // for themselves.
    emit file->aboutToHide();
    EXPECT_TRUE(exportAction->isEnabled() && exportAll->isEnabled() && printAction->isEnabled());

    int panels = 0;
    app->commandPanels().chooseExportFolder = [&](const QString&) {
        ++panels;
        return std::optional<QuillaryAppDelegate::ExportChoice>();
    };
    app->commandPanels().preparePrinter = [&](QPrinter&) { return ++panels, false; };
    exportAction->trigger(); // as its shortcut would, with the menu never opened
    printAction->trigger();
    exportAll->trigger();
    EXPECT_EQ(panels, 0) << "a command without a note asked the user anyway";

    app->saveItem(item(A, "now there is one"), true);
    app->selectNote(app->noteWithId(A));
    emit file->aboutToShow();
    EXPECT_TRUE(exportAction->isEnabled());
    EXPECT_TRUE(exportAll->isEnabled());
    EXPECT_TRUE(printAction->isEnabled());
}
