#pragma once

#include "platform/core/Error.h"
#include "platform/data/ObjectID.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <optional>

class Note;
class NoteListModel;
class QVRDataStore;
class QVRObjectController;
class QVRSyncManager;

namespace platform {
class UndoManager;
}

// The open note and its one owner: which note is selected, the item the
// editor is editing, whether typing is unsaved, the flags that keep code-made
// changes from counting as the user's, the central save every change goes
// through, the autosave, and the outcome of every write to the store.
//
// It has no widgets. It reads and fills the editor through Editor, and tells
// the window what to do through its signals; the window, the list, the menus,
// the tray, the script commands, files, URLs and sync call it. Main thread
// only.
//
// Saving, bounded: typing is saved 60 s (the autosave interval) after the
// last keystroke, and at the latest 60 s after the first unsaved one. A write
// that fails keeps the note unsaved, tells the user once (Prompts::saveFailed)
// until a write succeeds again, and is tried again at the next save point and
// an interval later.
class NoteSession : public QObject
{
    Q_OBJECT

public:
    // What the session needs of the editor; the window implements it, tests
    // implement it with a string.
    class Editor
    {
    public:
        virtual ~Editor();
        // The editor is on screen (beside the list, or alone).
        virtual bool isShowing() const = 0;
        // The text as the note keeps it.
        virtual QString text() const = 0;
        // Puts a note's text in without it counting as typing, and starts
        // the undo history afresh. `keepCaret`: the same note again, so the
        // caret stays where it can.
        virtual void showText(const QString& text, bool keepCaret) = 0;
        // The same words now belong to another note: only the undo history
        // starts afresh.
        virtual void forgetUndo() = 0;
    };

    // What the session asks and tells the user. The application shows
    // alerts; tests answer in their place. An empty function is not asked
    // (a quit question then answers Cancel).
    struct Prompts
    {
        // A write to the store failed, with the store's reason. Shown once,
        // until a write succeeds again.
        std::function<void(const platform::Error& reason)> saveFailed;
        // A quit the user chose while changes cannot be written: true quits
        // without them, false keeps the program running.
        std::function<bool(const platform::Error& reason)> quitWithoutSaving;
        // At start: texts that the last run kept in recovery files.
        std::function<void(const QStringList& paths)> recovered;
    };

    struct Environment
    {
        QVRDataStore* store = nullptr;                    // the application's main-queue store
        QVRDataStore* rootStore = nullptr;                // written again after a failed write
        NoteListModel* list = nullptr;                    // the rows the window shows
        std::function<QVRObjectController*()> controller; // the list's notes, filtered by search
        platform::UndoManager* undoManager = nullptr;
        QVRSyncManager* syncManager = nullptr;
        int autosaveIntervalMs = 60000;
        // Where a session end that cannot wait keeps unsaved texts; empty:
        // $XDG_DATA_HOME/Quillary/Recovered.
        QString recoveryFolder;
    };

    explicit NoteSession(const Environment& environment, QObject* parent = nullptr);
    ~NoteSession() override;

    void setEditor(Editor* editor) { m_editor = editor; }
    Prompts& prompts() { return m_prompts; }

    // --- Notes --------------------------------------------------------------
    Note* noteWithId(const QString& uuid) const;
    quint64 noteCount() const;

    // The central save: creates, changes, archives or restores the note that
    // `item` names (its attributes under QVRNoteAttributeKey), writes the
    // store, updates the list and, when it is the selected note, the editor.
    // `sync` is true for the user's own changes (they are sent to sync) and
    // false for changes that came from sync. Returns the note, or null when
    // the item saves nothing (no uuid, or a new note without text); whether
    // the store took the change is lastWriteSucceeded().
    Note* saveItem(const QVariantMap& item, bool sync);
    void deleteItemWithUUID(const QString& uuid, bool sync = true);
    void archive(bool archived, Note* note, bool sync);
    void undoDeletingObjectID(const platform::ObjectID& objectID);

    // Script commands: the note being typed is saved first, then the item.
    // A save to the note in the editor shows the new text there; a delete of
    // it archives it for good. False when the store could not be written
    // (or, for a save, the item saves nothing).
    bool quietlySaveItem(const QVariantMap& item);
    bool quietlyDeleteUUID(const QString& uuid);

    // --- The editor's note ---------------------------------------------------
    // Saves the editor's typing, or writes the store again when an earlier
    // write failed. True when nothing is left unsaved.
    bool saveCurrentNote();
    // Whether a change waits to be written: typing not yet saved, or a write
    // that failed.
    bool noteNeedsSaving() const { return m_noteNeedsSaving || m_writeFailed; }
    // Marks the editor's text as typed (or not). The first unsaved change
    // starts the bound of the autosave.
    void setNoteNeedsSaving(bool flag);
    // (Re)starts the autosave after a change: due an interval after now, but
    // never later than an interval after the first unsaved change.
    void startAutosave();
    // Milliseconds until the autosave runs, by the clock in use; nothing
    // when none is due.
    std::optional<int> autosaveDueIn() const;

    // The editor's text changed: typing, unless changes are being ignored.
    // True when it counted as typing.
    bool editorTextChanged();
    void editorEditingEnded();

    // The item the editor is editing: empty for a note not yet saved.
    const QVariantMap& editingItem() const { return m_editingItem; }
    // The editor no longer shows a note (it went back to the list); typing
    // not yet written keeps its item.
    void forgetEditingItem();
    // Loads the selected note into the editor. Unsaved typing in that very
    // note is kept; typing in another note is saved first. True when no note
    // is selected (the editor holds a new note).
    bool loadSelectedNote();
    // An empty editor for a new note, with nothing selected.
    void startNewNote();

    // --- Selection ---------------------------------------------------------------
    Note* selectedNote() const { return m_selectedNote; }
    // The selected note alone, when the list already shows it (a click).
    void setSelectedNote(Note* note);
    // Selects the note's row in the list (none for null) and the note.
    void selectNote(Note* note);
    // The note at `index` of the displayed (`filtered`) or full list.
    Note* selectNoteWithIndex(quint64 index, bool filtered);
    // Sets the selected note without telling anyone: the start restoring the
    // last selection, the end letting go of it.
    void restoreSelection(Note* note) { m_selectedNote = note; }

    // --- Changes made by code, not by the user ---------------------------------------
    // While one of these lives, the editor's text changes (or the list's
    // selection changes) are the program's own and are not acted on. They
    // nest.
    class Ignoring
    {
    public:
        explicit Ignoring(bool& flag) : m_flag(flag), m_was(flag) { m_flag = true; }
        ~Ignoring() { m_flag = m_was; }
        Ignoring(const Ignoring&) = delete;
        Ignoring& operator=(const Ignoring&) = delete;

    private:
        bool& m_flag;
        bool m_was;
    };
    [[nodiscard]] Ignoring ignoreTextChanges() { return Ignoring(m_ignoreTextChanges); }
    [[nodiscard]] Ignoring ignoreSelectionChanges() { return Ignoring(m_ignoreSelectionChanges); }
    bool ignoresTextChanges() const { return m_ignoreTextChanges; }
    bool ignoresSelectionChanges() const { return m_ignoreSelectionChanges; }

    // --- The outcome of the store's writes ---------------------------------------------
    // False while the last write failed (until one succeeds).
    bool lastWriteSucceeded() const { return !m_writeFailed; }
    // The store's reason for the failed write; nothing after a success.
    std::optional<platform::Error> writeFailure() const { return m_writeFailure; }

    // --- Quitting -----------------------------------------------------------------
    // Saves before the program ends. When changes cannot be written, a quit
    // the user chose asks whether to quit without them (false: keep running);
    // any other end (a signal, a logout) keeps the unsaved texts in recovery
    // files and goes on. True: go on quitting.
    bool prepareToQuit(bool userChoseQuit);
    // Writes the unsaved texts to recovery files (see recoveryFolder()) and
    // notes them for the next start; returns their paths.
    QStringList keepUnsavedTextsForRecovery();
    // Tells the user (Prompts::recovered) of the files the last run kept,
    // once.
    void announceRecoveredTexts();
    QString recoveryFolder() const;

signals:
    // The selected note changed (null: none): the window's note controls and
    // the remembered selection follow.
    void selectedNoteChanged(Note* note);
    // The list should select `row` (-1: none). Emitted while selection
    // changes are ignored.
    void rowSelected(int row);
    // The window should show the selected note in the editor: `evenAlone`
    // also where the editor would replace the list, otherwise only where it
    // stands beside it.
    void showNoteRequested(bool evenAlone);
    // The selected note left the list (deleted, or no longer found): a
    // window that shows the editor alone goes back to the list.
    void selectedNoteLeftList();
    // Rows came or went: the window updates what depends on the list.
    void listChanged();
    // A note's date or the count changed: the status line follows.
    void statusChanged();
    // A write to the store failed (each time), with the store's reason.
    void saveFailed(const platform::Error& reason);

private:
    QVRObjectController* controller() const;
    bool keepsUnsavedTyping(const QString& uuid, bool sync) const;
    // Writes the store; records and reports the outcome.
    bool writeStore();
    void writeSucceeded();
    void writeFailed();
    void stopAutosave();
    void scheduleAutosave(int ms);
    void reloadRowLater(int row);

    QVRDataStore* m_store = nullptr;
    QVRDataStore* m_rootStore = nullptr;
    NoteListModel* m_list = nullptr;
    std::function<QVRObjectController*()> m_controller;
    platform::UndoManager* m_undoManager = nullptr;
    QVRSyncManager* m_syncManager = nullptr;
    Editor* m_editor = nullptr;
    Prompts m_prompts;
    QString m_recoveryFolder;

    Note* m_selectedNote = nullptr;
    QVariantMap m_editingItem;      // empty: no note in the editor yet
    bool m_noteNeedsSaving = false; // typing not yet handed to the store
    bool m_ignoreTextChanges = false;
    bool m_ignoreSelectionChanges = false;
    bool m_loadingDetail = false;

    int m_autosaveIntervalMs = 60000;
    QTimer m_autosaveTimer;
    double m_autosaveDueAt = 0; // the clock's time the timer was started for
    double m_unsavedSince = -1; // the clock's time of the first unsaved change; -1: none

    bool m_writeFailed = false;
    bool m_failureShown = false;
    std::optional<platform::Error> m_writeFailure;
    QSet<QString> m_unwrittenUuids; // notes changed since the last write that succeeded
    bool m_askingToQuit = false;
};
