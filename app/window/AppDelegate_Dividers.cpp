// The three divider lines: each shows only while content is scrolled under
// it, and fades in and out.
#include "app/QuillaryAppDelegate.h"
#include "app/window/NoteWindow.h"
#include "app/window/QVRDividerView.h"

#include <QScrollBar>

#include <cmath>

namespace {

// Room above the editor's text (its inset) and above a list's first row.
constexpr int TextInset = 9;

void fadeDivider(QVRDividerView* divider, bool hidden, bool animated)
{
    const qreal target = hidden ? 0 : 1;
    if (std::abs(divider->alpha() - target) >= 0.0001)
        divider->setAlpha(target, animated);
}

} // namespace

void QuillaryAppDelegate::observeScrolling()
{
    m_dividerTimer.setSingleShot(true);
    m_dividerTimer.setInterval(300);
    connect(&m_dividerTimer, &QTimer::timeout, this, [this] { updateDividersAnimated(true); });
    if (!m_window)
        return;
    for (QAbstractScrollArea* area : {static_cast<QAbstractScrollArea*>(m_window->tableView()),
                                      static_cast<QAbstractScrollArea*>(textView())}) {
        connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this,
                &QuillaryAppDelegate::updateDividersPeriodically);
        connect(area->verticalScrollBar(), &QScrollBar::rangeChanged, this,
                &QuillaryAppDelegate::updateDividersPeriodically);
    }
}

bool QuillaryAppDelegate::topDividerHiddenForScrollView(const QAbstractScrollArea* scrollView) const
{
    const bool isList = m_window && scrollView == m_window->tableView();
    if (isList && m_searchShowing)
        return true;
    const int inset = (isList ? 0 : TextInset) + 1;
    return inset > scrollView->verticalScrollBar()->value();
}

bool QuillaryAppDelegate::bottomDividerHiddenForScrollView(const QAbstractScrollArea* scrollView) const
{
    // Everything fits, or the view is scrolled to the end.
    const QScrollBar* bar = scrollView->verticalScrollBar();
    return bar->maximum() <= bar->minimum() || bar->value() >= bar->maximum();
}

bool QuillaryAppDelegate::searchDividerHidden() const
{
    return !m_searchShowing || !m_window || m_window->tableView()->verticalScrollBar()->value() < 0.0001;
}

void QuillaryAppDelegate::updateDividersAnimated(bool animated)
{
    m_dividerTimerActive = false;
    if (!m_window)
        return;
    const QAbstractScrollArea* list = m_window->tableView();
    const QAbstractScrollArea* editor = textView();
    bool topHidden;
    bool bottomHidden;
    if (m_twoPane) {
        topHidden = topDividerHiddenForScrollView(list) && topDividerHiddenForScrollView(editor);
        bottomHidden = bottomDividerHiddenForScrollView(list) && bottomDividerHiddenForScrollView(editor);
    } else {
        const QAbstractScrollArea* showing = detailShowing() ? editor : list;
        topHidden = topDividerHiddenForScrollView(showing);
        bottomHidden = bottomDividerHiddenForScrollView(showing);
    }
    fadeDivider(m_window->dividerView(), bottomHidden, animated);
    fadeDivider(m_window->dividerTopView(), topHidden, animated);
    fadeDivider(m_window->searchDividerView(), searchDividerHidden(), animated);
}

void QuillaryAppDelegate::updateDividersAfterDelay()
{
    m_dividerTimer.start();
}

void QuillaryAppDelegate::updateDividersPeriodically()
{
    // Scrolling updates the lines at most once per delay.
    if (m_dividerTimerActive)
        return;
    m_dividerTimerActive = true;
    updateDividersAfterDelay();
}
