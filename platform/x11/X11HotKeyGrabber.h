#pragma once
#include "platform/x11/HotKeyGrabber.h"

#include <QAbstractNativeEventFilter>
#include <QTimer>
#include <map>

struct xcb_connection_t;

namespace platform {

class KeyboardLayout;

// Passive key grabs on the root window. Each combination is grabbed four
// times (with and without Caps Lock and Num Lock) so it works whatever the
// lock keys are, unless it asks for Caps Lock, which then must be on.
class X11HotKeyGrabber : public HotKeyGrabber, public QAbstractNativeEventFilter
{
public:
    // Uses Qt's connection when connection is null.
    explicit X11HotKeyGrabber(xcb_connection_t* connection = nullptr, KeyboardLayout* layout = nullptr);
    ~X11HotKeyGrabber() override;

    std::optional<Handle> grab(uint16_t keyCode, uint32_t carbonModifiers, uint32_t id) override;
    void ungrab(Handle handle) override;
    void setPaused(bool paused) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    struct ModifierMasks
    {
        uint16_t alt = 0x08, super = 0x40, numLock = 0x10;
    };
    static ModifierMasks readModifierMasks(xcb_connection_t* connection);
    // Hot-key modifiers → X modifier mask (Command is Ctrl, Control is Super).
    static uint16_t xModifiers(uint32_t carbonModifiers, const ModifierMasks& masks);

private:
    struct Grab
    {
        uint32_t id;
        uint8_t keycode;
        uint16_t mods;
        bool needsLock;
        uint16_t keyCode;
        uint32_t carbonModifiers;
        bool held = false; // false while paused or when the resume was refused
    };
    // All lock variants or none; logs a refusal.
    bool grabVariants(const Grab& g);
    void ungrabVariants(const Grab& g);
    const Grab* match(uint8_t keycode, uint16_t state) const;

    xcb_connection_t* m_connection;
    KeyboardLayout* m_layout;
    uint32_t m_root = 0;
    ModifierMasks m_masks;
    std::map<Handle, Grab> m_grabs;
    Handle m_nextHandle = 1;
    bool m_paused = false;
    // A held key repeats as release+press pairs with the same time stamp;
    // the release fires only when no such press follows.
    QTimer m_pendingTimer;
    std::optional<std::pair<uint32_t, HotKeyEvent>> m_pending;
    uint8_t m_pendingKeycode = 0;
    uint32_t m_pendingTime = 0;
    // The grabbed key now held down; its release fires the hot key.
    std::optional<uint8_t> m_activeKeycode;
    uint32_t m_activeId = 0;
};

} // namespace platform
