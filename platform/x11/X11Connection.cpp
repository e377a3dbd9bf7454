#include "platform/x11/X11Connection.h"

#include <QGuiApplication>
#include <cstdlib>
#include <xcb/xcb.h>

namespace platform::x11 {

xcb_connection_t* connection()
{
    if (!qGuiApp)
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

unsigned int rootWindow(xcb_connection_t* c)
{
    if (!c)
        return 0;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    return it.rem ? it.data->root : 0;
}

bool grabKeyboard(xcb_connection_t* c, unsigned int window)
{
    if (!c || !window)
        return false;
    xcb_grab_keyboard_reply_t* reply = xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    const bool granted = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    return granted;
}

} // namespace platform::x11
