// The relative dates of the list and the status line ("5 minutes ago") age
// while they are shown: they are redrawn every minute while the main window is
// active, and at once when it comes back after being closed.
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"

#include <QEvent>

namespace {

constexpr int RefreshIntervalMs = 60000;

} // namespace

void QuillaryAppDelegate::observeListRefresh()
{
    if (m_refreshTimer || !m_window)
        return;
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("listRefreshTimer"));
    m_refreshTimer->setInterval(RefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &QuillaryAppDelegate::refreshView);
    m_window->installEventFilter(this);
    // A window already active hears no activation to start the timer.
    if (m_window->isActiveWindow())
        m_refreshTimer->start();
}

void QuillaryAppDelegate::listWindowEvent(QEvent* event)
{
    if (!m_refreshTimer)
        return;
    switch (event->type()) {
    case QEvent::WindowActivate:
        if (m_needsRefresh)
            refreshView();
        m_needsRefresh = false;
        // Kept while the window merely gives the activation away; stopped
        // only when it closes.
        if (!m_refreshTimer->isActive())
            m_refreshTimer->start();
        break;
    case QEvent::Hide:
        m_refreshTimer->stop();
        m_needsRefresh = true;
        break;
    default:
        break;
    }
}

void QuillaryAppDelegate::refreshView()
{
    m_listModel->refreshDates();
    updateStatus();
}
