#!/usr/bin/python3
"""Types notes into the real program and finds them again by search.

    end_to_end_editor.py QUILLARY SEED_TOOL SHOT_DIR
"""

import os
import subprocess
import sys
import unittest

import end_to_end as e2e

GROCERIES = "Groceries\nmilk, bread and cr\u00e8me fra\u00eeche \U0001F95B"
MEETING = "Meeting notes\nagenda at https://example.com/agenda"


def paste(app, text):
    """xdotool drops characters outside ASCII, so they go through the clipboard."""
    owner = subprocess.Popen(["xclip", "-selection", "clipboard", "-i"], env=app.desktop.env,
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    owner.communicate(text.encode("utf-8"), timeout=e2e.PATIENCE)
    app.key("ctrl+v")


def editor_text(desktop):
    """The editor's text, from the accessibility tree."""
    return editor_query(desktop, "sys.stdout.write(found.queryText().getText(0, -1))")


def character_centre(desktop, offset):
    """Where a character of the editor sits on the screen."""
    out = editor_query(desktop, "x, y, w, h = found.queryText().getCharacterExtents(%d, pyatspi.DESKTOP_COORDS); "
                                "print(x + w // 2, y + h // 2)" % offset)
    return tuple(int(v) for v in out.split()) if out else None


def editor_query(desktop, action):
    return e2e.accessible(desktop,
                          'node.name == "Note" and node.getRole() in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, '
                          'pyatspi.ROLE_PARAGRAPH, pyatspi.ROLE_DOCUMENT_TEXT)',
                          action)


class EditorEndToEnd(unittest.TestCase):
    def setUp(self):
        self.desktop = e2e.Desktop()

    def tearDown(self):
        self.desktop.close()

    def test_typed_notes_are_found_without_their_accents_and_stored_as_typed(self):
        desktop = self.desktop
        # A stand-in browser that only notes what it was asked to open.
        opened = os.path.join(desktop.root, "opened.log")
        browser = os.path.join(desktop.root, "browser")
        with open(browser, "w") as f:
            f.write("#!/bin/sh\necho \"$1\" >> %s\n" % opened)
        os.chmod(browser, 0o755)
        desktop.env["BROWSER"] = browser
        app = e2e.Quillary(desktop)
        app.key("ctrl+n")
        app.type("Groceries")
        app.key("Return")
        app.type("milk, bread and ")
        paste(app, "cr\u00e8me fra\u00eeche \U0001F95B")
        e2e.wait_until(lambda: editor_text(desktop) == GROCERIES, "the pasted words in the editor")
        app.key("ctrl+n")
        app.type("Meeting notes")
        app.key("Return")
        app.type("agenda at https://example.com/agenda")
        e2e.wait_until(lambda: editor_text(desktop) == MEETING, "the second note in the editor")
        desktop.screenshot("editor-link")
        x, y = e2e.wait_until(lambda: character_centre(desktop, 30), "where the link is")
        desktop.xdotool("mousemove", str(x), str(y), "click", "1")
        e2e.wait_until(lambda: os.path.exists(opened), "the browser")
        with open(opened) as f:
            self.assertEqual(f.read(), "https://example.com/agenda\n")

        app.key("ctrl+f")
        app.type("creme")
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["Groceries"], "the search result")
        self.assertEqual(e2e.wait_until(lambda: editor_text(desktop) == GROCERIES and GROCERIES,
                                        "the match in the editor"), GROCERIES)
        desktop.screenshot("search-bar")
        app.key("Escape")
        e2e.wait_until(lambda: sorted(e2e.list_titles(desktop) or []) == ["Groceries", "Meeting notes"],
                       "the whole list after Escape")
        desktop.screenshot("search-placeholder")

        expected = sorted([GROCERIES.replace("\n", "\\n"), MEETING.replace("\n", "\\n")])
        self.assertEqual(app.quit(), 0)
        notes = e2e.stored_notes(desktop)
        self.assertEqual(sorted(n[1] for n in notes), expected)
        self.assertEqual([n[2] for n in notes], ["0", "0"])

        app = e2e.Quillary(desktop)
        e2e.wait_until(lambda: sorted(e2e.list_titles(desktop) or []) == ["Groceries", "Meeting notes"],
                       "both notes after a new start")
        self.assertEqual(app.quit(), 0)
        self.assertEqual(e2e.stored_notes(desktop), notes)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
