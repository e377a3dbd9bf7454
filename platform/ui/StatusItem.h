#pragma once

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace platform {

// An icon in the desktop's status area (system tray), for menu-bar mode.
// Abstract so the application's tests can use a fake.
class StatusItem : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~StatusItem() override;

    // Whether the desktop has a status area to show the item in.
    virtual bool available() const = 0;
    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& text) = 0;
    // The menu shown on a right click; the caller keeps ownership.
    virtual void setMenu(QMenu* menu) = 0;
    // Shows the item; false (and nothing shown) when no status area is available.
    virtual bool show() = 0;
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;
    // Where the item is on the screen, in global coordinates; empty when
    // the status area does not tell.
    virtual QRect geometry() const { return {}; }

signals:
    // A plain click on the item.
    void clicked();
};

// The status item over QSystemTrayIcon.
class SystemTrayStatusItem final : public StatusItem
{
    Q_OBJECT
public:
    explicit SystemTrayStatusItem(QObject* parent = nullptr);
    ~SystemTrayStatusItem() override;

    bool available() const override;
    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& text) override;
    void setMenu(QMenu* menu) override;
    bool show() override;
    void hide() override;
    bool isVisible() const override;
    QRect geometry() const override;

private:
    QSystemTrayIcon* m_icon;
};

} // namespace platform
