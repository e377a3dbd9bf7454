#include "hotkey/ZQHotKeyCenter.h"

#include "platform/core/Log.h"
#include "platform/x11/KeyMap.h"

#include <QMetaMethod>
#include <QStringList>

#include <atomic>

using platform::HotKeyEvent;
namespace KF = platform::KeyFlags;

std::shared_ptr<ZQHotKey> ZQHotKey::hotKeyWithKeyCode(uint16_t keyCode, uint64_t modifierFlags, Task task)
{
    auto hk = std::make_shared<ZQHotKey>();
    hk->_setKeyCode(keyCode);
    hk->_setModifierFlags(modifierFlags);
    hk->_setTask(std::move(task));
    return hk;
}

bool ZQHotKey::respondsToAction() const
{
    if (!m_target || m_action.isEmpty())
        return false;
    const QByteArray sig = QMetaObject::normalizedSignature(m_action + "(platform::HotKeyEvent,QVariant)");
    return m_target->metaObject()->indexOfMethod(sig.constData()) >= 0;
}

void ZQHotKey::invokeWithEvent(const HotKeyEvent& event) const
{
    if (respondsToAction()) {
        QMetaObject::invokeMethod(m_target.data(), m_action.constData(), Qt::DirectConnection,
                                  Q_ARG(platform::HotKeyEvent, event), Q_ARG(QVariant, m_object));
        return;
    }
    if (m_task)
        m_task(event);
}

QString ZQHotKey::description() const
{
    QStringList names;
    if (m_modifierFlags & KF::Control)
        names << QStringLiteral("NSControlKeyMask");
    if (m_modifierFlags & KF::Command)
        names << QStringLiteral("NSCommandKeyMask");
    if (m_modifierFlags & KF::Shift)
        names << QStringLiteral("NSShiftKeyMask");
    if (m_modifierFlags & KF::Option)
        names << QStringLiteral("NSAlternateKeyMask");
    const QString flags = QStringLiteral("(%1)").arg(names.join(QStringLiteral(" | ")));
    const QString invokes =
        (m_target && !m_action.isEmpty())
            ? QStringLiteral("[%1 %2]").arg(QString::fromLatin1(m_target->metaObject()->className()),
                                            QString::fromLatin1(m_action))
            : QStringLiteral("(block)");
    const QString base = QStringLiteral("<ZQHotKey: 0x%1>").arg(quintptr(this), 0, 16);
    return QStringLiteral("%1\n\t(key: %2\n\tflags: %3\n\tinvokes: %4)")
        .arg(base)
        .arg(m_keyCode)
        .arg(flags, invokes);
}

namespace {
std::atomic<ZQHotKeyCenter*> g_installedCenter{nullptr};
}

void ZQHotKeyCenter::setSharedHotKeyCenter(ZQHotKeyCenter* center)
{
    g_installedCenter.store(center, std::memory_order_release);
}

ZQHotKeyCenter& ZQHotKeyCenter::sharedHotKeyCenter()
{
    if (ZQHotKeyCenter* installed = g_installedCenter.load(std::memory_order_acquire))
        return *installed;
    static ZQHotKeyCenter center(platform::createSystemHotKeyGrabber());
    return center;
}

ZQHotKeyCenter::ZQHotKeyCenter(std::unique_ptr<platform::HotKeyGrabber> grabber)
    : m_grabber(std::move(grabber))
{
    qRegisterMetaType<platform::HotKeyEvent>();
    if (m_grabber)
        m_grabber->setReleasedHandler([this](uint32_t id, const HotKeyEvent& e) { released(id, e); });
}

ZQHotKeyCenter::~ZQHotKeyCenter()
{
    if (m_grabber)
        m_grabber->setReleasedHandler({});
    unregisterAllHotKeys();
}

uint32_t ZQHotKeyCenter::carbonModifiersForRegistration(uint64_t f)
{
    uint32_t c = 0;
    if (f & KF::Command)
        c |= KF::CarbonCommand;
    if (f & KF::Shift)
        c |= KF::CarbonShift;
    if (f & KF::CapsLock)
        c |= KF::CarbonAlphaLock;
    if (f & KF::Option)
        c |= KF::CarbonOption;
    if (f & KF::Control)
        c |= KF::CarbonControl;
    return c;
}

ZQHotKeyCenter::HotKeyPtr ZQHotKeyCenter::registerHotKeyWithKeyCode(uint16_t keyCode, uint64_t flags,
                                                                    ZQHotKey::Task task)
{
    if (hasRegisteredHotKeyWithKeyCode(keyCode, flags))
        return nullptr;
    return doRegister(ZQHotKey::hotKeyWithKeyCode(keyCode, flags, std::move(task)));
}

ZQHotKeyCenter::HotKeyPtr ZQHotKeyCenter::registerHotKeyWithKeyCode(uint16_t keyCode, uint64_t flags,
                                                                    QObject* target, const QByteArray& action,
                                                                    const QVariant& object)
{
    if (hasRegisteredHotKeyWithKeyCode(keyCode, flags))
        return nullptr;
    auto hk = std::make_shared<ZQHotKey>();
    hk->_setKeyCode(keyCode);
    hk->_setModifierFlags(flags);
    hk->_setTarget(target);
    hk->_setAction(action);
    hk->_setObject(object);
    return doRegister(hk);
}

ZQHotKeyCenter::HotKeyPtr ZQHotKeyCenter::registerHotKey(const HotKeyPtr& hotKey)
{
    if (!hotKey)
        return nullptr;
    return doRegister(hotKey);
}

ZQHotKeyCenter::HotKeyPtr ZQHotKeyCenter::doRegister(const HotKeyPtr& hotKey)
{
    // A duplicate is refused outright: handing it back as if registered would
    // let its later unregistration cancel the live one.
    if (hasRegisteredHotKeyWithKeyCode(hotKey->keyCode(), hotKey->modifierFlags()))
        return nullptr;
    if (!m_grabber)
        return nullptr;
    // Combinations that differ only in bits the system ignores map to one
    // system grab; grabbing twice would let one ungrab silently kill the other.
    const uint32_t carbon = carbonModifiersForRegistration(hotKey->modifierFlags());
    for (const auto& member : m_registered)
        if (member->keyCode() == hotKey->keyCode() &&
            carbonModifiersForRegistration(member->modifierFlags()) == carbon)
            return nullptr;
    auto handle = m_grabber->grab(hotKey->keyCode(), carbon, m_nextHotKeyID);
    if (!handle)
        return nullptr;
    hotKey->setHotKeyRef(handle);
    hotKey->setHotKeyID(m_nextHotKeyID++);
    m_registered.push_back(hotKey);
    return hotKey;
}

bool ZQHotKeyCenter::hasRegisteredHotKeyWithKeyCode(uint16_t keyCode, uint64_t flags) const
{
    for (const auto& hk : m_registered)
        if (hk->keyCode() == keyCode && hk->modifierFlags() == flags)
            return true;
    return false;
}

ZQHotKeyCenter::HotKeySet ZQHotKeyCenter::hotKeysMatching(const Predicate& predicate) const
{
    HotKeySet out;
    for (const auto& hk : m_registered)
        if (predicate(*hk))
            out.push_back(hk);
    return out;
}

ZQHotKeyCenter::HotKeySet ZQHotKeyCenter::registeredHotKeys() const
{
    return hotKeysMatching([](const ZQHotKey& hk) { return hk.hotKeyRef().has_value(); });
}

void ZQHotKeyCenter::unregisterHotKey(const ZQHotKey& hotKey)
{
    // The member equal to the argument gives up its own grab, whichever
    // object the caller holds.
    for (auto it = m_registered.begin(); it != m_registered.end(); ++it) {
        if (!(*it)->isEqual(hotKey))
            continue;
        HotKeyPtr member = *it;
        m_registered.erase(it);
        if (member->hotKeyRef() && m_grabber)
            m_grabber->ungrab(*member->hotKeyRef());
        member->setHotKeyRef(std::nullopt);
        return;
    }
}

void ZQHotKeyCenter::unregisterHotKeysMatching(const Predicate& predicate)
{
    for (const auto& hk : hotKeysMatching(predicate))
        unregisterHotKey(*hk);
}

void ZQHotKeyCenter::unregisterHotKeysWithTarget(const QObject* target)
{
    unregisterHotKeysMatching([target](const ZQHotKey& hk) { return target && hk.target() == target; });
}

void ZQHotKeyCenter::unregisterHotKeysWithTarget(const QObject* target, const QByteArray& action)
{
    unregisterHotKeysMatching(
        [&](const ZQHotKey& hk) { return target && hk.target() == target && hk.action() == action; });
}

void ZQHotKeyCenter::unregisterHotKeyWithKeyCode(uint16_t keyCode, uint64_t flags)
{
    unregisterHotKeysMatching(
        [&](const ZQHotKey& hk) { return hk.keyCode() == keyCode && hk.modifierFlags() == flags; });
}

void ZQHotKeyCenter::unregisterAllHotKeys()
{
    unregisterHotKeysMatching([](const ZQHotKey&) { return true; });
}

ZQHotKeyCenter::GrabPause ZQHotKeyCenter::pauseGrabs()
{
    if (m_pauses++ == 0 && m_grabber)
        m_grabber->setPaused(true);
    return GrabPause(m_self);
}

void ZQHotKeyCenter::endPause()
{
    if (m_pauses > 0 && --m_pauses == 0 && m_grabber)
        m_grabber->setPaused(false);
}

ZQHotKeyCenter::GrabPause& ZQHotKeyCenter::GrabPause::operator=(GrabPause&& other) noexcept
{
    if (this != &other) {
        end();
        m_center = std::move(other.m_center);
    }
    return *this;
}

void ZQHotKeyCenter::GrabPause::end()
{
    if (auto center = m_center.lock())
        (*center)->endPause();
    m_center.reset();
}

void ZQHotKeyCenter::released(uint32_t id, const HotKeyEvent& event)
{
    HotKeySet matches = hotKeysMatching([id](const ZQHotKey& hk) { return hk.hotKeyID() == id; });
    if (matches.size() >= 2)
        platform::log(QStringLiteral("ERROR!"));
    if (matches.empty())
        return;
    HotKeyEvent e = event;
    e.type = 11;
    e.windowNumber = -1;
    e.characters.clear();
    e.charactersIgnoringModifiers.clear();
    e.isARepeat = false;
    e.keyCode = matches.front()->keyCode();
    HotKeyPtr keep = matches.front(); // the action may unregister it
    keep->invokeWithEvent(e);
}
