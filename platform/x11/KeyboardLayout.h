#pragma once
// The keyboard layout in force: which character each physical key gives.
// Built on libxkbcommon, either from the X server's keyboard or from named
// layouts (tests and sessions without X).

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xcb_connection_t;

namespace platform {

class KeyboardLayout : public QObject
{
    Q_OBJECT
public:
    static constexpr uint32_t InvalidKeycode = 0xffffffffu;

    // "us", "de", "us,ru" ... with rules "evdev"; empty: the session's defaults.
    static std::unique_ptr<KeyboardLayout> fromNames(const QString& layouts, const QString& variants = {},
                                                     QString* error = nullptr);
    // The core keyboard of an X connection; follows its changes when the
    // native events are passed to handleXkbEvent.
    static std::unique_ptr<KeyboardLayout> fromX11(xcb_connection_t* connection, QString* error = nullptr);
    ~KeyboardLayout() override;

    uint32_t keycodeForName(const char* name) const;
    const char* nameForKeycode(uint32_t keycode) const;

    // The character a key gives in the current group at the chosen level,
    // or empty. Dead keys give their spacing accent.
    // group < 0: the current group.
    QString keyText(uint32_t keycode, bool shift, bool levelThree, bool numLock, int group = -1) const;

    uint32_t group() const { return m_group; }
    uint32_t groupCount() const;
    void setGroup(uint32_t group);

    // X only: the XKB event base; handleXkbEvent reloads on keyboard changes.
    uint8_t xkbEventBase() const { return m_xkbEventBase; }
    bool handleXkbEvent(const void* xcbEvent);

    // The process-wide layout: set by the application (or a test); created
    // from the X server on first use when running on xcb, else from the
    // session's XKB defaults.
    static KeyboardLayout* current();
    static void setCurrent(std::unique_ptr<KeyboardLayout> layout);
    // Emits changed() whenever the current layout, its group or its map changes.
    static QObject* notifier();

signals:
    void layoutChanged();

private:
    KeyboardLayout();
    bool reloadFromX11();
    void announce();

    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    xkb_state* m_state = nullptr;
    xcb_connection_t* m_connection = nullptr;
    int32_t m_deviceId = -1;
    uint8_t m_xkbEventBase = 0;
    uint32_t m_group = 0;
};

class KeyboardLayoutNotifier : public QObject
{
    Q_OBJECT
signals:
    void changed();
    friend class KeyboardLayout;
};

} // namespace platform
