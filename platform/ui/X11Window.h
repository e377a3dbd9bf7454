#pragma once

#include <cstdint>

class QWindow;

namespace platform {

// Window-manager requests for the application's windows under X11. On any
// other platform (offscreen, Wayland) they do nothing and return false.
class X11Window
{
public:
    // Keeps `window` out of the taskbar and the pager (_NET_WM_STATE_SKIP_TASKBAR
    // and _NET_WM_STATE_SKIP_PAGER). An unmapped window gets the states in its
    // _NET_WM_STATE property, which the window manager reads when it maps it; a
    // mapped window asks the window manager with a client message. The wish is
    // kept and applied again each time the window is shown, since a window
    // manager drops _NET_WM_STATE when a window is withdrawn.
    static bool setSkipTaskbar(QWindow* window, bool skip);

    // Asks the window manager to activate `window` (_NET_ACTIVE_WINDOW, as a
    // request from an application, source 1). `timestamp` is the X time of the
    // user event that led to it (0 for none), which lets a focus-stealing
    // prevention accept the request.
    static bool activate(QWindow* window, std::uint32_t timestamp);
};

} // namespace platform
