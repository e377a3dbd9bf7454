#!/usr/bin/python3
"""The preferences window of the real program: a shortcut recorded with real
keys toggles the window, the current one typed while recording is recorded
instead of run, and a cloud folder chosen in the Sync pane receives
the notes.

    end_to_end_prefs.py QUILLARY SEED_TOOL SHOT_DIR
"""

import glob
import http.server
import os
import subprocess
import sys
import threading
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end as e2e  # noqa: E402

def centre_of(desktop, name, enabled=False):
    """The screen centre of the showing control with that accessible name."""
    states = "[pyatspi.STATE_SHOWING" + (", pyatspi.STATE_ENABLED]" if enabled else "]")
    out = e2e.accessible(desktop,
                         "node.name == sys.argv[1] and all(node.getState().contains(state) for state in %s)" % states,
                         "box = found.queryComponent().getExtents(pyatspi.DESKTOP_COORDS); "
                         "print(box.x + box.width // 2, box.y + box.height // 2)",
                         name)
    return out.split() if out is not None else None


def click_control(desktop, name):
    x, y = e2e.wait_until(lambda: centre_of(desktop, name), "the control " + name)
    desktop.xdotool("mousemove", x, y, "click", "1")


class Service:
    """A loopback stand-in for the web sync service: password and code logins,
    notes added, nothing else."""

    def __init__(self):
        self.accounts, self.codes, self.notes = {}, {}, {}
        service = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode()
                reply = service.answer(dict(urllib.parse.parse_qsl(body, keep_blank_values=True))).encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/xml; charset=utf-8")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def do_GET(self):
                page = b"<html><body><h1>Terms of Service</h1><p>Keep your notes kind.</p>" \
                       b"<p><a href='https://example.org/privacy'>Privacy</a></p></body></html>"
                found = self.path == "/sync/app/legal/terms.html"
                self.send_response(200 if found else 404)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(page) if found else 0))
                self.end_headers()
                if found:
                    self.wfile.write(page)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]

    def answer(self, form):
        out = '<?xml version="1.0" encoding="UTF-8"?>\n<quorvane>'
        client = form.get("client", "")
        if "code" in form:
            ok = form.get("email") in self.accounts and self.codes.get(client) == form["code"]
        else:
            ok = self.accounts.get(form.get("email")) == form.get("password")
        if not ok:
            return out + '<success value="false"/><message value="Wrong e-mail or password."/></quorvane>'
        out += '<success value="true"/>'
        if "code" not in form:
            client = client or "C%d" % (len(self.codes) + 1)
            self.codes[client] = "K%d" % (len(self.codes) + 1)
            out += '<client value="%s"/><code value="%s"/>' % (client, self.codes[client])
        if form.get("cmd") == "add":
            self.notes[form.get("uuid")] = form.get("text")
        if form.get("cmd") != "logout":
            out += '<updated value="%.6f"/>' % time.time()
        return out + "</quorvane>"

    def close(self):
        self.server.shutdown()


def start_keyring(desktop):
    """An unlocked keyring on the desktop's session bus, in a home of its own."""
    home = os.path.join(desktop.root, "keyring-home")
    os.makedirs(home)
    env = dict(desktop.env, HOME=home, XDG_DATA_HOME=os.path.join(home, ".local/share"))
    subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets", "--daemonize"],
                   input=b"quillary-test", env=env, cwd=desktop.root, capture_output=True, timeout=30)


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

    def test_current_shortcut_typed_while_recording_is_recorded_not_run(self):
        desktop = self.desktop
        app = e2e.Quillary(desktop)
        preferences = self.open_preferences(app)
        app.key("Tab")
        app.key("space")
        app.key("ctrl+alt+j")
        # A screen reader hears the combination in words.
        e2e.wait_until(lambda: centre_of(desktop, "Command + Option + J"), "the recorder named by its shortcut")
        # Typed again while recording, the current shortcut must reach the
        # recorder: had it run, the main window would have come to the front
        # and taken the keys that follow.
        app.key("space")
        app.key("ctrl+alt+j")
        app.key("space")
        app.key("ctrl+alt+k")
        e2e.wait_until(lambda: centre_of(desktop, "Command + Option + K"), "the second recording")
        self.assertEqual(desktop.xdotool("getactivewindow"), preferences)
        app.key("alt+F4")
        e2e.wait_until(lambda: not visible(desktop, "^General$"), "the preferences window to close")

        # The shortcut recorded during the pause is grabbed once it ends.
        desktop.xdotool("windowactivate", "--sync", app.window)
        app.key("ctrl+alt+k")
        e2e.wait_until(lambda: not visible(desktop, "^Quillary$"), "the new shortcut to hide the window")
        app.key("ctrl+alt+k")
        e2e.wait_until(lambda: visible(desktop, "^Quillary$"), "the new shortcut to bring the window back")
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

    def test_signed_in_note_reaches_the_service(self):
        desktop = self.desktop
        service = Service()
        self.addCleanup(service.close)
        service.accounts["anna@example.org"] = "p4ss word"
        desktop.env["QUILLARY_SERVICE_URL"] = service.origin
        start_keyring(desktop)
        app = e2e.Quillary(desktop)
        self.open_preferences(app)
        click_control(desktop, "Sync")
        # The registration form and its terms sheet, looked at and cancelled.
        click_control(desktop, "Register")
        e2e.wait_until(lambda: centre_of(desktop, "Name:"), "the registration form")
        desktop.screenshot("preferences-sync-register")
        click_control(desktop, "Register")
        e2e.wait_until(lambda: centre_of(desktop, "I Agree", enabled=True), "the loaded terms sheet")
        desktop.screenshot("preferences-sync-terms")
        click_control(desktop, "Cancel")
        e2e.wait_until(lambda: not visible(desktop, "^Terms$"), "the terms sheet to close")
        click_control(desktop, "Sign In")
        click_control(desktop, "Email:")
        app.type("anna@example.org")
        app.key("Tab")
        app.type("p4ss word")
        app.key("Return")
        e2e.wait_until(lambda: centre_of(desktop, "Syncing with Quorvane"), "the signed-in view")
        desktop.screenshot("preferences-sync-signed-in")
        app.key("alt+F4")
        desktop.xdotool("windowactivate", "--sync", app.window)
        app.key("ctrl+n")
        app.type("Sent to the service")
        app.key("ctrl+n")  # a new note saves the one typed
        e2e.wait_until(lambda: "Sent to the service" in service.notes.values(), "the note at the service")
        self.assertEqual(app.quit(), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
