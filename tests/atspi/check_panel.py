#!/usr/bin/python3
"""Reads and drives the running program's window over AT-SPI, as a screen
reader does, and checks what it finds there.

Started by run_atspi.sh, which provides the display, the buses, the simulated
sensor and the program. Every check prints one line; the exit code is 1 when
any failed, 2 when the window could not be reached at all.
"""

import argparse
import os
import sys
import time

import pyatspi

# The program gives up on a reply after 1.3 s and on the line check after 2 s.
# A wait for anything that involves the line allows several times that, so a
# slow machine (or the AddressSanitizer build) does not fail a check that would
# pass. What the window does by itself (a state, a dialog, a description)
# takes a fraction of a second; its waits are shorter, so that a run against a
# program that fails many of them still ends in reasonable time.
WAIT_S = 8.0
UI_WAIT_S = 3.0
START_S = 30.0  # for the program to start and appear on the bus
POLL_S = 0.05

WINDOW_NAME = "Orvan-A-Scope"
PARAMETER_FILE_DIALOG = "M-DOR-KX-T460 Parameter File"
RECORD_DIALOG = "Record measurements"
SAVE_CHART_DIALOG = "Save chart"

PUSH, CHECK, RADIO = "push button", "check box", "radio button"
SPIN, COMBO, TEXT = "spin button", "combo box", "text"
LABEL, CHART = "label", "chart"

# Roles an operator works with or reads a value from: each of these needs a
# name and a description wherever it appears in the window.
INTERACTIVE_ROLES = {PUSH, CHECK, RADIO, SPIN, COMBO, TEXT, "toggle button", "slider", "entry"}

# The controls that must be there, by accessible name and role. A lamp is a
# label whose value and description are its state.
CONTROLS = [
    ("Get", PUSH), ("Send", PUSH), ("Teach", PUSH),
    ("Run", PUSH), ("Stop", PUSH), ("Save chart", PUSH),
    ("Record", CHECK), ("History", CHECK),
    ("RAM", RADIO), ("EEPROM", RADIO), ("File", RADIO),
    ("Power", SPIN), ("Power mode", SPIN), ("Reference", SPIN), ("Tolerance", SPIN),
    ("Hysteresis", SPIN), ("Polarity", SPIN), ("Average", SPIN), ("Linear", SPIN),
    ("Value", SPIN),
    ("Status", TEXT),
    ("Reference output", LABEL), ("Tolerance window", LABEL),
    ("Chart", CHART),
]
TARGETS = ("RAM", "EEPROM", "File")
LAMPS = ("Reference output", "Tolerance window")
# Roles that only group or caption other controls: a lamp or the chart is
# never one of these, even when it shares its name with one.
CAPTION_ROLES = {"label", "panel"}


class ProgramGone(Exception):
    pass


class Report:
    """Collects the outcome of every check, grouped."""

    def __init__(self):
        self.failed = []

    def group(self, title):
        print(f"\n== {title}", flush=True)

    def check(self, ok, what, detail=""):
        line = f"{'PASS' if ok else 'FAIL'}  {what}"
        if detail:
            line += f": {detail}"
        print(line, flush=True)
        if not ok:
            self.failed.append(what)
        return ok

    def note(self, text):
        print(f"      {text}", flush=True)


class Panel:
    """The program's window on the accessibility bus."""

    def __init__(self, pid):
        self.pid = pid
        self.app = None
        self.window = None
        self._controls = {}

    def alive(self):
        try:
            with open(f"/proc/{self.pid}/stat") as f:
                return f.read().rsplit(")", 1)[1].split()[0] != "Z"
        except OSError:
            return False

    def wait(self, condition, timeout=WAIT_S):
        """Polls `condition` until it returns something true; returns that, or
        None at the time-out. A failing bus call counts as not yet."""
        end = time.monotonic() + timeout
        while True:
            if not self.alive():
                raise ProgramGone()
            try:
                result = condition()
            except Exception:  # an object going away under a dialog, a busy bus
                result = None
            if result:
                return result
            if time.monotonic() >= end:
                return None
            time.sleep(POLL_S)

    def connect(self):
        def window_on_bus():
            for app in pyatspi.Registry.getDesktop(0):
                if app is None or app.get_process_id() != self.pid:
                    continue
                for child in app:
                    if child is not None and child.name == WINDOW_NAME:
                        return app, child
            return None

        found = self.wait(window_on_bus, START_S)
        if found:
            self.app, self.window = found
        return found is not None

    def nodes(self, root=None):
        """Every node below `root` (default: the window), depth first; the
        drop-down list of a combo box is left out."""
        stack = [root or self.window]
        while stack:
            node = stack.pop()
            yield node
            if node.getRoleName() == COMBO:
                continue
            stack.extend(c for c in reversed(list(node)) if c is not None)

    def control(self, name, role=None):
        key = (name, role)
        if key not in self._controls:
            self._controls[key] = next(
                (n for n in self.nodes()
                 if n.name == name and (n.getRoleName() == role if role else n.getRoleName() not in CAPTION_ROLES)),
                None)
        return self._controls[key]

    def target(self, name):
        """A target button, whatever role it shows."""
        return self.control(name, RADIO) or self.control(name, CHECK)

    def dialog(self, title):
        return next((c for c in self.app if c is not None and c.getRoleName() == "dialog" and c.name == title), None)

    def status(self):
        return self.control("Status", TEXT).queryText().getText(0, -1)

    @staticmethod
    def value(node):
        return node.queryValue().currentValue

    @staticmethod
    def set_value(node, value):
        node.queryValue().currentValue = value

    @staticmethod
    def has(node, state):
        return node.getState().contains(state)

    def press(self, node):
        """Does the control's click action, as a screen reader's "activate"
        does; returns the action's name. Qt offers "Press" on push buttons and
        only "Toggle" on buttons that can be checked. A pressed push button
        shows itself down for a moment and clicks when it comes up; a second
        press meanwhile is part of the first, so this waits until it is up."""
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        for wanted in ("Press", "Click", "Toggle"):
            if wanted in names:
                action.doAction(names.index(wanted))
                self.wait(lambda: not self.has(node, pyatspi.STATE_PRESSED), UI_WAIT_S)
                return wanted
        raise AssertionError(f"{node.name!r} offers no click action, only {names}")


def check_names(panel, report):
    report.group("a. every control has an accessible name and a description")
    for name, role in CONTROLS:
        node = panel.target(name) if role == RADIO else panel.control(name, role)
        if not report.check(node is not None, f"{name} ({role or 'any role'}) is on the window"):
            continue
        check_described(report, node, name)
    for name in TARGETS:
        node = panel.target(name)
        if node is not None:
            report.check(node.getRoleName() == RADIO, f"{name} shows the role radio button",
                         f"shows {node.getRoleName()!r}, so a screen reader does not announce one of a group")

    combo = next((n for n in panel.nodes() if n.getRoleName() == COMBO), None)
    if report.check(combo is not None, "the port selector (combo box) is on the window"):
        check_described(report, combo, "port selector")
        labels = [r.getTarget(i).name for r in combo.getRelationSet()
                  if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]
        report.check("Port" in labels, "port selector is labelled by \"Port\"", f"labelled by {labels}")

    # Anything else an operator can work with must be described too.
    listed = {name for name, _ in CONTROLS}
    for node in panel.nodes():
        if node.getRoleName() in INTERACTIVE_ROLES - {COMBO} and node.name not in listed:
            check_described(report, node, f"further {node.getRoleName()} {node.name!r}")


def check_described(report, node, what):
    role = node.getRoleName()
    report.check(bool(node.name.strip()), f"{what} ({role}) has a name", repr(node.name))
    report.check(bool(node.description.strip()), f"{what} ({role}) has a description", repr(node.description))


def check_commands(panel, report):
    report.group("b. the click action of each button does what a mouse click does")
    get, send, teach = (panel.control(n, PUSH) for n in ("Get", "Send", "Teach"))
    if None in (get, send, teach):
        report.check(False, "Get, Send and Teach are on the window")
        return

    shown = panel.wait(lambda: panel.status() == "Echo Check - Line Ok!", START_S)
    report.check(bool(shown), "the line check at start passed", f"status {panel.status()!r}")

    # Teach: the sensor returns its block, with the new reference.
    action = panel.press(teach)
    ok = panel.wait(lambda: panel.status() == "Line Ok!")
    report.check(bool(ok), f"Teach ({action}) ends with \"Line Ok!\"", f"status {panel.status()!r}")

    # Get: the sensor's block replaces an edit that was not sent.
    field = panel.control("Power mode", SPIN)
    held = panel.value(field)
    edited = held + 5
    panel.set_value(field, edited)
    panel.wait(lambda: panel.value(field) == edited, UI_WAIT_S)
    action = panel.press(get)
    restored = panel.wait(lambda: panel.value(field) == held and panel.status() == "Line Ok!")
    report.check(bool(restored), f"Get ({action}) shows the sensor's block and \"Line Ok!\"",
                 f"Power mode {panel.value(field):g} (sensor holds {held:g}, edited {edited:g}), "
                 f"status {panel.status()!r}")

    action = panel.press(send)
    ok = panel.wait(lambda: panel.status() == "Transmit Ok!")
    report.check(bool(ok), f"Send ({action}) ends with \"Transmit Ok!\"", f"status {panel.status()!r}")

    check_targets(panel, report, send)
    check_dialog(panel, report, panel.control("Save chart", PUSH), SAVE_CHART_DIALOG)
    check_record(panel, report)
    check_history(panel, report)


def checked_targets(panel):
    return [n for n in TARGETS if panel.has(panel.target(n), pyatspi.STATE_CHECKED)]


def select_target(panel, report, name):
    action = panel.press(panel.target(name))
    moved = panel.wait(lambda: checked_targets(panel) == [name], UI_WAIT_S)
    return report.check(bool(moved), f"{name} ({action}) becomes the one target checked",
                        f"checked: {checked_targets(panel)}")


def check_targets(panel, report, send):
    if not all(panel.target(n) for n in TARGETS):
        return
    select_target(panel, report, "EEPROM")
    select_target(panel, report, "RAM")
    select_target(panel, report, "File")
    check_dialog(panel, report, send, PARAMETER_FILE_DIALOG, "Send with target File")
    select_target(panel, report, "RAM")


def check_dialog(panel, report, button, title, what=None):
    """Presses `button`, expects the file dialog `title` and cancels it
    through its Cancel button. Returns whether the dialog came."""
    what = what or button.name
    action = panel.press(button)
    dialog = panel.wait(lambda: panel.dialog(title), UI_WAIT_S)
    if not report.check(dialog is not None, f"{what} ({action}) opens the dialog \"{title}\"",
                        f"status {panel.status()!r}"):
        return False
    cancel = next((n for n in panel.nodes(dialog) if n.getRoleName() == PUSH and n.name == "Cancel"), None)
    if not report.check(cancel is not None, f"dialog \"{title}\" has a Cancel button"):
        return True
    panel.press(cancel)
    gone = panel.wait(lambda: panel.dialog(title) is None, UI_WAIT_S)
    report.check(bool(gone), f"Cancel closes the dialog \"{title}\"")
    return True


def check_record(panel, report):
    record = panel.control("Record", CHECK)
    if check_dialog(panel, report, record, RECORD_DIALOG):
        off = panel.wait(lambda: not panel.has(record, pyatspi.STATE_CHECKED), UI_WAIT_S)
        report.check(bool(off), "Record stays off after the dialog was cancelled")
    elif panel.has(record, pyatspi.STATE_CHECKED):
        report.note("Record shows checked although nothing records; switched back")
        panel.press(record)


def check_history(panel, report):
    history = panel.control("History", CHECK)
    for want in (True, False):
        action = panel.press(history)
        ok = panel.wait(lambda: panel.has(history, pyatspi.STATE_CHECKED) == want, UI_WAIT_S)
        report.check(bool(ok), f"History ({action}) switches {'on' if want else 'off'}")


def check_scope(panel, report):
    report.group("b/c. Run and Stop; the lamps tell their state as text")
    run, stop = panel.control("Run", PUSH), panel.control("Stop", PUSH)
    value = panel.control("Value", SPIN)
    lamps = {name: panel.control(name, LABEL) for name in LAMPS}
    if None in (run, stop, value) or None in lamps.values():
        report.check(False, "Run, Stop, Value and both lamps are on the window")
        return

    for name, lamp in lamps.items():
        report.check(lamp.description in ("on", "off"), f"lamp {name} says \"on\" or \"off\" before Run",
                     repr(lamp.description))

    action = panel.press(run)
    running = panel.wait(lambda: not panel.has(run, pyatspi.STATE_SENSITIVE), UI_WAIT_S)
    report.check(bool(running), f"Run ({action}) makes Run insensitive while the scope runs")

    # kxsim's default waveform sweeps through the window: within a few of its
    # periods every lamp has been on and off, and the value has moved.
    values, said = set(), {name: set() for name in lamps}

    def seen_enough():
        values.add(panel.value(value))
        for name, lamp in lamps.items():
            said[name].add(lamp.description)
        return len(values) >= 3 and all({"on", "off"} <= s for s in said.values())

    panel.wait(seen_enough, 2 * WAIT_S)
    report.check(len(values) >= 3, "Value changes while the scope runs",
                 f"{len(values)} different values: {sorted(values)[:8]}")
    for name in lamps:
        report.check(said[name] <= {"on", "off"}, f"lamp {name} says only \"on\" or \"off\"", f"{sorted(said[name])}")
        report.check({"on", "off"} <= said[name], f"lamp {name} switches while the scope runs", f"{sorted(said[name])}")

    action = panel.press(stop)
    idle = panel.wait(lambda: panel.has(run, pyatspi.STATE_SENSITIVE))
    report.check(bool(idle), f"Stop ({action}) makes Run sensitive again", f"status {panel.status()!r}")


def check_unsent(panel, report):
    report.group("d. an edit not yet sent is marked on the field and on Send")
    field, send = panel.control("Reference", SPIN), panel.control("Send", PUSH)
    if None in (field, send):
        report.check(False, "Reference and Send are on the window")
        return

    def marked(node):
        return "not sent" in node.description

    report.check(not marked(field) and not marked(send), "nothing is marked \"not sent\" before the edit",
                 f"Reference {field.description!r}, Send {send.description!r}")

    held = panel.value(field)
    edited = held + 37 if held + 37 <= field.queryValue().maximumValue else held - 37
    panel.set_value(field, edited)
    report.check(bool(panel.wait(lambda: panel.value(field) == edited, UI_WAIT_S)),
                 f"Reference takes {edited:g} through the Value interface", f"shows {panel.value(field):g}")

    field_marked = panel.wait(lambda: field.description.startswith("not sent"), UI_WAIT_S)
    report.check(bool(field_marked), "Reference's description starts with \"not sent\" after the edit",
                 repr(field.description))
    send_marked = panel.wait(lambda: marked(send), UI_WAIT_S)
    report.check(bool(send_marked), "Send's description says \"not sent\" after the edit", repr(send.description))

    if not (field_marked or send_marked):
        report.note("not checked whether Send clears the marks: they never appeared")
        return
    action = panel.press(send)
    cleared = panel.wait(lambda: not marked(field) and not marked(send))
    report.check(bool(cleared), f"after Send ({action}) neither says \"not sent\"",
                 f"Reference {field.description!r}, Send {send.description!r}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--pid", type=int, required=True, help="process id of the running program")
    parser.add_argument("--project", required=True, help="the program's project directory")
    args = parser.parse_args()

    panel, report = Panel(args.pid), Report()
    try:
        if not panel.connect():
            print(f"FAIL  the window {WINDOW_NAME!r} of process {args.pid} did not appear on the "
                  f"accessibility bus within {START_S:g} s", flush=True)
            return 2
        print(f"window {panel.window.name!r} (role {panel.window.getRoleName()}) of "
              f"{panel.app.name!r}, process {args.pid}; project directory {args.project}")
        check_names(panel, report)
        check_commands(panel, report)
        check_scope(panel, report)
        check_unsent(panel, report)
    except ProgramGone:
        report.check(False, "the program is still running", "it ended during the checks")

    print(f"\n{len(report.failed)} check(s) failed" + (":" if report.failed else ""))
    for what in report.failed:
        print(f"  - {what}")
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main())
