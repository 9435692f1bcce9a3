#!/usr/bin/python3
"""The panel in the background, met as a desktop meets it: started with --background on a
private session bus, it binds the emulated H8 without a window and answers on the bus; a tray
host (a StatusNotifierItem watcher from python-dbusmock) that comes after it gets the panel's
icon, whose tooltip names the H8 and whose activation shows the window (under Xvfb, where Qt
speaks to trays); a problem while hidden reaches the notification service (dbusmock's
notification daemon) once.

Usage: background_test.py PANEL H8CTL PRESET_SEAL SOURCE_DIR [unittest arguments]
"""

import os
import signal
import subprocess
import sys
import time
import unittest

import panel_bus_test as bus
from gi.repository import Gio, GLib  # noqa: E402

MOCK = "org.freedesktop.DBus.Mock"


class Desktop(bus.Session):
    """A session with an X server (Qt offers tray icons only to a real display) and mocks."""

    def __init__(self):
        super().__init__()
        self.xvfb = None

    def start_x(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten",
             "tcp", "-noreset"], pass_fds=(write,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            display = f.readline().strip()
        self.env.update(DISPLAY=":" + display, QT_QPA_PLATFORM="xcb")

    def start_mock(self, *args):
        p = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", *args], env=self.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.processes.append(p)
        return p

    def wait_owner(self, name):
        deadline = time.monotonic() + bus.WAIT
        while not self.has_owner(name):
            if time.monotonic() > deadline:
                raise AssertionError(name + " never came on the bus")
            time.sleep(0.02)

    def wait_calls(self, name, path, method, count=1):
        deadline = time.monotonic() + bus.WAIT
        while True:
            calls = self.conn.call_sync(name, path, MOCK, "GetMethodCalls",
                                        GLib.Variant("(s)", (method,)), None,
                                        Gio.DBusCallFlags.NONE, bus.WAIT * 1000,
                                        None).unpack()[0]
            if len(calls) >= count or time.monotonic() > deadline:
                return calls
            time.sleep(0.05)

    def close(self):
        super().close()
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()


class BackgroundTest(unittest.TestCase):
    def setUp(self):
        self.s = Desktop()
        self.addCleanup(self.s.close)
        self.quit = self.s.file("quit")

    def test_in_the_background_it_binds_answers_and_a_later_tray_gets_its_icon(self):
        self.s.start_x()
        panel = self.s.start_panel(
            "wait-bound 20000\nprint bound\nwait-shown 60000\nprint shown\n"
            "wait-file %s 120000\nquit\n" % self.quit, args=("--simulate", "--background"))
        panel.wait_for("bound")
        props = self.s.properties()
        self.assertTrue(props["Bound"])
        self.assertEqual(props["Name"], "H8")

        # The desktop's tray comes after the panel, as at login.
        template = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "sni_watcher_template.py")
        self.s.start_mock("--template", template)
        self.s.wait_owner("org.kde.StatusNotifierWatcher")
        calls = self.s.wait_calls("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                  "RegisterStatusNotifierItem")
        self.assertEqual(len(calls), 1, calls)
        item = calls[0][1][0]
        # Qt registers its connection's name (the item is at /StatusNotifierItem) or a name of
        # its own for it.
        path = "/StatusNotifierItem"
        service = item if not item.startswith("/") else None
        tip = self.s.conn.call_sync(
            service, path, "org.freedesktop.DBus.Properties", "Get",
            GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "ToolTip")), None,
            Gio.DBusCallFlags.NONE, bus.WAIT * 1000, None).unpack()[0]
        self.assertIn("H8", tip[2] + tip[3], tip)

        # A click on the icon shows the window.
        self.s.conn.call_sync(service, path, "org.kde.StatusNotifierItem", "Activate",
                              GLib.Variant("(ii)", (0, 0)), None, Gio.DBusCallFlags.NONE,
                              bus.WAIT * 1000, None)
        panel.wait_for("shown")
        open(self.quit, "w").close()
        status, _out, err = panel.finish()
        self.assertEqual(status, 0, err)

    def test_no_usb_access_while_hidden_is_told_once_by_a_notification(self):
        self.s.start_mock("--template", "notification_daemon")
        self.s.wait_owner("org.freedesktop.Notifications")
        panel = self.s.start_panel("wait-file %s 120000\nquit\n" % self.quit,
                                   args=("--simulate", "--background"),
                                   env={"H8_SIMULATE_FAULT": "denied"})
        calls = self.s.wait_calls("org.freedesktop.Notifications",
                                  "/org/freedesktop/Notifications", "Notify")
        self.assertEqual(len(calls), 1, calls)
        _app, _replaces, _icon, summary, body = calls[0][1][:5]
        self.assertIn("USB", summary)
        self.assertIn("udev", body)
        self.assertFalse(self.s.properties()["Bound"])
        open(self.quit, "w").close()
        status, _out, err = panel.finish()
        self.assertEqual(status, 0, err)


if __name__ == "__main__":
    bus.PANEL, bus.H8CTL, bus.PRESET_SEAL, bus.SOURCE = sys.argv[1:5]
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)
