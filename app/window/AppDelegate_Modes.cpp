// Dock mode and menu-bar mode: the tray icon with its menu, the window kept
// out of the taskbar, and hiding the window when the application is left.
#include "app/QuillaryAppDelegate.h"
#include "app/alerts/Alert.h"
#include "app/commands/CommandRegistry.h"
#include "app/window/NSColorAdditions.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/X11Window.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRUtilities.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace {

// A click on the tray icon first takes the activation away from the window,
// so with "Hide Automatically" the window starts closing just before the
// click arrives. A click this soon after counts as the close it started.
constexpr double AutoHideClickWindow = 0.3;

// The tray icon: a sheet of paper with lines of text, drawn for each size
// so it stays sharp in any tray.
QIcon menuIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal unit = size / 16.0;
        const QRectF sheet(2.5 * unit, 1.5 * unit, 11 * unit, 13 * unit);
        QPainterPath path;
        path.addRoundedRect(sheet, 1.5 * unit, 1.5 * unit);
        painter.fillPath(path, NSColorAdditions::paperBackgroundColor());
        painter.setPen(QPen(NSColorAdditions::darkerNoteTextColor(), std::max<qreal>(1, unit)));
        painter.drawPath(path);
        for (int line = 0; line < 3; ++line) {
            const qreal y = sheet.top() + (4 + 3 * line) * unit;
            painter.drawLine(QPointF(sheet.left() + 2.5 * unit, y),
                             QPointF(sheet.right() - (line == 2 ? 4.5 : 2.5) * unit, y));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

bool QuillaryAppDelegate::menuBarMode() const
{
    return QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::MenuBarMode);
}

void QuillaryAppDelegate::setMenuBarMode(bool flag)
{
    if (flag && !m_statusItem) {
        std::unique_ptr<platform::StatusItem> item =
            m_makeStatusItem ? m_makeStatusItem() : std::make_unique<platform::SystemTrayStatusItem>();
        item->setIcon(menuIcon());
        item->setToolTip(QStringLiteral("Quillary"));
        item->setMenu(trayMenu());
        connect(item.get(), &platform::StatusItem::clicked, this,
                &QuillaryAppDelegate::statusBarButtonAction);
        if (!item->show()) {
            // Without a tray the window would be out of reach: stay in Dock mode.
            refuseMenuBarMode();
            flag = false;
        } else {
            m_statusItem = std::move(item);
        }
    } else if (!flag && m_statusItem) {
        m_statusItem->hide();
        m_statusItem.reset();
    }
    const bool switching = QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::MenuBarMode) != flag;
    if (switching && m_window && !m_frameAutosaveName.isEmpty())
        saveWindowFrame(); // under the mode being left
    if (switching)
        QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::MenuBarMode, flag);
    if (m_window)
        m_window->setMenuBarMode(flag);
    if (m_window && (switching || m_frameAutosaveName.isEmpty()))
        restoreWindowFrame();
    setHideDockIcon(flag);
}

void QuillaryAppDelegate::refuseMenuBarMode()
{
    platform::log(QStringLiteral("No system tray: menu bar mode refused"));
    // Announced, so a settings pane shows the mode that really holds.
    QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::MenuBarMode, false, true);
    Alert alert(
        QMessageBox::Warning,
        QVRLocalizedString(QStringLiteral("Quillary can't show its icon in the menu bar.")),
        QVRLocalizedString(QStringLiteral(
            "This desktop has no system tray, so Quillary keeps its window in the taskbar. Add a tray to "
            "the panel, then choose the menu bar mode again.")));
    alert.setName(QStringLiteral("noTrayAlert"));
    // Shown once the window it belongs to is up (at launch it is not yet).
    QTimer::singleShot(0, m_window, [alert, window = m_window] { alert.open(window); });
}

void QuillaryAppDelegate::setHideDockIcon(bool hide)
{
    m_hideDockIcon = hide;
    if (!m_window)
        return;
    // The native window must exist to carry the state; it is kept and applied
    // again each time the window is shown.
    m_window->winId();
    platform::X11Window::setSkipTaskbar(m_window->windowHandle(), hide);
}

void QuillaryAppDelegate::statusBarButtonAction()
{
    if (!m_window || m_terminating)
        return;
    if (m_autoHiddenAt >= 0 && platform::now() - m_autoHiddenAt <= AutoHideClickWindow) {
        m_autoHiddenAt = -1;
        return;
    }
    if (!m_window->isVisible() && m_statusItem)
        m_window->moveNearStatusItem(m_statusItem->geometry());
    m_window->toggleWithAnimation();
}

void QuillaryAppDelegate::applicationDidResignActive()
{
    if (!m_window || !QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::HideAutomatically) ||
        m_window->isFullScreen() || !m_window->isVisible())
        return;
    m_autoHiddenAt = platform::now();
    m_window->closeWithAnimation();
}

void QuillaryAppDelegate::bringToFront()
{
    if (!m_window)
        return;
    if (!m_window->isVisible() && m_window->menuBarMode() && m_statusItem)
        m_window->moveNearStatusItem(m_statusItem->geometry());
    m_window->openWithAnimation();
}

QMenu* QuillaryAppDelegate::trayMenu()
{
    if (m_trayMenu)
        return m_trayMenu.get();
    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    QMenu* menu = m_trayMenu.get();
    // Built anew each time it opens: the recent notes change, and so does
    // whether the window shows.
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        populateDockMenu(menu);
        menu->addSeparator();
        // A window fading out counts as closed, as it is for a click.
        const bool shown = m_window && m_window->isVisible() && !m_window->fadingOut();
        menu->addAction(
            QVRLocalizedString(shown ? QStringLiteral("Hide Quillary") : QStringLiteral("Show Quillary")),
            this, [this, shown] {
                if (!m_window || m_terminating)
                    return;
                if (shown)
                    m_window->closeWithAnimation();
                else
                    bringToFront();
            });
        m_commands->addEcho(menu, QStringLiteral("quitMenuItem"));
    });
    return menu;
}
