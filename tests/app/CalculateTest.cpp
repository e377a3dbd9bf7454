// Calculate: reading the selection with each locale's separators, writing
// the value back, and the command in the editor with its undo step.
#include "AppTestSupport.h"

#include "app/commands/MenuValidator.h"
#include "platform/ui/UndoManager.h"

#include <QAction>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>

using apptest::AppTest;

namespace {

// Undoes a default locale set by a test.
struct DefaultLocale
{
    explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(QLocale::c()); }
};

QString calculated(const QString& selection, const QLocale& locale)
{
    const std::optional<ZQNumber> number = QuillaryAppDelegate::calculateString(selection, locale);
    return number ? QuillaryAppDelegate::formattedCalculation(*number, locale) : QStringLiteral("<none>");
}

} // namespace

TEST(Calculate, ReadsAndWritesNumbersTheWayEachLocaleWritesThem)
{
    struct Row
    {
        const char* locale;
        const char* selection;
        const char* result;
    };
    const Row rows[] = {
        // Comma grouping, full-stop decimals.
        {"en_US", "1,234.5 + 1", "1235.5"},
        {"en_US", "1,234,567 * 1", "1234567"},
        {"en_US", "max(1,2)", "2"},
        {"en_US", "average(1,2,3)", "2"},
        {"en_US", "max(1, 2) + 1,000", "1002"},
        {"en_US", "1,2345", "<none>"}, // not grouping, and not an operator
        {"en_US", "1/3", "0.3333333333"},
        {"en_US", "2/3", "0.6666666667"},
        {"en_US", "2 * 3", "6"},
        {"en_US", "0.1 + 0.2", "0.3"},
        {"en_US", "-2 * 3", "-6"},
        {"en_US", "3 - 5.5", "-2.5"},
        {"en_US", "10!", "3628800"},
        // max() answers the calculator's decimal type, which rounds half to even.
        {"en_US", "max(0.00000000015, 0)", "0.0000000002"},
        {"en_US", "max(0.00000000025, 0)", "0.0000000002"},
        {"en_US", "max(-0.00000000001, -1)", "0"},
        // No number, or none that could be written back.
        {"en_US", "", "<none>"},
        {"en_US", "hello", "<none>"},
        {"en_US", "1/0", "<none>"},
        {"en_US", "0/0", "<none>"},
        {"en_US", "sqrt(-1)", "<none>"},
        {"en_US", "1e400", "<none>"},
        // Full-stop grouping, comma decimals.
        {"de_DE", "0,5 + 0,25", "0,75"},
        {"de_DE", "1.000 * 2", "2000"},
        {"de_DE", "1.234.567,5 * 2", "2469135"},
        {"de_DE", "max(1,2)", "2"},
        {"de_DE", "(1,5 + 1) * 2", "5"},
        {"de_DE", "-1,5 * 2", "-3"},
        {"de_DE", "1/3", "0,3333333333"},
        // No-break-space grouping, typed as a plain space.
        {"ru_RU", "1 234,5 + 1", "1235,5"},
        {"ru_RU", "1\u00A0234,5 + 1", "1235,5"},
        {"ru_RU", "2 + 3", "5"},
        {"ru_RU", "max(1,2)", "2"},
        {"ru_RU", "-7/2", "-3,5"},
        // Narrow no-break-space grouping.
        {"fr_FR", "1 234,5 + 1", "1235,5"},
        {"fr_FR", "1\u202F234,5 + 1", "1235,5"},
        {"fr_FR", "0,1 + 0,2", "0,3"},
        {"fr_FR", "max(1,2)", "2"},
        {"fr_FR", "1/3", "0,3333333333"},
    };
    for (const Row& row : rows) {
        const QLocale locale(QString::fromLatin1(row.locale));
        EXPECT_EQ(calculated(QString::fromUtf8(row.selection), locale), QString::fromUtf8(row.result))
            << row.locale << ": " << row.selection;
    }
}

TEST(Calculate, LongSelectionsAreNeverEvaluated)
{
    const QLocale english(QStringLiteral("en_US"));
    QString sum = QStringLiteral("1") + QStringLiteral("+1").repeated(499); // 999 characters
    EXPECT_EQ(calculated(sum, english), "500");
    sum += QStringLiteral("+1"); // 1001
    EXPECT_EQ(calculated(sum, english), "<none>");
}

TEST_F(AppTest, CalculateReplacesTheSelectionAndOneUndoGivesTheExpressionBack)
{
    DefaultLocale locale{QLocale(QStringLiteral("en_US"))};
    app->textView()->setFocus();
    QTest::keyClicks(app->textView(), QStringLiteral("Total 12*(3+4)"));
    QTextCursor cursor = app->textView()->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, 8);
    app->textView()->setTextCursor(cursor);

    ASSERT_TRUE(app->selectionLooksLikeMath());
    app->calculateSelection();
    EXPECT_EQ(app->textView()->toPlainText(), "Total 84");
    EXPECT_TRUE(app->noteNeedsSaving());
    EXPECT_EQ(app->undoManager()->undoMenuItemTitle(), "Undo Typing");

    app->undoManager()->undo();
    EXPECT_EQ(app->textView()->toPlainText(), "Total 12*(3+4)");
    app->undoManager()->redo();
    EXPECT_EQ(app->textView()->toPlainText(), "Total 84");
}

TEST_F(AppTest, CalculateKeyWorksInTheEditorWithTheLocaleSeparators)
{
    DefaultLocale locale{QLocale(QStringLiteral("de_DE"))};
    app->window()->show();
    app->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->window()));
    typeInEditor(QStringLiteral("0,5 + 0,25"));
    app->textView()->selectAll();
    QTest::keyClick(app->textView(), Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(app->textView()->toPlainText(), "0,75");
}

TEST_F(AppTest, AMillionCharacterSelectionOpensTheEditMenuWithCalculateDisabled)
{
    // A million characters of sums: evaluating them would take the calculator
    // far longer than the test's time limit; the length alone must decide.
    app->insertText(QStringLiteral("1+1\n").repeated(250000), false);
    app->textView()->selectAll();
    QMenu* edit = app->window()->menuBar()->findChild<QMenu*>(QStringLiteral("editMenu"));
    QAction* calculate = app->window()->findChild<QAction*>(QStringLiteral("calculateMenuItem"));
    ASSERT_TRUE(edit && calculate);
    app->menuValidator()->menuNeedsUpdate(edit);
    EXPECT_FALSE(calculate->isEnabled());
    calculate->setEnabled(true);
    calculate->trigger();
    EXPECT_EQ(app->textView()->document()->characterCount(), 1000001);
}
