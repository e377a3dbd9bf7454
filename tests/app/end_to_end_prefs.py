#!/usr/bin/python3
"""The preferences window of the real program: a shortcut recorded with real
keys toggles the window, and a cloud folder chosen in the Sync pane receives
the notes.

    end_to_end_prefs.py QUILLARY SEED_TOOL SHOT_DIR
"""

import glob
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end as e2e  # noqa: E402

FIND = r"""
import pyatspi, sys
want = sys.argv[1]
def walk(node, depth=0):
    if depth > 16 or node is None:
        return None
    try:
        if node.name == want and node.getState().contains(pyatspi.STATE_SHOWING):
            return node
        for child in node:
            found = walk(child, depth + 1)
            if found is not None:
                return found
    except Exception:
        return None
for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name.lower().startswith("quillary"):
        found = walk(app)
        if found is not None:
            box = found.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            print(box.x + box.width // 2, box.y + box.height // 2)
            sys.exit(0)
sys.exit(1)
"""


def centre_of(desktop, name):
    """The screen centre of the showing control with that accessible name."""
    result = desktop.run(["/usr/bin/python3", "-c", FIND, name], timeout=e2e.PATIENCE)
    return result.stdout.split() if result.returncode == 0 else None


def click_control(desktop, name):
    x, y = e2e.wait_until(lambda: centre_of(desktop, name), "the control " + name)
    desktop.xdotool("mousemove", x, y, "click", "1")


def visible(desktop, title):
    return desktop.xdotool("search", "--onlyvisible", "--name", title)


class Preferences(unittest.TestCase):
    def setUp(self):
        self.desktop = e2e.Desktop()

    def tearDown(self):
        self.desktop.close()

    def open_preferences(self, app):
        app.key("ctrl+comma")
        window = e2e.wait_until(lambda: visible(self.desktop, "^(General|Sync)$"),
                                "the preferences window").splitlines()[0]
        self.desktop.xdotool("windowactivate", "--sync", window)
        return window

    def test_recorded_shortcut_toggles_the_window(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)
        self.open_preferences(app)
        # The text size has the focus; the recorder follows it.
        app.key("Tab")
        app.key("space")
        app.key("ctrl+alt+j")
        e2e.wait_until(lambda: centre_of(desktop, "Start when you log in"), "the pane after recording")
        desktop.screenshot("preferences-general-recorded")
        app.key("alt+F4")
        e2e.wait_until(lambda: not visible(desktop, "^General$"), "the preferences window to close")

        desktop.xdotool("windowactivate", "--sync", app.window)
        app.key("ctrl+alt+j")
        e2e.wait_until(lambda: not visible(desktop, "^Quillary$"), "the shortcut to hide the window")
        app.key("ctrl+alt+j")
        e2e.wait_until(lambda: visible(desktop, "^Quillary$"), "the shortcut to bring the window back")
        self.assertEqual(app.quit(), 0)

    def test_chosen_cloud_folder_receives_the_note(self):
        desktop = self.desktop
        folder = os.path.join(desktop.root, "Cloud")
        os.makedirs(folder)
        app = e2e.Quillary(desktop)
        app.key("ctrl+n")
        app.type("Packed for the cloud")
        self.open_preferences(app)
        click_control(desktop, "Sync")
        e2e.wait_until(lambda: visible(desktop, "^Sync$"), "the Sync pane")
        e2e.wait_until(lambda: centre_of(desktop, "Use a Cloud Folder…"), "the sign-in form")
        desktop.screenshot("preferences-sync-sign-in")
        click_control(desktop, "Use a Cloud Folder…")
        dialog = e2e.wait_until(lambda: visible(desktop, "^Choose Cloud Folder$"), "the folder dialog")
        desktop.xdotool("windowactivate", "--sync", dialog.splitlines()[0])
        app.type(folder)
        app.key("Return")
        e2e.wait_until(lambda: centre_of(desktop, "Syncing with iCloud"), "the cloud folder view")
        desktop.screenshot("preferences-sync-cloud-folder")
        notes = os.path.join(folder, "XW9K2ZQ7TM.com.quorvane.Quillary", "Notes", "*.quillary")
        files = e2e.wait_until(lambda: glob.glob(notes), "the note file in the cloud folder")
        with open(files[0], "rb") as f:
            self.assertIn("Packed for the cloud".encode(), f.read())
        self.assertEqual(app.quit(), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
