#pragma once
// The X connection Qt's xcb platform uses, or null when the application runs
// on another platform (Wayland-native, offscreen): global grabs need X.

struct xcb_connection_t;

namespace platform::x11 {

xcb_connection_t* connection();
// The first screen's root window, or 0.
unsigned int rootWindow(xcb_connection_t* c);

}  // namespace platform::x11
