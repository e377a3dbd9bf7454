#pragma once
// System-wide key grabs: the service behind the hot-key registry. The
// registry speaks in virtual key numbers and hot-key modifier bits; a
// grabber turns them into whatever the display server needs.

#include <QPointF>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

// The key-up event handed to a hot key's action.
struct HotKeyEvent
{
    int type = 11;
    QPointF location;
    uint64_t modifierFlags = 0;
    double timestamp = 0;
    int windowNumber = -1;
    QString characters;
    QString charactersIgnoringModifiers;
    bool isARepeat = false;
    uint16_t keyCode = 0;
};

class HotKeyGrabber
{
public:
    using Handle = uint64_t;
    using ReleasedHandler = std::function<void(uint32_t id, const HotKeyEvent& event)>;

    virtual ~HotKeyGrabber();
    // Grabs (key code, hot-key modifiers) and reports its release with id.
    // Fails when the combination cannot be grabbed (another client holds it,
    // no display, a key this keyboard lacks).
    virtual std::optional<Handle> grab(uint16_t keyCode, uint32_t carbonModifiers, uint32_t id) = 0;
    virtual void ungrab(Handle handle) = 0;
    // While paused nothing is grabbed, so the combinations' keys reach the
    // focused window as ordinary key events. grab() still asks the system, so
    // a refusal is known at once, and holds the combination from the resume
    // on. Resuming grabs everything again; what another client took in the
    // meantime stays ungrabbed and is logged.
    virtual void setPaused(bool paused) = 0;

    void setReleasedHandler(ReleasedHandler handler) { m_released = std::move(handler); }

protected:
    void released(uint32_t id, const HotKeyEvent& event) const
    {
        if (m_released)
            m_released(id, event);
    }

private:
    ReleasedHandler m_released;
};

// The grabber of this session: X when Qt runs on xcb, otherwise one that
// refuses every grab (a Wayland compositor lets no client grab keys).
std::unique_ptr<HotKeyGrabber> createSystemHotKeyGrabber();

} // namespace platform
