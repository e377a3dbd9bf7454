#!/usr/bin/python3
"""Drives the real quillary program as a user would.

Runs its own X server (Xvfb), window manager (openbox) and session bus, so
that nothing of the user's desktop is touched. Keys and clicks go through
xdotool, the list is read through the accessibility tree (AT-SPI), and the
store is read with the sqlite3 tool after a clean quit.

    end_to_end.py QUILLARY SEED_TOOL SHOT_DIR
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

QUILLARY, SEED, SHOTS = sys.argv[1:4] if len(sys.argv) >= 4 else (None, None, None)
STEP = 0.05
PATIENCE = 30.0  # seconds before a wait counts as failed on a loaded machine


def wait_until(predicate, what):
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(STEP)
    raise AssertionError("timed out waiting for " + what)


class Desktop:
    """A private X display with a window manager and a session bus."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="quillary-e2e-")
        self.processes = []
        # The server picks a free display itself and says which once it is
        # ready: scripts run side by side would race for a number chosen here.
        ready, told = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(told), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                   pass_fds=(told,))
        os.close(told)
        answer = b""
        while not answer.endswith(b"\n"):
            chunk = os.read(ready, 16)
            if not chunk:
                break
            answer += chunk
        os.close(ready)
        if not answer.strip().isdigit():
            raise AssertionError("the X server did not start")
        display = int(answer)
        self.display = ":%d" % display
        home = os.path.join(self.root, "home")
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": self.display,
            "HOME": home,
            "XDG_DATA_HOME": os.path.join(home, ".local/share"),
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": os.path.join(self.root, "runtime"),
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "NO_AT_BRIDGE": "0",
            "LANG": "C.UTF-8",
        })
        for key in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"):
            os.makedirs(self.env[key], mode=0o700, exist_ok=True)
        # The standard session configuration lets the accessibility bus start
        # on demand.
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                             env=self.env, capture_output=True, text=True, check=True).stdout.split()
        self.env["DBUS_SESSION_BUS_ADDRESS"] = out[0]
        self.bus_pid = int(out[1])
        # Windows mapped before the window manager runs may stay unmanaged.
        # On a loaded machine openbox has been seen to exit at start; it is
        # started again then, and its log kept for the failure message.
        wm_log = os.path.join(self.root, "openbox.log")
        wm = None

        def window_manager_ready():
            nonlocal wm
            if wm is None or wm.poll() is not None:
                with open(wm_log, "a") as log:
                    wm = subprocess.Popen(["openbox"], env=self.env, stdout=log, stderr=subprocess.STDOUT)
                self.processes.append(wm)
            return "window id" in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]).stdout

        try:
            wait_until(window_manager_ready, "the window manager")
        except AssertionError:
            with open(wm_log) as log:
                raise AssertionError("timed out waiting for the window manager:\n" + log.read()[-2000:])

    def spawn(self, argv, **kwargs):
        process = subprocess.Popen(argv, env=getattr(self, "env", None), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    def run(self, argv, **kwargs):
        return subprocess.run(argv, env=self.env, capture_output=True, text=True, **kwargs)

    def xdotool(self, *args):
        return self.run(["xdotool"] + list(args)).stdout.strip()

    def screenshot(self, name):
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            self.run(["import", "-window", "root", os.path.join(SHOTS, name + ".png")])

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
        for process in self.processes:
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        try:
            os.kill(self.bus_pid, signal.SIGTERM)
        except OSError:
            pass
        shutil.rmtree(self.root, ignore_errors=True)


class Quillary:
    def __init__(self, desktop, *args):
        self.desktop = desktop
        with open(os.path.join(desktop.root, "quillary.log"), "a") as log:
            self.process = subprocess.Popen([QUILLARY] + list(args), env=desktop.env, stdout=log,
                                            stderr=subprocess.STDOUT)
        self.window = wait_until(lambda: desktop.xdotool("search", "--onlyvisible", "--name", "^Quillary$"),
                                 "the main window").splitlines()[0]
        desktop.xdotool("windowactivate", "--sync", self.window)

    def key(self, *keys):
        # Through the focused window, not aimed at ours: xdotool stops at the
        # first error, and a window that closes on the press would leave the
        # keys held down, repeating into whatever window comes next.
        self.desktop.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.desktop.xdotool("type", "--delay", "15", text)

    def click(self, x, y):
        self.desktop.xdotool("mousemove", "--window", self.window, str(x), str(y), "click", "1")

    def quit(self):
        self.desktop.xdotool("windowactivate", "--sync", self.window)
        self.key("ctrl+q")
        return self.process.wait(PATIENCE)


def accessible(desktop, match, action, *args):
    """Runs `action` on the first accessible object of Quillary for which
    `match` holds, in a separate python3 that reads the accessibility tree
    (AT-SPI). Both are Python source over `node` (match) and `found`
    (action), with `pyatspi` and `sys` imported and `args` in sys.argv[1:].
    Returns what the action printed, or None when nothing matched."""
    script = r"""
import pyatspi, sys
def walk(node, depth=0):
    if depth > 16 or node is None:
        return None
    try:
        if MATCH:
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
            ACTION
            sys.exit(0)
sys.exit(1)
""".replace("MATCH", match).replace("ACTION", action)
    result = desktop.run(["/usr/bin/python3", "-c", script] + list(args), timeout=PATIENCE)
    return result.stdout if result.returncode == 0 else None


def list_titles(desktop):
    """The note list's rows, top to bottom, from the accessibility tree."""
    out = accessible(desktop,
                     'node.name == "Notes" and node.getRole() in '
                     '(pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE)',
                     'print("\\n".join(item.name for item in found))')
    return out.splitlines() if out is not None else None


def stored_notes(desktop):
    path = os.path.join(desktop.env["XDG_DATA_HOME"], "Quillary", "Quillary.sqlite")
    out = desktop.run(["sqlite3", "-separator", "\t", path,
                       "SELECT uuid, replace(text, char(10), '\\n'), archived FROM Note ORDER BY date DESC"])
    return [tuple(line.split("\t")) for line in out.stdout.splitlines()]


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop()

    def tearDown(self):
        self.desktop.close()

    def test_lists_seeded_notes_newest_first_and_keeps_them_across_starts(self):
        desktop = self.desktop
        seeded = desktop.run([SEED,
                              "AAAAAAAA-0000-0000-0000-000000000001", "Oldest note", "1600000000",
                              "AAAAAAAA-0000-0000-0000-000000000002", "Newest note\nwith a body", "1700000000",
                              "AAAAAAAA-0000-0000-0000-000000000003", "Middle note", "1650000000"])
        self.assertEqual(seeded.returncode, 0, seeded.stderr)
        app = Quillary(desktop)
        rows = wait_until(lambda: list_titles(desktop), "the note list in the accessibility tree")
        self.assertEqual(rows, ["Newest note", "Middle note", "Oldest note"])
        desktop.screenshot("list-two-pane")

        # A second start hands over to the first and ends at once.
        second = subprocess.run([QUILLARY], env=desktop.env, capture_output=True, timeout=PATIENCE)
        self.assertEqual(second.returncode, 0)

        self.assertEqual(app.quit(), 0)
        before = stored_notes(desktop)
        app = Quillary(desktop)
        self.assertEqual(wait_until(lambda: list_titles(desktop), "the list again"), rows)
        self.assertEqual(app.quit(), 0)
        self.assertEqual(stored_notes(desktop), before)

    def test_typed_note_is_stored_as_typed(self):
        desktop = self.desktop
        app = Quillary(desktop)
        app.key("ctrl+n")
        app.type("Groceries")
        app.key("Return")
        app.type("milk and bread")
        desktop.screenshot("typing")
        self.assertEqual(app.quit(), 0)
        notes = stored_notes(desktop)
        self.assertEqual(len(notes), 1)
        self.assertEqual(notes[0][1], "Groceries\\nmilk and bread")
        self.assertEqual(notes[0][2], "0")

    def test_search_finds_a_note_typed_without_its_accent(self):
        desktop = self.desktop
        desktop.run([SEED, "AAAAAAAA-0000-0000-0000-000000000001", "Caf\u00e9 rendezvous", "1700000000",
                     "AAAAAAAA-0000-0000-0000-000000000002", "Shopping list", "1700000100"])
        app = Quillary(desktop)
        wait_until(lambda: list_titles(desktop) == ["Shopping list", "Caf\u00e9 rendezvous"], "the seeded list")
        app.key("ctrl+f")
        app.type("cafe")
        self.assertEqual(wait_until(lambda: (list_titles(desktop) or [None]) == ["Caf\u00e9 rendezvous"] and
                                    list_titles(desktop), "the search result"), ["Caf\u00e9 rendezvous"])
        desktop.screenshot("search")
        app.key("Escape")
        app.key("Escape")
        wait_until(lambda: list_titles(desktop) == ["Shopping list", "Caf\u00e9 rendezvous"], "the whole list again")
        self.assertEqual(app.quit(), 0)

    def test_unusable_store_shows_the_fatal_alert_exits_1_and_keeps_the_file(self):
        desktop = self.desktop
        folder = os.path.join(desktop.env["XDG_DATA_HOME"], "Quillary")
        os.makedirs(folder)
        path = os.path.join(folder, "Quillary.sqlite")
        garbage = b"this is not a database\n" * 64
        with open(path, "wb") as f:
            f.write(garbage)
        with open(os.path.join(desktop.root, "fatal.log"), "w") as log:
            process = subprocess.Popen([QUILLARY], env=desktop.env, stdout=log, stderr=subprocess.STDOUT)
        alert = wait_until(lambda: desktop.xdotool("search", "--onlyvisible", "--name", "^Quillary$"),
                           "the fatal alert").splitlines()[0]
        desktop.screenshot("fatal-alert")
        desktop.xdotool("windowactivate", "--sync", alert)
        desktop.xdotool("key", "--clearmodifiers", "Return")
        self.assertEqual(process.wait(PATIENCE), 1)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), garbage)

    def test_terminate_signal_saves_the_open_typing(self):
        desktop = self.desktop
        app = Quillary(desktop)
        app.key("ctrl+n")
        app.type("Saved on the way out")
        app.process.send_signal(signal.SIGTERM)
        self.assertEqual(app.process.wait(PATIENCE), 0)
        self.assertEqual([n[1] for n in stored_notes(desktop)], ["Saved on the way out"])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
