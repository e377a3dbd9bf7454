// The slides between the panes: one pane giving way to the other in the
// one-pane layout, and the list sliding out of or into the two-pane layout.
// A slide still running when another is asked for ends first, so the panes
// always end as the last request wants.
#include "app/QuillaryAppDelegate.h"
#include "app/window/NoteWindow.h"

#include "platform/ui/Animation.h"

#include <QScrollBar>

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
