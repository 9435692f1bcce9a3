#!/usr/bin/python3
"""The panel on the session bus, met as other programs meet it: a Gio (GDBus) client of the
real interface on a private session bus, the panel and h8ctl as processes, each test in folders
of its own. Covers one panel per session (activation of the first, the lock without a bus), the
interface (its introspection against packaging/dbus, properties and PropertiesChanged, edits,
errors), h8ctl through a running panel against h8ctl on its own, the interface lock, and the
demo kept apart from the real interface's preferences.

Usage: panel_bus_test.py PANEL H8CTL PRESET_SEAL SOURCE_DIR [unittest arguments]
"""

import fcntl
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

PANEL = H8CTL = PRESET_SEAL = SOURCE = ""
INTERFACE = "org.h8controller.H8Controller1"
EMULATED = "org.h8controller.H8Controller1.Emulated"
REAL_NAME = "org.h8controller.H8Controller"
DEMO_NAME = "org.h8controller.H8Controller.Demo"
ERROR = INTERFACE + ".Error."
WAIT = 30  # seconds: the most any step below may take


def path_of(name):
    return "/" + name.replace(".", "/")


class Session:
    """Folders of one test's own, a private session bus (or none), and the programs run in
    them."""

    def __init__(self, bus=True):
        self.root = tempfile.mkdtemp(prefix="h8-bus-test-")
        self.runtime = os.path.join(self.root, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.env = dict(os.environ)
        for v in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(v, None)
        self.env.update(
            LANG="C.UTF-8",
            QT_QPA_PLATFORM="offscreen",
            H8_CONFIG_DIR=os.path.join(self.root, "config"),
            H8_LOG_DIR=os.path.join(self.root, "logs"),
            XDG_STATE_HOME=os.path.join(self.root, "state"),
            XDG_CONFIG_HOME=os.path.join(self.root, "xdg-config"),
            XDG_RUNTIME_DIR=self.runtime,
        )
        self.processes = []
        self.daemon = None
        self.conn = None
        if bus:
            self.daemon = subprocess.Popen(
                ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                stdout=subprocess.PIPE, text=True)
            address = self.daemon.stdout.readline().strip()
            self.env["DBUS_SESSION_BUS_ADDRESS"] = address
            self.conn = Gio.DBusConnection.new_for_address_sync(
                address,
                Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        else:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.root, "none")

    def close(self):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
            p.communicate()
        if self.conn:
            self.conn.close_sync(None)
        if self.daemon:
            self.daemon.terminate()
            self.daemon.communicate()
        shutil.rmtree(self.root, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.root, name)

    # ---- programs ----

    def start_panel(self, script, args=("--simulate",), env=None):
        """Starts the panel with an automation script; returns a Panel to read and end it."""
        path = self.file("script-%d.txt" % len(self.processes))
        with open(path, "w") as f:
            f.write(script)
        p = subprocess.Popen([PANEL, *args, "--automation", path], env={**self.env, **(env or {})},
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.processes.append(p)
        return Panel(p)

    def h8ctl(self, *args, env=None):
        r = subprocess.run([H8CTL, *args], env={**self.env, **(env or {})}, capture_output=True,
                           text=True, timeout=WAIT)
        return r.returncode, r.stdout, r.stderr

    # ---- the bus ----

    def call(self, method, signature=None, args=(), name=DEMO_NAME, interface=INTERFACE):
        reply = self.conn.call_sync(
            name, path_of(name), interface, method,
            GLib.Variant("(" + signature + ")", tuple(args)) if signature else None, None,
            Gio.DBusCallFlags.NONE, WAIT * 1000, None)
        return reply.unpack() if reply else ()

    def error_of(self, method, signature=None, args=(), name=DEMO_NAME, interface=INTERFACE):
        """The D-Bus error name the call fails with (None when it succeeds)."""
        try:
            self.call(method, signature, args, name, interface)
        except GLib.Error as e:
            return Gio.DBusError.get_remote_error(e)
        return None

    def properties(self, name=DEMO_NAME):
        return self.call("GetAll", "s", [INTERFACE], name, "org.freedesktop.DBus.Properties")[0]

    def has_owner(self, name):
        return self.call("NameHasOwner", "s", [name], "org.freedesktop.DBus",
                         "org.freedesktop.DBus")[0]

    def watch_changes(self, name=DEMO_NAME):
        """A list that collects the `changed` maps of the PropertiesChanged signals."""
        seen = []

        def on_signal(_conn, _sender, _path, _iface, _signal, params):
            iface, changed, _invalidated = params.unpack()
            if iface == INTERFACE:
                seen.append(changed)

        self.conn.signal_subscribe(None, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                   path_of(name), None, Gio.DBusSignalFlags.NONE, on_signal)
        return seen

    @staticmethod
    def dispatch(until=lambda: True, timeout=WAIT):
        """Delivers the signals received so far, and waits (at most `timeout`) for `until`."""
        context = GLib.MainContext.default()
        deadline = time.monotonic() + timeout
        while True:
            while context.pending():
                context.iteration(False)
            if until() or time.monotonic() > deadline:
                return until()
            context.iteration(True) if context.pending() else time.sleep(0.01)


class Panel:
    """A panel process whose standard output is read line by line."""

    def __init__(self, process):
        self.process = process
        self.lines = []

    def wait_for(self, text, timeout=WAIT, anywhere=False):
        """Reads standard output until a line starting with `text` (holding it, `anywhere`);
        returns that line."""
        def matches(line):
            return text in line if anywhere else line.startswith(text)

        deadline = time.monotonic() + timeout
        for line in self.lines:
            if matches(line):
                self.lines.remove(line)
                return line
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                break
            line = line.rstrip("\n")
            if matches(line):
                return line
            self.lines.append(line)
        raise AssertionError("the panel did not print %r; it printed %r" % (text, self.lines))

    def finish(self, timeout=WAIT):
        out, err = self.process.communicate(timeout=timeout)
        return self.process.returncode, out, err


def demo_script(quit_file, body=""):
    return ("wait-bound 20000\nwait-menu 20000\nprint ready\n" + body +
            "wait-file %s 120000\nquit\n" % quit_file)


def write_preset(path, exported, name="H8"):
    """The preset `exported` (as the panel saved it) as a preset of model `name` with only
    pb1 -> hp1 and pb2 -> hp2."""
    subprocess.run([PRESET_SEAL, "open", exported, path + ".json"], check=True)
    with open(path + ".json") as f:
        preset = json.load(f)
    routes = [[False] * 16 for _ in range(16)]
    routes[0][4] = routes[1][5] = True
    preset.update(name=name, array=routes)
    with open(path + ".json", "w") as f:
        json.dump(preset, f)
    subprocess.run([PRESET_SEAL, "seal", path + ".json", path], check=True)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def routes_of(props):
    return sorted(tuple(r) for r in props["Routes"])


class InterfaceTest(unittest.TestCase):
    def setUp(self):
        self.s = Session()
        self.addCleanup(self.s.close)
        self.quit = self.s.file("quit")

    def start_demo(self, body=""):
        panel = self.s.start_panel(demo_script(self.quit, body))
        panel.wait_for("ready")
        return panel

    def test_introspection_matches_the_xml_in_the_repository(self):
        self.start_demo()
        live = Gio.DBusNodeInfo.new_for_xml(self.s.call(
            "Introspect", None, (), DEMO_NAME, "org.freedesktop.DBus.Introspectable")[0])

        def shape(interface):
            methods = {m.name: [(a.signature, d) for d, args in (("in", m.in_args),
                                                                   ("out", m.out_args))
                                for a in args] for m in interface.methods}
            props = {p.name: (p.signature, int(p.flags)) for p in interface.properties}
            return methods, props, sorted(s.name for s in interface.signals)

        for iface in (INTERFACE, EMULATED):
            with open(os.path.join(SOURCE, "packaging", "dbus", iface + ".xml")) as f:
                documented = Gio.DBusNodeInfo.new_for_xml(f.read()).lookup_interface(iface)
            self.assertIsNotNone(documented, iface)
            self.assertEqual(shape(live.lookup_interface(iface)), shape(documented), iface)
        self.assertIsNotNone(live.lookup_interface("org.freedesktop.Application"))

    def test_edits_take_the_window_path_are_announced_stored_and_undone(self):
        panel = self.start_demo("wait-file %s 60000\ncheck-routing\nprint-state\n"
                                % self.s.file("check"))
        changes = self.s.watch_changes()
        before = self.s.properties()
        self.assertTrue(before["Bound"])
        self.assertEqual(before["Name"], "H8")
        self.assertNotIn((7, 1, 100.0), routes_of(before))

        # A route switched on: announced once, with the new map.
        self.s.call("SetRoute", "uub", [7, 1, True])
        self.assertTrue(self.s.dispatch(lambda: any("Routes" in c for c in changes)))
        self.assertEqual(sum("Routes" in c for c in changes), 1)
        self.assertIn((7, 1, 100.0), [tuple(r) for r in changes[-1]["Routes"]])
        self.assertTrue(self.s.properties()["CanUndo"])

        # A level, then each its own undo step.
        self.s.call("SetLevel", "uud", [7, 1, 40.0])
        self.s.call("SetLevel", "uud", [7, 1, 30.0])
        self.assertIn((7, 1, 30.0), routes_of(self.s.properties()))
        self.s.call("Undo")
        self.assertIn((7, 1, 40.0), routes_of(self.s.properties()))
        self.s.call("Undo")
        self.s.call("Undo")
        self.assertEqual(routes_of(self.s.properties()), routes_of(before))
        self.s.call("Redo")
        self.assertIn((7, 1, 100.0), routes_of(self.s.properties()))

        # Mutes and the OTG volume show at once.
        del changes[:]
        self.s.call("SetMute", "sb", ["input1", True])
        self.s.call("SetMute", "sb", ["headphones", True])
        self.s.call("SetOtgVolume", "u", [30])
        props = self.s.properties()
        self.assertTrue(props["Input1Muted"] and props["HeadphonesMuted"])
        self.assertEqual(props["OtgVolume"], 30)
        self.assertTrue(self.s.dispatch(lambda: any("OtgVolume" in c for c in changes)))

        # The rate, the input levels (as a meter would read them), the physical controls.
        self.s.call("SetSampleRate", "u", [96000])
        self.assertEqual(self.s.properties()["SampleRate"], 96000)
        for _ in range(20):
            levels = self.s.call("GetInputLevels")[0]
            self.assertGreater(len(levels), 0)
            self.assertTrue(all(0.0 <= x <= 1.0 for x in levels))
        self.s.call("SetControl", "ss", ["48v1", "on"], interface=EMULATED)
        self.s.call("Refresh")
        self.assertTrue(self.s.properties()["Phantom1"])

        # A preset out and in again.
        exported = self.s.file("out.norv")
        self.s.call("ExportPreset", "s", [exported])
        self.assertTrue(os.path.getsize(exported) > 0)
        preset = self.s.file("in.norv")
        write_preset(preset, exported)
        self.s.call("ImportPreset", "s", [preset])
        self.assertEqual(routes_of(self.s.properties()), [(5, 1, 100.0), (6, 2, 100.0)])
        self.s.call("ShowWindow")

        # The window, the chips, the engine, the emulated H8's mixer and the stored map agree.
        open(self.s.file("check"), "w").close()
        self.assertEqual(panel.wait_for("routing:"), "routing: agrees")
        self.assertIn("alerts=0", panel.wait_for("state:"))
        # Stored as a click stores it (the panel gathers writes for a quarter of a second).
        stored = self.s.file("config/emulated-h8.defaults.json")

        def stored_map():
            try:
                with open(stored) as f:
                    return json.load(f).get("H8TTChannelMapArray")
            except (OSError, ValueError):
                return None

        self.assertTrue(self.s.dispatch(
            lambda: (stored_map() or [[]])[0][4:6] == [True, False], timeout=10))
        open(self.quit, "w").close()
        self.assertEqual(panel.finish()[0], 0)

    def test_bad_input_gets_a_named_error_and_changes_nothing(self):
        panel = self.start_demo("wait-file %s 60000\nprint-state\nunplug\nwait-unbound 10000\n"
                                "print unplugged\n" % self.s.file("unplug"))
        exported = self.s.file("exported.norv")
        self.s.call("ExportPreset", "s", [exported])
        before = self.s.properties()
        other = self.s.file("other.norv")
        write_preset(other, exported, name="H9")
        junk = self.s.file("junk.norv")
        with open(junk, "wb") as f:
            f.write(b"x" * 200)
        cases = [
            ("SetRoute", "uub", [13, 1, True], "InvalidArgument"),
            ("SetRoute", "uub", [1, 0, True], "InvalidArgument"),
            ("SetLevel", "uud", [1, 1, 100.5], "InvalidArgument"),
            ("SetLevel", "uud", [1, 13, 50.0], "InvalidArgument"),
            ("SetMute", "sb", ["input3", True], "InvalidArgument"),
            ("SetOtgVolume", "u", [101], "InvalidArgument"),
            ("SetSampleRate", "u", [32000], "UnsupportedRate"),
            ("ImportPreset", "s", [other], "PresetRejected"),
            ("ImportPreset", "s", [junk], "PresetRejected"),
            ("ImportPreset", "s", ["in.norv"], "InvalidArgument"),
            ("ImportPreset", "s", [self.s.file("missing.norv")], "InvalidArgument"),
            ("Redo", None, [], "NothingToUndo"),
        ]
        for method, signature, args, error in cases:
            with self.subTest(method=method, args=args):
                self.assertEqual(self.s.error_of(method, signature, args), ERROR + error)
        self.assertEqual(self.s.error_of("SetControl", "ss", ["gain3", "1"], interface=EMULATED),
                         ERROR + "InvalidArgument")
        self.assertEqual(self.s.properties(), before)
        # An import from the bus never opens an alert.
        open(self.s.file("unplug"), "w").close()
        self.assertIn("alerts=0", panel.wait_for("state:"))

        panel.wait_for("unplugged")
        self.assertFalse(self.s.properties()["Bound"])
        for method, signature, args in [("SetRoute", "uub", [1, 1, True]),
                                        ("SetMute", "sb", ["input1", True]),
                                        ("SetSampleRate", "u", [48000]),
                                        ("Refresh", None, []), ("GetInputLevels", None, [])]:
            with self.subTest(method=method):
                self.assertEqual(self.s.error_of(method, signature, args), ERROR + "NotConnected")
        open(self.quit, "w").close()
        self.assertEqual(panel.finish()[0], 0)


class OnePanelTest(unittest.TestCase):
    def test_a_second_start_brings_the_first_window_forward_and_touches_nothing(self):
        s = Session()
        self.addCleanup(s.close)
        quit_file = s.file("quit")
        # The pause lets the writes of the bind (the preferences a quarter of a second after,
        # the emulated H8's state half a second after) land before the files are compared.
        first = s.start_panel(demo_script(quit_file, "wait 1500\nhide\nprint hidden\n"
                                          "wait-shown 30000\nprint shown\n"))
        first.wait_for("hidden")
        log = s.file("logs/myapp-demo.log")
        kept = [s.file("logs/myapp-demo.log"), s.file("config/emulated-h8.json"),
                s.file("config/emulated-h8.defaults.json")]
        before = {p: (os.stat(p).st_ino, read_bytes(p)) for p in kept}

        second = subprocess.run([PANEL, "--simulate"], env=s.env, capture_output=True,
                                text=True, timeout=WAIT)
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertIn("already running", second.stdout)
        self.assertNotIn("myapp", second.stdout + second.stderr)
        first.wait_for("shown")
        self.assertEqual({p: (os.stat(p).st_ino, read_bytes(p)) for p in kept}, before)
        self.assertTrue(os.path.getsize(log) > 0)
        open(quit_file, "w").close()
        self.assertEqual(first.finish()[0], 0)

    def test_without_a_session_bus_a_lock_keeps_it_to_one_panel(self):
        s = Session(bus=False)
        self.addCleanup(s.close)
        quit_file = s.file("quit")
        first = s.start_panel(demo_script(quit_file))
        first.wait_for("ready")
        second = subprocess.run([PANEL, "--simulate"], env=s.env, capture_output=True,
                                text=True, timeout=WAIT)
        self.assertEqual(second.returncode, 0)
        self.assertIn("already running (process %d)" % first.process.pid, second.stderr)
        # h8ctl cannot reach that panel: it says who holds the interface instead of writing
        # beside it.
        code, _out, err = s.h8ctl("--simulate", "route", "pb3", "hp1", "on")
        self.assertEqual(code, 2)
        self.assertIn("in use by process %d" % first.process.pid, err)
        open(quit_file, "w").close()
        self.assertEqual(first.finish()[0], 0)

    def test_a_panel_waits_for_h8ctl_to_finish_with_the_interface(self):
        s = Session()
        self.addCleanup(s.close)
        state = s.file("config/emulated-h8.json")
        lock_path = os.path.join(
            s.runtime, "h8-emulated-%s.lock" % hashlib.sha256(state.encode()).hexdigest()[:16])
        with open(lock_path, "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # as h8ctl holds it during a command
            lock.write("%d\n" % os.getpid())
            lock.flush()
            quit_file = s.file("quit")
            panel = s.start_panel(demo_script(quit_file))
            # The panel says it waits, and is held before its window exists.
            panel.wait_for("Waiting for process %d" % os.getpid(), anywhere=True)
            self.assertFalse([line for line in panel.lines if line.startswith("ready")])
        panel.wait_for("ready")
        open(quit_file, "w").close()
        self.assertEqual(panel.process.wait(timeout=WAIT), 0)


class H8ctlThroughThePanelTest(unittest.TestCase):
    COMMANDS = [
        ["otg-volume", "30"], ["mute", "input1", "on"], ["mute", "hp", "on"],
        ["route", "pb3", "hp1", "on"], ["level", "pb3", "hp1", "40"],
        ["level", "pb4", "hp1", "40"], ["route", "mic1", "loop2", "on"],
        ["route", "pb1", "hp1", "off"], ["sim-set", "gain1", "100"], ["sim-set", "48v1", "on"],
        ["sim-set", "gain9", "1"], ["route", "pb9", "hp1", "on"], ["status"], ["--json", "status"],
        ["routes"], ["--json", "routes"], ["rate", "96000"], ["rate"], ["--json", "rate"],
        ["preset", "export", "PRESET"], ["preset", "import", "PRESET"],
        ["preset", "import", "FOREIGN"], ["mute", "input1", "off"], ["routes"],
    ]

    def run_commands(self, s, after_each=lambda: None):
        results = []
        for command in self.COMMANDS:
            if "FOREIGN" in command:
                write_preset(s.file("foreign.norv"), s.file("p.norv"), name="H9")
            args = [{"PRESET": s.file("p.norv"), "FOREIGN": s.file("foreign.norv")}.get(a, a)
                    for a in command]
            results.append((command, s.h8ctl("--simulate", *args)))
            after_each()
        return results

    def test_each_command_prints_what_the_direct_way_prints_and_the_panel_agrees(self):
        direct = Session(bus=False)
        self.addCleanup(direct.close)
        expected = self.run_commands(direct)

        s = Session()
        self.addCleanup(s.close)
        steps = len(self.COMMANDS)
        body = "".join("wait-file %s 60000\ncheck-routing\n" % s.file("step%d" % i)
                       for i in range(steps))
        # Then the panel's own next edit: mic 2 dragged onto loop 2.
        body += "wait-file %s 60000\ndrag 2 6\ncheck-routing\nprint dragged\n" % s.file("drag")
        panel = s.start_panel(demo_script(s.file("quit"), body))
        panel.wait_for("ready")
        count = iter(range(steps))

        def check():
            i = next(count)
            open(s.file("step%d" % i), "w").close()
            self.assertEqual(panel.wait_for("routing:"), "routing: agrees",
                             "after %s" % self.COMMANDS[i])

        through_panel = self.run_commands(s, check)
        for (command, want), (_, got) in zip(expected, through_panel):
            with self.subTest(command=command):
                self.assertEqual(got, want)
        self.assertEqual(routes_of(s.properties()), [(1, 6, 100.0), (6, 2, 100.0), (7, 1, 40.0)])

        open(s.file("drag"), "w").close()
        self.assertEqual(panel.wait_for("routing:"), "routing: agrees")
        panel.wait_for("dragged")
        # The drag kept what h8ctl did.
        code, out, _ = s.h8ctl("--simulate", "--json", "routes")
        self.assertEqual(code, 0)
        self.assertEqual(json.loads(out)["routes"], [
            {"source": "pb3", "destination": "hp1", "level": 40},
            {"source": "pb2", "destination": "hp2", "level": 100},
            {"source": "mic1", "destination": "loop2", "level": 100},
            {"source": "mic2", "destination": "loop2", "level": 100}])
        open(s.file("quit"), "w").close()
        self.assertEqual(panel.finish()[0], 0)


class DemoApartTest(unittest.TestCase):
    def test_a_demo_leaves_the_real_preferences_byte_for_byte_and_runs_beside_a_real_panel(self):
        s = Session()
        self.addCleanup(s.close)
        config = s.file("config")
        os.makedirs(config)
        real = os.path.join(config, "defaults.json")
        routes = [[False] * 16 for _ in range(16)]
        routes[6][0] = True
        with open(real, "w") as f:
            json.dump({"H8TTChannelMapArray": routes, "volume51": 33, "MicM1Key": 1}, f)
        with open(real, "rb") as f:
            before = f.read()

        # A demo panel and h8ctl on the emulated H8 edit routes, levels and mutes.
        demo_quit = s.file("demo-quit")
        demo = s.start_panel(demo_script(demo_quit, "drag 1 5\nprint dragged\n"))
        demo.wait_for("dragged")
        for args in (["route", "mic1", "loop1", "on"], ["level", "pb1", "hp1", "20"],
                     ["mute", "input1", "off"], ["otg-volume", "70"]):
            self.assertEqual(s.h8ctl("--simulate", *args)[0], 0, args)
        open(demo_quit, "w").close()
        self.assertEqual(demo.finish()[0], 0)
        with open(real, "rb") as f:
            self.assertEqual(f.read(), before)

        # A real panel (no H8 here) and a demo panel at once, each on its own name.
        quit_file = s.file("quit")
        real_panel = s.start_panel("print ready\nwait-file %s 120000\nquit\n" % quit_file,
                                   args=())
        real_panel.wait_for("ready")
        demo = s.start_panel(demo_script(quit_file))
        demo.wait_for("ready")
        self.assertTrue(s.has_owner(REAL_NAME))
        self.assertTrue(s.has_owner(DEMO_NAME))
        self.assertFalse(s.properties(REAL_NAME)["Bound"])
        self.assertTrue(s.properties(DEMO_NAME)["Bound"])
        open(quit_file, "w").close()
        self.assertEqual(demo.finish()[0], 0)
        self.assertEqual(real_panel.finish()[0], 0)
        self.assertTrue(os.path.exists(os.path.join(config, "emulated-h8.defaults.json")))


if __name__ == "__main__":
    PANEL, H8CTL, PRESET_SEAL, SOURCE = sys.argv[1:5]
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)
