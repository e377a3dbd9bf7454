// The pane layout of the main window: two panes side by side on a wide
// window, one at a time on a narrow one, and moving between list and editor.
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/search/QVRSearchField.h"
#include "app/window/NoteWindow.h"

#include "platform/core/UserDefaults.h"
#include "platform/ui/Animation.h"
#include "platform/ui/UndoManager.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRObjectController.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QTextDocument>

#include <cmath>

void QuillaryAppDelegate::adjustWindowContent()
{
    if (!m_window)
        return;
    // A slide still running would move the panes after this pass.
    finishPaneAnimation();
    const QSize content = m_window->size();
    const bool fits = NoteWindow::fitsTwoPane(content.width());
    const bool wasTwoPane = m_twoPane;
    const bool editorWasShowing = m_window->textView()->isVisibleTo(m_window);
    m_twoPane = fits && m_wantsTwoPane;
    m_window->sidebarView()->setGeometry(NoteWindow::listPaneRect(content, m_twoPane));
    m_window->textView()->setGeometry(NoteWindow::detailPaneRect(content, m_twoPane));
    if (m_twoPane) {
        platform::animation::setWidgetAlpha(m_window->sidebarView(), 1);
        platform::animation::setWidgetAlpha(m_window->textView(), 1);
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
        showSinglePaneShowingDetails(showEditor, true);
    }
    m_fitsTwoPane = fits;
    updateDividersAnimated(true);
    updateStatus();
    displayStatus();
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
    QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::NoteIsOpen, open);
}

void QuillaryAppDelegate::activateDetailAndFocus(bool focus, bool animated)
{
    if (!m_window)
        return;
    // What shows is decided on the panes a running slide ends on.
    finishPaneAnimation();
    const bool wasShowing = detailShowing();
    setNoteIsOpen(true);
    if (!m_twoPane && !wasShowing) {
        showSinglePaneShowingDetails(true, animated);
        updateStatus();
        displayStatus();
    }
    const bool newNote = updateDetailView();
    m_window->refreshSlidePictures();
    const bool filtered = m_noteController && m_noteController->filtered();
    if (focus || !m_twoPane || (newNote && !filtered))
        m_window->textView()->setFocus(Qt::OtherFocusReason);
    updateDividersAnimated(true);
}

void QuillaryAppDelegate::hideDetailsAndSave(bool save, bool sync)
{
    if (!m_window)
        return;
    finishPaneAnimation();
    m_undoManager->removeAllActionsWithTarget(m_window->textView()->document());
    m_wantsTwoPane = true;
    if (!m_twoPane && m_fitsTwoPane)
        showSidebarWithAnimation();
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
    m_session->forgetEditingItem();
    QTimer::singleShot(0, this, [this] {
        if (!m_twoPane && m_window) {
            showSinglePaneShowingDetails(false, true);
            m_window->tableView()->setFocus();
        }
        updateDividersAnimated(true);
        updateStatus();
        displayStatus();
    });
}

void QuillaryAppDelegate::updateViews()
{
    if (m_twoPane) {
        selectNote(selectedNote());
        // A completed sync with no notes prepares an empty editor; it never
        // opens the window by itself.
        if (noteCount() == 0 && editingItem().isEmpty() && !noteNeedsSaving())
            newNoteWithoutSaving();
    }
    updateDividersAfterDelay();
    updateStatus();
}

QSize QuillaryAppDelegate::idealSizeForZoom()
{
    const quint64 count = noteCount();
    const int searchHeight =
        searchFieldVisible() && m_window ? m_window->searchField()->sizeHint().height() : 13;
    const double listHeight = std::max(double(count) * 40 + searchHeight, 267.0);
    double textHeight = 0;
    if (m_window) {
        // The view's document counts lines, most of them not laid out yet;
        // each is taken as one line of the note font.
        const QTextDocument* document = m_window->textView()->document();
        textHeight = document->documentLayout()->documentSize().height() *
                         QFontMetricsF(document->defaultFont()).lineSpacing() * 1.15 +
                     2 * document->documentMargin();
        if (textHeight > m_window->textView()->viewport()->height())
            textHeight += m_textSize * 1.15 * 3;
    }
    const int height = int(std::ceil(std::max(textHeight, listHeight))) + 56;
    return QSize(count > 0 ? 570 : 270, height);
}
