#include "platform/x11/X11Connection.h"

#include <QGuiApplication>
#include <xcb/xcb.h>

namespace platform::x11 {

xcb_connection_t* connection() {
    if (!qGuiApp) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

unsigned int rootWindow(xcb_connection_t* c) {
    if (!c) return 0;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    return it.rem ? it.data->root : 0;
}

}  // namespace platform::x11
