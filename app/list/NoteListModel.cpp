#include "app/list/NoteListModel.h"

#include "platform/core/Variant.h"
#include "store/Note.h"
#include "store/QVRDateFormatter.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <algorithm>

QString NoteListModel::titlePrefix(const QString& title)
{
    qsizetype length = std::min(title.size(), TitlePrefixLength);
    // Never half a character: a surrogate pair stays whole.
    if (length < title.size() && length > 0 && title.at(length).isLowSurrogate() &&
        title.at(length - 1).isHighSurrogate())
        --length;
    return title.left(length);
}

NoteListModel::NoteListModel(QObject* parent) : QAbstractListModel(parent) {}

int NoteListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant NoteListModel::data(const QModelIndex& index, int role) const
{
    Note* note = noteAt(index.row());
    if (!note || index.column() != 0)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        // A bounded prefix: the row elides the title to its width, and
        // measuring a first line of megabytes took seconds per repaint.
        return QVRUtilities::reduceSpaces(titlePrefix(note->title()));
    case NoteRole:
        return QVariant::fromValue(static_cast<void*>(note));
    case DateTextRole:
        return QVRDateFormatter::sharedFormatter().updatedText(QString(),
                                                               platform::variantDoubleValue(note->date()));
    case ArchivedRole:
        return platform::variantBoolValue(note->archived());
    default:
        return {};
    }
}

Note* NoteListModel::noteAt(int row) const
{
    return row >= 0 && row < int(m_rows.size()) ? m_rows[size_t(row)] : nullptr;
}

int NoteListModel::rowOfNote(const Note* note) const
{
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i] == note)
            return int(i);
    }
    return -1;
}

void NoteListModel::reloadFrom(QVRObjectController* controller)
{
    beginResetModel();
    m_rows.clear();
    if (controller) {
        for (platform::ManagedObject* object : controller->objectsFiltered(true))
            m_rows.push_back(static_cast<Note*>(object));
    }
    endResetModel();
}

void NoteListModel::removeNoteAt(int row)
{
    if (row < 0 || row >= int(m_rows.size()))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void NoteListModel::insertNote(Note* note, int row)
{
    row = std::clamp(row, 0, int(m_rows.size()));
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(m_rows.begin() + row, note);
    endInsertRows();
}

void NoteListModel::moveNote(int from, int to)
{
    const int count = int(m_rows.size());
    if (from == to || from < 0 || from >= count || to < 0 || to >= count)
        return;
    // Qt wants the destination as the row before which the moved row lands,
    // counted in the old list.
    beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    Note* note = m_rows[size_t(from)];
    m_rows.erase(m_rows.begin() + from);
    m_rows.insert(m_rows.begin() + to, note);
    endMoveRows();
}

void NoteListModel::apply(const std::vector<platform::ArrangementChange>& changes)
{
    using Kind = platform::ArrangementChange::Kind;
    for (const platform::ArrangementChange& change : changes) {
        switch (change.kind) {
        case Kind::Insert:
            insertNote(static_cast<Note*>(change.object), int(change.to));
            break;
        case Kind::Remove:
            removeNoteAt(int(change.from));
            break;
        case Kind::Move:
            moveNote(int(change.from), int(change.to));
            break;
        }
    }
}

void NoteListModel::reloadRows(const QList<int>& rows)
{
    for (int row : rows) {
        if (row >= 0 && row < int(m_rows.size()))
            emit dataChanged(index(row), index(row));
    }
}

void NoteListModel::reloadAll()
{
    if (!m_rows.empty())
        emit dataChanged(index(0), index(int(m_rows.size()) - 1));
}

void NoteListModel::refreshDates()
{
    if (!m_rows.empty())
        emit dataChanged(index(0), index(int(m_rows.size()) - 1), {DateTextRole});
}
