// The open note's owner without a window: a table of central-save cases, the
// script commands against the note in the editor, saves that fail (a full
// disk, injected below the store), the bounded autosave and recovery files.
// The editor is a string; what the session asks of the window is recorded.
#include "app/session/NoteSession.h"
#include "app/commands/QVRScriptCommands.h"
#include "app/list/NoteListModel.h"

#include "platform/data/StoreWriteFaults.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRObjectController.h"
#include "tests/app/StoredText.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"
#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace {

const QString A = QStringLiteral("AAAAAAAA-0000-0000-0000-0000000000A1");
const QString B = QStringLiteral("AAAAAAAA-0000-0000-0000-0000000000B2");
const QString C = QStringLiteral("AAAAAAAA-0000-0000-0000-0000000000C3");

// The editor as a string. Typing goes through the session as the window's
// text-change notice does.
class TextEditor : public NoteSession::Editor
{
public:
    NoteSession* session = nullptr;
    bool showing = true;
    QString content;
    int caret = 0;
    int undoResets = 0;

    bool isShowing() const override { return showing; }
    QString text() const override { return content; }
    void showText(const QString& text, bool keepCaret) override
    {
        content = text;
        caret = keepCaret ? std::min(caret, int(text.size())) : 0;
        ++undoResets;
    }
    void forgetUndo() override { ++undoResets; }

    void type(const QString& text)
    {
        content.insert(caret, text);
        caret += int(text.size());
        session->editorTextChanged();
    }
};

class NoteSessionTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    testsupport::ManualClock clock;
    testsupport::LogCapture log;
    std::unique_ptr<QVRDataStore> root;
    std::shared_ptr<QVRDataStore> store;
    std::unique_ptr<QVRObjectController> controller;
    NoteListModel list;
    QItemSelectionModel listSelection{&list}; // as the list view keeps it
    platform::UndoManager undo;
    TextEditor editor;
    std::unique_ptr<NoteSession> session;

    // What the session told the window and the user.
    QStringList events;
    int failuresShown = 0;
    QString failureReason;
    int quitQuestions = 0;
    bool quitAnswer = false;
    QStringList recovered;

    void SetUp() override
    {
        platform::StoreWriteFaults::install();
        root = QVRDataStore::makeRootStore(path("Quillary.sqlite"));
        ASSERT_NE(root->context(), nullptr);
        start();
    }

    void TearDown() override
    {
        session.reset();
        controller.reset();
        store.reset();
        root.reset();
        platform::StoreWriteFaults::setDiskFull(false);
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    NoteSession::Environment environment(int autosaveMs = 60000)
    {
        NoteSession::Environment environment;
        environment.store = store.get();
        environment.rootStore = root.get();
        environment.list = &list;
        environment.controller = [this] { return controller.get(); };
        environment.undoManager = &undo;
        environment.autosaveIntervalMs = autosaveMs;
        environment.recoveryFolder = path("Recovered");
        return environment;
    }

    // A session over the store file as it is, as a new start would make it.
    void start(int autosaveMs = 60000)
    {
        session.reset();
        controller.reset();
        store = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
        controller = std::make_unique<QVRObjectController>(
            store->context(), QVRNoteEntityName, std::vector<platform::SortDescriptor>{{"date", false}});
        list.reloadFrom(controller.get());
        session = std::make_unique<NoteSession>(environment(autosaveMs));
        editor = TextEditor();
        editor.session = session.get();
        session->setEditor(&editor);
        NoteSession::Prompts& prompts = session->prompts();
        prompts.saveFailed = [this](const platform::Error& reason) {
            ++failuresShown;
            failureReason = reason.userInfo.value("reason").toString();
        };
        prompts.quitWithoutSaving = [this](const platform::Error&) {
            ++quitQuestions;
            return quitAnswer;
        };
        prompts.recovered = [this](const QStringList& paths) { recovered = paths; };
        QObject::connect(session.get(), &NoteSession::rowSelected, [this](int row) {
            if (row >= 0)
                listSelection.setCurrentIndex(list.index(row), QItemSelectionModel::ClearAndSelect);
            else
                listSelection.clearSelection();
        });
        QObject::connect(session.get(), &NoteSession::showNoteRequested, [this](bool evenAlone) {
            events << (evenAlone ? "show note" : "show note beside the list");
            // What a window with two panes does.
            session->loadSelectedNote();
        });
        QObject::connect(session.get(), &NoteSession::selectedNoteLeftList,
                         [this] { events << "selected note left"; });
        QObject::connect(session.get(), &NoteSession::saveFailed, [this] { events << "save failed"; });
    }

    QStringList rows() const
    {
        QStringList texts;
        for (int i = 0; i < list.rowCount(); ++i)
            texts << list.noteAt(i)->text();
        return texts;
    }

    QString selectedUuid() const
    {
        return session->selectedNote() ? session->selectedNote()->uuid() : QString();
    }

    // Selects the note and loads it, as a click on its row does.
    void open(const QString& uuid)
    {
        session->selectNote(session->noteWithId(uuid));
        session->loadSelectedNote();
    }

    static void fillDisk(bool full) { platform::StoreWriteFaults::setDiskFull(full); }

    QString storedText(const QString& uuid) const
    {
        return apptest::storedText(path("Quillary.sqlite"), uuid);
    }
};

// --- The central save, case by case -------------------------------------------------

struct SaveCase
{
    const char* name;
    std::vector<QVariantMap> before; // saved as from sync, in this order
    std::optional<QString> open;     // the note then selected and in the editor ("": none)
    const char* typed;               // typed into the editor, unsaved; null: nothing
    QVariantMap item;
    bool sync;
    bool returnsNote;
    QStringList rows;   // the list after, top to bottom
    QString selected;   // "": none
    QString editorText; // the editor after
    bool unsaved;       // noteNeedsSaving() after
};

void PrintTo(const SaveCase& row, std::ostream* os)
{
    *os << row.name;
}

class CentralSave : public NoteSessionTest, public ::testing::WithParamInterface<SaveCase>
{
};

TEST_P(CentralSave, ListSelectionAndEditorFollowTheItem)
{
    const SaveCase& row = GetParam();
    for (const QVariantMap& item : row.before)
        session->saveItem(item, false);
    if (row.open)
        open(*row.open); // "": no note, an empty editor
    if (row.typed)
        editor.type(QString::fromUtf8(row.typed));

    Note* note = session->saveItem(row.item, row.sync);
    EXPECT_EQ(note != nullptr, row.returnsNote);
    EXPECT_EQ(rows(), row.rows);
    EXPECT_EQ(selectedUuid(), row.selected);
    const QModelIndexList selectedRows = listSelection.selectedRows();
    if (session->selectedNote()) {
        ASSERT_EQ(selectedRows.size(), 1);
        EXPECT_EQ(selectedRows.first().row(), list.rowOfNote(session->selectedNote())) << "the list shows it";
    } else {
        EXPECT_TRUE(selectedRows.isEmpty());
    }
    EXPECT_EQ(editor.content, row.editorText);
    EXPECT_EQ(session->noteNeedsSaving(), row.unsaved);
    EXPECT_TRUE(session->lastWriteSucceeded());
}

const QVariantMap Older{{"uuid", B}, {"text", "older"}, {"date", 100.0}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(NoteSession, CentralSave, ::testing::Values(
    //       name; notes before; note open ("" none); typed; item; sync;
    //       saves a note; rows after; selected after; editor after; unsaved after
    SaveCase{"NewNoteOfTheUserGoesOnTopSelectedAndShown", {Older}, "", nullptr,
             {{"uuid", A}, {"text", "mine"}}, true,
             true, {"mine", "older"}, A, "mine", false},
    SaveCase{"NewNoteFromSyncIsListedAndLeavesTheOpenNote", {Older}, B, nullptr,
             {{"uuid", A}, {"text", "synced"}}, false,
             true, {"synced", "older"}, B, "older", false},
        // The first note into an empty list used to be selected but never shown.
    SaveCase{"FirstNoteFromSyncInAnEmptyListIsShown", {}, std::nullopt, nullptr,
             {{"uuid", A}, {"text", "first"}}, false,
             true, {"first"}, A, "first", false},
    SaveCase{"FirstNoteFromAScriptInAnEmptyListIsShown", {}, std::nullopt, nullptr,
             {{"uuid", A}, {"text", "scripted"}}, true,
             true, {"scripted"}, A, "scripted", false},
    SaveCase{"NoteFromSyncWhileANewNoteIsTypedIsNotSelected", {}, std::nullopt, "draft",
             {{"uuid", A}, {"text", "synced"}}, false,
             true, {"synced"}, "", "draft", true},
    SaveCase{"ChangeToTheOpenNoteIsShown", {Older}, B, nullptr,
             {{"uuid", B}, {"text", "changed"}, {"date", 200.0}}, true,
             true, {"changed"}, B, "changed", false},
    SaveCase{"SyncChangeToTheNoteBeingTypedKeepsTheTyping", {Older}, B, "mine ",
             {{"uuid", B}, {"text", "remote"}, {"date", 200.0}}, false,
             true, {"remote"}, B, "mine older", true},
    SaveCase{"BlankTextArchivesTheNote", {Older}, B, nullptr,
             {{"uuid", B}, {"text", " \n"}}, true,
             true, {}, "", "older", false},
    SaveCase{"DeletingTheOpenNoteOpensTheNextRow", {Older, {{"uuid", A}, {"text", "newer"}, {"date", 200.0}}}, A, nullptr,
             {{"uuid", A}, {"text", "newer"}, {"date", 200.0}, {"archived", true}}, true,
             true, {"older"}, B, "older", false},
    SaveCase{"RestoredNoteIsListedAgain", {{{"uuid", A}, {"text", "back"}, {"date", 50.0}, {"archived", true}}}, std::nullopt, nullptr,
             {{"uuid", A}, {"text", "back"}, {"date", 50.0}, {"archived", false}}, true,
             true, {"back"}, A, "back", false},
    SaveCase{"UnchangedItemMovesNothing", {Older}, std::nullopt, nullptr,
             {{"uuid", B}, {"text", "older"}, {"date", 100.00005}}, true,
             true, {"older"}, B, "older", false},
    SaveCase{"ItemWithoutUuidSavesNothing", {Older}, "", nullptr,
             {{"text", "orphan"}}, true,
             false, {"older"}, "", "", false},
    SaveCase{"NewNoteWithoutTextSavesNothing", {}, std::nullopt, nullptr,
             {{"uuid", A}, {"text", "  "}}, true,
             false, {}, "", "", false}),
    [](const ::testing::TestParamInfo<SaveCase>& info) { return std::string(info.param.name); });
// clang-format on

// --- Script commands against the note in the editor (fault 2) ----------------------

TEST_F(NoteSessionTest, ScriptSaveToTheOpenNoteShowsItsTextAndKeepsTheCaret)
{
    session->saveItem({{"uuid", A}, {"text", "old text"}}, true);
    open(A);
    editor.caret = 3;
    EXPECT_TRUE(QVRSaveNoteScriptCommand({{"", A}, {"text", "new text"}}, session.get())
                    .performDefaultImplementation());
    EXPECT_EQ(editor.content, "new text");
    EXPECT_EQ(editor.caret, 3);
    editor.type("!");
    session->saveCurrentNote();
    EXPECT_EQ(session->noteWithId(A)->text(), "new! text");
}

TEST_F(NoteSessionTest, ScriptSaveToTheOpenNoteStoresTheTypingFirst)
{
    session->saveItem({{"uuid", A}, {"text", "text"}}, true);
    open(A);
    editor.type("typed ");
    EXPECT_TRUE(QVRSaveNoteScriptCommand({{"", A}, {"text", "script"}, {"date", 1.7e9 + 1}}, session.get())
                    .performDefaultImplementation());
    EXPECT_EQ(editor.content, "script");
    EXPECT_FALSE(session->noteNeedsSaving());
    EXPECT_EQ(storedText(A), "script");
}

TEST_F(NoteSessionTest, ScriptDeleteOfTheOpenNoteArchivesItForGood)
{
    session->saveItem({{"uuid", B}, {"text", "next"}, {"date", 100.0}}, false);
    session->saveItem({{"uuid", A}, {"text", "open"}, {"date", 200.0}}, false);
    open(A);
    QVRDeleteNoteScriptCommand remove({{"", A}}, session.get());
    remove.performDefaultImplementation();
    EXPECT_EQ(remove.scriptErrorNumber(), 0);
    EXPECT_EQ(selectedUuid(), B);
    EXPECT_EQ(editor.content, "next");
    session->saveCurrentNote();
    editor.type("more ");
    session->saveCurrentNote();
    EXPECT_TRUE(session->noteWithId(A)->archived().toBool());
    start();
    EXPECT_EQ(rows(), QStringList({"more next"}));
}

TEST_F(NoteSessionTest, ScriptDeleteOfTheOnlyNoteLeavesItsEditorItemDeleted)
{
    session->saveItem({{"uuid", A}, {"text", "alone"}}, true);
    open(A);
    QVRDeleteNoteScriptCommand({{"", A}}, session.get()).performDefaultImplementation();
    EXPECT_TRUE(rows().isEmpty());
    // A later save point has nothing to bring back.
    session->setNoteNeedsSaving(true);
    session->saveCurrentNote();
    EXPECT_TRUE(session->noteWithId(A)->archived().toBool());
}

// --- Saves that fail (fault 1) ---------------------------------------------------------

TEST_F(NoteSessionTest, FailedSaveKeepsTheNoteUnsavedAndTellsTheStoresReasonOnce)
{
    editor.type("precious");
    fillDisk(true);
    EXPECT_FALSE(session->saveCurrentNote());
    EXPECT_TRUE(session->noteNeedsSaving());
    EXPECT_FALSE(session->lastWriteSucceeded());
    EXPECT_EQ(failuresShown, 1);
    EXPECT_EQ(failureReason, "database or disk is full");
    ASSERT_TRUE(session->writeFailure().has_value());

    for (int i = 0; i < 5; ++i) {
        editor.type("!");
        session->saveCurrentNote();
    }
    EXPECT_EQ(failuresShown, 1);
    EXPECT_EQ(events.count("save failed"), 6) << "each failure is signalled, one is told";
    EXPECT_EQ(rows(), QStringList({"precious!!!!!"})) << "the list shows what waits to be written";

    fillDisk(false);
    EXPECT_TRUE(session->saveCurrentNote());
    EXPECT_FALSE(session->noteNeedsSaving());
    EXPECT_TRUE(session->lastWriteSucceeded());
    EXPECT_EQ(storedText(selectedUuid()), "precious!!!!!");
}

TEST_F(NoteSessionTest, FailedWriteIsTriedAgainAnIntervalLater)
{
    start(50);
    editor.type("retry me");
    fillDisk(true);
    session->saveCurrentNote();
    ASSERT_TRUE(session->autosaveDueIn().has_value());
    const QString uuid = selectedUuid();
    fillDisk(false);
    ASSERT_TRUE(testsupport::waitFor([&] { return !session->noteNeedsSaving(); }, 5000));
    EXPECT_EQ(storedText(uuid), "retry me");
    EXPECT_FALSE(session->autosaveDueIn().has_value());
}

TEST_F(NoteSessionTest, FailedWriteIsNotTriedAgainOnceSomethingElseWroteIt)
{
    editor.type("first");
    fillDisk(true);
    session->saveCurrentNote();
    const QString uuid = selectedUuid();
    fillDisk(false);
    // A note from sync writes the store, and with it what waited.
    session->saveItem({{"uuid", B}, {"text", "synced"}}, false);
    EXPECT_TRUE(session->lastWriteSucceeded());
    EXPECT_FALSE(session->noteNeedsSaving());
    EXPECT_EQ(storedText(uuid), "first");
}

TEST_F(NoteSessionTest, ScriptCommandsThatCannotBeWrittenAnswerFalse)
{
    session->saveItem({{"uuid", A}, {"text", "kept"}}, true);
    fillDisk(true);
    EXPECT_FALSE(
        QVRSaveNoteScriptCommand({{"", B}, {"text", "lost?"}}, session.get()).performDefaultImplementation());
    QVRDeleteNoteScriptCommand remove({{"", A}}, session.get());
    remove.performDefaultImplementation();
    EXPECT_TRUE(remove.notSaved());
    EXPECT_EQ(
        remove.scriptErrorString(),
        "Quillary could not save the change: The changes could not be committed: database or disk is full.");
    fillDisk(false);
    session->saveCurrentNote();
    EXPECT_EQ(storedText(A), "kept") << "the delete that failed is written by the next save";
}

TEST_F(NoteSessionTest, QuitThatCannotSaveAsksAndAnEndThatCannotWaitKeepsRecoveryFiles)
{
    editor.type("unsaved words");
    fillDisk(true);
    EXPECT_FALSE(session->prepareToQuit(true));
    EXPECT_EQ(quitQuestions, 1);
    EXPECT_FALSE(QDir(path("Recovered")).exists());
    quitAnswer = true;
    EXPECT_TRUE(session->prepareToQuit(true));
    EXPECT_EQ(quitQuestions, 2);

    EXPECT_TRUE(session->prepareToQuit(false));
    EXPECT_EQ(quitQuestions, 2) << "a signal or a logout is never asked";
    const QStringList files = QDir(path("Recovered")).entryList({"*.txt"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files.first().startsWith(selectedUuid() + "-")) << qPrintable(files.first());
    QFile file(path("Recovered/" + files.first()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "unsaved words");

    fillDisk(false);
    start();
    session->announceRecoveredTexts();
    EXPECT_EQ(recovered, QStringList{path("Recovered/" + files.first())});
    recovered.clear();
    session->announceRecoveredTexts();
    EXPECT_TRUE(recovered.isEmpty());
}

TEST_F(NoteSessionTest, QuitWithEverythingWrittenAsksNothing)
{
    editor.type("fine");
    EXPECT_TRUE(session->prepareToQuit(true));
    EXPECT_TRUE(session->prepareToQuit(false));
    EXPECT_EQ(quitQuestions, 0);
    EXPECT_FALSE(QDir(path("Recovered")).exists());
}

// --- The bounded autosave (fault 4) ---------------------------------------------------

TEST_F(NoteSessionTest, AutosaveIsDueAnIntervalAfterTheLastKeyButNoLaterThanAnIntervalAfterTheFirst)
{
    editor.type("a");
    EXPECT_EQ(session->autosaveDueIn().value_or(-1), 60000);
    for (int second = 10; second <= 50; second += 10) {
        clock.advance(10);
        editor.type("b");
        EXPECT_EQ(session->autosaveDueIn().value_or(-1), (60 - second) * 1000) << second;
    }
    clock.advance(10);
    editor.type("c");
    EXPECT_EQ(session->autosaveDueIn().value_or(-1), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return !session->noteNeedsSaving(); }, 2000));
    EXPECT_EQ(storedText(selectedUuid()), "abbbbbc");
    EXPECT_FALSE(session->autosaveDueIn().has_value());
}

// --- Code-made changes ---------------------------------------------------------------------

TEST_F(NoteSessionTest, ChangesMadeByCodeAreNotTypingAndTheFlagsNest)
{
    {
        const auto outer = session->ignoreTextChanges();
        {
            const auto inner = session->ignoreTextChanges();
        }
        EXPECT_TRUE(session->ignoresTextChanges());
        editor.type("loaded");
        EXPECT_FALSE(session->noteNeedsSaving());
    }
    EXPECT_FALSE(session->ignoresTextChanges());
    editor.type("typed");
    EXPECT_TRUE(session->noteNeedsSaving());
}

} // namespace
