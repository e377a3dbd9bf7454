#pragma once
// The process-wide registry of global hot keys.

#include "hotkey/ZQHotKey.h"

#include <functional>
#include <memory>
#include <vector>

class ZQHotKeyCenter
{
public:
    using HotKeyPtr = std::shared_ptr<ZQHotKey>;
    using HotKeySet = std::vector<HotKeyPtr>;
    using Predicate = std::function<bool(const ZQHotKey&)>;

    // The services root's centre while one is installed; otherwise one over
    // the session's grabber, created on first call, that lives until exit.
    static ZQHotKeyCenter& sharedHotKeyCenter();
    // Installs the centre sharedHotKeyCenter() answers; null uninstalls (the
    // services root only).
    static void setSharedHotKeyCenter(ZQHotKeyCenter* center);
    // A separate registry over the given grabber (tests).
    explicit ZQHotKeyCenter(std::unique_ptr<platform::HotKeyGrabber> grabber);
    ~ZQHotKeyCenter();
    ZQHotKeyCenter(const ZQHotKeyCenter&) = delete;
    ZQHotKeyCenter& operator=(const ZQHotKeyCenter&) = delete;

    // Null when the combination is already registered here or the system refuses it.
    HotKeyPtr registerHotKeyWithKeyCode(uint16_t keyCode, uint64_t modifierFlags, ZQHotKey::Task task);
    HotKeyPtr registerHotKeyWithKeyCode(uint16_t keyCode, uint64_t modifierFlags, QObject* target,
                                        const QByteArray& action, const QVariant& object);
    // Null for a combination already registered, never the given key unregistered:
    // callers test only for null.
    HotKeyPtr registerHotKey(const HotKeyPtr& hotKey);

    bool hasRegisteredHotKeyWithKeyCode(uint16_t keyCode, uint64_t modifierFlags) const;
    HotKeySet hotKeysMatching(const Predicate& predicate) const;
    HotKeySet registeredHotKeys() const;

    void unregisterHotKey(const ZQHotKey& hotKey);
    void unregisterHotKeysMatching(const Predicate& predicate);
    void unregisterHotKeysWithTarget(const QObject* target);
    void unregisterHotKeysWithTarget(const QObject* target, const QByteArray& action);
    void unregisterHotKeyWithKeyCode(uint16_t keyCode, uint64_t modifierFlags);
    void unregisterAllHotKeys();

    uint32_t nextHotKeyID() const { return m_nextHotKeyID; }

    // While a pause is held none of this registry's combinations is grabbed,
    // so their keys reach the focused window (the shortcut recorder) instead
    // of acting. Registration goes on as usual; everything is grabbed again
    // when the last pause ends. A pause that outlives its registry ends
    // nothing.
    class [[nodiscard]] GrabPause
    {
    public:
        GrabPause() = default;
        GrabPause(GrabPause&& other) noexcept = default;
        GrabPause& operator=(GrabPause&& other) noexcept;
        ~GrabPause() { end(); }
        void end();

    private:
        friend class ZQHotKeyCenter;
        explicit GrabPause(std::weak_ptr<ZQHotKeyCenter*> center) : m_center(std::move(center)) {}
        std::weak_ptr<ZQHotKeyCenter*> m_center;
    };
    GrabPause pauseGrabs();
    bool grabsPaused() const { return m_pauses > 0; }

    // Hot-key modifiers for the system: caps lock counts, the function and
    // numeric-pad bits do not.
    static uint32_t carbonModifiersForRegistration(uint64_t cocoaFlags);

private:
    HotKeyPtr doRegister(const HotKeyPtr& hotKey);
    void released(uint32_t id, const platform::HotKeyEvent& event);
    void endPause();

    std::unique_ptr<platform::HotKeyGrabber> m_grabber;
    HotKeySet m_registered;
    uint32_t m_nextHotKeyID = 1;
    int m_pauses = 0;
    // What a pause holds on to: gone with the registry.
    std::shared_ptr<ZQHotKeyCenter*> m_self = std::make_shared<ZQHotKeyCenter*>(this);
};
