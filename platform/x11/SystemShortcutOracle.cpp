#include "platform/x11/SystemShortcutOracle.h"

#include "platform/x11/KeyMap.h"
#include "platform/x11/KeyboardLayout.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11HotKeyGrabber.h"

#include <cstdlib>
#include <xcb/xcb.h>

namespace platform {

SystemShortcutOracle::~SystemShortcutOracle() = default;

ShortcutAvailability ListedSystemShortcuts::availability(int64_t code, uint64_t carbonMask)
{
    if (!m_list)
        return ShortcutAvailability::Unknown;
    constexpr uint64_t four =
        KeyFlags::CarbonCommand | KeyFlags::CarbonOption | KeyFlags::CarbonShift | KeyFlags::CarbonControl;
    for (const auto& entry : *m_list) {
        if (!entry.enabled)
            continue;
        if (entry.code == int16_t(code) &&
            (uint64_t(uint32_t(entry.modifiers)) & four) == (carbonMask & four))
            return ShortcutAvailability::Taken;
    }
    return ShortcutAvailability::Free;
}

X11ShortcutProbe::X11ShortcutProbe(KeyboardLayout* layout) : m_layout(layout)
{
    if (!x11::connection())
        return; // not on X: nothing to ask
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
}

X11ShortcutProbe::~X11ShortcutProbe()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

ShortcutAvailability X11ShortcutProbe::availability(int64_t code, uint64_t carbonMask)
{
    KeyboardLayout* layout = m_layout ? m_layout : KeyboardLayout::current();
    if (!m_connection || !layout || code < 0)
        return ShortcutAvailability::Unknown;
    auto keycode = KeyMap::keycodeForCode(*layout, int(code));
    if (!keycode || *keycode > 255)
        return ShortcutAvailability::Unknown;
    const uint32_t root = x11::rootWindow(m_connection);
    const auto masks = X11HotKeyGrabber::readModifierMasks(m_connection);
    const uint16_t mods = X11HotKeyGrabber::xModifiers(uint32_t(carbonMask), masks);
    xcb_void_cookie_t cookie = xcb_grab_key_checked(m_connection, 1, root, mods, uint8_t(*keycode),
                                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    if (xcb_generic_error_t* err = xcb_request_check(m_connection, cookie)) {
        const bool access = err->error_code == XCB_ACCESS;
        std::free(err);
        return access ? ShortcutAvailability::Taken : ShortcutAvailability::Unknown;
    }
    // Waits until the server has let go: requests of different connections are
    // not ordered, and the registry's grab of a combination just found free
    // would otherwise meet this probe's grab and be refused.
    std::free(
        xcb_request_check(m_connection, xcb_ungrab_key_checked(m_connection, uint8_t(*keycode), root, mods)));
    return ShortcutAvailability::Free;
}

} // namespace platform
