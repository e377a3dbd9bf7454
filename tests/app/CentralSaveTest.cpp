// The central save and what is built on it, through the delegate and its
// window: the four list cases, the unchanged-item rules, deleting and
// undoing, the editor's save and autosave, saves that fail, and the faults
// where typing used to be lost. NoteSessionTest drives the same save without
// a window.
#include "AppTestSupport.h"

#include "app/commands/QVRScriptCommands.h"
#include "platform/data/StoreWriteFaults.h"
#include "platform/ui/UndoManager.h"
#include "store/QVRObjectController.h"
#include "tests/support/Wait.h"

#include <QDateTime>
#include <QDir>

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
    // (QTRY_VERIFY would end a GoogleTest case silently on a time-out.)
    ASSERT_TRUE(testsupport::waitFor([&] { return !app->noteNeedsSaving(); }, 5000));
    EXPECT_EQ(rows(), QStringList({"draft"}));
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

// --- Ways a note used to be lost ------------------------------------------------------

namespace {

class SessionFaults : public AppTest
{
protected:
    int failuresShown = 0;
    QString shownReason;
    int quitQuestions = 0;
    bool quitAnswer = false;

    void SetUp() override
    {
        AppTest::SetUp();
        answerPrompts();
    }

    void answerPrompts()
    {
        NoteSession::Prompts& prompts = app->noteSession()->prompts();
        prompts.saveFailed = [this](const platform::Error& reason) {
            ++failuresShown;
            shownReason = reason.localizedDescription + " / " + reason.userInfo.value("reason").toString();
        };
        prompts.quitWithoutSaving = [this](const platform::Error&) {
            ++quitQuestions;
            return quitAnswer;
        };
    }

    static void fillDisk(bool full) { platform::StoreWriteFaults::setDiskFull(full); }

    // The note's text as the file holds it, read by a store of its own.
    QString storedText(const QString& uuid) const
    {
        return apptest::storedText(dir.filePath(QStringLiteral("Quillary.sqlite")), uuid);
    }

    void clickRow(int row)
    {
        QListView* list = app->tableView();
        const QRect rect = list->visualRect(app->listModel()->index(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    void setCaret(int position)
    {
        QTextCursor cursor = app->textView()->textCursor();
        cursor.setPosition(position);
        app->textView()->setTextCursor(cursor);
    }

    QStringList recoveryFiles() const
    {
        return QDir(dir.filePath("Recovered")).entryList({"*.txt"}, QDir::Files, QDir::Name);
    }
};

} // namespace

// Fault 1: a failed save was silent and the note was marked saved anyway.
TEST_F(SessionFaults, FailedSaveKeepsTheNoteUnsavedTellsOnceAndIsTriedAgain)
{
    typeInEditor("precious");
    fillDisk(true);
    EXPECT_FALSE(app->saveCurrentNote());
    EXPECT_TRUE(app->noteNeedsSaving());
    EXPECT_EQ(failuresShown, 1);
    EXPECT_TRUE(shownReason.contains("database or disk is full")) << qPrintable(shownReason);

    // More typing and more save points: still one alert.
    typeInEditor("more ");
    app->saveCurrentNote();
    app->textDidEndEditing();
    EXPECT_EQ(failuresShown, 1);
    EXPECT_TRUE(app->noteNeedsSaving());
    EXPECT_TRUE(app->noteSession()->autosaveDueIn().has_value()) << "the write is tried again later";

    fillDisk(false);
    EXPECT_TRUE(app->saveCurrentNote());
    EXPECT_FALSE(app->noteNeedsSaving());
    EXPECT_EQ(storedText(selectedUuid()), "preciousmore ");
    EXPECT_EQ(app->noteCount(), 1u);

    // A new failure after a success is told again.
    typeInEditor("again ");
    fillDisk(true);
    app->saveCurrentNote();
    EXPECT_EQ(failuresShown, 2);
}

// Fault 1: the next save point writes what an earlier failure left, even
// without new typing.
TEST_F(SessionFaults, SavePointAfterAFailureWritesTheNoteWithoutNewTyping)
{
    typeInEditor("kept in memory");
    fillDisk(true);
    app->saveCurrentNote();
    ASSERT_TRUE(app->noteNeedsSaving());
    const QString uuid = selectedUuid();
    fillDisk(false);
    app->textDidEndEditing();
    EXPECT_FALSE(app->noteNeedsSaving());
    EXPECT_EQ(storedText(uuid), "kept in memory");
}

// Fault 1: a script save or delete that cannot be written answers false.
TEST_F(SessionFaults, ScriptCommandsThatCannotBeWrittenAnswerFalse)
{
    app->saveItem(item(A, "to delete"), true);
    fillDisk(true);
    QVRSaveNoteScriptCommand save({{"", B}, {"text", "scripted"}}, app.get());
    EXPECT_FALSE(save.performDefaultImplementation());
    QVRDeleteNoteScriptCommand remove({{"", A}}, app.get());
    remove.performDefaultImplementation();
    EXPECT_EQ(remove.scriptErrorNumber(), QVRDeleteNoteScriptCommand::NotSavedError);
    EXPECT_TRUE(remove.scriptErrorString().contains("database or disk is full"))
        << qPrintable(remove.scriptErrorString());
    QVRScriptingHandler handler(app.get());
    QString failure;
    EXPECT_FALSE(handler.deleteNote(A, &failure));
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_EQ(failuresShown, 1);

    fillDisk(false);
    EXPECT_TRUE(
        QVRSaveNoteScriptCommand({{"", B}, {"text", "scripted"}}, app.get()).performDefaultImplementation());
    EXPECT_EQ(storedText(B), "scripted");
}

// Fault 1: Quit with a note that cannot be written asks; Cancel keeps the
// program running with the note.
TEST_F(SessionFaults, QuitWithANoteThatCannotBeWrittenAsksAndCancelKeepsRunning)
{
    typeInEditor("cannot be written");
    fillDisk(true);
    app->saveCurrentNote();
    const QString uuid = app->editingItem().value("uuid").toString();
    ASSERT_FALSE(uuid.isEmpty());
    emit app->quitRequested(); // the Quit command (nothing listens here)
    EXPECT_FALSE(app->applicationShouldTerminate());
    EXPECT_FALSE(app->terminating());
    EXPECT_EQ(quitQuestions, 1);
    EXPECT_FALSE(app->textView()->isReadOnly());
    EXPECT_TRUE(app->noteNeedsSaving());
    EXPECT_TRUE(recoveryFiles().isEmpty());

    fillDisk(false);
    emit app->quitRequested();
    EXPECT_TRUE(app->applicationShouldTerminate());
    EXPECT_EQ(quitQuestions, 1) << "nothing to ask once the note is written";
    EXPECT_EQ(storedText(uuid), "cannot be written");
}

TEST_F(SessionFaults, QuitWithoutSavingQuits)
{
    typeInEditor("given up");
    fillDisk(true);
    quitAnswer = true;
    emit app->quitRequested();
    EXPECT_TRUE(app->applicationShouldTerminate());
    EXPECT_EQ(quitQuestions, 1);
    EXPECT_TRUE(recoveryFiles().isEmpty());
}

// Fault 1: an end that cannot wait (a signal, a logout) keeps the text in a
// recovery file, and the next start says so.
TEST_F(SessionFaults, EndThatCannotWaitKeepsTheTextInARecoveryFileAndTheNextStartSaysSo)
{
    typeInEditor("words that must not vanish");
    fillDisk(true);
    EXPECT_TRUE(app->applicationShouldTerminate()); // no quitRequested: not the user's Quit
    EXPECT_EQ(quitQuestions, 0);
    const QStringList files = recoveryFiles();
    ASSERT_EQ(files.size(), 1);
    // <uuid>-<time>.txt, the time of the manual clock.
    const QString time = QDateTime::fromSecsSinceEpoch(qint64(testsupport::ManualClock::DefaultStart))
                             .toString("yyyyMMdd-HHmmss");
    EXPECT_EQ(files.first(), app->editingItem().value("uuid").toString() + "-" + time + ".txt");
    const QString path = dir.filePath("Recovered/" + files.first());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), "words that must not vanish");

    fillDisk(false);
    app.reset();
    QStringList told;
    app = std::make_unique<QuillaryAppDelegate>(environment());
    app->noteSession()->prompts().recovered = [&](const QStringList& paths) { told = paths; };
    app->window()->resize(1000, 600);
    app->applicationWillFinishLaunching();
    EXPECT_EQ(told, QStringList{path});

    told.clear();
    app.reset();
    app = std::make_unique<QuillaryAppDelegate>(environment());
    app->noteSession()->prompts().recovered = [&](const QStringList& paths) { told = paths; };
    app->applicationWillFinishLaunching();
    EXPECT_TRUE(told.isEmpty()) << "told once";
    EXPECT_TRUE(QFile::exists(path)) << "the file stays for the user";
}

// Fault 2: a script save to the note in the editor left the old text there,
// and the next keystroke wrote it back over the script's text.
TEST_F(SessionFaults, ScriptSaveToTheOpenNoteShowsItsTextAndTypingGoesOnFromIt)
{
    app->saveItem(item(A, "old text"), true);
    app->activateDetailAndFocus(true, false);
    setCaret(3);
    QVRSaveNoteScriptCommand save({{"", A}, {"text", "new text from a script"}}, app.get());
    EXPECT_TRUE(save.performDefaultImplementation());
    EXPECT_EQ(app->textView()->toPlainText(), "new text from a script");
    EXPECT_EQ(app->textView()->textCursor().position(), 3) << "the caret stays where it can";
    EXPECT_FALSE(app->noteNeedsSaving());
    typeInEditor("!");
    app->saveCurrentNote();
    EXPECT_EQ(app->noteWithId(A)->text(), "new! text from a script");
}

// Fault 2: a script delete of the open note saved the stale editing item
// back, so the note was live again.
TEST_F(SessionFaults, ScriptDeleteOfTheOpenNoteArchivesItForGood)
{
    app->saveItem({{"uuid", A}, {"text", "stays"}, {"date", 100.0}}, false);
    app->saveItem({{"uuid", B}, {"text", "open"}, {"date", 200.0}}, false);
    app->selectNote(app->noteWithId(B));
    app->activateDetailAndFocus(true, false);
    typeInEditor("typed, ");
    QVRDeleteNoteScriptCommand remove({{"", B}}, app.get());
    remove.performDefaultImplementation();
    EXPECT_EQ(remove.scriptErrorNumber(), 0);
    EXPECT_TRUE(app->noteWithId(B)->archived().toBool());
    EXPECT_EQ(app->noteWithId(B)->text(), "typed, open") << "the typing was kept before the delete";
    EXPECT_EQ(selectedUuid(), A);
    EXPECT_EQ(app->textView()->toPlainText(), "stays");
    app->saveCurrentNote();
    app->selectNote(app->noteWithId(A));
    app->updateDetailView();
    EXPECT_TRUE(app->noteWithId(B)->archived().toBool());
    app.reset();
    start(environment());
    EXPECT_EQ(rows(), QStringList({"stays"}));
}

// Fault 3: the first note to arrive in an empty list was selected but never
// shown, clicking it did nothing and typing made another note.
TEST_F(SessionFaults, FirstNoteFromAScriptInAnEmptyListOpensAndTakesTheTyping)
{
    ASSERT_TRUE(rows().isEmpty());
    QVRSaveNoteScriptCommand save({{"", A}, {"text", "first arrival"}}, app.get());
    ASSERT_TRUE(save.performDefaultImplementation());
    EXPECT_EQ(selectedUuid(), A);
    EXPECT_EQ(app->textView()->toPlainText(), "first arrival");
    clickRow(0);
    EXPECT_EQ(app->textView()->toPlainText(), "first arrival");
    typeInEditor("typed into it: ");
    app->saveCurrentNote();
    EXPECT_EQ(app->noteCount(), 1u);
    EXPECT_EQ(app->noteWithId(A)->text(), "typed into it: first arrival");
}

TEST_F(SessionFaults, FirstNoteFromSyncInAnEmptyListOpens)
{
    app->saveObjectWithAttributes({{"uuid", A}, {"text", "from sync"}, {"date", 100.0}}, false);
    EXPECT_EQ(selectedUuid(), A);
    EXPECT_EQ(app->textView()->toPlainText(), "from sync");
    typeInEditor("+");
    app->saveCurrentNote();
    EXPECT_EQ(app->noteCount(), 1u);
    EXPECT_EQ(app->noteWithId(A)->text(), "+from sync");
}

// Fault 4: each keystroke restarted the 60 s autosave, so steady typing was
// never saved. The manual clock moves; no real minute passes.
TEST_F(SessionFaults, SteadyTypingIsSavedAnIntervalAfterItsFirstChange)
{
    typeInEditor("a");
    EXPECT_EQ(app->noteSession()->autosaveDueIn().value_or(-1), 60000);
    for (int second = 4; second < 60; second += 4) {
        advance(4);
        typeInEditor("b");
        QCoreApplication::processEvents();
        ASSERT_TRUE(app->noteNeedsSaving()) << second;
        EXPECT_LE(app->noteSession()->autosaveDueIn().value_or(-1), (60 - second) * 1000) << second;
    }
    advance(4);
    typeInEditor("c");
    ASSERT_TRUE(testsupport::waitFor([&] { return !app->noteNeedsSaving(); }, 2000));
    EXPECT_EQ(rows(), QStringList({"abbbbbbbbbbbbbbc"}));

    // The next unsaved change starts a new bound; an idle pause still saves
    // an interval after the last keystroke.
    advance(1);
    typeInEditor("d");
    EXPECT_EQ(app->noteSession()->autosaveDueIn().value_or(-1), 60000);
}
