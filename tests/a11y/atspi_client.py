#!/usr/bin/python3
"""A screen reader's view of the panel: walks the accessibility tree of a running
`h8-controller --simulate=STATE_FILE` through AT-SPI (pyatspi, as Orca uses it), checks that the
panel's controls carry names, roles, states and values, toggles a crosspoint and removes a route
chip through the Action interface, and checks that the emulated H8 received each write (its
state file, which the panel saves shortly after every change).

Usage: atspi_client.py STATE_FILE
Exit status 0 when every check passes; each failed check prints a line starting with FAIL."""

import json
import sys
import time

import pyatspi

STATE_FILE = sys.argv[1]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL", what, flush=True)


def wait_for(condition, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if condition():
                return True
        except (OSError, ValueError, KeyError):
            pass  # a state file being replaced, or an object going away
        time.sleep(0.1)
    return False


def find_app():
    for accessible in pyatspi.Registry.getDesktop(0):
        if accessible is not None and accessible.name == "H8 Controller":
            return accessible
    return None


def everything(root):
    """Every accessible under root, depth first."""
    out, stack = [], [root]
    while stack:
        accessible = stack.pop()
        out.append(accessible)
        stack.extend(accessible.getChildAtIndex(i) for i in reversed(range(accessible.childCount)))
    return out


def by_name(accessibles, name):
    return [a for a in accessibles if a.name == name]


def one(accessibles, name, role):
    found = [a for a in by_name(accessibles, name) if a.getRoleName() == role]
    check(len(found) == 1, f"one {role} named {name!r} (found {len(found)})")
    return found[0] if found else None


def mixer():
    with open(STATE_FILE, encoding="utf-8") as f:
        return json.load(f)["mixer"]


def do_action(accessible, name):
    # Action names are compared without case: Qt names its standard ones "Toggle", "Press".
    action = accessible.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    check(name in names, f"{accessible.name!r} offers the action {name!r} (has {names})")
    if name in names:
        action.doAction(names.index(name))


def checked(accessible):
    return accessible.getState().contains(pyatspi.STATE_CHECKED)


def main():
    app = None
    if not wait_for(lambda: find_app() is not None, 30):
        print("FAIL the panel never showed up on the accessibility bus", flush=True)
        return 1
    app = find_app()
    # The panel is bound once its status bar names the interface.
    check(wait_for(lambda: any(a.name == "H8" for a in everything(app))), "the panel is bound")
    check(wait_for(lambda: len(mixer()) == 144), "the emulated H8 has saved its state")
    tree = everything(app)

    # Knobs: dials with a numeric value.
    gain = one(tree, "Mic In 1 gain", "dial")
    if gain:
        value = gain.queryValue()
        check(0 <= value.currentValue <= value.maximumValue, "the gain knob has a value in range")
    one(tree, "HP level", "dial")
    # Mute buttons: checkable.
    one(tree, "Mic In 1 mute", "check box")
    # Meters: progress bars whose value is in dB and whose description reads it.
    meter = one(tree, "OTG In 3 level", "progress bar")
    if meter:
        db = meter.queryValue().currentValue
        check(-90 <= db <= 0, f"the meter's value is in dB ({db})")
        check(meter.description == "silent" or meter.description.endswith(" dB"),
              f"the meter reads as a level ({meter.description!r})")
    # Name fields, the status bar.
    one(tree, "Mic/Line 1-2 name", "text")
    status = one(tree, "Status", "status bar")
    if status:
        check(any(a.name.startswith("S/N: ") for a in everything(status)),
              "the status bar shows the serial number")

    # A crosspoint: a check box named after its route; toggled through the Action interface it
    # sends the route to the emulated H8 (mic 1 to mixer input 1: byte 8 + 12 * 4).
    crosspoint = one(tree, "Mic/Line 1 to Mixer In 1", "check box")
    if crosspoint:
        before = mixer()[8 + 12 * 4]
        check(not checked(crosspoint) and crosspoint.description == "off",
              "the crosspoint starts off")
        do_action(crosspoint, "toggle")
        check(wait_for(lambda: checked(crosspoint)), "the toggled crosspoint reads as checked")
        check(crosspoint.description == "on, 100 %", f"and as on, 100 % ({crosspoint.description!r})")
        check(wait_for(lambda: mixer()[8 + 12 * 4] == 0x80),
              "the emulated H8 shows the route switched on at 100 %")
        do_action(crosspoint, "toggle")
        check(wait_for(lambda: not checked(crosspoint)), "toggled again it reads as unchecked")
        check(wait_for(lambda: mixer()[8 + 12 * 4] == before),
              "the emulated H8 shows the route switched off again")

    # A route chip of the stacked view (the emulated H8 starts with playback 1 to HP 1):
    # its remove action removes the route (byte 0 + 12 * 0).
    chips = [a for a in by_name(tree, "Playback 1 to HP 1") if a.description == "route"]
    check(len(chips) == 1, f"one route chip for playback 1 to HP 1 (found {len(chips)})")
    if chips:
        before = mixer()[0]
        do_action(chips[0], "remove")
        check(wait_for(lambda: mixer()[0] != before), "the emulated H8 shows the route removed")
        check(wait_for(lambda: not any(a.description == "route" and a.name == "Playback 1 to HP 1"
                                       for a in everything(app))),
              "the chip is gone from the tree")

    print(f"{len(failures)} failed checks" if failures else "all checks passed", flush=True)
    return 1 if failures else 0


sys.exit(main())
