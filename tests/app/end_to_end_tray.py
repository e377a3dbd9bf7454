#!/usr/bin/python3
"""Menu-bar mode in the real program: the tray icon in an X11 tray (trayer),
a click on it showing and hiding the window, and its menu's Quit; without a
tray the mode is refused with an alert and the setting set back.

    end_to_end_tray.py QUILLARY SEED_TOOL SHOT_DIR
"""

import os
import plistlib
import re
import signal
import sys
import unittest

import end_to_end as e2e


def settings_path(desktop):
    return os.path.join(desktop.env["XDG_CONFIG_HOME"], "Quillary", "com.quorvane.Quillary.plist")


def write_settings(desktop, values):
    path = settings_path(desktop)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        plistlib.dump(values, f, fmt=plistlib.FMT_BINARY)


def read_settings(desktop):
    with open(settings_path(desktop), "rb") as f:
        return plistlib.load(f)


def geometry(desktop, window):
    """(x, y, width, height) of a window on the screen."""
    out = desktop.xdotool("getwindowgeometry", "--shell", window)
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def visible(desktop, window):
    return window in desktop.xdotool("search", "--onlyvisible", "--name", "^Quillary$").splitlines()


def tray_icon(desktop, panel):
    """Our icon's window, embedded in the tray panel (the only icon there)."""
    tree = desktop.run(["xwininfo", "-children", "-id", panel]).stdout
    for match in re.finditer(r"^\s+(0x[0-9a-f]+) .*?(\d+)x(\d+)\+", tree, re.M):
        if int(match.group(2)) >= 16 and int(match.group(3)) >= 16:
            return match.group(1)
    return None


def opaque(desktop, window):
    """No fade under way: the window's opacity is whole (or was never set)."""
    out = desktop.run(["xprop", "-id", window, "_NET_WM_WINDOW_OPACITY"]).stdout
    return "=" not in out or out.split("=", 1)[1].strip() == str(0xFFFFFFFF)


def window_states(desktop, window):
    return desktop.run(["xprop", "-id", window, "_NET_WM_STATE"]).stdout


class TrayMode(unittest.TestCase):
    def setUp(self):
        self.desktop = e2e.Desktop()

    def tearDown(self):
        self.desktop.close()

    def start_tray(self):
        desktop = self.desktop
        desktop.spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                       "--height", "24", "--SetDockType", "true", "--transparent", "false"])
        return e2e.wait_until(lambda: desktop.xdotool("search", "--classname", "^panel$"),
                              "the tray panel").splitlines()[0]

    def test_tray_icon_toggles_the_window_and_its_menu_quits(self):
        desktop = self.desktop
        panel = self.start_tray()
        desktop.run([e2e.SEED, "AAAAAAAA-0000-0000-0000-000000000001", "Groceries\nmilk and bread", "1700000000"])
        write_settings(desktop, {"Menu Bar Mode": True})
        app = e2e.Quillary(desktop)
        icon = e2e.wait_until(lambda: tray_icon(desktop, panel), "the tray icon")
        # Out of the taskbar while in menu-bar mode.
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", window_states(desktop, app.window))
        desktop.screenshot("tray-window-open")

        x, y, w, h = geometry(desktop, icon)
        desktop.xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", "1")
        e2e.wait_until(lambda: not visible(desktop, app.window), "the window to close")
        desktop.screenshot("tray-window-closed")
        desktop.xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", "1")
        e2e.wait_until(lambda: visible(desktop, app.window), "the window to open again")
        # Opened beside the icon, under the panel at the top right.
        wx, wy, ww, wh = geometry(desktop, app.window)
        self.assertGreater(wx + ww, 1280 - 200)
        self.assertLess(wy, 200)
        desktop.screenshot("tray-window-reopened")

        # The icon's menu: New Note, a separator, Hide Quillary, Quit Quillary.
        desktop.xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", "3")
        menu = e2e.wait_until(lambda: [m for m in desktop.xdotool("search", "--onlyvisible", "--classname",
                                                                  "quillary").splitlines()
                                       if m != app.window and geometry(desktop, m)[3] > 40], "the tray menu")[0]
        desktop.screenshot("tray-menu")
        mx, my, mw, mh = geometry(desktop, menu)
        desktop.xdotool("mousemove", str(mx + mw // 2), str(my + mh - 12), "click", "1")
        self.assertEqual(app.process.wait(e2e.PATIENCE), 0)
        self.assertTrue(read_settings(desktop)["Menu Bar Mode"])

    def start_in_menu_bar_mode(self):
        desktop = self.desktop
        panel = self.start_tray()
        desktop.run([e2e.SEED, "AAAAAAAA-0000-0000-0000-000000000001", "Groceries\nmilk and bread", "1700000000",
                     "AAAAAAAA-0000-0000-0000-000000000002", "Packing list", "1700000100"])
        write_settings(desktop, {"Menu Bar Mode": True})
        app = e2e.Quillary(desktop)
        icon = e2e.wait_until(lambda: tray_icon(desktop, panel), "the tray icon")
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["Packing list", "Groceries"], "the seeded list")
        return app, icon

    def test_two_quick_clicks_on_the_icon_close_and_reopen_the_window(self):
        desktop = self.desktop
        app, icon = self.start_in_menu_bar_mode()
        x, y, w, h = geometry(desktop, icon)
        # The second click comes while the window fades out.
        desktop.xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", "--repeat", "2", "--delay", "40",
                        "1")
        # A round trip through the program's event loop (the accessibility
        # bus), long enough for a fade that was left running to end.
        self.assertIsNotNone(e2e.list_titles(desktop))
        e2e.wait_until(lambda: opaque(desktop, app.window), "the fade to end")
        self.assertIsNotNone(e2e.list_titles(desktop))
        self.assertTrue(visible(desktop, app.window))
        desktop.screenshot("tray-two-quick-clicks")
        self.assertEqual(app.quit(), 0)

    def test_escape_in_the_list_closes_the_window(self):
        desktop = self.desktop
        app, icon = self.start_in_menu_bar_mode()
        app.click(100, 45)  # the first row, which takes the keys
        app.key("Escape")
        e2e.wait_until(lambda: not visible(desktop, app.window), "the window to close")
        # The icon brings it back, as it was.
        x, y, w, h = geometry(desktop, icon)
        desktop.xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", "1")
        e2e.wait_until(lambda: visible(desktop, app.window), "the window to open again")
        self.assertEqual(app.quit(), 0)

    def test_choosing_menu_bar_mode_leaves_full_screen_first(self):
        desktop = self.desktop
        self.start_tray()
        app = e2e.Quillary(desktop)
        app.key("F11")
        e2e.wait_until(lambda: "_NET_WM_STATE_FULLSCREEN" in window_states(desktop, app.window), "full screen")
        app.key("ctrl+comma")
        prefs = e2e.wait_until(lambda: desktop.xdotool("search", "--onlyvisible", "--name", "^General$"),
                               "the preferences window").splitlines()[0]
        desktop.xdotool("windowactivate", "--sync", prefs)
        # The text size has the focus; the recorder, then "Show Quillary in"
        # follow it.
        app.key("Tab")
        app.key("Tab")
        app.key("Down")
        e2e.wait_until(lambda: "_NET_WM_STATE_SKIP_TASKBAR" in window_states(desktop, app.window),
                       "menu-bar mode")
        e2e.wait_until(lambda: "_NET_WM_STATE_FULLSCREEN" not in window_states(desktop, app.window),
                       "the window out of full screen")
        desktop.screenshot("tray-menu-bar-mode-after-full-screen")
        app.process.send_signal(signal.SIGTERM)
        self.assertEqual(app.process.wait(e2e.PATIENCE), 0)
        self.assertTrue(read_settings(desktop)["Menu Bar Mode"])

    def test_without_a_tray_the_mode_is_refused_with_a_message(self):
        desktop = self.desktop
        write_settings(desktop, {"Menu Bar Mode": True})
        app = e2e.Quillary(desktop)
        # The alert belongs to the main window (WM_TRANSIENT_FOR).
        windows = e2e.wait_until(lambda: len(desktop.xdotool("search", "--onlyvisible", "--name",
                                                             "^Quillary$").splitlines()) == 2 and
                                 desktop.xdotool("search", "--onlyvisible", "--name", "^Quillary$").splitlines(),
                                 "the alert")
        alert = [w for w in windows if "window id" in
                 desktop.run(["xprop", "-id", w, "WM_TRANSIENT_FOR"]).stdout][0]
        app.window = [w for w in windows if w != alert][0]
        desktop.screenshot("tray-refused")
        with open(os.path.join(desktop.root, "quillary.log")) as log:
            self.assertIn("No system tray: menu bar mode refused", log.read())
        self.assertNotIn("_NET_WM_STATE_SKIP_TASKBAR", window_states(desktop, app.window))
        desktop.xdotool("windowactivate", "--sync", alert)
        desktop.xdotool("key", "--clearmodifiers", "Return")
        e2e.wait_until(lambda: not visible(desktop, alert), "the alert to close")
        app.process.send_signal(signal.SIGTERM)
        self.assertEqual(app.process.wait(e2e.PATIENCE), 0)
        self.assertFalse(read_settings(desktop)["Menu Bar Mode"])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
