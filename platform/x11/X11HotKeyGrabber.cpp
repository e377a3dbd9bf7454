#include "platform/x11/X11HotKeyGrabber.h"

#include "platform/core/Log.h"
#include "platform/x11/KeyMap.h"
#include "platform/x11/KeyboardLayout.h"
#include "platform/x11/X11Connection.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace platform {

HotKeyGrabber::~HotKeyGrabber() = default;

namespace {

class UnavailableHotKeyGrabber : public HotKeyGrabber
{
public:
    std::optional<Handle> grab(uint16_t, uint32_t, uint32_t) override { return std::nullopt; }
    void ungrab(Handle) override {}
    void setPaused(bool) override {}
};

constexpr uint16_t kLock = XCB_MOD_MASK_LOCK;

std::vector<uint16_t> lockVariants(uint16_t numLock, bool needsLock)
{
    if (needsLock)
        return {kLock, uint16_t(kLock | numLock)};
    return {0, kLock, numLock, uint16_t(kLock | numLock)};
}

} // namespace

std::unique_ptr<HotKeyGrabber> createSystemHotKeyGrabber()
{
    if (x11::connection())
        return std::make_unique<X11HotKeyGrabber>();
    return std::make_unique<UnavailableHotKeyGrabber>();
}

X11HotKeyGrabber::X11HotKeyGrabber(xcb_connection_t* connection, KeyboardLayout* layout)
    : m_connection(connection ? connection : x11::connection()), m_layout(layout)
{
    m_root = x11::rootWindow(m_connection);
    if (m_connection)
        m_masks = readModifierMasks(m_connection);
    m_pendingTimer.setSingleShot(true);
    m_pendingTimer.setInterval(30);
    QObject::connect(&m_pendingTimer, &QTimer::timeout, [this] {
        if (!m_pending)
            return;
        auto pending = std::move(*m_pending);
        m_pending.reset();
        released(pending.first, pending.second);
    });
    if (QCoreApplication* app = QCoreApplication::instance()) {
        // X events arrive on the main thread, whichever thread first reached
        // the registry: the release timer and the event filter live there.
        m_pendingTimer.moveToThread(app->thread());
        if (QThread::currentThread() == app->thread())
            app->installNativeEventFilter(this);
        else
            QMetaObject::invokeMethod(
                &m_pendingTimer, [this, app] { app->installNativeEventFilter(this); }, Qt::QueuedConnection);
        // Qt closes its connection with the application; a registry that
        // outlives it (a function-local static) must not touch it afterwards.
        QObject::connect(app, &QObject::destroyed, &m_pendingTimer, [this] {
            m_connection = nullptr;
            m_grabs.clear();
            m_pending.reset();
        });
    }
}

X11HotKeyGrabber::~X11HotKeyGrabber()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const auto& [handle, g] : m_grabs)
        if (g.held)
            ungrabVariants(g);
    if (m_connection)
        xcb_flush(m_connection);
}

X11HotKeyGrabber::ModifierMasks X11HotKeyGrabber::readModifierMasks(xcb_connection_t* c)
{
    ModifierMasks masks;
    xcb_get_modifier_mapping_reply_t* reply =
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    if (!reply)
        return masks;
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(c);
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perMod = reply->keycodes_per_modifier;
    bool foundAlt = false, foundSuper = false, foundNum = false;
    for (int mod = 3; mod < 8 && syms; ++mod) { // Mod1..Mod5
        for (int i = 0; i < perMod; ++i) {
            xcb_keycode_t kc = codes[mod * perMod + i];
            if (!kc)
                continue;
            for (int col = 0; col < 4; ++col) {
                xcb_keysym_t s = xcb_key_symbols_get_keysym(syms, kc, col);
                const uint16_t bit = uint16_t(1u << mod);
                if ((s == 0xffe9 || s == 0xffea) && !foundAlt) {
                    masks.alt = bit;
                    foundAlt = true;
                }
                if ((s == 0xffeb || s == 0xffec) && !foundSuper) {
                    masks.super = bit;
                    foundSuper = true;
                }
                if (s == 0xff7f && !foundNum) {
                    masks.numLock = bit;
                    foundNum = true;
                }
            }
        }
    }
    if (syms)
        xcb_key_symbols_free(syms);
    std::free(reply);
    return masks;
}

uint16_t X11HotKeyGrabber::xModifiers(uint32_t carbon, const ModifierMasks& m)
{
    uint16_t x = 0;
    if (carbon & KeyFlags::CarbonCommand)
        x |= XCB_MOD_MASK_CONTROL;
    if (carbon & KeyFlags::CarbonShift)
        x |= XCB_MOD_MASK_SHIFT;
    if (carbon & KeyFlags::CarbonOption)
        x |= m.alt;
    if (carbon & KeyFlags::CarbonControl)
        x |= m.super;
    return x;
}

std::optional<HotKeyGrabber::Handle> X11HotKeyGrabber::grab(uint16_t keyCode, uint32_t carbonModifiers,
                                                            uint32_t id)
{
    if (!m_connection || !m_root)
        return std::nullopt;
    KeyboardLayout* layout = m_layout ? m_layout : KeyboardLayout::current();
    if (!layout)
        return std::nullopt;
    auto keycode = KeyMap::keycodeForCode(*layout, keyCode);
    if (!keycode || *keycode > 255)
        return std::nullopt;
    Grab g{id,
           uint8_t(*keycode),
           xModifiers(carbonModifiers, m_masks),
           (carbonModifiers & KeyFlags::CarbonAlphaLock) != 0,
           keyCode,
           carbonModifiers};
    if (!grabVariants(g))
        return std::nullopt;
    // Paused: the grab only asked whether the combination is free.
    if (m_paused)
        ungrabVariants(g);
    else
        g.held = true;
    xcb_flush(m_connection);
    const Handle h = m_nextHandle++;
    m_grabs.emplace(h, g);
    return h;
}

bool X11HotKeyGrabber::grabVariants(const Grab& g)
{
    std::vector<uint16_t> taken;
    // owner_events off: the key comes to the root window even when one of our
    // own windows has the focus, so the hot key also works from inside the app.
    for (uint16_t lock : lockVariants(m_masks.numLock, g.needsLock)) {
        xcb_void_cookie_t cookie = xcb_grab_key_checked(m_connection, 0, m_root, uint16_t(g.mods | lock),
                                                        g.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* err = xcb_request_check(m_connection, cookie)) {
            log(QStringLiteral("Cannot grab key %1 with modifiers 0x%2: %3")
                    .arg(g.keyCode)
                    .arg(g.carbonModifiers, 0, 16)
                    .arg(err->error_code == XCB_ACCESS ? QStringLiteral("another application holds it")
                                                       : QStringLiteral("X error %1").arg(err->error_code)));
            std::free(err);
            for (uint16_t t : taken)
                xcb_ungrab_key(m_connection, g.keycode, m_root, uint16_t(g.mods | t));
            xcb_flush(m_connection);
            return false;
        }
        taken.push_back(lock);
    }
    return true;
}

void X11HotKeyGrabber::ungrabVariants(const Grab& g)
{
    if (!m_connection)
        return;
    for (uint16_t lock : lockVariants(m_masks.numLock, g.needsLock))
        xcb_ungrab_key(m_connection, g.keycode, m_root, uint16_t(g.mods | lock));
}

void X11HotKeyGrabber::ungrab(Handle handle)
{
    auto it = m_grabs.find(handle);
    if (it == m_grabs.end())
        return;
    if (it->second.held)
        ungrabVariants(it->second);
    if (m_connection)
        xcb_flush(m_connection);
    if (m_pending && m_pending->first == it->second.id) {
        m_pending.reset();
        m_pendingTimer.stop();
    }
    m_grabs.erase(it);
}

void X11HotKeyGrabber::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (!m_connection)
        return;
    for (auto& [handle, g] : m_grabs) {
        if (paused && g.held)
            ungrabVariants(g);
        g.held = !paused && grabVariants(g);
    }
    xcb_flush(m_connection);
    // A combination pressed just before the pause must not act during it.
    m_pending.reset();
    m_pendingTimer.stop();
    m_activeKeycode.reset();
}

const X11HotKeyGrabber::Grab* X11HotKeyGrabber::match(uint8_t keycode, uint16_t state) const
{
    const uint16_t relevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | m_masks.alt | m_masks.super;
    for (const auto& [h, g] : m_grabs) {
        if (g.keycode != keycode || (state & relevant) != g.mods)
            continue;
        if (g.needsLock && !(state & kLock))
            continue;
        return &g;
    }
    return nullptr;
}

bool X11HotKeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    const uint8_t type = ev->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
    if (m_paused || key->event != m_root)
        return false;
    if (type == XCB_KEY_PRESS) {
        const Grab* g = match(key->detail, key->state);
        if (!g)
            return false;
        if (m_pending && m_pendingKeycode == key->detail && m_pendingTime == key->time) {
            m_pending.reset(); // an autorepeat pair, not a real release
            m_pendingTimer.stop();
        }
        m_activeKeycode = key->detail;
        m_activeId = g->id;
        return true;
    }
    // The key's release ends the combination, whatever modifiers are still
    // held: people often let go of the modifiers first.
    if (!m_activeKeycode || *m_activeKeycode != key->detail)
        return false;
    const Grab* g = nullptr;
    for (const auto& [h, grab] : m_grabs)
        if (grab.id == m_activeId)
            g = &grab;
    m_activeKeycode.reset();
    if (!g)
        return true; // unregistered while held
    if (m_pending) { // a different key released before the last one fired
        m_pendingTimer.stop();
        auto pending = std::move(*m_pending);
        m_pending.reset();
        released(pending.first, pending.second);
    }
    HotKeyEvent e;
    e.location = QPointF(key->root_x, key->root_y);
    uint64_t flags = 0;
    if (key->state & XCB_MOD_MASK_CONTROL)
        flags |= KeyFlags::Command;
    if (key->state & m_masks.super)
        flags |= KeyFlags::Control;
    if (key->state & m_masks.alt)
        flags |= KeyFlags::Option;
    if (key->state & XCB_MOD_MASK_SHIFT)
        flags |= KeyFlags::Shift;
    if (key->state & kLock)
        flags |= KeyFlags::CapsLock;
    e.modifierFlags = flags;
    e.timestamp = key->time / 1000.0;
    e.keyCode = g->keyCode;
    m_pending = std::make_pair(g->id, e);
    m_pendingKeycode = key->detail;
    m_pendingTime = key->time;
    m_pendingTimer.start();
    return true;
}

} // namespace platform
