#pragma once

#include "platform/data/ArrayController.h"

#include <QAbstractListModel>

#include <vector>

class Note;
class QVRObjectController;

// The rows of the note list. It keeps its own copy of the list controller's
// current arrangement, because a Qt view must be told of each row change while
// the old rows are still in place: the central save rearranges the controller
// first and then replays its remove, insert or move here.
class NoteListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        NoteRole = Qt::UserRole + 1, // Note*
        DateTextRole,                // the relative date shown in the row
        ArchivedRole,                // bool
    };

    // The longest title a row is given. The widest window (1,280 px) holds
    // at most about 1,280 glyphs of the smallest list font, none narrower than
    // a pixel; four times that leaves room for marks of no width and spaces
    // that collapse, and the row elides the rest.
    static constexpr qsizetype TitlePrefixLength = 4096;
    // `title` cut to at most that length.
    static QString titlePrefix(const QString& title);

    explicit NoteListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    Note* noteAt(int row) const;
    int rowOfNote(const Note* note) const;

    // Takes the controller's current list anew (a model reset).
    void reloadFrom(QVRObjectController* controller);
    void removeNoteAt(int row);
    void insertNote(Note* note, int row);
    void moveNote(int from, int to);
    // The steps of one change of the controller's displayed list, in order.
    void apply(const std::vector<platform::ArrangementChange>& changes);
    // Rows that no longer exist are ignored.
    void reloadRows(const QList<int>& rows);
    void reloadAll();
    // The relative dates are worked out as they are drawn: tells the views
    // that every row's date text may read differently now.
    void refreshDates();

private:
    std::vector<Note*> m_rows;
};
