// Note operations: the delegate's side of the open note. NoteSession owns
// the note, the central save and the autosave; the delegate builds it over
// the window (NoteSession::Editor and the session's signals) and passes its
// note operations on.
#include "app/QuillaryAppDelegate.h"
#include "app/alerts/NoteSessionAlerts.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRObjectController.h"

namespace {

// The editor as the session sees it: the window's text view.
class WindowEditor : public NoteSession::Editor
{
public:
    explicit WindowEditor(QuillaryAppDelegate* delegate) : m_delegate(delegate) {}

    bool isShowing() const override { return m_delegate->textView() && m_delegate->detailShowing(); }
    QString text() const override { return m_delegate->editorText(); }
    void showText(const QString& text, bool keepCaret) override
    {
        if (!m_delegate->textView())
            return;
        m_delegate->insertText(text, keepCaret);
        forgetUndo();
    }
    void forgetUndo() override
    {
        if (QVRLinkTextView* editor = m_delegate->textView())
            m_delegate->undoManager()->removeAllActionsWithTarget(editor->document());
    }

private:
    QuillaryAppDelegate* m_delegate;
};

} // namespace

void QuillaryAppDelegate::buildSession(const Environment& environment)
{
    NoteSession::Environment session;
    session.store = m_dataStore.get();
    session.rootStore = m_rootStore;
    session.list = m_listModel;
    session.controller = [this] { return noteController(); };
    session.undoManager = m_undoManager;
    session.syncManager = environment.syncManager;
    session.autosaveIntervalMs = environment.autosaveIntervalMs;
    session.recoveryFolder = environment.recoveryFolder;
    m_session = new NoteSession(session, this);
    m_sessionEditor = std::make_unique<WindowEditor>(this);
    m_session->setEditor(m_sessionEditor.get());
    m_session->prompts() = NoteSessionAlerts::prompts([this]() -> QWidget* { return m_window; });

    connect(m_session, &NoteSession::selectedNoteChanged, this, [this](Note* note) {
        if (m_window)
            m_window->moreButton()->setVisible(note != nullptr);
        if (note)
            QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::Selected, note->uuid());
        else
            m_defaults->remove(QVRDefaultsKeys::Selected);
    });
    connect(m_session, &NoteSession::rowSelected, this, &QuillaryAppDelegate::selectRow);
    connect(m_session, &NoteSession::showNoteRequested, this, [this](bool evenAlone) {
        if (evenAlone || m_twoPane)
            activateDetailAndFocus(false, true);
    });
    connect(m_session, &NoteSession::selectedNoteLeftList, this,
            [this] { hideDetailsAndSave(false, false); });
    connect(m_session, &NoteSession::listChanged, this, &QuillaryAppDelegate::updateViews);
    connect(m_session, &NoteSession::statusChanged, this, qOverload<>(&QuillaryAppDelegate::updateStatus));
    // Only a quit the user chose may stop to ask about a note that cannot be
    // saved. Connected before anyone else, so it is known when the shell asks
    // applicationShouldTerminate().
    connect(this, &QuillaryAppDelegate::quitRequested, this, [this] { m_quitChosenByUser = true; });
}

Note* QuillaryAppDelegate::saveItem(const QVariantMap& item, bool sync)
{
    return m_session->saveItem(item, sync);
}

void QuillaryAppDelegate::saveAndSyncItem(const QVariantMap& item, bool show)
{
    Note* note = saveItem(item, true);
    if (note && show) {
        selectNote(note);
        activateDetailAndFocus(false, true);
    }
}

void QuillaryAppDelegate::deleteItemWithUUID(const QString& uuid, bool sync)
{
    m_session->deleteItemWithUUID(uuid, sync);
}

void QuillaryAppDelegate::archive(bool archived, Note* note, bool sync)
{
    m_session->archive(archived, note, sync);
}

void QuillaryAppDelegate::undoDeletingObjectID(const platform::ObjectID& objectID)
{
    m_session->undoDeletingObjectID(objectID);
}

quint64 QuillaryAppDelegate::noteCount()
{
    return m_session->noteCount();
}

Note* QuillaryAppDelegate::noteWithId(const QString& uuid)
{
    return m_session->noteWithId(uuid);
}

Note* QuillaryAppDelegate::selectNoteWithIndex(quint64 index, bool filtered)
{
    return m_session->selectNoteWithIndex(index, filtered);
}

void QuillaryAppDelegate::selectNote(Note* note)
{
    m_session->selectNote(note);
}

void QuillaryAppDelegate::reloadRowIndexes(const QSet<int>& rows)
{
    m_listModel->reloadRows(rows.values());
}

bool QuillaryAppDelegate::saveCurrentNote()
{
    return m_session->saveCurrentNote();
}

void QuillaryAppDelegate::saveData()
{
    if (m_rootStore)
        m_rootStore->saveData();
    QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::TextCheckingTypes, m_textCheckingTypes);
}

void QuillaryAppDelegate::setNoteNeedsSaving(bool flag)
{
    m_session->setNoteNeedsSaving(flag);
}

bool QuillaryAppDelegate::quietlySaveItem(const QVariantMap& item)
{
    return m_session->quietlySaveItem(item);
}

bool QuillaryAppDelegate::quietlyDeleteUUID(const QString& uuid)
{
    return m_session->quietlyDeleteUUID(uuid);
}

void QuillaryAppDelegate::textDidChange()
{
    if (m_session->editorTextChanged())
        updateDividersAnimated(true);
}

void QuillaryAppDelegate::textDidEndEditing()
{
    m_session->editorEditingEnded();
}

// --- Sync manager callbacks ------------------------------------------------------

void QuillaryAppDelegate::saveObjectWithAttributes(const QVRNoteAttributes& attributes, bool sync)
{
    saveItem(attributes, sync);
}

void QuillaryAppDelegate::unknownObjectNamed(const QString& name, const QVariantMap& attributes)
{
    QStringList pairs;
    for (auto it = attributes.begin(); it != attributes.end(); ++it)
        pairs << it.key() + QStringLiteral(" = ") + it.value().toString();
    platform::log(QStringLiteral("Unknown object: %1 with attributes: {%2}")
                      .arg(name, pairs.join(QStringLiteral("; "))));
}

void QuillaryAppDelegate::deleteObjectWithUUID(const QString& uuid)
{
    deleteItemWithUUID(uuid, false);
}

void QuillaryAppDelegate::didDeleteOldObjects(const std::vector<platform::ObjectID>& objectIDs)
{
    // The pruned notes were archived: the full list holds none of them, and
    // the search list only while it shows the history. A list that holds
    // none is left alone.
    QVRObjectController* controller = m_noteController.get();
    if (!controller || objectIDs.empty())
        return;
    const QSet<platform::ObjectID> pruned(objectIDs.begin(), objectIDs.end());
    bool shown = false;
    for (const bool filtered : {false, true}) {
        if (filtered && !controller->filtered())
            break;
        for (platform::ManagedObject* object : controller->objectsFiltered(filtered)) {
            if (!pruned.contains(object->objectID()))
                continue;
            // Its copy learns here that the record is gone, and leaves.
            object->values();
            shown = true;
        }
    }
    if (shown)
        rearrangeList([controller] { controller->rearrangeObjects(); });
}
