#include "platform/ui/StatusItem.h"

#include <QSystemTrayIcon>

namespace platform {

StatusItem::~StatusItem() = default;

SystemTrayStatusItem::SystemTrayStatusItem(QObject* parent)
    : StatusItem(parent), m_icon(new QSystemTrayIcon(this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A second click soon after the first comes as a double click; it is
        // still a click on the item (two quick clicks close and reopen).
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit clicked();
    });
}

SystemTrayStatusItem::~SystemTrayStatusItem() = default;

bool SystemTrayStatusItem::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayStatusItem::setIcon(const QIcon& icon)
{
    m_icon->setIcon(icon);
}

void SystemTrayStatusItem::setToolTip(const QString& text)
{
    m_icon->setToolTip(text);
}

void SystemTrayStatusItem::setMenu(QMenu* menu)
{
    m_icon->setContextMenu(menu);
}

bool SystemTrayStatusItem::show()
{
    if (!available())
        return false;
    m_icon->show();
    return true;
}

void SystemTrayStatusItem::hide()
{
    m_icon->hide();
}

bool SystemTrayStatusItem::isVisible() const
{
    return m_icon->isVisible();
}

QRect SystemTrayStatusItem::geometry() const
{
    return m_icon->geometry();
}

} // namespace platform
