// The window's frame, remembered per window mode across starts.

#include "app/QuillaryAppDelegate.h"
#include "platform/core/UserDefaults.h"
#include "store/QVRDefaultsKeys.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindowStateChangeEvent>

namespace {

// "x y width height", as written by saveWindowFrame; anything else is no frame.
std::optional<QRect> parseFrame(const QVariant& value)
{
    const QStringList parts = value.toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    const QRect frame(numbers[0], numbers[1], numbers[2], numbers[3]);
    if (frame.width() <= 0 || frame.height() <= 0)
        return std::nullopt;
    return frame;
}

} // namespace

QString QuillaryAppDelegate::frameAutosaveName(bool menuBarMode)
{
    return menuBarMode ? QStringLiteral("Quillary Menu Bar") : QStringLiteral("Quillary Dock");
}

void QuillaryAppDelegate::saveWindowFrame()
{
    m_frameSaveTimer.stop();
    if (!m_window || m_frameAutosaveName.isEmpty() || !m_window->isVisible() ||
        (m_window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QRect frame = m_window->geometry();
    m_defaults->set(
        QVRDefaultsKeys::windowFrame(m_frameAutosaveName),
        QStringLiteral("%1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()));
}

void QuillaryAppDelegate::restoreWindowFrame()
{
    if (!m_window)
        return;
    if (m_frameAutosaveName.isEmpty()) {
        // First use: follow the window's moves and resizes from now on.
        m_frameSaveTimer.setSingleShot(true);
        m_frameSaveTimer.setInterval(500);
        connect(&m_frameSaveTimer, &QTimer::timeout, this, &QuillaryAppDelegate::saveWindowFrame);
        m_window->installEventFilter(this);
    }
    m_frameAutosaveName = frameAutosaveName(menuBarMode());
    std::optional<QRect> frame =
        parseFrame(m_defaults->object(QVRDefaultsKeys::windowFrame(m_frameAutosaveName)));
    if (!frame)
        return;
    // A frame left on a screen that is gone is not restored; one larger than
    // the screen it is on shrinks to fit.
    const QScreen* screen = QGuiApplication::screenAt(frame->center());
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize size = frame->size()
                           .boundedTo(available.size())
                           .boundedTo(m_window->maximumSize())
                           .expandedTo(m_window->minimumSize());
    m_window->setGeometry(QRect(frame->topLeft(), size));
}

bool QuillaryAppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window)
        listWindowEvent(event);
    // Entering or leaving full screen stores the open note first, as the
    // layout about to change may move the editor.
    if (watched == m_window && event->type() == QEvent::WindowStateChange &&
        (static_cast<QWindowStateChangeEvent*>(event)->oldState() ^ m_window->windowState()) &
            Qt::WindowFullScreen) {
        saveCurrentNote();
    }
    if (watched == m_window && (event->type() == QEvent::Move || event->type() == QEvent::Resize) &&
        m_window->isVisible()) {
        // A resize stores the open note before the panes move. X11 tells no
        // one that a drag of the window's edge begins, but a save with
        // nothing unsaved does nothing, so the first resize of a drag is the
        // one that stores.
        if (event->type() == QEvent::Resize)
            saveCurrentNote();
        m_frameSaveTimer.start();
    }
    return QObject::eventFilter(watched, event);
}
