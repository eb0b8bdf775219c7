"""railmon as a screen reader sees it, through AT-SPI: every control named
with its channel, every readout's value as shown, changes announced, and
the panel worked through the controls' own actions (as a switch user or a
screen reader's user would).

    accessible_tree.py PID LOG

PID is railmon's process, LOG the railmon.log it writes. Prints the tree of
channel CH +18V; exits non-zero, saying why, when something is missing.
"""
import sys

import pyatspi

from atspi_panel import application, fail, settle, shown_text, walk

CHANNELS = ("CH +18V", "CH -18V", "CH +6V", "CH -6V")
PER_CHANNEL = ("enabled", "set voltage", "set current", "voltage", "current", "mode", "over-voltage protection",
               "over-voltage level", "over-current protection", "over-current level", "trip on CC", "protection")
PANEL_WIDE = ("Main output", "Set", "Read", "Interval", "Timer", "Log to railmon.log", "Remote control", "Exit",
              "Current chart",
              "Voltage chart", "Supply status", "Readings status", "Log status", "Export status",
              "Remote control status", "Clear trip", "Protection status")
MODES = {0: "CV", 1: "CC", 2: "OFF"}

announced = []







def describe(node, depth=0):
    text = shown_text(node)
    line = f"{'  ' * depth}[{node.getRoleName()}] \"{node.name}\""
    if text is not None:
        line += f" text \"{text}\""
    try:
        line += f" value {node.queryValue().currentValue:g}"
    except NotImplementedError:
        pass
    if node.description:
        line += f" - {node.description.splitlines()[0]}"
    print(line)
    for child in node:
        if child is not None:
            describe(child, depth + 1)


def act(node, *names):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i).lower() in names:
            action.doAction(i)
            return
    fail(f"'{node.name}' offers none of {names}")


def last_records(log_path):
    """The last record of each channel: ch -> (U, I, CV_CC)."""
    last = {}
    with open(log_path) as log:
        for line in log:
            if line.startswith("#"):
                continue
            _, ch, u, i, cvcc = line.rstrip("\n").split("\t")
            last[int(ch)] = (float(u), float(i), int(cvcc))
    return last


def main():
    pid, log_path = int(sys.argv[1]), sys.argv[2]
    app = application(pid)

    def heard(event):
        announced.append(event.source.name)

    listener = pyatspi.Registry
    listener.registerEventListener(heard, "object:property-change:accessible-value", "object:text-changed")

    # A control and the label beside it share a name: the control counts.
    by_name = {}
    for node in walk(app):
        if node.name not in by_name or by_name[node.name].getRoleName() == "label":
            by_name[node.name] = node
    wanted = [f"{ch} {what}" for ch in CHANNELS for what in PER_CHANNEL] + list(PANEL_WIDE)
    missing = [name for name in wanted if name not in by_name]
    if missing:
        fail("no accessible named " + ", ".join(missing))
    group = next(n for n in walk(app) if n.name == "CH +18V" and n.getRoleName() == "panel")

    # Worked through the controls' own actions: output on, logging, the timer.
    act(by_name["Main output"], "press", "toggle")
    act(by_name["Log to railmon.log"], "toggle", "press")
    act(by_name["Timer"], "toggle", "press")
    settle(3.5)  # three ticks at the default 1 s
    act(by_name["Timer"], "toggle", "press")
    settle(1.5)  # the last tick painted and announced

    last = last_records(log_path)
    if sorted(last) != [1, 2, 3, 4]:
        fail(f"the log has no record of every channel: {last}")
    for ch, name in enumerate(CHANNELS, start=1):
        u, i, cvcc = last[ch]
        for what, logged, decimals in (("voltage", u, 3), ("current", i, 4)):
            text = shown_text(by_name[f"{name} {what}"])
            if text != f"{logged:.{decimals}f}":
                fail(f"{name} {what} reads \"{text}\", the log says {logged}")
        mode = shown_text(by_name[f"{name} mode"])
        if mode != MODES.get(cvcc, str(cvcc)):
            fail(f"{name} mode reads \"{mode}\", the log says {cvcc}")
    for name in (f"{CHANNELS[0]} voltage", f"{CHANNELS[0]} mode", "Log status"):
        if name not in announced:
            fail(f"no change of '{name}' announced; heard {sorted(set(announced))}")
    describe(group)
    act(by_name["Exit"], "press")


main()
