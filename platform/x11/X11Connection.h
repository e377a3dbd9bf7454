#pragma once
// The X connection Qt's xcb platform uses, or null when the application runs
// on another platform (Wayland-native, offscreen): global grabs need X.

struct xcb_connection_t;

namespace platform::x11 {

xcb_connection_t* connection();
// The first screen's root window, or 0.
unsigned int rootWindow(xcb_connection_t* c);
// Takes the whole keyboard for window. False when the server refuses: another
// client holds the keyboard, or the window is not on screen.
bool grabKeyboard(xcb_connection_t* c, unsigned int window);

} // namespace platform::x11
