// The editor: its text attributes, how a note's text is put into it, links,
// the disabled look, the search bar, and texts that are hard to handle.
#include "AppTestSupport.h"

#include "app/editor/LinkDetector.h"
#include "app/search/QVRSearchBar.h"
#include "app/search/QVRSearchField.h"
#include "app/window/NSColorAdditions.h"
#include "app/window/NoteWindow.h"
#include "platform/ui/UndoManager.h"
#include "store/QVRUtilities.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextLayout>

using apptest::AppTest;

namespace {

const QString A = QStringLiteral("AAAAAAAA-0000-0000-0000-00000000000A");
const QString B = QStringLiteral("AAAAAAAA-0000-0000-0000-00000000000B");

// Each link as "matched text -> url".
QStringList describe(const QString& text)
{
    QStringList found;
    for (const LinkDetector::Link& link : LinkDetector::linksInText(text))
        found << text.mid(link.start, link.length) + " -> " + link.url.toString();
    return found;
}

bool hasLoneSurrogate(const QString& s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s.at(i).isHighSurrogate()) {
            if (i + 1 >= s.size() || !s.at(i + 1).isLowSurrogate())
                return true;
            ++i;
        } else if (s.at(i).isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(LinkDetector, FindsWebAndMailAddressesWithoutTheSentenceAroundThem)
{
    struct Row
    {
        QString text;
        QStringList links;
    };
    const Row rows[] = {
        {"see https://example.com/a?b=1.", {"https://example.com/a?b=1 -> https://example.com/a?b=1"}},
        {"(www.example.org), then", {"www.example.org -> http://www.example.org"}},
        {"https://en.wikipedia.org/wiki/Foo_(bar) ok",
         {"https://en.wikipedia.org/wiki/Foo_(bar) -> https://en.wikipedia.org/wiki/Foo_(bar)"}},
        {"write to Ann.Lee+notes@example.co.uk!",
         {"Ann.Lee+notes@example.co.uk -> mailto:Ann.Lee+notes@example.co.uk"}},
        {"mailto:team@example.com", {"mailto:team@example.com -> mailto:team@example.com"}},
        {"two: http://a.example and HTTPS://b.example/x",
         {"http://a.example -> http://a.example", "HTTPS://b.example/x -> https://b.example/x"}},
        {"\U0001F600https://example.com/K\u00e4se\U0001F600 ok",
         {"https://example.com/K\u00e4se\U0001F600 -> https://example.com/K\u00e4se\U0001F600"}},
        {"\u05e9\u05dc\u05d5\u05dd https://example.com \u05e9\u05dc\u05d5\u05dd",
         {"https://example.com -> https://example.com"}},
        {"<https://example.com/x>\"", {"https://example.com/x -> https://example.com/x"}},
        // Nothing that could run code or read files leaves the program.
        {"javascript:alert(1)", {}},
        {"file:///etc/passwd", {}},
        {"ftp://files.example.com", {}},
        {"http:// alone", {}},
        {"user@localhost", {}},
        {"xhttp://example.com", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(describe(row.text), row.links) << row.text.toStdString();
}

TEST(LinkDetector, OnlyWebAndMailLinksMayLeaveTheProgram)
{
    const struct
    {
        const char* url;
        bool safe;
    } rows[] = {
        {"http://example.com", true},
        {"HTTPS://example.com/x", true},
        {"mailto:a@example.com", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"data:text/html,hi", false},
        {"http://", false},
        {"quillary://add?text=x", false},
        {"mailto:", false},
        {"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LinkDetector::isSafeLink(QUrl(row.url)), row.safe) << row.url;
}

// Runs of address characters used to be scanned again from each of their
// positions, which never ends on a megabyte of them.
TEST(LinkDetector, MegabyteRunsOfAddressCharactersAreReadInOnePass)
{
    const struct
    {
        QString text;
        int links;
    } rows[] = {
        {QString("a%").repeated(500000), 0},    {QString("a+").repeated(500000) + "@example.com", 1},
        {QString("(www.").repeated(200000), 0}, {"http://example.com/" + QString(")").repeated(1000000), 1},
        {QString("x@y-").repeated(250000), 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LinkDetector::linksInText(row.text).size(), row.links) << row.text.left(12).toStdString();
}

class EditorTest : public AppTest
{
protected:
    void open(const QString& uuid, const QString& text)
    {
        app->saveItem({{"uuid", uuid}, {"text", text}}, false);
        app->selectNote(app->noteWithId(uuid));
        app->activateDetailAndFocus(false, false);
    }

    QVRLinkTextView* editor() const { return app->window()->textView(); }

    // The middle of the character at `position`, in viewport coordinates.
    QPoint pointOnCharacter(int position) const
    {
        const QRect left = editor()->cursorRect(cursorAt(position));
        const QRect right = editor()->cursorRect(cursorAt(position + 1));
        return QPoint((left.x() + right.x()) / 2, left.center().y());
    }

    QTextCursor cursorAt(int position) const
    {
        QTextCursor cursor(editor()->document());
        cursor.setPosition(position);
        return cursor;
    }

    void click(const QPoint& at)
    {
        QTest::mouseClick(editor()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
};

TEST_F(EditorTest, TabsAndLineHeightFollowTheTextSize)
{
    const struct
    {
        int size;
        qreal tab;
    } rows[] = {{12, 40}, {10, 34}, {20, 64}, {6, 22}};
    open(A, "one\ttwo\nthree");
    for (const auto& row : rows) {
        app->userDefaultsDidChange("Text Size", row.size);
        EXPECT_EQ(editor()->tabStopDistance(), row.tab) << row.size;
        for (QTextBlock block = editor()->document()->begin(); block.isValid(); block = block.next()) {
            EXPECT_EQ(block.blockFormat().lineHeightType(), int(QTextBlockFormat::ProportionalHeight));
            EXPECT_EQ(block.blockFormat().lineHeight(), 115);
        }
        EXPECT_EQ(editor()->currentCharFormat().font().pixelSize(), row.size);
        // The view stacks the lines that far apart.
        const QTextBlock first = editor()->document()->begin();
        const qreal height = editor()->document()->documentLayout()->blockBoundingRect(first).height();
        EXPECT_NEAR(height, first.layout()->lineAt(0).height() * 1.15, 0.5) << row.size;
        EXPECT_EQ(editor()->toPlainText(), "one\ttwo\nthree");
        EXPECT_FALSE(app->noteNeedsSaving());
    }
}

TEST_F(EditorTest, RightToLeftTextIsAlignedRight)
{
    const struct
    {
        QString text;
        bool right;
    } rows[] = {
        {"\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645", true},
        {"\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd", true},
        {"Hello world", false},
        {"Meeting with \u05e9\u05dc\u05d5\u05dd tomorrow", false},
        {"\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd and ok", true},
        {"12345 -- 678", false},
        {"\U0001F600\U0001F600", false},
    };
    for (const auto& row : rows) {
        open(A, row.text);
        const Qt::Alignment expected = (row.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute;
        EXPECT_EQ(editor()->document()->begin().blockFormat().alignment(), expected)
            << row.text.toStdString();
    }
}

TEST_F(EditorTest, ReloadingTheSameNoteKeepsTheInsertionPointAnotherNoteDoesNot)
{
    app->saveItem({{"uuid", B}, {"text", "other note"}, {"date", 100.0}}, false);
    open(A, "0123456789");
    editor()->setTextCursor(cursorAt(7));
    // The same note, changed by sync: the caret stays.
    app->saveItem({{"uuid", A}, {"text", "0123456789 and more"}}, false);
    EXPECT_EQ(editor()->toPlainText(), "0123456789 and more");
    EXPECT_EQ(editor()->textCursor().position(), 7);
    // Shorter than the remembered place: the caret is not put past the end.
    app->saveItem({{"uuid", A}, {"text", "012"}}, false);
    EXPECT_LE(editor()->textCursor().position(), 3);
    editor()->setTextCursor(cursorAt(2));
    app->selectNote(app->noteWithId(B));
    app->updateDetailView();
    EXPECT_EQ(editor()->textCursor().position(), 0);
    EXPECT_FALSE(app->noteNeedsSaving());
}

// Links are drawn by formats of the layout; the note is not edited for them.
TEST_F(EditorTest, LinksAreDrawnWithoutEditingTheNote)
{
    open(A, "plan at https://example.com/plan today");
    QCoreApplication::processEvents();
    EXPECT_FALSE(app->noteNeedsSaving());
    EXPECT_FALSE(editor()->document()->isUndoAvailable());
    EXPECT_EQ(editor()->toPlainText(), "plan at https://example.com/plan today");
    const QList<QTextLayout::FormatRange> formats = editor()->document()->begin().layout()->formats();
    ASSERT_EQ(formats.size(), 1);
    EXPECT_EQ(formats[0].start, 8);
    EXPECT_EQ(formats[0].length, 24);
    EXPECT_EQ(formats[0].format.foreground().color(), NSColorAdditions::linkedNoteTextColor());

    // Typed links are found as they are typed, as one edit to undo.
    QTextCursor end = cursorAt(editor()->document()->characterCount() - 1);
    editor()->setTextCursor(end);
    typeInEditor(" and www.example.org");
    EXPECT_EQ(editor()->linksOfBlock(editor()->document()->begin()).size(), 2);
    editor()->undo();
    EXPECT_EQ(editor()->toPlainText(), "plan at https://example.com/plan today");

    // With link detection switched off in the settings nothing is drawn.
    app.reset();
    defaults->set("Text Checking Types", 7034 & ~0x20);
    start(environment());
    open(A, "plan at https://example.com/plan today");
    EXPECT_TRUE(editor()->linksOfBlock(editor()->document()->begin()).isEmpty());
    EXPECT_TRUE(editor()->document()->begin().layout()->formats().isEmpty());
}

// A click opens only the link whose characters are under the pointer: the
// nearest caret position alone used to open links from the empty space
// after a line's end.
TEST_F(EditorTest, ClickOpensOnlyTheLinkUnderThePointer)
{
    app->window()->show();
    QList<QUrl> opened;
    editor()->setLinkOpener([&](const QUrl& url) { opened << url; });
    open(A, "go https://example.com/a\nmail ann@example.com\njavascript:alert(1) file:///etc/passwd");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window()));

    click(pointOnCharacter(10));
    click(pointOnCharacter(30));
    EXPECT_EQ(opened, QList<QUrl>({QUrl("https://example.com/a"), QUrl("mailto:ann@example.com")}));
    opened.clear();

    const struct
    {
        const char* name;
        QPoint at;
    } misses[] = {
        {"after the end of a link's line", pointOnCharacter(23) + QPoint(60, 0)},
        {"on plain text", pointOnCharacter(1)},
        {"on a script address", pointOnCharacter(50)},
        {"on a file address", pointOnCharacter(68)},
    };
    for (const auto& miss : misses) {
        click(miss.at);
        EXPECT_TRUE(opened.isEmpty()) << miss.name;
        EXPECT_TRUE(editor()->urlForEvent(miss.at).isEmpty()) << miss.name;
    }

    // A drag that selects text and ends on a link does not open it.
    QTest::mousePress(editor()->viewport(), Qt::LeftButton, Qt::NoModifier, pointOnCharacter(10));
    QTest::mouseMove(editor()->viewport(), pointOnCharacter(20));
    QTest::mouseRelease(editor()->viewport(), Qt::LeftButton, Qt::NoModifier, pointOnCharacter(20));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(editor()->textCursor().hasSelection());

    // Assistive technology is told where characters are, in later
    // paragraphs as in the first.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(editor());
    ASSERT_TRUE(accessible && accessible->textInterface());
    for (int offset : {10, 30, 50}) {
        const QRect extents = accessible->textInterface()->characterRect(offset);
        EXPECT_TRUE(extents.contains(editor()->viewport()->mapToGlobal(pointOnCharacter(offset)))) << offset;
        EXPECT_EQ(accessible->textInterface()->offsetAtPoint(extents.center()), offset) << offset;
    }

    // The pointer is a hand over a link only.
    QTest::mouseMove(editor()->viewport(), pointOnCharacter(12));
    EXPECT_EQ(editor()->viewport()->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(editor()->viewport(), pointOnCharacter(1));
    EXPECT_EQ(editor()->viewport()->cursor().shape(), Qt::IBeamCursor);
}

TEST_F(EditorTest, DisabledInterfaceGreysTheTextWithoutEditingIt)
{
    open(A, "kept as it is https://example.com");
    app->disableInterface();
    EXPECT_TRUE(editor()->isReadOnly());
    EXPECT_FALSE(app->searchField()->isEnabled());
    EXPECT_FALSE(app->noteNeedsSaving());
    EXPECT_FALSE(editor()->document()->isUndoAvailable());
    EXPECT_EQ(editor()->toPlainText(), "kept as it is https://example.com");
    QTextCursor last = cursorAt(editor()->document()->characterCount() - 1);
    EXPECT_EQ(last.charFormat().foreground().color(), NSColorAdditions::archivedNoteTextColor());
}

TEST_F(EditorTest, SearchBarSlidesInFocusedAndOutEmptied)
{
    app->saveItem(item(A, "alpha"), false);
    app->saveItem(item(B, "beta"), false);
    QVRSearchBar* bar = app->window()->searchView();
    app->window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window()));
    app->window()->activateWindow();

    bar->setAnimationDuration(120);
    app->toggleSearch();
    EXPECT_TRUE(app->searchShowing());
    EXPECT_TRUE(app->animatingSearch());
    // Keys typed while it slides go to the search, not into the note.
    EXPECT_TRUE(app->searchField()->hasFocus());
    QTRY_VERIFY(!app->animatingSearch());
    EXPECT_EQ(bar->revealedHeight(), QVRSearchBar::BarHeight);
    EXPECT_EQ(bar->fieldOpacity(), 1.0);
    EXPECT_TRUE(app->searchField()->hasFocus());

    // The clear button empties the field and the list comes back whole.
    app->searchField()->setText("alpha");
    app->updateSearch();
    ASSERT_EQ(rows(), QStringList({"alpha"}));
    QTest::mouseClick(app->searchField(), Qt::LeftButton, Qt::NoModifier,
                      app->searchField()->clearButtonRect().center());
    EXPECT_TRUE(app->searchField()->text().isEmpty());
    EXPECT_EQ(rows().size(), 2);

    // Hidden while sliding in: it ends hidden.
    app->hideSearch();
    QTRY_VERIFY(!app->animatingSearch());
    app->toggleSearch();
    app->hideSearch();
    QTRY_VERIFY(!app->animatingSearch());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(bar->revealedHeight(), 0);
    EXPECT_FALSE(app->searchShowing());
}

TEST_F(EditorTest, DownMovesToTheListAndReturnOpensTheMatch)
{
    app->saveItem({{"uuid", A}, {"text", "alpha"}, {"date", 100.0}}, false);
    app->saveItem({{"uuid", B}, {"text", "beta"}, {"date", 200.0}}, false);
    app->window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window()));
    app->window()->activateWindow();
    app->toggleSearch();
    QTest::keyClicks(app->searchField(), "alp");
    EXPECT_EQ(rows(), QStringList({"alpha"}));
    QTest::keyClick(app->searchField(), Qt::Key_Down);
    EXPECT_TRUE(app->tableView()->hasFocus());
    app->searchField()->setFocus();
    QTest::keyClick(app->searchField(), Qt::Key_Return);
    EXPECT_EQ(editor()->toPlainText(), "alpha");
    EXPECT_TRUE(editor()->hasFocus());
}

// Texts at the edges of what a note may hold go in and out unchanged, and
// the title (the first line) never ends in half a character.
TEST_F(EditorTest, HardTextsLoadShowAndStoreUnchanged)
{
    QString tenMegabytes;
    const QString line = QString("Lorem ipsum dolor sit amet \u00e9\u0301 \U0001F469\u200D\U0001F469\u200D"
                                 "\U0001F467 https://example.com/x \u05e9\u05dc\u05d5\u05dd\n");
    while (tenMegabytes.size() * 2 < 10 * 1024 * 1024)
        tenMegabytes += line;
    const struct
    {
        const char* name;
        QString text;
        QString title;
    } rows[] = {
        {"one long line", QString("x\U0001F600").repeated(300000), QString("x\U0001F600").repeated(300000)},
        {"NUL characters", QString::fromUtf16(u"a\0b\0\nc", 6), QString::fromUtf16(u"a\0b\0", 4)},
        {"emoji at the line end", "\U0001F600\U0001F600\n\U0001F601", "\U0001F600\U0001F600"},
        {"combining marks", "e\u0301\u0302\u0303 stacked\nnext", "e\u0301\u0302\u0303 stacked"},
        {"mixed scripts", "\u05e9\u05dc\u05d5\u05dd 123 abc \u0627\u0644\u0633\u0644\u0627\u0645\nx",
         "\u05e9\u05dc\u05d5\u05dd 123 abc \u0627\u0644\u0633\u0644\u0627\u0645"},
        {"line separator", "first\u2028second", "first"},
        {"no-break spaces", "10\u00a0km\tby\u00a0car", "10\u00a0km\tby\u00a0car"},
        {"replacement characters", "caf\uFFFD \uFFFD", "caf\uFFFD \uFFFD"},
        {"CR LF line endings", "one\r\ntwo\r\n\r\nthree", "one"},
        {"line endings of every kind", "a\r\nb\rc\nd\u2029e\ufdd0f\r\n", "a"},
        {"ten megabytes", tenMegabytes, line.trimmed()},
    };
    auto uuid = [](int i) { return QString("BBBBBBBB-0000-0000-0000-%1").arg(i, 12, 10, QChar('0')); };
    for (int i = 0; i < int(std::size(rows)); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.name);
        open(uuid(i), row.text);
        Note* note = app->noteWithId(uuid(i));
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->title(), row.title);
        EXPECT_FALSE(hasLoneSurrogate(app->listModel()->index(0).data().toString()));
        // Typing one character and taking it back stores the text as it was.
        QTextCursor end = cursorAt(editor()->document()->characterCount() - 1);
        editor()->setTextCursor(end);
        typeInEditor("!");
        editor()->textCursor().deletePreviousChar();
        app->saveCurrentNote();
        EXPECT_FALSE(app->noteNeedsSaving());
        EXPECT_TRUE(note->text() == row.text);
    }
    // Switching the links off for the disabled look used to highlight the
    // whole note again, laying it out once per paragraph: with the long note
    // open, quitting never ended.
    const QString& longest = rows[std::size(rows) - 1].text;
    ASSERT_TRUE(app->editorText() == longest);
    EXPECT_TRUE(app->applicationShouldTerminate());
    EXPECT_TRUE(app->editorText() == longest);

    // And every text reads back the same from the file.
    app.reset();
    root.reset();
    root = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Quillary.sqlite")));
    defaults->remove("selected");
    start(environment());
    for (int i = 0; i < int(std::size(rows)); ++i) {
        Note* note = app->noteWithId(uuid(i));
        ASSERT_NE(note, nullptr) << rows[i].name;
        EXPECT_TRUE(note->text() == rows[i].text) << rows[i].name;
    }
}

// The note's look is given to the text as it goes in: a paragraph typed
// afterwards takes the note font, colour, line height and alignment, on the
// left for a left-to-right note and on the right for a right-to-left one.
TEST_F(EditorTest, TypedParagraphsTakeTheNoteFormats)
{
    const struct
    {
        QString text;
        QString typed;
        Qt::Alignment alignment;
    } rows[] = {
        {"first line", "\nsecond line", Qt::AlignLeft | Qt::AlignAbsolute},
        {"\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd", "\n\u05e2\u05d5\u05dc\u05dd",
         Qt::AlignRight | Qt::AlignAbsolute},
    };
    app->userDefaultsDidChange("Text Size", 14);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        open(A, row.text);
        EXPECT_FALSE(editor()->document()->isUndoAvailable());
        EXPECT_FALSE(app->noteNeedsSaving());
        editor()->setTextCursor(cursorAt(editor()->document()->characterCount() - 1));
        typeInEditor(row.typed);
        EXPECT_EQ(editor()->toPlainText(), row.text + row.typed);
        EXPECT_EQ(editor()->document()->blockCount(), 2);
        for (QTextBlock block = editor()->document()->begin(); block.isValid(); block = block.next()) {
            EXPECT_EQ(block.blockFormat().alignment(), row.alignment);
            EXPECT_EQ(block.blockFormat().lineHeightType(), int(QTextBlockFormat::ProportionalHeight));
            EXPECT_EQ(block.blockFormat().lineHeight(), 115);
        }
        const QTextCharFormat typed = cursorAt(editor()->document()->characterCount() - 1).charFormat();
        EXPECT_EQ(typed.font().pixelSize(), 14);
        EXPECT_EQ(typed.font().family(), NoteWindow::noteFont(14).family());
        EXPECT_EQ(typed.foreground().color(), NSColorAdditions::darkerNoteTextColor());
        EXPECT_EQ(editor()->document()->defaultFont().pixelSize(), 14);
        EXPECT_TRUE(app->noteNeedsSaving());
        app->saveCurrentNote();
    }
}

// The list shows a bounded prefix of a first line of any length; the row
// elides it to its width.
TEST_F(EditorTest, TheTitleOfATenMegabyteLineIsABoundedPrefix)
{
    // Six units a repeat, the pair at the third: the cut falls inside a pair.
    const QString line = QString("  ") + QString("abc\U0001F600d").repeated(10 * 1024 * 1024 / 12);
    app->saveItem({{"uuid", A}, {"text", line}}, false);
    const QModelIndex row = app->listModel()->index(app->listModel()->rowOfNote(app->noteWithId(A)));
    for (int role : {int(Qt::DisplayRole), int(Qt::AccessibleTextRole)}) {
        const QString title = row.data(role).toString();
        EXPECT_EQ(title.size(), NoteListModel::TitlePrefixLength - 1);
        EXPECT_TRUE(line.trimmed().startsWith(title));
    }
    EXPECT_EQ(app->noteWithId(A)->title(), line.trimmed());
}

// A long paragraph is held in pieces and many lines in groups of lines; at
// every place where the view joins or splits the text, typing, deleting,
// new lines, pasting and copying act on the note's text as if it were whole,
// and undo gives back the text exactly.
TEST_F(EditorTest, LongParagraphsAndManyLinesKeepTheTextAtEveryJoin)
{
    QString base64;
    for (int i = 0; i < 20000; ++i)
        base64 += QLatin1Char(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 7 + i / 64) % 64]);
    QString manyLines;
    for (int i = 0; i < 9000; ++i) {
        manyLines += QString("line %1\tcaf\u00e9").arg(i);
        const char16_t* endings[] = {u"\r\n", u"\r", u"\u2028", u"\u2029", u"\ufdd0"};
        manyLines += i % 1000 == 999 ? QString::fromUtf16(endings[(i / 1000) % 5]) : QString("\n");
        if (i == 4500)
            manyLines += base64 + "\n";
    }
    const struct
    {
        const char* name;
        QString text;
        QString lineEnding;
    } rows[] = {
        {"one long line", base64, "\n"},
        {"a long line of words and emoji", QString("one two three \U0001F600 ").repeated(1200), "\n"},
        {"a long line in a CR LF note", "first\r\n" + base64 + "\r\nlast\r\n", "\r\n"},
        {"many lines ending in every way", manyLines, "\n"},
        {"many CR LF lines", QString("row\tcaf\u00e9\r\n").repeated(9000), "\r\n"},
    };
    QVRLinkTextView* view = editor();
    const auto offset = [&](int position) { return int(view->exactText(0, position).size()); };
    const QString pasted = QString("p\r\nq\tr\u2028s\u00e9\U0001F600\n");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        open(A, row.text);
        ASSERT_TRUE(app->editorText() == row.text);
        ASSERT_GT(view->document()->blockCount(), 3);
        // The first joins, those that carry a separator of their own, the last.
        QList<int> joins = {1, 2, 3};
        for (QTextBlock block = view->document()->begin(); block.isValid() && joins.size() < 10;
             block = block.next()) {
            if (block.blockFormat().hasProperty(QVRLinkTextView::SeparatorProperty) &&
                block.blockNumber() > 3)
                joins << block.blockNumber();
        }
        joins << view->document()->blockCount() - 1;

        const auto caret = [&](int position) {
            QTextCursor cursor = cursorAt(position);
            view->setTextCursor(cursor);
        };
        // One key at the caret: the text changes by what `edit` says, there.
        const auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers, const char* what) {
            const QString before = app->editorText();
            const int at = offset(view->textCursor().position());
            // Each key is a step of its own: the document merges an edit only
            // into the last step of a modified text.
            view->document()->setModified(false);
            QTest::keyClick(view, k, modifiers);
            const QString after = app->editorText();
            const qsizetype change = after.size() - before.size();
            if (k == Qt::Key_Backspace) {
                EXPECT_TRUE(change < 0 && after == before.left(at + change) + before.mid(at)) << what;
            } else if (k == Qt::Key_Delete) {
                EXPECT_TRUE(change < 0 && after == before.left(at) + before.mid(at - change)) << what;
            } else {
                const QString typed =
                    k == Qt::Key_Return ? (modifiers ? QString("\u2028") : row.lineEnding) : QString("x");
                EXPECT_TRUE(after == before.left(at) + typed + before.mid(at)) << what;
            }
            const int caretAfter = view->textCursor().position();
            view->undo();
            EXPECT_TRUE(app->editorText() == before) << what << " undone";
            view->redo();
            EXPECT_TRUE(app->editorText() == after) << what << " redone";
            caret(caretAfter);
        };
        for (int join : joins) {
            // Cuts and pastes change the number of blocks as the test goes.
            const int number = std::min(join, view->document()->blockCount() - 1);
            const int start = view->document()->findBlockByNumber(number).position();
            caret(start);
            key(Qt::Key_X, Qt::NoModifier, "typed at a block's start");
            caret(start);
            key(Qt::Key_Backspace, Qt::NoModifier, "backspace at a block's start");
            key(Qt::Key_Delete, Qt::NoModifier, "delete there");
            caret(view->document()->findBlockByNumber(number).position());
            key(Qt::Key_Delete, Qt::NoModifier, "delete at a block's start");
            caret(view->document()->findBlockByNumber(number).position() - 1);
            key(Qt::Key_Delete, Qt::NoModifier, "delete at the end of the block before");
            key(Qt::Key_Return, Qt::NoModifier, "a new line");
            key(Qt::Key_Return, Qt::ShiftModifier, "a line separator");
            caret(view->document()->findBlockByNumber(number).position());
            key(Qt::Key_Backspace, Qt::ShiftModifier, "shift and backspace at a block's start");
            caret(view->document()->findBlockByNumber(number).position() - 1);
            key(Qt::Key_Delete, Qt::KeypadModifier, "the keypad's delete at the end of the block before");

            // Pasted at the start of a block, and copied across its join.
            const int at = view->document()->findBlockByNumber(number).position();
            const QString before = app->editorText();
            caret(at);
            QApplication::clipboard()->setText(pasted);
            view->paste();
            const int o = offset(at);
            EXPECT_TRUE(app->editorText() == before.left(o) + pasted + before.mid(o)) << "pasted";
            QTextCursor selection = cursorAt(std::max(at - 5, 0));
            selection.setPosition(at + 5, QTextCursor::KeepAnchor);
            view->setTextCursor(selection);
            view->copy();
            const int from = offset(selection.selectionStart());
            EXPECT_TRUE(QApplication::clipboard()->text() ==
                        app->editorText().mid(from, offset(selection.selectionEnd()) - from))
                << "copied";

            // Cut from a block's start over its separator into the next block.
            const QTextBlock cutFrom = view->document()->findBlockByNumber(number);
            QTextCursor range = cursorAt(cutFrom.position());
            range.setPosition(std::min(cutFrom.next().position() + 1, view->document()->characterCount() - 1),
                              QTextCursor::KeepAnchor);
            view->setTextCursor(range);
            const QString uncut = app->editorText();
            const int a = offset(range.selectionStart());
            const int b = offset(range.selectionEnd());
            QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
            EXPECT_TRUE(app->editorText() == uncut.left(a) + uncut.mid(b)) << "cut";
            EXPECT_TRUE(QApplication::clipboard()->text() == uncut.mid(a, b - a)) << "cut";

            // Whatever replaces a range from a block's start over its
            // separator: one step undoes it and one redoes it.
            const int spanned = std::min(number, view->document()->blockCount() - 2);
            const auto replaced = [&](const char* what, const QString& by,
                                      const std::function<void()>& edit) {
                const QTextBlock block = view->document()->findBlockByNumber(spanned);
                QTextCursor over = cursorAt(block.position());
                over.setPosition(
                    std::min(block.next().position() + 2, view->document()->characterCount() - 1),
                    QTextCursor::KeepAnchor);
                view->setTextCursor(over);
                const QString before = app->editorText();
                const int from = offset(over.selectionStart());
                const int to = offset(over.selectionEnd());
                edit();
                const QString after = before.left(from) + by + before.mid(to);
                EXPECT_TRUE(app->editorText() == after) << what;
                view->undo();
                EXPECT_TRUE(app->editorText() == before) << what << " undone";
                view->redo();
                EXPECT_TRUE(app->editorText() == after) << what << " redone";
                view->undo();
            };
            replaced("typed over", "y", [&] { QTest::keyClick(view, Qt::Key_Y); });
            replaced("a tab typed over", "\t", [&] { QTest::keyClick(view, Qt::Key_Tab); });
            replaced("composed over", "\u00e9\u00e8", [&] {
                QInputMethodEvent composed;
                composed.setCommitString("\u00e9\u00e8");
                QApplication::sendEvent(view, &composed);
            });
            replaced("composed with a line ending", "a\nb\r\nc", [&] {
                QInputMethodEvent composed;
                composed.setCommitString("a\nb\r\nc");
                QApplication::sendEvent(view, &composed);
            });
            replaced("word deleted over", "",
                     [&] { QTest::keyClick(view, Qt::Key_Backspace, Qt::ControlModifier); });

            // Moved, as a drag within the view moves it, to the end of the
            // text and to the start of the block before.
            for (bool toEnd : {true, false}) {
                const QTextBlock block = view->document()->findBlockByNumber(spanned);
                QTextCursor dragged = cursorAt(block.position());
                dragged.setPosition(
                    std::min(block.next().position() + 2, view->document()->characterCount() - 1),
                    QTextCursor::KeepAnchor);
                view->setTextCursor(dragged);
                const QString before = app->editorText();
                const int from = offset(dragged.selectionStart());
                const int to = offset(dragged.selectionEnd());
                const int target =
                    toEnd ? view->document()->characterCount() - 1 : block.previous().position();
                const int t = offset(target);
                view->moveSelection(target);
                const QString moved = before.mid(from, to - from);
                const QString rest = before.left(from) + before.mid(to);
                const int into = t > from ? t - (to - from) : t;
                EXPECT_TRUE(app->editorText() == rest.left(into) + moved + rest.mid(into)) << "moved";
                view->undo();
                EXPECT_TRUE(app->editorText() == before) << "move undone";
            }
            // A word deleted backwards or forwards next to the block's start
            // is a run of the text next to the caret: one line ending, or
            // a part of one line that starts or ends at a word's edge.
            // A line separator is a space to words unless it ends a line of
            // a group.
            QStringList endings = {"\r\n", "\n", "\r", "\u2029", "\ufdd0"};
            if (view->groupsLines())
                endings << "\u2028";
            const auto isEnding = [&](QStringView s) {
                return std::any_of(endings.begin(), endings.end(), [&](const QString& e) { return s == e; });
            };
            const auto inWord = [](const QString& s, qsizetype at) {
                return at > 0 && at < s.size() && s[at - 1].isLetterOrNumber() && s[at].isLetterOrNumber();
            };
            // The rest of the line deleted from a block's start.
            if (!QKeySequence::keyBindings(QKeySequence::DeleteEndOfLine).isEmpty()) {
                const int position = view->document()->findBlockByNumber(number).position();
                caret(position);
                const QString before = app->editorText();
                const int at = offset(position);
                qsizetype end = before.size();
                for (const QString& e : endings) {
                    const qsizetype found = before.indexOf(e, at);
                    if (found >= 0)
                        end = std::min(end, found);
                }
                QTest::keySequence(view, QKeySequence::keyBindings(QKeySequence::DeleteEndOfLine).first());
                EXPECT_TRUE(app->editorText() == before.left(at) + before.mid(end)) << "rest of the line";
                view->undo();
                EXPECT_TRUE(app->editorText() == before) << "rest of the line undone";
            }
            // Next to the block's start, and where lines are grouped, next
            // to a line ending inside the block.
            const QTextBlock wordBlock = view->document()->findBlockByNumber(number);
            QList<int> shifts = {-1, 0, 1};
            if (const qsizetype line = wordBlock.text().indexOf(QChar::LineSeparator); line > 0)
                shifts << int(line) << int(line) + 1;
            for (int shift : shifts) {
                for (bool forward : {false, true}) {
                    const int position = view->document()->findBlockByNumber(number).position() + shift;
                    if (position < 0 || position >= view->document()->characterCount() - 1)
                        continue;
                    caret(position);
                    const QString before = app->editorText();
                    const int at = offset(position);
                    QTest::keyClick(view, forward ? Qt::Key_Delete : Qt::Key_Backspace, Qt::ControlModifier);
                    const QString after = app->editorText();
                    const qsizetype gone = before.size() - after.size();
                    const qsizetype from = forward ? at : at - gone;
                    const QString word = before.mid(from, gone);
                    SCOPED_TRACE(testing::Message()
                                 << "word " << (forward ? "forward" : "back") << " at " << shift);
                    ASSERT_GT(gone, 0);
                    EXPECT_TRUE(after == before.left(from) + before.mid(from + gone));
                    const bool ending = isEnding(word);
                    EXPECT_TRUE(ending || !std::any_of(endings.begin(), endings.end(),
                                                       [&](const QString& e) { return word.contains(e); }));
                    EXPECT_TRUE(ending || !inWord(before, forward ? from + gone : from));
                    view->undo();
                    EXPECT_TRUE(app->editorText() == before) << "undone";
                }
            }
        }
        // The whole text deleted or typed over, then given back.
        const QString whole = app->editorText();
        for (Qt::Key k : {Qt::Key_Delete, Qt::Key_Z}) {
            view->selectAll();
            QTest::keyClick(view, k);
            EXPECT_TRUE(app->editorText() == (k == Qt::Key_Z ? "z" : ""));
            view->document()->setModified(false);
            QTest::keyClick(view, Qt::Key_A);
            view->undo();
            view->undo();
            EXPECT_TRUE(app->editorText() == whole) << "all given back";
        }
        while (view->document()->isUndoAvailable())
            view->undo();
        EXPECT_TRUE(app->editorText() == row.text) << "undone";
        app->saveCurrentNote();
    }
}
