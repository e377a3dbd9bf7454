// The pane layout of the main window: two panes side by side on a wide
// window, one at a time on a narrow one, and moving between list and editor.
#include "app/NoteListModel.h"
#include "app/NoteWindow.h"
#include "app/QVRSearchField.h"
#include "app/QuillaryAppDelegate.h"

#include "platform/core/UserDefaults.h"
#include "platform/ui/Animation.h"
#include "platform/ui/UndoManager.h"
#include "store/QVRObjectController.h"

#include <QScrollBar>
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
    m_defaults->set(QStringLiteral("noteIsOpen"), open);
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
    m_editingItem.clear();
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
        selectNote(m_selectedNote);
        // A completed sync with no notes prepares an empty editor; it never
        // opens the window by itself.
        if (noteCount() == 0 && m_editingItem.isEmpty() && !m_noteNeedsSaving)
            newNoteWithoutSaving();
    }
    updateDividersAfterDelay();
    updateStatus();
}

// --- Slides between the panes ---------------------------------------------------

namespace {

constexpr int SlideMs = 250;
constexpr int PaneMargin = 13;

void setScrollersShown(QAbstractScrollArea* area, bool shown)
{
    area->setVerticalScrollBarPolicy(shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

} // namespace

void QuillaryAppDelegate::finishPaneAnimation()
{
    if (m_paneAnimation && m_paneAnimation->isRunning())
        m_paneAnimation->finish();
}

void QuillaryAppDelegate::startPaneAnimation(
    std::function<void(platform::animation::AnimationGroup&)> animate, std::function<void()> completion)
{
    m_animatingPanes = true;
    auto* group = new platform::animation::AnimationGroup(SlideMs, platform::animation::defaultCurve(), this);
    m_paneAnimation = group;
    animate(*group);
    group->start([this, completion = std::move(completion)] {
        completion();
        m_animatingPanes = false;
    });
}

void QuillaryAppDelegate::showSinglePaneShowingDetails(bool showEditor, bool animated)
{
    if (!m_window)
        return;
    // A slide still under way ends first, so this one starts from the pane
    // the user last asked for and its completion cannot undo this one.
    finishPaneAnimation();
    QWidget* const list = m_window->sidebarView();
    QWidget* const editor = m_window->textView();
    QWidget* const incoming = showEditor ? editor : list;
    QWidget* const outgoing = showEditor ? list : editor;
    if (incoming->isVisibleTo(m_window)) {
        outgoing->hide();
        platform::animation::setWidgetAlpha(outgoing, 1);
    } else if (!outgoing->isVisibleTo(m_window)) {
        platform::animation::setWidgetAlpha(incoming, 1);
        incoming->show();
    } else if (animated) {
        const QRect editorFrame = editor->geometry();
        const QRect listFrame = list->geometry();
        const QRect editorAside = editorFrame.translated(editorFrame.width() + PaneMargin, 0);
        const QRect listAside = listFrame.translated(-(listFrame.width() + PaneMargin), 0);
        QAbstractScrollArea* const quieted =
            showEditor ? static_cast<QAbstractScrollArea*>(m_window->tableView()) : m_window->textView();
        setScrollersShown(quieted, false);
        incoming->setGeometry(showEditor ? editorAside : listAside);
        incoming->show();
        m_window->beginSlide();
        platform::animation::setWidgetAlpha(incoming, 0);
        startPaneAnimation(
            [=](platform::animation::AnimationGroup& group) {
                group.animateGeometry(incoming, showEditor ? editorFrame : listFrame);
                group.animateAlpha(incoming, 1);
                group.animateGeometry(outgoing, showEditor ? listAside : editorAside);
                group.animateAlpha(outgoing, 0);
            },
            [=, this] {
                if (!m_window)
                    return;
                m_window->endSlide();
                editor->setGeometry(editorFrame);
                list->setGeometry(listFrame);
                platform::animation::setWidgetAlpha(incoming, 1);
                incoming->show();
                outgoing->hide();
                platform::animation::setWidgetAlpha(outgoing, 1);
                setScrollersShown(quieted, true);
                updateDividersAfterDelay();
                updateStatus();
                displayStatus();
            });
    } else {
        platform::animation::setWidgetAlpha(incoming, 1);
        incoming->show();
        outgoing->hide();
        if (!showEditor && m_window->isVisible())
            m_window->tableView()->setFocus();
    }
}

void QuillaryAppDelegate::hideSidebarWithAnimation()
{
    if (!m_window)
        return;
    finishPaneAnimation();
    QWidget* const list = m_window->sidebarView();
    QWidget* const editor = m_window->textView();
    const QRect editorFrame = editor->geometry();
    const QRect listFrame = list->geometry();
    const int shift = listFrame.width() + PaneMargin;
    // The layout being entered: a request during the slide sees one pane.
    m_twoPane = false;
    setScrollersShown(m_window->tableView(), false);
    setScrollersShown(m_window->textView(), false);
    m_window->beginSlide();
    startPaneAnimation(
        [=](platform::animation::AnimationGroup& group) {
            group.animateGeometry(editor, editorFrame.translated(-shift, 0));
            group.animateGeometry(list, listFrame.translated(-shift, 0));
            group.animateAlpha(list, 0);
        },
        [this] {
            if (!m_window)
                return;
            m_window->endSlide();
            adjustWindowContent();
            updateDividersAfterDelay();
            setScrollersShown(m_window->tableView(), true);
            setScrollersShown(m_window->textView(), true);
        });
}

void QuillaryAppDelegate::showSidebarWithAnimation()
{
    if (!m_window)
        return;
    finishPaneAnimation();
    adjustWindowContent();
    if (!m_twoPane)
        return;
    QWidget* const list = m_window->sidebarView();
    QWidget* const editor = m_window->textView();
    const QRect editorFrame = editor->geometry();
    const QRect listFrame = list->geometry();
    const int shift = listFrame.width() + PaneMargin;
    setScrollersShown(m_window->tableView(), false);
    setScrollersShown(m_window->textView(), false);
    m_window->beginSlide();
    editor->setGeometry(editorFrame.translated(-shift, 0));
    list->setGeometry(listFrame.translated(-shift, 0));
    platform::animation::setWidgetAlpha(list, 0);
    startPaneAnimation(
        [=](platform::animation::AnimationGroup& group) {
            group.animateGeometry(editor, editorFrame);
            group.animateGeometry(list, listFrame);
            group.animateAlpha(list, 1);
        },
        [this] {
            if (!m_window)
                return;
            m_window->endSlide();
            updateDividersAfterDelay();
            setScrollersShown(m_window->tableView(), true);
            setScrollersShown(m_window->textView(), true);
        });
}

// --- Zoom -------------------------------------------------------------------------

QSize QuillaryAppDelegate::idealSizeForZoom()
{
    const quint64 count = noteCount();
    const int searchHeight =
        searchFieldVisible() && m_window ? m_window->searchField()->sizeHint().height() : 13;
    const double listHeight = std::max(double(count) * 40 + searchHeight, 267.0);
    double textHeight = 0;
    if (m_window) {
        QTextEdit* editor = m_window->textView();
        textHeight = editor->document()->size().height();
        if (textHeight > editor->viewport()->height())
            textHeight += m_textSize * 1.15 * 3;
    }
    const int height = int(std::ceil(std::max(textHeight, listHeight))) + 56;
    return QSize(count > 0 ? 570 : 270, height);
}
