#!/usr/bin/python3
"""Commands from outside the window, on the real program: a quillary: URL
handed over by a second start, the script commands of the command line (and
the first note a script puts into an empty list), and Export All into a
folder.

    end_to_end_commands.py QUILLARY SEED_TOOL SHOT_DIR
"""

import os
import plistlib
import signal
import subprocess
import sys
import unittest

import end_to_end as e2e
from end_to_end_editor import editor_text

UUID = "CCCCCCCC-0000-0000-0000-000000000001"


def row_centre(desktop, row):
    """Where a row of the note list sits on the screen."""
    out = e2e.accessible(desktop,
                         'node.name == "Notes" and node.getRole() in '
                         '(pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE)',
                         'x, y, w, h = found[%d].queryComponent().getExtents(pyatspi.DESKTOP_COORDS); '
                         'print(x + w // 2, y + h // 2)' % row)
    return tuple(int(v) for v in out.split()) if out else None


def quillary(desktop, *args, env=None):
    return subprocess.run([e2e.QUILLARY] + list(args), env=env or desktop.env, capture_output=True, text=True,
                          timeout=e2e.PATIENCE)


class Commands(unittest.TestCase):
    def setUp(self):
        self.desktop = e2e.Desktop()

    def tearDown(self):
        self.desktop.close()

    def test_url_and_script_commands_reach_the_running_instance(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)
        self.assertEqual(quillary(desktop, "quillary://add?text=Hello%20World").returncode, 0)
        desktop.screenshot("url-add")

        saved = quillary(desktop, "--save-note", UUID, "Scripted note\nwith a body", "1700000000")
        self.assertEqual((saved.returncode, saved.stderr), (0, ""))
        kept = quillary(desktop, "--save-note", "BBBBBBBB-0000-0000-0000-000000000002", "Kept", "2023-11-14T22:13:20Z")
        self.assertEqual(kept.returncode, 0, kept.stderr)
        # No text: nothing is saved, and the note the uuid names stays.
        self.assertEqual(quillary(desktop, "--save-note", "BBBBBBBB-0000-0000-0000-000000000002").returncode, 1)
        bad = quillary(desktop, "--delete-note", "not-a-uuid")
        self.assertEqual(bad.returncode, 1)
        self.assertIn("A valid UUID is required.", bad.stderr)
        self.assertEqual(quillary(desktop, "--delete-note", UUID).returncode, 0)

        # A file handed to a second start becomes a note of the first.
        groceries = os.path.join(desktop.root, "Groceries.txt")
        with open(groceries, "wb") as f:
            f.write(b"milk\r\neggs\r\n")
        self.assertEqual(quillary(desktop, groceries).returncode, 0)
        # Calls of the wrong shape are refused, and the instance goes on answering.
        wrong = desktop.run(["dbus-send", "--session", "--print-reply", "--dest=com.quorvane.Quillary",
                             "/com/quorvane/Quillary", "com.quorvane.Quillary.Scripting.SaveNote", "string:x"])
        self.assertNotEqual(wrong.returncode, 0)
        for url in ("javascript:alert(1)", "file:///etc/passwd", "quillary://ADD?text=upper"):
            sent = desktop.run(["dbus-send", "--session", "--print-reply", "--dest=com.quorvane.Quillary",
                                "/com/quorvane/Quillary", "com.quorvane.Quillary.Application.OpenURL",
                                "string:" + url])
            self.assertEqual(sent.returncode, 0, sent.stderr)
        self.assertEqual(quillary(desktop, "--save-note", "BBBBBBBB-0000-0000-0000-000000000003", "Still here").returncode, 0)

        self.assertEqual(app.quit(), 0)
        notes = {text: (uuid, archived) for uuid, text, archived in e2e.stored_notes(desktop)}
        self.assertEqual(notes.get("Hello World", (None, None))[1], "0", notes)
        self.assertEqual(notes.get("Scripted note\\nwith a body"), (UUID, "1"))
        self.assertEqual(notes.get("Kept"), ("BBBBBBBB-0000-0000-0000-000000000002", "0"))
        self.assertEqual(notes.get("Groceries\\n\\nmilk\\neggs\\n", (None, None))[1], "0", notes)
        self.assertIn("Still here", notes)
        self.assertEqual(len(notes), 5)

        # Without a running instance the command says so and fails.
        alone = quillary(desktop, "--delete-note", UUID)
        self.assertEqual(alone.returncode, 1)
        self.assertIn("not running", alone.stderr)

    def test_lower_case_uuid_from_the_command_line_names_the_stored_note(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)
        self.assertEqual(quillary(desktop, "--save-note", UUID.lower(), "First").returncode, 0)
        self.assertEqual(quillary(desktop, "--save-note", UUID, "Second").returncode, 0)
        self.assertEqual(quillary(desktop, "--save-note", UUID.lower(), "Third").returncode, 0)
        self.assertEqual(app.quit(), 0)
        self.assertEqual(e2e.stored_notes(desktop), [(UUID, "Third", "0")])
        app = e2e.Quillary(desktop)
        deleted = quillary(desktop, "--delete-note", UUID.lower())
        self.assertEqual((deleted.returncode, deleted.stderr), (0, ""))
        self.assertEqual(app.quit(), 0)
        self.assertEqual(e2e.stored_notes(desktop), [(UUID, "Third", "1")])

    def test_frozen_instance_is_said_not_to_answer_and_carries_out_each_command_once(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)
        impatient = dict(desktop.env, QUILLARY_BUS_TIMEOUT_MS="500")
        app.process.send_signal(signal.SIGSTOP)
        try:
            saved = quillary(desktop, "--save-note", UUID, "Saved while frozen", env=impatient)
            added = quillary(desktop, "quillary://add?text=Added%20while%20frozen", env=impatient)
        finally:
            app.process.send_signal(signal.SIGCONT)
        # Delivered: neither done (0) nor failed (1), and said plainly.
        self.assertEqual(saved.returncode, 75, saved.stderr)
        self.assertIn("Quillary is running but does not answer.", saved.stderr)
        self.assertIn("may still be carried out", saved.stderr)
        self.assertEqual(added.returncode, 0, added.stderr)
        self.assertIn("Quillary is running but does not answer.", added.stderr)
        # Answered in order: once this one is, the two before it are done.
        after = quillary(desktop, "--save-note", "CCCCCCCC-0000-0000-0000-000000000002", "After")
        self.assertEqual((after.returncode, after.stderr), (0, ""))
        self.assertEqual(app.quit(), 0)
        texts = [text for _, text, _ in e2e.stored_notes(desktop)]
        self.assertEqual(sorted(texts), ["Added while frozen", "After", "Saved while frozen"])
        self.assertIn((UUID, "Saved while frozen", "0"), e2e.stored_notes(desktop))

    def test_first_note_from_a_script_opens_in_an_empty_list_and_takes_the_typing(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)
        saved = quillary(desktop, "--save-note", UUID, "First from a script")
        self.assertEqual((saved.returncode, saved.stderr), (0, ""))
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["First from a script"], "the scripted note listed")
        e2e.wait_until(lambda: editor_text(desktop) == "First from a script", "the scripted note in the editor")
        desktop.screenshot("first-scripted-note")
        # Its row opens it, and typing goes into that very note.
        x, y = e2e.wait_until(lambda: row_centre(desktop, 0), "where the row is")
        desktop.xdotool("mousemove", str(x), str(y), "click", "1")
        app.key("Return")
        app.type("Typed ")
        e2e.wait_until(lambda: editor_text(desktop) == "Typed First from a script", "the typing in the note")
        self.assertEqual(app.quit(), 0)
        self.assertEqual(e2e.stored_notes(desktop), [(UUID, "Typed First from a script", "0")])

    def test_export_all_writes_one_note_file_per_live_note(self):
        desktop = self.desktop
        seeded = {
            "AAAAAAAA-0000-0000-0000-000000000001": ("Shopping: milk/eggs\nand bread", 1600000000),
            "AAAAAAAA-0000-0000-0000-000000000002": ("Caf\u00e9 \U0001F600 plans", 1650000000),
        }
        arguments = []
        for uuid, (text, date) in seeded.items():
            arguments += [uuid, text, str(date)]
        self.assertEqual(desktop.run([e2e.SEED] + arguments).returncode, 0)
        folder = os.path.join(desktop.root, "exported")
        os.makedirs(folder)
        app = e2e.Quillary(desktop)
        e2e.wait_until(lambda: e2e.list_titles(desktop), "the seeded list")
        app.key("ctrl+shift+e")
        panel = e2e.wait_until(lambda: desktop.xdotool("search", "--onlyvisible", "--name", "^Export$"),
                               "the export panel").splitlines()[0]
        desktop.xdotool("windowactivate", "--sync", panel)
        desktop.screenshot("export-panel")
        app.key("ctrl+a")
        app.type(folder)
        app.key("Return")
        e2e.wait_until(lambda: len(os.listdir(folder)) == 2, "two exported files")
        self.assertEqual(sorted(os.listdir(folder)), ["Caf\u00e9 \U0001F600 plans.quillary",
                                                      "Shopping- milk-eggs.quillary"])
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                note = plistlib.load(f)
            text, date = seeded[note["uuid"]]
            self.assertEqual(note["text"], text)
            self.assertAlmostEqual(note["date"], date, places=3)
            self.assertFalse(note["archived"])
        self.assertEqual(app.quit(), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
