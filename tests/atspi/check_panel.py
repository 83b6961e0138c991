#!/usr/bin/python3
"""Reads and drives the running program's window over AT-SPI, as a screen
reader does: every control has a name and a description, the action of every
button does what a click does, the lamps tell their state as text, and an edit
not yet sent is marked. Started by run_atspi.sh; prints one line a check and
ends with 1 when any failed.
"""

import argparse
import os
import signal
import sys
import time

import pyatspi

# Waits that involve the line allow several times the program's own time-outs
# (1.3 s for a reply, 2 s for the line check), so a slow or sanitised build
# passes; what the window does by itself takes a fraction of a second.
WAIT_S, UI_WAIT_S, START_S = 8.0, 3.0, 30.0

PUSH, CHECK, RADIO, SPIN = "push button", "check box", "radio button", "spin button"
COMBO, TEXT, LABEL, CHART, DIALOG = "combo box", "text", "label", "chart", "dialog"
CONTROLS = [
    ("Get", PUSH), ("Send", PUSH), ("Teach", PUSH), ("Run", PUSH), ("Stop", PUSH), ("Save chart", PUSH),
    ("Record", CHECK), ("History", CHECK), ("RAM", RADIO), ("EEPROM", RADIO), ("File", RADIO),
    ("Power", SPIN), ("Power mode", SPIN), ("Reference", SPIN), ("Tolerance", SPIN),
    ("Hysteresis", SPIN), ("Polarity", SPIN), ("Average", SPIN), ("Linear", SPIN), ("Value", SPIN),
    ("Status", TEXT), ("Reference output", LABEL), ("Tolerance window", LABEL), ("Chart", CHART),
    ("Dismiss", PUSH), ("Status history", PUSH), ("Line view", PUSH),
]
LAMPS = ("Reference output", "Tolerance window")

failed = []


class ProgramGone(Exception):
    pass


def check(ok, what, detail=""):
    print(f"{'PASS' if ok else 'FAIL'}  {what}" + (f": {detail}" if detail else ""), flush=True)
    if not ok:
        failed.append(what)
    return ok


class Window:
    def __init__(self, pid):
        self.pid, self.app, self.root, self.found = pid, None, None, {}

    def alive(self):
        try:
            with open(f"/proc/{self.pid}/stat") as f:
                return f.read().rsplit(")", 1)[1].split()[0] != "Z"
        except OSError:
            return False

    def wait(self, condition, timeout=UI_WAIT_S):
        """Polls `condition` until it is true (a failing bus call counts as
        not yet); returns its last result."""
        end = time.monotonic() + timeout
        while True:
            if not self.alive():
                raise ProgramGone()
            try:
                result = condition()
            except Exception:
                result = None
            if result or time.monotonic() >= end:
                return result
            time.sleep(0.05)

    def connect(self):
        def on_bus():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == self.pid:
                    return next(((app, w) for w in app if w is not None and w.name == "Orvan-A-Scope"), None)
        found = self.wait(on_bus, START_S)
        if found:
            self.app, self.root = found
        return bool(found)

    def nodes(self, root=None):
        stack = [root or self.root]
        while stack:
            node = stack.pop()
            yield node
            if node.getRoleName() != COMBO:  # not the drop-down list
                stack.extend(c for c in node if c is not None)

    def control(self, name, role):
        if (name, role) not in self.found:
            self.found[name, role] = next(
                (n for n in self.nodes() if n.name == name and n.getRoleName() == role), None)
        return self.found[name, role]

    def status(self):
        return self.control("Status", TEXT).queryText().getText(0, -1)

    def dialog(self, title):
        return next((c for c in self.app if c is not None and c.getRoleName() == DIALOG and c.name == title), None)

    def window(self, title):
        """A window of the program's own beside the panel, by its title."""
        return next((c for c in self.app if c is not None and c.name == title and c.getRoleName() != DIALOG), None)

    def press(self, node):
        """The control's click action as a screen reader's "activate" does it.
        A pressed push button shows itself down for a moment and clicks when
        it comes up; a second press meanwhile would be part of the first."""
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        wanted = next((n for n in ("Press", "Click", "Toggle") if n in names), None)
        if not check(wanted is not None, f"{node.name} offers a click action", str(names)):
            return
        action.doAction(names.index(wanted))
        self.wait(lambda: not node.getState().contains(pyatspi.STATE_PRESSED))


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def check_names(w):
    for name, role in CONTROLS:
        node = w.control(name, role)
        if check(node is not None, f"{name} is on the window as a {role}"):
            check(node.description.strip() != "", f"{name} has a description", repr(node.description))
    combo = next((n for n in w.nodes() if n.getRoleName() == COMBO), None)
    if check(combo is not None, "the port ring is on the window"):
        labels = [r.getTarget(i).name for r in combo.getRelationSet()
                  if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]
        check("Port" in labels and combo.description != "", "the port ring is labelled and described", str(labels))


def check_dialog(w, button, title):
    """Presses `button`, expects the dialog `title` and cancels it."""
    w.press(button)
    dialog = w.wait(lambda: w.dialog(title))
    if check(dialog is not None, f"{button.name} opens \"{title}\"", f"status {w.status()!r}"):
        cancel = next((n for n in w.nodes(dialog) if n.getRoleName() == PUSH and n.name == "Cancel"), None)
        w.press(cancel)
        check(w.wait(lambda: w.dialog(title) is None), f"Cancel closes \"{title}\"")


def check_buttons(w):
    get, send, teach = (w.control(n, PUSH) for n in ("Get", "Send", "Teach"))
    check(w.wait(lambda: w.status() == "Echo Check - Line Ok!", START_S), "the line check at start passed")
    w.press(teach)
    check(w.wait(lambda: w.status() == "Line Ok!", WAIT_S), "Teach ends with \"Line Ok!\"", repr(w.status()))

    field = w.control("Power mode", SPIN)
    held = field.queryValue().currentValue
    field.queryValue().currentValue = held + 5
    w.press(get)
    check(w.wait(lambda: field.queryValue().currentValue == held and w.status() == "Line Ok!", WAIT_S),
          "Get puts the sensor's value over an edit", f"status {w.status()!r}")
    w.press(send)
    check(w.wait(lambda: w.status() == "Transmit Ok!", WAIT_S), "Send ends with \"Transmit Ok!\"", repr(w.status()))

    targets = {n: w.control(n, RADIO) for n in ("RAM", "EEPROM", "File")}
    for name in ("EEPROM", "RAM", "File"):
        w.press(targets[name])
        lit = lambda: [n for n, node in targets.items() if checked(node)]  # noqa: E731
        check(w.wait(lambda: lit() == [name]), f"{name} becomes the one target lit", str(lit()))
    check_dialog(w, send, "M-DOR-KX-T460 Parameter File")
    w.press(targets["RAM"])

    check_dialog(w, w.control("Save chart", PUSH), "Save chart")
    record = w.control("Record", CHECK)
    check_dialog(w, record, "Record measurements")
    check(w.wait(lambda: not checked(record)), "Record is off after the cancelled dialog")
    history = w.control("History", CHECK)
    for on in (True, False):
        w.press(history)
        check(w.wait(lambda: checked(history) == on), f"History switches {'on' if on else 'off'}")


def check_windows(w):
    """The status history and the line view open from the panel, and every
    control in them has a name."""
    for button, title, content in (("Status history", "Status history", "Status messages"),
                                   ("Line view", "Line view", "Frames")):
        w.press(w.control(button, PUSH))
        window = w.wait(lambda: w.window(title))
        if not check(window is not None, f"{button} opens the window \"{title}\""):
            continue
        names = {n.name for n in w.nodes(window)}
        check({content, "Copy", "Save"} <= names, f"\"{title}\" shows {content}, Copy and Save", str(sorted(names)))
        items = w.wait(lambda: [n for n in w.nodes(window) if n.getRoleName() in ("table cell", "list item")
                                and n.name], WAIT_S)
        check(bool(items), f"\"{title}\" lists entries")
        if title == "Status history":
            check(any(n.name == "Echo Check - Line Ok!" for n in items), "the history holds the line check",
                  str([n.name for n in items][:6]))


def check_scope(w):
    run, stop, value = w.control("Run", PUSH), w.control("Stop", PUSH), w.control("Value", SPIN)
    lamps = {name: w.control(name, LABEL) for name in LAMPS}
    w.press(run)
    check(w.wait(lambda: not run.getState().contains(pyatspi.STATE_SENSITIVE)), "Run is dimmed while the scope runs")
    # The simulated sensor's waveform sweeps through the tolerance window:
    # within a few of its periods each lamp has been on and off.
    values, said = set(), {name: set() for name in lamps}

    def seen_enough():
        values.add(value.queryValue().currentValue)
        for name, lamp in lamps.items():
            said[name].add(lamp.description)
        return len(values) >= 3 and all({"on", "off"} <= s for s in said.values())

    w.wait(seen_enough, 2 * WAIT_S)
    check(len(values) >= 3, "Value changes while the scope runs", str(sorted(values)[:5]))
    for name, states in said.items():
        check(states == {"on", "off"}, f"lamp {name} says \"on\" and \"off\" as it switches", str(sorted(states)))
    w.press(stop)
    check(w.wait(lambda: run.getState().contains(pyatspi.STATE_SENSITIVE), WAIT_S), "Stop makes Run available")


def check_unsent(w):
    field, send = w.control("Reference", SPIN), w.control("Send", PUSH)
    marked = lambda node: "not sent" in node.description  # noqa: E731
    check(not marked(field) and not marked(send), "nothing is marked \"not sent\" before an edit")
    field.queryValue().currentValue = field.queryValue().currentValue + 37
    check(w.wait(lambda: field.description.startswith("not sent")), "the edited field's description starts "
          "with \"not sent\"", repr(field.description))
    check(w.wait(lambda: marked(send)), "Send's description says \"not sent\"", repr(send.description))
    w.press(send)
    check(w.wait(lambda: not marked(field) and not marked(send), WAIT_S), "after Send neither says \"not sent\"")


def sensitive(node):
    return node.getState().contains(pyatspi.STATE_SENSITIVE)


def check_failure(w, sensor_pid):
    """A Get the sensor does not answer (its process stopped): the status line
    says "error", the fields "not confirmed", Dismiss takes the error off; a
    Get that completes takes the fields' marks off."""
    get, dismiss, status = w.control("Get", PUSH), w.control("Dismiss", PUSH), w.control("Status", TEXT)
    field = w.control("Power", SPIN)
    check(not sensitive(dismiss), "Dismiss is dimmed while no error is shown")
    os.kill(sensor_pid, signal.SIGSTOP)
    try:
        w.press(get)
        check(w.wait(lambda: w.status() == "Timeout RS232-Line!", WAIT_S), "a Get without answer times out",
              repr(w.status()))
    finally:
        os.kill(sensor_pid, signal.SIGCONT)
    check(w.wait(lambda: status.description.startswith("error")), "the status line's description starts with "
          "\"error\"", repr(status.description))
    check(w.wait(lambda: field.description.startswith("not confirmed")), "a field's description starts with "
          "\"not confirmed\"", repr(field.description))
    check(w.wait(lambda: sensitive(dismiss)), "Dismiss can be pressed while the error is shown")
    w.press(dismiss)
    check(w.wait(lambda: w.status() == "" and not status.description.startswith("error")),
          "Dismiss takes the error off the status line", repr(w.status()))
    check(w.wait(lambda: not sensitive(dismiss)), "Dismiss is dimmed again")
    w.press(get)
    check(w.wait(lambda: w.status() == "Line Ok!" and not field.description.startswith("not confirmed"), WAIT_S),
          "a Get that completes takes \"not confirmed\" off", f"{w.status()!r} {field.description!r}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--pid", type=int, required=True, help="process id of the running program")
    parser.add_argument("--sensor-pid", type=int, help="process id of the simulated sensor, stopped for a while "
                        "to check how a failure is shown")
    args = parser.parse_args()
    w = Window(args.pid)
    try:
        if not check(w.connect(), "the window is on the accessibility bus"):
            return 1
        check_names(w)
        if not failed:  # the drives below need every control
            check_buttons(w)
            check_windows(w)
            check_scope(w)
            check_unsent(w)
            if args.sensor_pid:
                check_failure(w, args.sensor_pid)
    except ProgramGone:
        check(False, "the program keeps running")
    print(f"\n{len(failed)} check(s) failed" + "".join(f"\n  - {f}" for f in failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
