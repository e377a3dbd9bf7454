#!/usr/bin/python3
"""Page setup and printing in the real program: Qt's own dialogs answered
through the accessibility tree and keys, the printed file read with pdfinfo.

    end_to_end_print.py QUILLARY SEED_TOOL SHOT_DIR
"""

import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end as e2e  # noqa: E402


class Printing(unittest.TestCase):
    def setUp(self):
        if not shutil.which("pdfinfo"):
            self.skipTest("pdfinfo (poppler-utils) is not installed")
        self.desktop = e2e.Desktop()
        # No print server: the print dialog offers only printing to a file,
        # and nothing can reach a real printer.
        self.desktop.env["CUPS_SERVER"] = os.path.join(self.desktop.root, "no-cups.sock")

    def tearDown(self):
        self.desktop.close()

    def page_size(self, path):
        out = self.desktop.run(["pdfinfo", path]).stdout
        found = re.search(r"Page size:\s+([\d.]+) x ([\d.]+) pts", out)
        return (float(found.group(1)), float(found.group(2))) if found else None

    def activate_dialog(self, title):
        desktop = self.desktop
        dialog = e2e.wait_until(lambda: desktop.xdotool("search", "--onlyvisible", "--name", title),
                                "the dialog " + title).splitlines()[0]
        desktop.xdotool("windowactivate", "--sync", dialog)
        return dialog

    def test_landscape_chosen_in_page_setup_is_used_by_the_next_print(self):
        desktop = self.desktop
        desktop.run([e2e.SEED, "AAAAAAAA-0000-0000-0000-000000000001", "Wide report\nwith columns", "1700000000"])
        app = e2e.Quillary(desktop)
        e2e.wait_until(lambda: e2e.list_titles(desktop) == ["Wide report"], "the seeded note")
        app.click(100, 45)

        app.key("ctrl+shift+p")
        self.activate_dialog("^Page Setup$")
        # Clicked where the user would click it.
        extents = e2e.wait_until(lambda: e2e.accessible(
            desktop, 'node.name == "Landscape" and node.getRole() == pyatspi.ROLE_RADIO_BUTTON',
            'e = found.queryComponent().getExtents(pyatspi.DESKTOP_COORDS); print(e.x, e.y, e.width, e.height)'),
            "the Landscape choice")
        x, y, width, height = (int(v) for v in extents.split())
        desktop.xdotool("mousemove", str(x + min(8, width // 2)), str(y + height // 2), "click", "1")
        e2e.wait_until(lambda: e2e.accessible(
            desktop, 'node.name == "Landscape" and node.getRole() == pyatspi.ROLE_RADIO_BUTTON',
            'print(found.getState().contains(pyatspi.STATE_CHECKED))') == "True\n", "Landscape checked")
        desktop.screenshot("print-page-setup")
        desktop.xdotool("key", "--clearmodifiers", "Return")
        e2e.wait_until(lambda: not desktop.xdotool("search", "--onlyvisible", "--name", "^Page Setup$"),
                       "the page setup closed")

        # The print dialog's file defaults to print.pdf in the home folder.
        pdf = os.path.join(desktop.env["HOME"], "print.pdf")
        desktop.xdotool("windowactivate", "--sync", app.window)
        app.key("ctrl+p")
        self.activate_dialog("^Print")
        desktop.screenshot("print-dialog")
        desktop.xdotool("key", "--clearmodifiers", "Return")
        width, height = e2e.wait_until(lambda: self.page_size(pdf), "the printed file")
        self.assertGreater(width, height, "printed portrait after Landscape was chosen")
        self.assertEqual(app.quit(), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
