#include "app/session/NoteSession.h"

#include "app/list/NoteListModel.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/Variant.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRNoteAttributes.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"
#include "sync/QVRSyncManager.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace {

constexpr double DateTolerance = 0.0001;
// Beside the recovery files: the ones the next start has not told of yet,
// one path a line.
const QString UnannouncedListName = QStringLiteral(".unannounced");

QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// The store's reason for a failed write, or a general one when it gave none.
platform::Error failureReason(QVRDataStore* store, QVRDataStore* root)
{
    std::optional<platform::Error> reason = store ? store->lastSaveError() : std::nullopt;
    if (!reason && root)
        reason = root->lastSaveError();
    if (reason)
        return *reason;
    platform::Error error;
    error.domain = QStringLiteral("com.quorvane.datastore");
    error.code = 100;
    error.localizedDescription = QVRLocalizedString(QStringLiteral("There was an error saving your data"));
    return error;
}

} // namespace

NoteSession::Editor::~Editor() = default;

NoteSession::NoteSession(const Environment& environment, QObject* parent)
    : QObject(parent), m_store(environment.store), m_rootStore(environment.rootStore),
      m_list(environment.list), m_controller(environment.controller), m_undoManager(environment.undoManager),
      m_syncManager(environment.syncManager), m_recoveryFolder(environment.recoveryFolder),
      m_autosaveIntervalMs(std::max(0, environment.autosaveIntervalMs))
{
    m_autosaveTimer.setSingleShot(true);
    connect(&m_autosaveTimer, &QTimer::timeout, this, [this] { saveCurrentNote(); });
}

NoteSession::~NoteSession() = default;

QVRObjectController* NoteSession::controller() const
{
    return m_controller ? m_controller() : nullptr;
}

Note* NoteSession::noteWithId(const QString& uuid) const
{
    if (!m_store || !m_store->context() || uuid.isEmpty())
        return nullptr;
    // A failed fetch counts as not found.
    return static_cast<Note*>(QVRDataStore::noteWithUUID(m_store->context(), uuid));
}

quint64 NoteSession::noteCount() const
{
    QVRObjectController* notes = controller();
    return notes ? notes->countFiltered(false) : 0;
}

// --- The central save ------------------------------------------------------------

Note* NoteSession::saveItem(const QVariantMap& item, bool sync)
{
    if (!m_store || !m_store->context())
        return nullptr;
    const QVariant uuidValue = item.value(QVRNoteAttributeKey::uuid);
    if (uuidValue.typeId() != QMetaType::QString || uuidValue.toString().isEmpty())
        return nullptr;
    const QString uuid = uuidValue.toString();
    const QVariant textValue = item.value(QVRNoteAttributeKey::text);
    const QString itemText = textValue.typeId() == QMetaType::QString ? textValue.toString() : QString();
    const bool hasText = QVRUtilities::hasTrimmedValue(itemText);
    const bool archived =
        hasText ? platform::variantBoolValue(item.value(QVRNoteAttributeKey::archived)) : true;
    const bool hasDate = item.contains(QVRNoteAttributeKey::date);
    const double itemDate = platform::variantDoubleValue(item.value(QVRNoteAttributeKey::date));
    const bool hasModified = item.contains(QVRNoteAttributeKey::modified);

    Note* note = noteWithId(uuid);
    bool isNew = false;
    if (!note) {
        if (!hasText)
            return nullptr; // an empty note is never created
        note = static_cast<Note*>(m_store->context()->insert(QVRNoteEntityName));
        isNew = true;
    }
    // An emptied note keeps its last text and is archived.
    const QString text = hasText ? itemText : note->text();

    if (!isNew) {
        const bool sameText = note->text() == text;
        const bool sameDate =
            !hasDate || std::fabs(itemDate - platform::variantDoubleValue(note->date())) < DateTolerance;
        const bool sameArchived = platform::variantBoolValue(note->archived()) == archived;
        if (sameText && sameDate && sameArchived) {
            if (!sync && hasModified) {
                note->setModified(item.value(QVRNoteAttributeKey::modified));
                if (!writeStore())
                    m_unwrittenUuids.insert(uuid);
            }
            return note;
        }
    }

    QVRObjectController* notes = controller();
    const int oldIndex = m_list->rowOfNote(note);

    note->setUuid(uuid);
    note->setText(text.isNull() ? QString(QLatin1String("")) : text);
    note->setDate(hasDate ? itemDate : platform::now());
    note->setModified(hasModified ? item.value(QVRNoteAttributeKey::modified) : QVariant(platform::now()));
    note->setArchived(archived);
    if (!archived)
        note->setRemoved(false);

    // A write that fails keeps the change in memory for the next write.
    if (!writeStore())
        m_unwrittenUuids.insert(uuid);
    if (sync && m_syncManager)
        m_syncManager->syncObject(note);
    if (archived && m_undoManager) {
        const platform::ObjectID objectID = note->objectID();
        m_undoManager->beginUndoGrouping();
        m_undoManager->registerUndo(this, [this, objectID] { undoDeletingObjectID(objectID); });
        m_undoManager->setActionName(QVRLocalizedString(QStringLiteral("Delete")));
        m_undoManager->endUndoGrouping();
    }

    const bool isSelected = m_selectedNote && m_selectedNote->uuid() == uuid;
    const bool inEditor = m_editingItem.value(QVRNoteAttributeKey::uuid).toString() == uuid;
    notes->rearrangeObject(note);
    const quint64 found = notes->indexOfObject(note, true);
    const int newIndex = found == QVRObjectController::NotFound ? -1 : int(found);

    if (newIndex < 0 && oldIndex >= 0) {
        // The note left the list: archived, or no longer matching the search.
        const bool keepsTyping = keepsUnsavedTyping(uuid, sync);
        // The editor's item follows the store: a stale copy saved later
        // must not bring a deleted note back (typing into it still does).
        if (inEditor && !keepsTyping)
            m_editingItem.insert(QVRNoteAttributeKey::archived, note->archived());
        m_list->removeNoteAt(oldIndex);
        reloadRowLater(oldIndex);
        const int count = m_list->rowCount();
        if (isSelected) {
            if (m_editor && m_editor->isShowing() && !keepsTyping)
                emit selectedNoteLeftList();
            if (count > 0) {
                selectNoteWithIndex(quint64(oldIndex < count ? oldIndex : count - 1), true);
                emit showNoteRequested(false);
            } else {
                selectNote(nullptr);
            }
        }
    } else if (newIndex < 0) {
        if (isSelected && !keepsUnsavedTyping(uuid, sync)) {
            startNewNote();
            emit showNoteRequested(true);
        }
    } else if (oldIndex >= 0) {
        if (newIndex != oldIndex)
            m_list->moveNote(oldIndex, newIndex);
        m_list->reloadRows({newIndex});
        emit statusChanged();
        if (m_selectedNote == note && !keepsUnsavedTyping(uuid, sync))
            loadSelectedNote();
    } else {
        m_list->insertNote(note, newIndex);
        const bool editorEmpty = m_editor && m_editor->text().isEmpty();
        const bool wanted = sync || (noteCount() == 1 && editorEmpty);
        if (wanted && (!m_selectedNote || m_selectedNote == note)) {
            selectNote(note);
            // A selected row shows its note: the editor must not stay blank
            // (or keep a new note's empty item) under it.
            loadSelectedNote();
        }
        emit listChanged();
    }
    return note;
}

bool NoteSession::keepsUnsavedTyping(const QString& uuid, bool sync) const
{
    // A change that arrives by sync for the note being typed into leaves the
    // editor alone: the pending save stores the typing as the newest change.
    return !sync && m_noteNeedsSaving && m_editingItem.value(QVRNoteAttributeKey::uuid).toString() == uuid;
}

void NoteSession::reloadRowLater(int row)
{
    QTimer::singleShot(100, this, [this, row] { m_list->reloadRows({row}); });
}

void NoteSession::deleteItemWithUUID(const QString& uuid, bool sync)
{
    archive(true, noteWithId(uuid), sync);
}

void NoteSession::archive(bool archived, Note* note, bool sync)
{
    if (!note)
        return;
    QVariantMap item = note->attributes();
    item.insert(QVRNoteAttributeKey::archived, archived);
    item.remove(QVRNoteAttributeKey::modified);
    saveItem(item, sync);
}

void NoteSession::undoDeletingObjectID(const platform::ObjectID& objectID)
{
    platform::Error error;
    platform::ManagedObject* object =
        m_store && m_store->context() ? m_store->context()->existingObject(objectID, &error) : nullptr;
    if (!object) {
        platform::log(
            QStringLiteral("Unable to undo delete: %1, %2").arg(error.localizedDescription, error.domain));
        return;
    }
    Note* note = static_cast<Note*>(object);
    const QString uuid = note->uuid();
    archive(false, note, true);
    if (m_undoManager)
        m_undoManager->registerUndo(this, [this, uuid] { deleteItemWithUUID(uuid, true); });
}

bool NoteSession::quietlySaveItem(const QVariantMap& item)
{
    // The user's typing first: afterwards nothing unsaved stands in the way,
    // so a save to the note in the editor shows its text there.
    saveCurrentNote();
    Note* note = saveItem(item, true);
    if (note && m_writeFailed)
        writeStore();
    return note != nullptr && !m_writeFailed;
}

bool NoteSession::quietlyDeleteUUID(const QString& uuid)
{
    saveCurrentNote();
    deleteItemWithUUID(uuid, true);
    if (m_writeFailed)
        writeStore();
    return !m_writeFailed;
}

// --- Writing the store -------------------------------------------------------------

bool NoteSession::writeStore()
{
    if (!m_store)
        return false;
    bool ok = m_store->saveData();
    // After a failed write the changes wait in the root store, which a save
    // of this store alone (with nothing new) would not write again.
    if (ok && m_writeFailed && m_rootStore)
        ok = m_rootStore->saveData();
    if (ok)
        writeSucceeded();
    else
        writeFailed();
    return ok;
}

void NoteSession::writeSucceeded()
{
    m_writeFailed = false;
    m_failureShown = false;
    m_writeFailure.reset();
    m_unwrittenUuids.clear();
    if (!m_noteNeedsSaving) {
        m_unsavedSince = -1;
        stopAutosave();
    }
}

void NoteSession::writeFailed()
{
    const platform::Error reason = failureReason(m_store, m_rootStore);
    platform::log(
        QStringLiteral("The note could not be saved: %1 %2")
            .arg(reason.localizedDescription, reason.userInfo.value(QStringLiteral("reason")).toString()));
    m_writeFailed = true;
    m_writeFailure = reason;
    // Tried again an interval from now, unless a save point comes first.
    m_unsavedSince = platform::now();
    scheduleAutosave(m_autosaveIntervalMs);
    emit saveFailed(reason);
    if (!m_failureShown) {
        m_failureShown = true;
        if (m_prompts.saveFailed)
            m_prompts.saveFailed(reason);
    }
}

// --- The editor's note ------------------------------------------------------------

bool NoteSession::saveCurrentNote()
{
    stopAutosave();
    if (!m_noteNeedsSaving || !m_editor || !m_editor->isShowing()) {
        // Nothing typed to hand over: a store that is behind is written again.
        if (m_writeFailed)
            writeStore();
        return !noteNeedsSaving();
    }
    const QString text = m_editor->text();
    if (!m_editingItem.isEmpty()) {
        // Typing into a deleted note restores it.
        if (platform::variantBoolValue(m_editingItem.value(QVRNoteAttributeKey::archived)) &&
            text != m_editingItem.value(QVRNoteAttributeKey::text).toString())
            m_editingItem.insert(QVRNoteAttributeKey::archived, false);
        m_editingItem.insert(QVRNoteAttributeKey::text, text);
    } else {
        m_editingItem = {{QVRNoteAttributeKey::uuid, newUUID()}, {QVRNoteAttributeKey::text, text}};
    }
    saveItem(m_editingItem, true);
    // The typing is in the store's hands now; when its write failed, the
    // note stays unsaved (noteNeedsSaving()) and the write is tried again.
    setNoteNeedsSaving(false);
    return !noteNeedsSaving();
}

void NoteSession::setNoteNeedsSaving(bool flag)
{
    if (flag && m_unsavedSince < 0)
        m_unsavedSince = platform::now();
    if (!flag && !m_writeFailed)
        m_unsavedSince = -1;
    m_noteNeedsSaving = flag;
}

void NoteSession::startAutosave()
{
    if (m_unsavedSince < 0)
        m_unsavedSince = platform::now();
    // Idle for an interval, or an interval after the first unsaved change,
    // whichever comes first: steady typing is saved too.
    const double elapsedMs = std::max(0.0, (platform::now() - m_unsavedSince) * 1000.0);
    const double boundMs = std::max(0.0, double(m_autosaveIntervalMs) - elapsedMs);
    scheduleAutosave(int(std::min(double(m_autosaveIntervalMs), std::ceil(boundMs))));
}

void NoteSession::scheduleAutosave(int ms)
{
    m_autosaveDueAt = platform::now() + ms / 1000.0;
    m_autosaveTimer.start(ms);
}

void NoteSession::stopAutosave()
{
    m_autosaveTimer.stop();
}

std::optional<int> NoteSession::autosaveDueIn() const
{
    if (!m_autosaveTimer.isActive())
        return std::nullopt;
    return int(std::lround(std::max(0.0, m_autosaveDueAt - platform::now()) * 1000.0));
}

bool NoteSession::editorTextChanged()
{
    if (m_ignoreTextChanges)
        return false;
    setNoteNeedsSaving(true);
    startAutosave();
    return true;
}

void NoteSession::editorEditingEnded()
{
    if (!m_ignoreTextChanges)
        saveCurrentNote();
}

void NoteSession::forgetEditingItem()
{
    // Typing not yet handed to the store keeps the note it belongs to.
    if (!m_noteNeedsSaving)
        m_editingItem.clear();
}

bool NoteSession::loadSelectedNote()
{
    if (!m_editor)
        return m_selectedNote == nullptr;
    const QString editingUuid = m_editingItem.value(QVRNoteAttributeKey::uuid).toString();
    if (m_selectedNote && m_noteNeedsSaving && !m_loadingDetail) {
        if (!editingUuid.isEmpty() && editingUuid == m_selectedNote->uuid()) {
            // Unsaved typing in this very note wins over the stored text;
            // only the archived flag follows the store.
            m_editingItem.insert(QVRNoteAttributeKey::archived, m_selectedNote->archived());
            return false;
        }
        // Another note is about to replace unsaved typing: keep it first.
        const Ignoring loading(m_loadingDetail);
        saveCurrentNote();
    }

    QString text = QString(QLatin1String(""));
    bool sameNote = false;
    if (m_selectedNote) {
        sameNote = !editingUuid.isEmpty() && editingUuid == m_selectedNote->uuid();
        m_editingItem = {{QVRNoteAttributeKey::archived, m_selectedNote->archived()},
                         {QVRNoteAttributeKey::uuid, m_selectedNote->uuid()},
                         {QVRNoteAttributeKey::text, m_selectedNote->text()}};
        text = m_selectedNote->text();
    } else {
        m_editingItem.clear();
    }
    if (m_editor->text() != text) {
        const Ignoring loading(m_ignoreTextChanges);
        m_editor->showText(text, sameNote);
    } else if (!sameNote) {
        // The same words in another note do not share its undo history.
        m_editor->forgetUndo();
    }
    return m_selectedNote == nullptr;
}

void NoteSession::startNewNote()
{
    if (m_editor) {
        const Ignoring loading(m_ignoreTextChanges);
        m_editor->showText(QString(QLatin1String("")), false);
    }
    m_editingItem.clear();
    setNoteNeedsSaving(false);
    selectNote(nullptr);
}

// --- Selection ----------------------------------------------------------------------

void NoteSession::setSelectedNote(Note* note)
{
    m_selectedNote = note;
    emit selectedNoteChanged(note);
}

void NoteSession::selectNote(Note* note)
{
    {
        const Ignoring quiet(m_ignoreSelectionChanges);
        emit rowSelected(note ? m_list->rowOfNote(note) : -1);
    }
    setSelectedNote(note);
}

Note* NoteSession::selectNoteWithIndex(quint64 index, bool filtered)
{
    if (filtered) {
        Note* note = index < quint64(m_list->rowCount()) ? m_list->noteAt(int(index)) : nullptr;
        {
            const Ignoring quiet(m_ignoreSelectionChanges);
            emit rowSelected(note ? int(index) : -1);
        }
        setSelectedNote(note);
        return note;
    }
    QVRObjectController* notes = controller();
    Note* note = notes ? static_cast<Note*>(notes->objectAtIndex(index, false)) : nullptr;
    selectNote(note);
    return note;
}

// --- Quitting and recovery -----------------------------------------------------------

bool NoteSession::prepareToQuit(bool userChoseQuit)
{
    if (m_askingToQuit)
        return false; // a second request while the first is being answered
    saveCurrentNote();
    if (!m_writeFailed)
        return true;
    if (!userChoseQuit) {
        // An end that cannot wait for the user: the texts go to files.
        keepUnsavedTextsForRecovery();
        return true;
    }
    if (!m_prompts.quitWithoutSaving)
        return false;
    const Ignoring asking(m_askingToQuit);
    const platform::Error reason = m_writeFailure.value_or(failureReason(m_store, m_rootStore));
    return m_prompts.quitWithoutSaving(reason);
}

QString NoteSession::recoveryFolder() const
{
    if (!m_recoveryFolder.isEmpty())
        return m_recoveryFolder;
    return platform::applicationDataDirectory() + QStringLiteral("/Recovered");
}

QStringList NoteSession::keepUnsavedTextsForRecovery()
{
    struct Unsaved
    {
        QString name; // the uuid, or "new"
        QString text;
    };
    std::vector<Unsaved> texts;
    QSet<QString> taken;
    const QString editingUuid = m_editingItem.value(QVRNoteAttributeKey::uuid).toString();
    if (m_noteNeedsSaving && m_editor) {
        // Typing not yet handed to the store.
        const QString name = editingUuid.isEmpty() ? QStringLiteral("new") : editingUuid;
        texts.push_back({name, m_editor->text()});
        taken.insert(name);
    }
    QStringList uuids = m_unwrittenUuids.values();
    uuids.sort();
    for (const QString& uuid : uuids) {
        Note* note = noteWithId(uuid);
        if (taken.contains(uuid) || !note || platform::variantBoolValue(note->archived()))
            continue;
        texts.push_back({uuid, note->text()});
    }
    if (texts.empty())
        return {};

    const QString folder = recoveryFolder();
    QDir().mkpath(folder);
    const QString time = QDateTime::fromMSecsSinceEpoch(qint64(platform::now() * 1000))
                             .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QStringList paths;
    for (const Unsaved& unsaved : texts) {
        // A name no other file has: a second end in the same second adds a count.
        QString path = QStringLiteral("%1/%2-%3.txt").arg(folder, unsaved.name, time);
        for (int n = 2; QFile::exists(path); ++n)
            path = QStringLiteral("%1/%2-%3-%4.txt").arg(folder, unsaved.name, time).arg(n);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(unsaved.text.toUtf8()) < 0 || !file.commit()) {
            platform::log(
                QStringLiteral("Could not keep an unsaved note in %1: %2").arg(path, file.errorString()));
            continue;
        }
        paths << path;
    }
    if (!paths.isEmpty()) {
        QFile list(folder + QLatin1Char('/') + UnannouncedListName);
        if (list.open(QIODevice::WriteOnly | QIODevice::Append))
            list.write((paths.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        platform::log(QStringLiteral("Unsaved notes kept in %1").arg(paths.join(QStringLiteral(", "))));
    }
    return paths;
}

void NoteSession::announceRecoveredTexts()
{
    QFile list(recoveryFolder() + QLatin1Char('/') + UnannouncedListName);
    if (!list.exists() || !list.open(QIODevice::ReadOnly))
        return;
    QStringList paths;
    for (const QString& line : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && QFile::exists(line))
            paths << line;
    }
    list.close();
    list.remove();
    if (!paths.isEmpty() && m_prompts.recovered)
        m_prompts.recovered(paths);
}
