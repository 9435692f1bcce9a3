#!/usr/bin/python3
"""The panel across a suspend and a switch of user, as the system's login manager tells them:
a private system bus with python-dbusmock's logind on it, the panel on the emulated H8 as a
process. The emulated H8 loses its crosspoints (as on a loss of power); after PrepareForSleep
true then false the panel writes back exactly the lost ones, and no others. Its session made
inactive, the panel lets go of the interface and says why; active again, it binds it again.

Usage: logind_test.py PANEL
Exits 77 (skipped) only when python3-dbusmock is not installed.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

try:
    import dbus
    import dbusmock  # noqa: F401
except ImportError:
    print("python3-dbusmock is not installed: skipped")
    sys.exit(77)

PANEL = ""
WAIT = 60  # seconds: the most any step below may take
LOGIND = "org.freedesktop.login1"
MANAGER_PATH = "/org/freedesktop/login1"
MOCK = "org.freedesktop.DBus.Mock"
SESSION_ID = "c1"
SESSION_PATH = MANAGER_PATH + "/session/" + SESSION_ID

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

SCRIPT = """wait-bound 30000
sim-set mixer-reset on
print mixer-lost
wait-resumed 1 60000
print resumed
check-routing
wait-unbound 60000
print-state
print-reason
wait-arrivals 1 60000
print-state
check-routing
quit
"""


def wait_until(done, what, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = done()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


class Output:
    """The lines a process writes (standard output and error together), collected as they
    come."""

    def __init__(self, stream):
        self.lines = []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for line in stream:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def snapshot(self):
        with self.lock:
            return list(self.lines)

    def wait_for(self, pattern, start=0, what=None):
        """The index and match of the first line from `start` on that matches `pattern`."""
        regex = re.compile(pattern)

        def find():
            lines = self.snapshot()
            for i in range(start, len(lines)):
                m = regex.search(lines[i])
                if m:
                    return (i, m)
            return None

        return wait_until(find, what or repr(pattern))


class LogindTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="h8-logind-test-")
        self.processes = []
        socket = os.path.join(self.root, "system_bus_socket")
        config = os.path.join(self.root, "system-bus.conf")
        with open(config, "w", encoding="utf-8") as f:
            f.write(BUS_CONFIG.format(socket=socket))
        daemon = self.spawn(["dbus-daemon", "--config-file=" + config, "--nofork",
                             "--print-address=1"], stdout=subprocess.PIPE)
        self.address = daemon.stdout.readline().strip()
        self.assertTrue(self.address, "the private system bus did not start")
        self.env = dict(os.environ)
        for v in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(v, None)
        runtime = os.path.join(self.root, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env.update(
            LANG="C.UTF-8",
            QT_QPA_PLATFORM="offscreen",
            H8_CONFIG_DIR=os.path.join(self.root, "config"),
            H8_LOG_DIR=os.path.join(self.root, "logs"),
            XDG_STATE_HOME=os.path.join(self.root, "state"),
            XDG_CONFIG_HOME=os.path.join(self.root, "xdg-config"),
            XDG_RUNTIME_DIR=runtime,
            XDG_SESSION_ID=SESSION_ID,
            DBUS_SYSTEM_BUS_ADDRESS=self.address,
            DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.root, "no-session-bus"),
        )
        self.spawn(["/usr/bin/python3", "-m", "dbusmock", "--template", "logind"],
                   env=self.env, stdout=subprocess.DEVNULL)
        self.bus = dbus.bus.BusConnection(self.address)
        wait_until(lambda: self.bus.name_has_owner(LOGIND), "logind on the private bus")
        self.logind = self.bus.get_object(LOGIND, MANAGER_PATH)
        # The panel's session; the mock has no GetSessionByPID, so the panel finds it by
        # XDG_SESSION_ID.
        self.logind.AddSession(SESSION_ID, "seat0", dbus.UInt32(os.getuid()), "user", True,
                               dbus_interface=MOCK)
        self.session = self.bus.get_object(LOGIND, SESSION_PATH)

    def tearDown(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
            for stream in (p.stdout, p.stderr):
                if stream:
                    stream.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def spawn(self, argv, **kwargs):
        p = subprocess.Popen(argv, text=True, env=kwargs.pop("env", None), **kwargs)
        self.processes.append(p)
        return p

    def sleep_signal(self, start):
        self.logind.EmitSignal("org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                               [dbus.Boolean(start)], dbus_interface=MOCK)

    def set_active(self, active):
        self.session.UpdateProperties("org.freedesktop.login1.Session",
                                      {"Active": dbus.Boolean(active)}, dbus_interface=MOCK)

    def test_resume_restores_lost_crosspoints_and_a_user_switch_releases_the_interface(self):
        script = os.path.join(self.root, "script")
        with open(script, "w", encoding="utf-8") as f:
            f.write(SCRIPT)
        state = os.path.join(self.root, "emulated-h8.json")
        panel = self.spawn([PANEL, "--simulate=" + state, "--trace", "--automation", script],
                           env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = Output(panel.stdout)
        try:
            self.run_steps(panel, out)
        except AssertionError:
            print("\n".join(out.snapshot()[-200:]))
            raise

    def run_steps(self, panel, out):
        out.wait_for("^Following the login session " + re.escape(SESSION_PATH) + "$")
        lost, _ = out.wait_for("^mixer-lost$")

        # Asleep and awake again: the panel reads the crosspoints back and writes the lost ones.
        self.sleep_signal(True)
        out.wait_for("the hardware poll rests", lost)
        self.sleep_signal(False)
        done, m = out.wait_for(
            r"^After the wake-up (\d+) of 144 crosspoints differed from what was sent: "
            r"re-sent \d+$", lost)
        writes = {}
        for line in out.snapshot()[lost:done]:
            w = re.match(r"^usb> 40 03 ([0-9a-f]{2}) ([0-9a-f]{2}) 1e 00 01 00 \| ([0-9a-f]{2})$",
                         line)
            if w:
                writes[int(w.group(2) + w.group(1), 16)] = int(w.group(3), 16)
        # The two routes on (playback 1 and 2 to the headphones, at full level), which the reset
        # silenced; the 142 crosspoints that were off kept their 0xFF and got no write.
        self.assertEqual(writes, {0: 0x81, 13: 0x81})
        self.assertEqual(int(m.group(1)), 2)
        out.wait_for("^resumed$", done)
        out.wait_for("^routing: agrees$", done)

        # Another user's session becomes the active one: the interface is let go, and why said.
        self.set_active(False)
        state, _ = out.wait_for(r"^state: bound=\d", done)
        self.assertIn("bound=0", out.snapshot()[state])
        self.assertIn("disconnected=1", out.snapshot()[state])
        reason_at, reason = out.wait_for("^reason: (.*)$", state)
        self.assertIn("session", reason.group(1).lower())
        released, _ = out.wait_for("The login session is no longer active", done)

        # This session active again: bound as on an arrival, the routes in place.
        self.set_active(True)
        back, _ = out.wait_for("The login session is active again", reason_at)
        # Inactive, the panel left the interface alone: no transfer at all.
        self.assertEqual([l for l in out.snapshot()[released:back] if l.startswith("usb")], [])
        again, _ = out.wait_for(r"^state: bound=1", back)
        out.wait_for("^routing: agrees$", again)
        self.assertEqual(panel.wait(WAIT), 0)


if __name__ == "__main__":
    PANEL = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:])
