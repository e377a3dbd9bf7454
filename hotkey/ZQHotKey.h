#pragma once
// One system-wide key combination and what it runs when released.

#include "platform/x11/HotKeyGrabber.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

Q_DECLARE_METATYPE(platform::HotKeyEvent)

class ZQHotKey
{
public:
    using Task = std::function<void(const platform::HotKeyEvent&)>;

    static std::shared_ptr<ZQHotKey> hotKeyWithKeyCode(uint16_t keyCode, uint64_t modifierFlags, Task task);
    ZQHotKey() = default;

    uint16_t keyCode() const { return m_keyCode; }
    uint64_t modifierFlags() const { return m_modifierFlags; }
    // Not owned; a destroyed target reads as null and the task runs instead.
    QObject* target() const { return m_target.data(); }
    // A slot or invokable taking (platform::HotKeyEvent, QVariant).
    const QByteArray& action() const { return m_action; }
    const QVariant& object() const { return m_object; }
    const Task& task() const { return m_task; }

    const std::optional<platform::HotKeyGrabber::Handle>& hotKeyRef() const { return m_hotKeyRef; }
    void setHotKeyRef(std::optional<platform::HotKeyGrabber::Handle> ref) { m_hotKeyRef = ref; }
    uint32_t hotKeyID() const { return m_hotKeyID; }
    void setHotKeyID(uint32_t id) { m_hotKeyID = id; }

    void _setTarget(QObject* target) { m_target = target; }
    void _setAction(const QByteArray& action) { m_action = action; }
    void _setObject(const QVariant& object) { m_object = object; }
    void _setTask(Task task) { m_task = std::move(task); }
    void _setKeyCode(uint16_t keyCode) { m_keyCode = keyCode; }
    void _setModifierFlags(uint64_t flags) { m_modifierFlags = flags; }

    void invokeWithEvent(const platform::HotKeyEvent& event) const;
    bool respondsToAction() const;

    // Identity is the combination alone.
    bool isEqual(const ZQHotKey& other) const
    {
        return m_keyCode == other.m_keyCode && m_modifierFlags == other.m_modifierFlags;
    }
    uint64_t hash() const { return m_modifierFlags ^ m_keyCode; }
    QString description() const;

private:
    uint16_t m_keyCode = 0;
    uint64_t m_modifierFlags = 0;
    QPointer<QObject> m_target;
    QByteArray m_action;
    QVariant m_object;
    Task m_task;
    std::optional<platform::HotKeyGrabber::Handle> m_hotKeyRef;
    uint32_t m_hotKeyID = 0;
};
