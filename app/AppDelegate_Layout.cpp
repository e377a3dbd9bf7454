// The pane layout of the main window: two panes side by side on a wide
// window, one at a time on a narrow one, and moving between list and editor.
#include "app/NoteListModel.h"
#include "app/NoteWindow.h"
#include "app/QuillaryAppDelegate.h"

#include "platform/core/UserDefaults.h"
#include "platform/ui/UndoManager.h"
#include "store/QVRObjectController.h"

void QuillaryAppDelegate::adjustWindowContent()
{
    if (!m_window)
        return;
    const QSize content = m_window->size();
    const bool fits = NoteWindow::fitsTwoPane(content.width());
    const bool wasTwoPane = m_twoPane;
    const bool editorWasShowing = m_window->textView()->isVisibleTo(m_window);
    m_twoPane = fits && m_wantsTwoPane;
    m_window->sidebarView()->setGeometry(NoteWindow::listPaneRect(content, m_twoPane));
    m_window->textView()->setGeometry(NoteWindow::detailPaneRect(content, m_twoPane));
    if (m_twoPane) {
        m_window->sidebarView()->show();
        if (!editorWasShowing) {
            m_window->textView()->show();
            updateDetailView();
        }
    } else {
        bool showEditor;
        if (fits)
            showEditor = true; // the user hid the list
        else if (!wasTwoPane && editorWasShowing)
            showEditor = true;
        else
            showEditor = m_noteIsOpen;
        showSinglePane(showEditor);
    }
    m_fitsTwoPane = fits;
    updateStatus();
    displayStatus();
}

void QuillaryAppDelegate::showSinglePane(bool showEditor)
{
    m_window->sidebarView()->setVisible(!showEditor);
    m_window->textView()->setVisible(showEditor);
    if (!showEditor && m_window->isVisible())
        m_window->tableView()->setFocus();
}

bool QuillaryAppDelegate::detailShowing() const
{
    if (m_twoPane)
        return true;
    return m_window && m_window->textView()->isVisibleTo(m_window);
}

void QuillaryAppDelegate::setNoteIsOpen(bool open)
{
    m_noteIsOpen = open;
    m_defaults->set(QStringLiteral("noteIsOpen"), open);
}

void QuillaryAppDelegate::activateDetailAndFocus(bool focus, bool animated)
{
    (void)animated;
    if (!m_window)
        return;
    const bool wasShowing = detailShowing();
    setNoteIsOpen(true);
    if (!m_twoPane && !wasShowing) {
        showSinglePane(true);
        updateStatus();
        displayStatus();
    }
    const bool newNote = updateDetailView();
    const bool filtered = m_noteController && m_noteController->filtered();
    if (focus || !m_twoPane || (newNote && !filtered))
        m_window->textView()->setFocus(Qt::OtherFocusReason);
}

void QuillaryAppDelegate::hideDetailsAndSave(bool save, bool sync)
{
    if (!m_window)
        return;
    m_undoManager->removeAllActionsWithTarget(m_window->textView()->document());
    m_wantsTwoPane = true;
    if (!m_twoPane && m_fitsTwoPane)
        adjustWindowContent();
    if (m_twoPane) {
        if (save)
            saveCurrentNote();
        if (sync && m_syncManager)
            m_syncManager->sync();
        m_window->tableView()->setFocus();
        return;
    }
    setNoteIsOpen(false);
    if (!detailShowing()) {
        if (sync && m_syncManager)
            m_syncManager->sync();
        return;
    }
    if (save)
        saveCurrentNote();
    m_editingItem.clear();
    QTimer::singleShot(0, this, [this] {
        if (!m_twoPane && m_window)
            showSinglePane(false);
        updateStatus();
        displayStatus();
    });
}

void QuillaryAppDelegate::updateViews()
{
    if (m_twoPane) {
        selectNote(m_selectedNote);
        // A completed sync with no notes prepares an empty editor; it never
        // opens the window by itself.
        if (noteCount() == 0 && m_editingItem.isEmpty() && !m_noteNeedsSaving)
            newNoteWithoutSaving();
    }
    updateStatus();
}
