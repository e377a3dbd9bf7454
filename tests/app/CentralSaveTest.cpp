// The central save and what is built on it: the four list cases, the
// unchanged-item rules, deleting and undoing, the editor's save and autosave,
// and the faults where typing used to be lost.
#include "AppTestSupport.h"

#include "platform/shell/ProcessInfo.h"
#include "platform/ui/UndoManager.h"
#include "store/QVRObjectController.h"

using apptest::AppTest;

namespace {

const QString A = QStringLiteral("AAAAAAAA-0000-0000-0000-000000000001");
const QString B = QStringLiteral("AAAAAAAA-0000-0000-0000-000000000002");
const QString C = QStringLiteral("AAAAAAAA-0000-0000-0000-000000000003");

} // namespace

TEST_F(AppTest, ItemsThatSaveNothing)
{
    struct Row
    {
        const char* name;
        QVariantMap item;
    };
    const Row cases[] = {
        {"no uuid", {{"text", "orphan"}}},
        {"uuid that is not a string", {{"uuid", 12}, {"text", "number"}}},
        {"new note with blank text", {{"uuid", A}, {"text", " \n\t "}}},
        {"new note without text", {{"uuid", A}}},
    };
    for (const Row& row : cases) {
        EXPECT_EQ(app->saveItem(row.item, true), nullptr) << row.name;
        EXPECT_EQ(app->noteWithId(A), nullptr) << row.name;
    }
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(AppTest, NewNotesGoToTheTopAndOnlyUserNotesAreSelected)
{
    app->saveItem(item(A, "first"), true);
    EXPECT_EQ(selectedUuid(), A); // sync YES selects

    advance(10);
    app->saveItem(item(B, "from sync"), false);
    EXPECT_EQ(rows(), QStringList({"from sync", "first"}));
    EXPECT_EQ(selectedUuid(), A) << "a note from sync is not selected";
    EXPECT_EQ(app->tableView()->selectionModel()->selectedRows().value(0).row(), 1);
}

TEST_F(AppTest, TheOnlyNoteFromSyncIsSelectedWhenTheEditorIsEmpty)
{
    app->saveItem(item(A, "arrived"), false);
    EXPECT_EQ(selectedUuid(), A);
}

TEST_F(AppTest, BlankTextArchivesAndKeepsTheLastText)
{
    app->saveItem(item(A, "keep me"), true);
    Note* note = app->saveItem(item(A, "   \n"), true);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "keep me");
    EXPECT_TRUE(note->archived().toBool());
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_EQ(app->noteCount(), 0u);
}

TEST_F(AppTest, UnchangedItemChangesNothingButStoresModifiedFromSync)
{
    app->saveItem({{"uuid", A}, {"text", "same"}, {"date", 1000.0}}, true);
    const QVariant modifiedBefore = app->noteWithId(A)->modified();

    // Within 0.0001 s the date counts as the same; nothing moves.
    app->saveItem({{"uuid", A}, {"text", "same"}, {"date", 1000.00005}}, true);
    EXPECT_EQ(app->noteWithId(A)->modified(), modifiedBefore);

    app->saveItem({{"uuid", A}, {"text", "same"}, {"date", 1000.0}, {"modified", 4242.0}}, false);
    EXPECT_EQ(app->noteWithId(A)->modified().toDouble(), 4242.0);
    EXPECT_DOUBLE_EQ(app->noteWithId(A)->date().toDouble(), 1000.0);

    // A date that differs by more than the tolerance is a change.
    app->saveItem({{"uuid", A}, {"text", "same"}, {"date", 1000.001}}, true);
    EXPECT_DOUBLE_EQ(app->noteWithId(A)->date().toDouble(), 1000.001);
}

TEST_F(AppTest, ArchivedIsReadAsTheNoteAttributesMeanIt)
{
    // "no" is false, although QVariant would call any non-empty string true.
    app->saveItem({{"uuid", A}, {"text", "t"}, {"archived", "no"}}, false);
    EXPECT_FALSE(app->noteWithId(A)->archived().toBool());
    app->saveItem({{"uuid", A}, {"text", "t"}, {"archived", "YES"}}, false);
    EXPECT_TRUE(app->noteWithId(A)->archived().toBool());
}

TEST_F(AppTest, AnEditedNoteMovesToTheTop)
{
    app->saveItem({{"uuid", A}, {"text", "older"}, {"date", 100.0}}, false);
    app->saveItem({{"uuid", B}, {"text", "newer"}, {"date", 200.0}}, false);
    EXPECT_EQ(rows(), QStringList({"newer", "older"}));
    app->saveItem({{"uuid", A}, {"text", "older, edited"}, {"date", 300.0}}, false);
    EXPECT_EQ(rows(), QStringList({"older, edited", "newer"}));
}

TEST_F(AppTest, DeletingTheSelectedLastRowSelectsTheNewLastRow)
{
    app->saveItem({{"uuid", A}, {"text", "a"}, {"date", 300.0}}, false);
    app->saveItem({{"uuid", B}, {"text", "b"}, {"date", 200.0}}, false);
    app->saveItem({{"uuid", C}, {"text", "c"}, {"date", 100.0}}, false);
    app->selectNote(app->noteWithId(C));
    app->deleteItemWithUUID(C, true);
    EXPECT_EQ(rows(), QStringList({"a", "b"}));
    EXPECT_EQ(selectedUuid(), B);

    app->deleteItemWithUUID(A, true);
    app->deleteItemWithUUID(B, true);
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_EQ(app->selectedNote(), nullptr);
}

TEST_F(AppTest, UndoRestoresADeletedNoteAndRedoDeletesItAgain)
{
    app->saveItem(item(A, "precious"), true);
    app->deleteItemWithUUID(A, true);
    platform::UndoManager* undo = app->undoManager();
    EXPECT_EQ(undo->undoMenuItemTitle(), "Undo Delete");
    undo->undo();
    EXPECT_EQ(rows(), QStringList({"precious"}));
    EXPECT_FALSE(app->noteWithId(A)->archived().toBool());
    ASSERT_TRUE(undo->canRedo());
    undo->redo();
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(app->noteWithId(A)->archived().toBool());
}

TEST_F(AppTest, TypingIsSavedAsANewNoteOnEndOfEditing)
{
    typeInEditor("Typed note");
    EXPECT_TRUE(app->noteNeedsSaving());
    app->textDidEndEditing();
    EXPECT_FALSE(app->noteNeedsSaving());
    EXPECT_EQ(rows(), QStringList({"Typed note"}));
    EXPECT_EQ(app->editingItem().value("uuid").toString(), selectedUuid());
    EXPECT_EQ(selectedUuid().toUpper(), selectedUuid());
}

TEST_F(AppTest, TextPutInByCodeIsNotTyping)
{
    app->insertText("loaded", false);
    EXPECT_FALSE(app->noteNeedsSaving());
    app->resetTextViewAttributes();
    EXPECT_FALSE(app->noteNeedsSaving());
}

TEST_F(AppTest, AutosaveRunsOnceAfterTheLastChange)
{
    app.reset();
    QuillaryAppDelegate::Environment shortAutosave = environment();
    shortAutosave.autosaveIntervalMs = 50;
    start(shortAutosave);
    typeInEditor("draft");
    EXPECT_TRUE(app->noteNeedsSaving());
    QTRY_VERIFY(!app->noteNeedsSaving());
    EXPECT_EQ(rows(), QStringList({"draft"}));
}

TEST_F(AppTest, UnsavedNoteHoldsOffTerminationInBalance)
{
    platform::ProcessInfo& info = platform::ProcessInfo::processInfo();
    const int before = info.suddenTerminationDisableCount();
    app->setNoteNeedsSaving(true);
    app->setNoteNeedsSaving(true);
    EXPECT_EQ(info.suddenTerminationDisableCount(), before + 1);
    EXPECT_EQ(info.automaticTerminationDisableCount("Unsaved Note"), 1);
    app->setNoteNeedsSaving(false);
    app->setNoteNeedsSaving(false);
    EXPECT_EQ(info.suddenTerminationDisableCount(), before);
    EXPECT_EQ(info.automaticTerminationDisableCount("Unsaved Note"), 0);
}

// A change from sync to the note being typed into used to replace the typing.
TEST_F(AppTest, SyncChangeToTheOpenNoteKeepsUnsavedTyping)
{
    app->saveItem(item(A, "shared text"), true);
    app->activateDetailAndFocus(true, false);
    typeInEditor("my words ");
    const QString typed = app->textView()->toPlainText();
    advance(5);
    app->saveItem({{"uuid", A}, {"text", "remote text"}}, false);
    EXPECT_EQ(app->textView()->toPlainText(), typed);
    EXPECT_TRUE(app->noteNeedsSaving());
    app->saveCurrentNote();
    EXPECT_EQ(app->noteWithId(A)->text(), typed);
}

// Choosing another note from code used to drop the open note's typing.
TEST_F(AppTest, LoadingAnotherNoteSavesTheTypingFirst)
{
    app->saveItem({{"uuid", A}, {"text", "first"}, {"date", 100.0}}, false);
    app->saveItem({{"uuid", B}, {"text", "second"}, {"date", 200.0}}, false);
    app->selectNote(app->noteWithId(A));
    app->activateDetailAndFocus(true, false);
    typeInEditor("edit of ");
    app->selectNote(app->noteWithId(B));
    app->updateDetailView();
    EXPECT_EQ(app->noteWithId(A)->text(), "edit of first");
    EXPECT_EQ(app->textView()->toPlainText(), "second");
}

// Another note with the same words used to inherit the first one's undo.
TEST_F(AppTest, IdenticalTextInAnotherNoteStartsWithoutUndoHistory)
{
    app->saveItem({{"uuid", A}, {"text", "same"}, {"date", 100.0}}, false);
    app->saveItem({{"uuid", B}, {"text", "same!"}, {"date", 200.0}}, false);
    app->selectNote(app->noteWithId(A));
    app->activateDetailAndFocus(true, false);
    QTextCursor end = app->textView()->textCursor();
    end.movePosition(QTextCursor::End);
    app->textView()->setTextCursor(end);
    typeInEditor("!");
    // The editor now reads exactly as B does: loading B must not keep A's
    // typing as something to undo into B.
    app->selectNote(app->noteWithId(B));
    app->updateDetailView();
    EXPECT_EQ(app->noteWithId(A)->text(), "same!");
    EXPECT_FALSE(app->textView()->document()->isUndoAvailable());
    EXPECT_FALSE(app->undoManager()->canUndo() && app->undoManager()->undoMenuItemTitle() == "Undo Typing");
}

TEST_F(AppTest, SelectedNoteIsRememberedAndReselectedAtStart)
{
    app->saveItem(item(A, "remember me"), true);
    EXPECT_EQ(defaults->string("selected"), A);
    app.reset();
    start(environment());
    EXPECT_EQ(selectedUuid(), A);
    EXPECT_EQ(app->textView()->toPlainText(), "remember me");
}

TEST_F(AppTest, ArchivedLastSelectionIsNotReselected)
{
    app->saveItem(item(A, "gone"), true);
    app->deleteItemWithUUID(A, true);
    defaults->set("selected", A);
    app.reset();
    start(environment());
    EXPECT_EQ(app->selectedNote(), nullptr);
}
