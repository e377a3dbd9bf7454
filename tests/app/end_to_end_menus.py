#!/usr/bin/python3
"""Menus and Calculate in the real program: keys through xdotool, the list
through the accessibility tree, the store through sqlite3 after a clean quit.

    end_to_end_menus.py QUILLARY SEED_TOOL SHOT_DIR
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end as e2e  # noqa: E402


class Menus(unittest.TestCase):
    def setUp(self):
        self.desktop = e2e.Desktop()

    def tearDown(self):
        self.desktop.close()

    def test_calculate_replaces_the_selection_and_undo_gives_the_expression_back(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)
        app.key("ctrl+n")
        app.type("12*(3+4)")
        app.key("shift+Home")
        app.key("ctrl+equal")
        # Opening a menu stores the note: the list's title shows the result.
        desktop.xdotool("mousemove", "--window", app.window, "520", "120", "click", "3")
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["84"], "the calculated note in the list")
        desktop.screenshot("menus-editor-context-menu")
        app.key("Escape")
        app.key("ctrl+z")
        self.assertEqual(app.quit(), 0)
        self.assertEqual([n[1] for n in e2e.stored_notes(desktop)], ["12*(3+4)"])

    def test_edit_menu_names_the_undo_of_a_deletion(self):
        desktop = self.desktop
        desktop.run([e2e.SEED, "AAAAAAAA-0000-0000-0000-000000000001", "Shopping list", "1700000000"])
        app = e2e.Quillary(desktop)
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["Shopping list"], "the seeded note")
        app.click(100, 45)
        app.key("ctrl+BackSpace")
        # An empty list reads as one empty line.
        e2e.wait_until(lambda: e2e.list_titles(desktop) in ([], [""]), "the empty list")
        app.click(EDIT_MENU_X, 10)
        desktop.screenshot("menus-edit-menu")
        app.key("Escape")
        app.click(100, 300)
        app.key("ctrl+z")
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["Shopping list"], "the note back in the list")
        self.assertEqual(app.quit(), 0)
        self.assertEqual([(n[1], n[2]) for n in e2e.stored_notes(desktop)], [("Shopping list", "0")])

    def test_quit_keys_work_from_the_about_and_the_preferences_window(self):
        desktop = self.desktop

        def open_about(app):
            app.click(APPLICATION_MENU_X, 10)
            app.key("Down")
            app.key("Return")

        for opener, title in ((open_about, "^About Quillary$"), (lambda app: app.key("ctrl+comma"), "^General$")):
            app = e2e.Quillary(desktop)
            opener(app)
            other = e2e.wait_until(lambda: desktop.xdotool("search", "--onlyvisible", "--name", title),
                                   title).splitlines()[0]
            desktop.xdotool("windowactivate", "--sync", other)
            desktop.screenshot("menus-quit-from-" + title.strip("^$").split()[0].lower())
            app.key("ctrl+q")
            self.assertEqual(app.process.wait(e2e.PATIENCE), 0, title)

    def test_right_click_below_the_last_row_keeps_the_selected_note(self):
        desktop = self.desktop
        desktop.run([e2e.SEED, "AAAAAAAA-0000-0000-0000-000000000001", "Groceries\nmilk and bread", "1700000000",
                     "AAAAAAAA-0000-0000-0000-000000000002", "Packing list", "1700000100"])
        app = e2e.Quillary(desktop)
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["Packing list", "Groceries"], "the seeded list")
        app.click(100, 85)  # the second row
        e2e.wait_until(lambda: editor_text(desktop) == "Groceries\nmilk and bread", "the clicked note")
        desktop.xdotool("mousemove", "--window", app.window, "100", "300", "click", "3")
        # The editor still shows the note: the selection stayed.
        self.assertEqual(editor_text(desktop), "Groceries\nmilk and bread")
        self.assertEqual(selected_titles(desktop), ["Groceries"])
        desktop.screenshot("menus-right-click-below-the-rows")
        self.assertEqual(app.quit(), 0)

    def test_full_screen_key_enters_and_leaves_full_screen(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)

        def full_screen():
            return "_NET_WM_STATE_FULLSCREEN" in desktop.run(["xprop", "-id", app.window, "_NET_WM_STATE"]).stdout

        app.key("F11")
        e2e.wait_until(full_screen, "full screen")
        desktop.screenshot("menus-full-screen")
        app.key("F11")
        e2e.wait_until(lambda: not full_screen(), "the window back from full screen")
        self.assertEqual(app.quit(), 0)


def editor_text(desktop):
    return e2e.accessible(desktop, 'node.name == "Note" and node.getRole() == pyatspi.ROLE_TEXT',
                          'print(found.queryText().getText(0, -1), end="")')


def selected_titles(desktop):
    """The list's selected rows, through the accessibility tree."""
    out = e2e.accessible(desktop,
                         'node.name == "Notes" and node.getRole() in '
                         '(pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE)',
                         'print("\\n".join(item.name for item in found '
                         'if item.getState().contains(pyatspi.STATE_SELECTED)))')
    return out.splitlines() if out is not None else None


# The menus' titles in the menu bar: "Quillary", then "File", then "Edit".
APPLICATION_MENU_X = 30
EDIT_MENU_X = 117

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
