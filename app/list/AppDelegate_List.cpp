// The note list, its selection and the status line under it.
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"

#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"
#include "store/Note.h"
#include "store/QVRDateFormatter.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <cmath>

namespace {

// round(factor × size), halves away from zero; below 12 it is raised by one
// when the text size leaves room for that.
int scaledTextSize(int size, double factor)
{
    const int r = int(std::round(factor * size));
    if (r >= 12)
        return r;
    return size >= r + 1 ? r + 1 : r;
}

} // namespace

int QuillaryAppDelegate::listTextSizeForTextSize(int size)
{
    return scaledTextSize(size, 0.9);
}

int QuillaryAppDelegate::smallTextSizeForTextSize(int size)
{
    return scaledTextSize(size, 0.7);
}

QVRObjectController* QuillaryAppDelegate::noteController()
{
    if (!m_noteController && m_dataStore) {
        m_noteController = std::make_unique<QVRObjectController>(
            m_dataStore->context(), QVRNoteEntityName,
            std::vector<platform::SortDescriptor>{{QStringLiteral("date"), false}});
        // Arranged as it is made: no second pass over every note.
    }
    return m_noteController.get();
}

void QuillaryAppDelegate::setSelectedNote(Note* note)
{
    // The window's note controls and the remembered selection follow the
    // session's selectedNoteChanged().
    m_session->setSelectedNote(note);
}

QListView* QuillaryAppDelegate::tableView() const
{
    return m_window ? m_window->tableView() : nullptr;
}

QVRLinkTextView* QuillaryAppDelegate::textView() const
{
    return m_window ? m_window->textView() : nullptr;
}

void QuillaryAppDelegate::selectRow(int row)
{
    if (!tableView())
        return;
    // The caller sets the selected note itself: the view's change notice is
    // not acted on while the row is selected from code.
    const auto fromCode = m_session->ignoreSelectionChanges();
    QItemSelectionModel* selection = tableView()->selectionModel();
    if (row >= 0 && row < m_listModel->rowCount()) {
        const QModelIndex index = m_listModel->index(row);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        tableView()->scrollTo(index);
    } else {
        selection->clearSelection();
    }
}

void QuillaryAppDelegate::tableViewSelectionDidChange()
{
    if (m_session->ignoresSelectionChanges() || !tableView())
        return;
    const QModelIndexList rows = tableView()->selectionModel()->selectedRows();
    setSelectedNote(rows.isEmpty() ? nullptr : m_listModel->noteAt(rows.first().row()));
    if (m_twoPane)
        activateDetailAndFocus(false, true);
}

void QuillaryAppDelegate::reloadList()
{
    // A reset clears the view's selection: put the selected note's row back
    // without treating it as the user's change.
    {
        const auto fromCode = m_session->ignoreSelectionChanges();
        m_listModel->reloadFrom(noteController());
        if (Note* selected = selectedNote())
            selectRow(m_listModel->rowOfNote(selected));
    }
    updateStatus();
}

void QuillaryAppDelegate::rearrangeList(const std::function<void()>& rearrange)
{
    QVRObjectController* controller = noteController();
    if (!controller)
        return;
    bool reset = false;
    {
        // A row that goes takes its selection along: that is not the user
        // choosing another note.
        const auto fromCode = m_session->ignoreSelectionChanges();
        const QMetaObject::Connection steps = connect(
            controller, &QVRObjectController::arrangedObjectsChanged, m_listModel, &NoteListModel::apply);
        const QMetaObject::Connection resets =
            connect(controller, &QVRObjectController::arrangedObjectsReset, this, [&reset] { reset = true; });
        rearrange();
        disconnect(steps);
        disconnect(resets);
    }
    if (reset)
        reloadList();
    else
        updateStatus();
}

void QuillaryAppDelegate::updateStatus()
{
    if (!m_dataStore)
        return;
    const bool listShowing = !m_twoPane && !detailShowing();
    const bool webSync = m_syncManager && m_syncManager->quorvaneEnabled();
    if ((listShowing && webSync) || (m_syncManager && m_syncManager->step() != QVRSyncStep::Complete)) {
        updateStatus(m_syncManager->status());
        return;
    }
    const quint64 count = noteCount();
    QString countText;
    if (count == 0)
        countText = QVRLocalizedString(QStringLiteral("No notes"));
    else if (count == 1)
        countText = QVRLocalizedString(QStringLiteral("1 note"));
    else
        countText = QVRLocalizedString(QStringLiteral("%d notes"))
                        .replace(QStringLiteral("%d"), QString::number(count));
    const QString joined = QStringLiteral("%1 \u2022 %2");
    if (m_twoPane && webSync) {
        updateStatus(joined.arg(countText, m_syncManager->status()));
        return;
    }
    if (Note* selected = selectedNote(); selected && detailShowing()) {
        const double date = platform::variantDoubleValue(selected->date());
        if (date > 1.0) {
            updateStatus(
                joined.arg(countText, QVRDateFormatter::sharedFormatter().updatedText(QString(), date)));
            return;
        }
    }
    updateStatus(countText);
}

void QuillaryAppDelegate::updateStatus(const QString& text)
{
    m_currentStatus = text;
    m_statusTimer.stop();
    // Quick successions show only the last text; the first text after an
    // empty one is drawn at once.
    if (m_window && QVRUtilities::hasValue(m_window->statusButton()->text()))
        m_statusTimer.start();
    else
        displayStatus();
}

void QuillaryAppDelegate::displayStatus()
{
    if (!m_window)
        return;
    QPushButton* button = m_window->statusButton();
    button->setFont(NoteWindow::noteFont(smallTextSizeForTextSize(m_textSize)));
    button->setText(m_currentStatus.isNull() ? QString(QLatin1String("")) : m_currentStatus);
    button->setAccessibleName(button->text());
}

void QuillaryAppDelegate::statusButtonClicked()
{
    if (m_syncManager && (m_twoPane || !detailShowing()))
        m_syncManager->setForceUpdate(true);
    if (m_twoPane) {
        hideDetailsAndSave(true, true);
        // The list has just taken the focus from the field, so hide the bar
        // itself rather than toggling (which would only focus the field).
        hideSearch();
    } else if (m_searchShowing) {
        hideSearch();
    } else {
        hideDetailsAndSave(true, true);
    }
}

void QuillaryAppDelegate::finishedSync()
{
    updateStatus();
    updateViews();
}
