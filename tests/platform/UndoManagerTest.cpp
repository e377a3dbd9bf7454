#include "platform/ui/UndoManager.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>

#include <memory>

using platform::UndoManager;

namespace {

// A stand-in for the note operations: a set of note names, deleted with an
// undo action that restores the note and registers its redo (deleting again),
// the way the application's delete and its undo do.
class Notes : public QObject
{
public:
    explicit Notes(UndoManager& undo) : m_undo(undo) {}

    void remove(const QString& name)
    {
        m_names.remove(name);
        m_undo.beginUndoGrouping();
        m_undo.registerUndo(this, [this, name] { restore(name); });
        m_undo.setActionName(QStringLiteral("Delete"));
        m_undo.endUndoGrouping();
    }
    void restore(const QString& name)
    {
        m_names.insert(name);
        m_undo.registerUndo(this, [this, name] { remove(name); });
    }
    bool has(const QString& name) const { return m_names.contains(name); }
    void add(const QString& name) { m_names.insert(name); }

private:
    UndoManager& m_undo;
    QSet<QString> m_names;
};

class UndoBridge : public ::testing::Test
{
protected:
    void SetUp() override
    {
        editor.show();
        undo.attachDocument(editor.document());
        notes.add(QStringLiteral("a"));
    }
    QString text() const { return editor.toPlainText(); }
    void type(const QString& keys) { QTest::keyClicks(&editor, keys); }

    UndoManager undo;
    Notes notes{undo};
    QTextEdit editor;
};

TEST_F(UndoBridge, DeleteUndoRedoRestoresAndDeletesAgainWithTitles)
{
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo"));
    EXPECT_EQ(undo.redoMenuItemTitle(), QStringLiteral("Redo"));
    notes.remove(QStringLiteral("a"));
    EXPECT_FALSE(notes.has(QStringLiteral("a")));
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Delete"));

    undo.undo();
    EXPECT_TRUE(notes.has(QStringLiteral("a")));
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo"));
    EXPECT_EQ(undo.redoMenuItemTitle(), QStringLiteral("Redo Delete"));

    undo.redo();
    EXPECT_FALSE(notes.has(QStringLiteral("a")));
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Delete"));
    EXPECT_FALSE(undo.canRedo());

    undo.undo();
    EXPECT_TRUE(notes.has(QStringLiteral("a")));
}

TEST_F(UndoBridge, TypingAfterADeleteIsUndoneBeforeTheDelete)
{
    type(QStringLiteral("abc"));
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Typing"));
    notes.remove(QStringLiteral("a"));
    type(QStringLiteral("def")); // would merge into "abc" without a typing boundary
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Typing"));

    undo.undo();
    EXPECT_EQ(text(), QStringLiteral("abc"));
    EXPECT_FALSE(notes.has(QStringLiteral("a")));
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Delete"));

    undo.undo();
    EXPECT_TRUE(notes.has(QStringLiteral("a")));
    EXPECT_EQ(text(), QStringLiteral("abc"));
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Typing"));

    undo.undo();
    EXPECT_EQ(text(), QString());
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(undo.redoMenuItemTitle(), QStringLiteral("Redo Typing"));

    undo.redo();
    EXPECT_EQ(text(), QStringLiteral("abc"));
    undo.redo();
    EXPECT_FALSE(notes.has(QStringLiteral("a")));
    EXPECT_EQ(text(), QStringLiteral("abc"));
    undo.redo();
    EXPECT_EQ(text(), QStringLiteral("abcdef"));
    EXPECT_FALSE(undo.canRedo());
}

TEST_F(UndoBridge, RemovingTheDocumentsActionsClearsItsOwnStacks)
{
    type(QStringLiteral("abc"));
    notes.remove(QStringLiteral("a"));
    type(QStringLiteral("def"));
    undo.removeAllActionsWithTarget(editor.document());
    EXPECT_FALSE(editor.document()->isUndoAvailable());
    EXPECT_FALSE(editor.document()->isRedoAvailable());
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Delete"));

    undo.undo();
    EXPECT_TRUE(notes.has(QStringLiteral("a")));
    EXPECT_EQ(text(), QStringLiteral("abcdef"));
    EXPECT_FALSE(undo.canUndo());

    // New typing is undoable again, alone.
    type(QStringLiteral("g"));
    undo.undo();
    EXPECT_EQ(text(), QStringLiteral("abcdef"));
    EXPECT_FALSE(undo.canUndo());
}

TEST_F(UndoBridge, ReplacedTextDropsTheTypingStepsTheDocumentForgot)
{
    type(QStringLiteral("abc"));
    notes.remove(QStringLiteral("a"));
    editor.setPlainText(QStringLiteral("other note")); // the document resets its own history
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Delete"));
    undo.undo();
    EXPECT_TRUE(notes.has(QStringLiteral("a")));
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(text(), QStringLiteral("other note"));
}

TEST_F(UndoBridge, RedoStackIsClearedByNewTypingOnly)
{
    notes.remove(QStringLiteral("a"));
    undo.undo();
    EXPECT_TRUE(undo.canRedo());
    type(QStringLiteral("x"));
    EXPECT_FALSE(undo.canRedo());
}

TEST_F(UndoBridge, EditorsUndoKeyFollowsTheSharedOrder)
{
    undo.routeUndoKeys(&editor);
    type(QStringLiteral("abc"));
    notes.remove(QStringLiteral("a"));
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier); // the editor alone would drop "abc"
    EXPECT_TRUE(notes.has(QStringLiteral("a")));
    EXPECT_EQ(text(), QStringLiteral("abc"));
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QString());
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text(), QStringLiteral("abc"));
    EXPECT_EQ(undo.redoMenuItemTitle(), QStringLiteral("Redo Delete"));
}

TEST(UndoManager, GroupUndoesItsActionsTogetherInReverseOrder)
{
    UndoManager undo;
    QObject target;
    QStringList log;
    undo.beginUndoGrouping();
    undo.registerUndo(&target, [&] { log << QStringLiteral("first"); });
    undo.beginUndoGrouping();
    undo.registerUndo(&target, [&] { log << QStringLiteral("second"); });
    undo.endUndoGrouping();
    undo.setActionName(QStringLiteral("Move"));
    undo.endUndoGrouping();
    undo.registerUndo(&target, [&] { log << QStringLiteral("alone"); });

    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo"));
    undo.undo();
    EXPECT_EQ(log, QStringList{QStringLiteral("alone")});
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Move"));
    undo.undo();
    EXPECT_EQ(log, (QStringList{QStringLiteral("alone"), QStringLiteral("second"), QStringLiteral("first")}));
    EXPECT_FALSE(undo.canUndo());
    EXPECT_FALSE(undo.canRedo()); // nothing registered a redo
}

TEST(UndoManager, DestroyedTargetTakesItsActionsAlong)
{
    UndoManager undo;
    QObject kept;
    auto gone = std::make_unique<QObject>();
    int keptRuns = 0;
    undo.registerUndo(&kept, [&] { ++keptRuns; });
    undo.registerUndo(gone.get(), [] { FAIL() << "ran for a destroyed target"; });
    gone.reset();
    undo.undo();
    EXPECT_EQ(keptRuns, 1);
    EXPECT_FALSE(undo.canUndo());
}

TEST(UndoManager, DestroyedDocumentTakesItsProxiesAlong)
{
    UndoManager undo;
    QObject other;
    int otherRuns = 0;
    undo.registerUndo(&other, [&] { ++otherRuns; });
    {
        QTextEdit editor;
        editor.show();
        undo.attachDocument(editor.document());
        QTest::keyClicks(&editor, QStringLiteral("abc"));
        EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo Typing"));
    }
    EXPECT_EQ(undo.undoMenuItemTitle(), QStringLiteral("Undo"));
    undo.undo();
    EXPECT_EQ(otherRuns, 1);
}

} // namespace
