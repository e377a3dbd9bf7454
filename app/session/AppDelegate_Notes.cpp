// Note operations: the central save every change goes through, deleting and
// restoring, the editor's autosave and the guard against quitting with an
// unsaved note.
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"
#include "platform/shell/ProcessInfo.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <QTimer>
#include <QUuid>

#include <cmath>

namespace {

constexpr double DateTolerance = 0.0001;

double now()
{
    return platform::now();
}

} // namespace

Note* QuillaryAppDelegate::saveItem(const QVariantMap& item, bool sync)
{
    if (!m_dataStore)
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
        note = static_cast<Note*>(m_dataStore->context()->insert(QVRNoteEntityName));
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
                m_dataStore->saveData();
            }
            return note;
        }
    }

    QVRObjectController* controller = noteController();
    const int oldIndex = m_listModel->rowOfNote(note);

    note->setUuid(uuid);
    note->setText(text.isNull() ? QString(QLatin1String("")) : text);
    note->setDate(hasDate ? itemDate : now());
    note->setModified(hasModified ? item.value(QVRNoteAttributeKey::modified) : QVariant(now()));
    note->setArchived(archived);
    if (!archived)
        note->setRemoved(false);

    m_dataStore->saveData();
    if (sync && m_syncManager)
        m_syncManager->syncObject(note);
    if (archived) {
        const platform::ObjectID objectID = note->objectID();
        m_undoManager->beginUndoGrouping();
        m_undoManager->registerUndo(this, [this, objectID] { undoDeletingObjectID(objectID); });
        m_undoManager->setActionName(QVRLocalizedString(QStringLiteral("Delete")));
        m_undoManager->endUndoGrouping();
    }

    const bool isSelected = m_selectedNote && m_selectedNote->uuid() == uuid;
    controller->rearrangeObject(note);
    const quint64 found = controller->indexOfObject(note, true);
    const int newIndex = found == QVRObjectController::NotFound ? -1 : int(found);

    if (newIndex < 0 && oldIndex >= 0) {
        // The note left the list: archived, or no longer matching the search.
        m_listModel->removeNoteAt(oldIndex);
        QTimer::singleShot(100, this, [this, oldIndex] { reloadRowIndexes({oldIndex}); });
        const int count = m_listModel->rowCount();
        if (isSelected) {
            if (detailShowing() && !keepsUnsavedTyping(uuid, sync))
                hideDetailsAndSave(false, false);
            if (count > 0) {
                selectNoteWithIndex(quint64(oldIndex < count ? oldIndex : count - 1), true);
                if (m_twoPane)
                    activateDetailAndFocus(false, true);
            } else {
                selectNote(nullptr);
            }
        }
    } else if (newIndex < 0) {
        if (isSelected && !keepsUnsavedTyping(uuid, sync))
            newNoteWithoutSaving();
    } else if (oldIndex >= 0) {
        if (newIndex != oldIndex)
            m_listModel->moveNote(oldIndex, newIndex);
        reloadRowIndexes({newIndex});
        updateStatus();
        if (m_selectedNote == note && !keepsUnsavedTyping(uuid, sync))
            updateDetailView();
    } else {
        m_listModel->insertNote(note, newIndex);
        const bool wanted = sync || (noteCount() == 1 && textView() && textView()->document()->isEmpty());
        if (wanted && (!m_selectedNote || m_selectedNote == note)) {
            selectRow(newIndex);
            setSelectedNote(note);
        }
        updateViews();
    }
    return note;
}

bool QuillaryAppDelegate::keepsUnsavedTyping(const QString& uuid, bool sync) const
{
    // A change that arrives by sync for the note being typed into leaves the
    // editor alone: the pending save stores the typing as the newest change.
    return !sync && m_noteNeedsSaving && m_editingItem.value(QVRNoteAttributeKey::uuid).toString() == uuid;
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
    archive(true, noteWithId(uuid), sync);
}

void QuillaryAppDelegate::archive(bool archived, Note* note, bool sync)
{
    if (!note)
        return;
    QVariantMap item = note->attributes();
    item.insert(QVRNoteAttributeKey::archived, archived);
    item.remove(QVRNoteAttributeKey::modified);
    saveItem(item, sync);
}

void QuillaryAppDelegate::undoDeletingObjectID(const platform::ObjectID& objectID)
{
    platform::Error error;
    platform::ManagedObject* object =
        m_dataStore ? m_dataStore->context()->existingObject(objectID, &error) : nullptr;
    if (!object) {
        platform::log(
            QStringLiteral("Unable to undo delete: %1, %2").arg(error.localizedDescription, error.domain));
        return;
    }
    Note* note = static_cast<Note*>(object);
    const QString uuid = note->uuid();
    archive(false, note, true);
    m_undoManager->registerUndo(this, [this, uuid] { deleteItemWithUUID(uuid, true); });
}

quint64 QuillaryAppDelegate::noteCount()
{
    return noteController()->countFiltered(false);
}

Note* QuillaryAppDelegate::noteWithId(const QString& uuid)
{
    if (!m_dataStore || uuid.isEmpty())
        return nullptr;
    // A failed fetch counts as not found.
    return static_cast<Note*>(QVRDataStore::noteWithUUID(m_dataStore->context(), uuid));
}

Note* QuillaryAppDelegate::selectNoteWithIndex(quint64 index, bool filtered)
{
    if (filtered) {
        Note* note = index < quint64(m_listModel->rowCount()) ? m_listModel->noteAt(int(index)) : nullptr;
        selectRow(note ? int(index) : -1);
        setSelectedNote(note);
        return note;
    }
    Note* note = static_cast<Note*>(noteController()->objectAtIndex(index, false));
    selectNote(note);
    return note;
}

void QuillaryAppDelegate::selectNote(Note* note)
{
    selectRow(note ? m_listModel->rowOfNote(note) : -1);
    setSelectedNote(note);
}

void QuillaryAppDelegate::reloadRowIndexes(const QSet<int>& rows)
{
    m_listModel->reloadRows(rows.values());
}

void QuillaryAppDelegate::saveCurrentNote()
{
    m_autosaveTimer.stop();
    if (!m_noteNeedsSaving || !detailShowing() || !textView())
        return;
    const QString text = editorText();
    if (!m_editingItem.isEmpty()) {
        // Typing into a deleted note restores it.
        if (platform::variantBoolValue(m_editingItem.value(QVRNoteAttributeKey::archived)) &&
            text != m_editingItem.value(QVRNoteAttributeKey::text).toString())
            m_editingItem.insert(QVRNoteAttributeKey::archived, false);
        m_editingItem.insert(QVRNoteAttributeKey::text, text);
    } else {
        m_editingItem = {
            {QVRNoteAttributeKey::uuid, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
            {QVRNoteAttributeKey::text, text}};
    }
    saveItem(m_editingItem, true);
    setNoteNeedsSaving(false);
}

void QuillaryAppDelegate::saveData()
{
    if (m_rootStore)
        m_rootStore->saveData();
    m_defaults->set(QStringLiteral("Text Checking Types"), m_textCheckingTypes);
}

void QuillaryAppDelegate::setNoteNeedsSaving(bool flag)
{
    if (flag == m_noteNeedsSaving)
        return;
    if (flag) {
        platform::ProcessInfo::processInfo().disableSuddenTermination();
        platform::ProcessInfo::processInfo().disableAutomaticTermination(QStringLiteral("Unsaved Note"));
    } else {
        platform::ProcessInfo::processInfo().enableSuddenTermination();
        platform::ProcessInfo::processInfo().enableAutomaticTermination(QStringLiteral("Unsaved Note"));
    }
    m_noteNeedsSaving = flag;
}

bool QuillaryAppDelegate::quietlySaveItem(const QVariantMap& item)
{
    saveCurrentNote();
    setNoteNeedsSaving(true);
    Note* note = saveItem(item, true);
    setNoteNeedsSaving(false);
    return note != nullptr;
}

void QuillaryAppDelegate::quietlyDeleteUUID(const QString& uuid)
{
    saveCurrentNote();
    setNoteNeedsSaving(true);
    deleteItemWithUUID(uuid, true);
    setNoteNeedsSaving(false);
}

void QuillaryAppDelegate::textDidChange()
{
    if (m_ignoreTextChanges)
        return;
    setNoteNeedsSaving(true);
    m_autosaveTimer.start();
    updateDividersAnimated(true);
}

void QuillaryAppDelegate::textDidEndEditing()
{
    if (!m_ignoreTextChanges)
        saveCurrentNote();
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

void QuillaryAppDelegate::didDeleteOldObjects()
{
    m_noteController.reset();
    reloadList();
}
