#!/usr/bin/python3
"""The installed program, used as a user who installed it into ~/.local would:
`quillary` typed by name, the login item's launcher starting it, the desktop
entries checked by desktop-file-validate, and the `quillary:` URL handler and
the note MIME type registered as the README's Install section says; then
uninstalled by the install's own list of files.

    end_to_end_install.py CMAKE BUILD_DIR SHOT_DIR
"""

import ctypes
import os
import plistlib
import re
import shlex
import signal
import subprocess
import sys
import unittest

import end_to_end as e2e

CMAKE, BUILD = sys.argv[1:3] if len(sys.argv) >= 3 else (None, None)
BUS_NAME = "com.quorvane.Quillary"
PR_SET_CHILD_SUBREAPER = 36


def bus_owner_pid(desktop):
    """The process that holds Quillary's bus name, or None."""
    out = desktop.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                       "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + BUS_NAME]).stdout
    found = re.search(r"uint32 (\d+)", out)
    return int(found.group(1)) if found else None


def executable_of(pid):
    try:
        return os.path.realpath("/proc/%d/exe" % pid)
    except OSError:
        return None


def desktop_entry_value(path, key):
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith(key + "="):
                return line[len(key) + 1:].rstrip("\n")
    return None


def exec_argv(value):
    """An Exec value as the session runs it: the file's string escapes first,
    then the quoting of the command line, then the doubled percent signs."""
    unescaped = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)),
                       value)
    return [word.replace("%%", "%") for word in shlex.split(unescaped)]


class Installed(unittest.TestCase):
    def setUp(self):
        # The launcher starts the application detached; as the nearest
        # subreaper this test inherits it and can read its exit status.
        libc = ctypes.CDLL(None, use_errno=True)
        self.assertEqual(libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0), 0)
        self.desktop = e2e.Desktop()
        self.orphans = []
        desktop = self.desktop
        self.prefix = os.path.join(desktop.env["HOME"], ".local")
        installed = subprocess.run([CMAKE, "--install", BUILD, "--prefix", self.prefix], capture_output=True,
                                   text=True, timeout=e2e.PATIENCE * 4)
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        bin_dir = os.path.join(self.prefix, "bin")
        desktop.env["PATH"] = bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")
        self.share = os.path.join(self.prefix, "share")
        self.assertEqual(desktop.env["XDG_DATA_HOME"], self.share)
        e2e.QUILLARY = "quillary"

    def tearDown(self):
        for pid in self.orphans:
            try:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
            except OSError:
                pass
        self.desktop.close()

    def program(self):
        """The installed program that bin/quillary resolves to."""
        link = os.path.join(self.prefix, "bin", "quillary")
        target = os.path.realpath(link)
        self.assertTrue(os.path.isfile(target) and os.access(target, os.X_OK),
                        "bin/quillary resolves to %s, which is not an installed program" % target)
        return target

    def validate(self, entry):
        checked = self.desktop.run(["desktop-file-validate", entry])
        self.assertEqual((checked.returncode, checked.stdout + checked.stderr), (0, ""), entry)

    def wait_for_instance(self, program):
        """Waits until a process of `program` holds Quillary's bus name and
        shows its main window; returns its pid."""
        desktop = self.desktop

        def owner():
            pid = bus_owner_pid(desktop)
            return pid if pid and executable_of(pid) == program else None

        pid = e2e.wait_until(owner, "the installed program to claim " + BUS_NAME)
        e2e.wait_until(lambda: desktop.xdotool("search", "--onlyvisible", "--name", "^Quillary$"),
                       "the installed program's main window")
        return pid

    def test_installed_program_launcher_and_desktop_entries_work(self):
        desktop = self.desktop
        program = self.program()
        # The bundle layout the launcher counts its four levels in.
        bundle = os.path.dirname(os.path.dirname(os.path.dirname(program)))
        self.assertTrue(bundle.endswith("/quillary/Quillary.app"), bundle)
        launcher = os.path.join(bundle, "Contents/Library/LoginItems/Quillary-Launcher.app/Contents/MacOS/"
                                "Quillary-Launcher")
        self.assertTrue(os.access(launcher, os.X_OK), launcher)
        preview = os.path.join(self.prefix, "bin", "quillary-preview")
        self.assertTrue(os.access(preview, os.X_OK), preview)
        self.assertTrue(os.path.isfile(os.path.join(self.share, "icons/hicolor/scalable/apps/"
                                                                "com.quorvane.Quillary.svg")))
        applications = os.path.join(self.share, "applications")
        entries = sorted(os.listdir(applications))
        self.assertEqual(entries, ["com.quorvane.Quillary-Preview.desktop", "com.quorvane.Quillary.desktop"])
        for entry in entries:
            self.validate(os.path.join(applications, entry))
        main_entry = os.path.join(applications, "com.quorvane.Quillary.desktop")
        self.assertEqual(desktop_entry_value(main_entry, "Exec"), "quillary %U")
        self.assertEqual(desktop_entry_value(main_entry, "MimeType"), "x-scheme-handler/quillary;application/x-quillary;")

        # The installed preview tool loads the installed plug-in and nothing
        # from the build tree.
        note = os.path.join(desktop.root, "Groceries.quillary")
        with open(note, "wb") as f:
            plistlib.dump({"text": "Milk & eggs"}, f, fmt=plistlib.FMT_BINARY)
        page = os.path.join(desktop.root, "Groceries.html")
        shown = subprocess.run([preview, note, page], env=dict(desktop.env, LD_DEBUG="files"), capture_output=True,
                               text=True, timeout=e2e.PATIENCE)
        self.assertEqual(shown.returncode, 0, shown.stderr[-2000:])
        with open(page, encoding="utf-8") as f:
            self.assertIn("Milk &amp; eggs", f.read())
        plugin = os.path.join(bundle, "Contents/Library/QuickLook/Quillary_Quick_Look.qlgenerator/Contents/MacOS/"
                              "Quillary_Quick_Look.so")
        self.assertIn("file=" + plugin, shown.stderr)
        self.assertNotIn(os.path.realpath(BUILD), shown.stderr)

        # Registered as the README says, the type and the handler are known.
        for command in (["update-desktop-database", applications],
                        ["update-mime-database", os.path.join(self.share, "mime")],
                        ["xdg-mime", "default", "com.quorvane.Quillary.desktop", "x-scheme-handler/quillary"]):
            done = desktop.run(command)
            self.assertEqual(done.returncode, 0, " ".join(command) + ": " + done.stderr)
        self.assertEqual(desktop.run(["xdg-mime", "query", "default", "x-scheme-handler/quillary"]).stdout.strip(),
                         "com.quorvane.Quillary.desktop")
        typed = desktop.run(["gio", "info", "--attributes=standard::content-type", note]).stdout
        self.assertIn("application/x-quillary", typed)

        # Typed by name, with start-at-login on: opening the preferences
        # registers the login item, which must name the installed launcher.
        settings = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Quillary", "com.quorvane.Quillary.plist")
        os.makedirs(os.path.dirname(settings), exist_ok=True)
        with open(settings, "wb") as f:
            plistlib.dump({"QVRStartAtLogin": True}, f, fmt=plistlib.FMT_BINARY)
        app = e2e.Quillary(desktop)
        self.assertEqual(self.wait_for_instance(program), app.process.pid)

        # The URL handler, through the desktop entry, reaches the running instance.
        opened = desktop.run(["xdg-open", "quillary://add?text=Added%20through%20the%20handler"],
                             timeout=e2e.PATIENCE)
        self.assertEqual(opened.returncode, 0, opened.stderr)

        app.key("ctrl+comma")
        autostart = os.path.join(desktop.env["XDG_CONFIG_HOME"], "autostart", "com.quorvane.Quillary-Launcher.desktop")
        e2e.wait_until(lambda: os.path.exists(autostart), "the login item's autostart entry")
        desktop.screenshot("installed-preferences")
        self.validate(autostart)
        login_argv = exec_argv(desktop_entry_value(autostart, "Exec"))
        self.assertEqual([os.path.realpath(word) for word in login_argv], [launcher])
        app.process.send_signal(signal.SIGTERM)
        self.assertEqual(app.process.wait(e2e.PATIENCE), 0)
        e2e.wait_until(lambda: bus_owner_pid(desktop) is None, "the bus name to be released")
        self.assertIn("Added through the handler", [text for _, text, _ in e2e.stored_notes(desktop)])

        # At login the session runs the launcher, which starts the installed
        # program and ends.
        # Its output goes to a file: the program it starts keeps the
        # launcher's output open, so a pipe would not end with the launcher.
        launcher_log = os.path.join(desktop.root, "launcher.log")
        with open(launcher_log, "w") as log:
            started = subprocess.run(login_argv, env=desktop.env, stdout=log, stderr=subprocess.STDOUT,
                                     timeout=e2e.PATIENCE)
        with open(launcher_log) as log:
            said = log.read()
        self.assertEqual(started.returncode, 0, said)
        self.assertNotIn("Couldn't relaunch app", said)
        pid = self.wait_for_instance(program)
        self.orphans.append(pid)
        desktop.screenshot("installed-login-item")
        os.kill(pid, signal.SIGTERM)
        _, status = os.waitpid(pid, 0)
        self.orphans.remove(pid)
        self.assertTrue(os.WIFEXITED(status), status)
        self.assertEqual(os.WEXITSTATUS(status), 0)

        # Removing what the install listed leaves none of its files behind.
        with open(os.path.join(BUILD, "install_manifest.txt"), encoding="utf-8") as f:
            for path in f.read().splitlines():
                os.remove(path)
        left = []
        for folder in ("bin", "lib", "share/applications", "share/icons", "share/mime/packages"):
            for where, _, names in os.walk(os.path.join(self.prefix, folder)):
                left += [os.path.join(where, name) for name in names if name != "mimeinfo.cache"]
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
