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


# The Edit menu's title in the menu bar, after "Quillary" and "File".
EDIT_MENU_X = 117

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
