#!/usr/bin/python3
"""Settings writes in the real program: moving through the note list must not
rewrite the settings file on every move; the last selection still reaches it.

    end_to_end_settings.py QUILLARY SEED_TOOL SHOT_DIR
"""

import ctypes
import ctypes.util
import os
import struct
import sys
import time
import unittest

import end_to_end as e2e
from end_to_end_tray import read_settings, settings_path

IN_CREATE = 0x100
IN_MOVED_TO = 0x80


class FileReplacements:
    """Counts the times a file is replaced by a rename, as the settings are
    written, through inotify on its folder. The temporary files' creations
    are watched too: inotify merges an event into an identical one still
    unread, and they keep the renames apart."""

    def __init__(self, path):
        libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.fd = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or libc.inotify_add_watch(self.fd, os.path.dirname(path).encode(),
                                                   IN_CREATE | IN_MOVED_TO) < 0:
            raise OSError(ctypes.get_errno(), "inotify")
        self.name = os.path.basename(path).encode()

    def count(self):
        found = 0
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return found
            at = 0
            while at < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, at)
                name = data[at + 16:at + 16 + length].rstrip(b"\0")
                found += bool(mask & IN_MOVED_TO) and name == self.name
                at += 16 + length

    def close(self):
        os.close(self.fd)


def uuid(n):
    return "AAAAAAAA-0000-0000-0000-%012d" % n


class SettingsWrites(unittest.TestCase):
    def setUp(self):
        self.desktop = e2e.Desktop()

    def tearDown(self):
        self.desktop.close()

    # Each move used to lock, write and fsync the settings file on the UI
    # thread. Writes are held back for up to a second, so however long the
    # moves take, there is at most one a second and one at quit.
    def test_moving_through_the_list_writes_the_settings_at_most_once_a_second(self):
        desktop = self.desktop
        seed = []
        for n in range(30):
            seed += [uuid(n), "Note %02d" % n, str(1700000000 - n * 100)]
        self.assertEqual(desktop.run([e2e.SEED] + seed).returncode, 0)
        os.makedirs(os.path.dirname(settings_path(desktop)), exist_ok=True)
        app = e2e.Quillary(desktop)
        e2e.wait_until(lambda: (e2e.list_titles(desktop) or [None])[0] == "Note 00", "the list")
        # The second row: a click that changes the selection, so that its
        # write shows when the click has been taken in.
        second_row = e2e.accessible(desktop, 'node.name == "Notes" and node.getRole() in '
                                    '(pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE)',
                                    'e = found[1].queryComponent().getExtents(pyatspi.DESKTOP_COORDS); '
                                    'print(e.x + e.width // 2, e.y + e.height // 2)').split()
        desktop.xdotool("mousemove", *second_row, "click", "1")

        def selected():
            try:
                return read_settings(desktop).get("selected")
            except (OSError, ValueError):
                return None

        e2e.wait_until(lambda: selected() == uuid(1), "the clicked row's selection in the settings")
        writes = FileReplacements(settings_path(desktop))
        try:
            started = time.monotonic()
            for _ in range(20):
                desktop.xdotool("key", "Down")
            e2e.wait_until(lambda: selected() == uuid(21), "the last selection in the settings")
            self.assertEqual(app.quit(), 0)
            elapsed = time.monotonic() - started
            self.assertEqual(selected(), uuid(21))
            self.assertLessEqual(writes.count(), int(elapsed) + 2)
        finally:
            writes.close()


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
