"""railmon with the keyboard alone: real key presses (xdotool) reach and use
every function of the panel, the charts and their exports included. Where
the focus is and what the panel shows is read as assistive technology
reads it (AT-SPI), never through a test hook.

    keyboard_only.py PID WINDOW WORKDIR

PID is railmon's process, WINDOW its X window, WORKDIR where it was started
(its log and the charts' exports land there).
"""
import glob
import os
import subprocess
import sys
import time

import pyatspi

from atspi_panel import application, fail, settle, shown_text, walk

TABS = 80  # more than the panel's focus stops




def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "40", *names], check=True)
    settle(0.15)


def typed(text):
    subprocess.run(["xdotool", "type", "--delay", "40", text], check=True)




def focused(app):
    for node in walk(app):
        state = node.getState()
        if state.contains(pyatspi.STATE_FOCUSED) and node.getRoleName() not in ("frame", "filler", "window"):
            return node
    return None


def named(app, name):
    """The control of that name; a label beside one may share its name."""
    found = [node for node in walk(app) if node.name == name]
    for node in found:
        if node.getRoleName() != "label" or shown_text(node) is not None:
            return node
    fail(f"no '{name}' in the panel")



def text_of(node):
    return shown_text(node)


def description(node):
    node.clear_cache()  # the tree's texts are cached; this one changes
    return node.description


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def tab_to(app, name=None, role=None):
    """Tab until the focus is on the control, as a keyboard user would."""
    for _ in range(TABS):
        node = focused(app)
        if node is not None and (name is None or node.name == name) and (role is None or node.getRoleName() == role):
            return node
        keys("Tab")
    fail(f"Tab never reaches {name or role}")


def until(what, test, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test():
            return
        settle(0.1)
    fail(what)


def main():
    pid, window, workdir = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    app = application(pid)
    # Listening is what makes the library follow the tree's changes.
    pyatspi.Registry.registerEventListener(lambda event: None, "object:children-changed", "window:create")
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
    time.sleep(0.3)

    # The main output, a setpoint, Set and Read (their shortcuts).
    switch = tab_to(app, "Main output")
    keys("space")
    until("the main output did not switch on", lambda: switch.description.startswith("ON"))
    tab_to(app, "CH +18V set voltage")
    keys("ctrl+a")
    typed("5")
    keys("Return", "ctrl+s", "ctrl+r")
    until("Set and Read did not show 5 V on CH +18V",
          lambda: text_of(named(app, "CH +18V voltage")) == "5.000")

    # A channel left out and taken in again; a preset recalled.
    enabled = tab_to(app, "CH -6V enabled")
    keys("space")
    until("CH -6V was not left out", lambda: not checked(enabled))
    keys("space")
    until("CH -6V was not taken in", lambda: checked(enabled))
    tab_to(app, role="combo box")
    keys("Down")
    until("no preset recalled", lambda: focused(app).name == "Preset 2")

    # The interval, the log and the timer.
    interval = tab_to(app, "Interval")
    keys("ctrl+a")
    typed("0.5")
    keys("Return")
    until("the interval stayed", lambda: abs(interval.queryValue().currentValue - 0.5) < 1e-9)
    tab_to(app, "Log to railmon.log")
    keys("space")
    tab_to(app, "Timer")
    keys("space")
    log = os.path.join(workdir, "railmon.log")
    until("no records logged", lambda: os.path.exists(log) and sum(1 for _ in open(log)) >= 9)
    keys("space")

    # A chart: its keys, its legend through the menu, its three exports.
    chart = tab_to(app, "Current chart")
    live = next(n for n in walk(chart) if n.name == "Live")
    keys("minus")
    until("zooming did not leave the live view", lambda: not checked(live))
    keys("End")
    until("End did not go live", lambda: checked(live))
    keys("2")  # CH -18V's trace, as its legend entry
    until("the key 2 did not hide CH -18V's trace", lambda: "hidden: CH -18V" in description(chart))
    keys("2")
    until("the key 2 did not show CH -18V's trace again", lambda: "hidden:" not in description(chart))
    # The menu by the Menu key, then by Shift+F10, each entry by its letter.
    for menu, letter, suffix in (("Menu", "p", "png"), ("shift+F10", "d", "pdf"), ("shift+F10", "c", "csv")):
        keys(menu)
        time.sleep(0.5)
        keys(letter)
        time.sleep(1.0)  # the file dialog, its name chosen for the operator
        keys("Return")
        until(f"no .{suffix} saved from the keyboard",
              lambda: glob.glob(os.path.join(workdir, f"railmon-current-*.{suffix}")))
        settle(1.0)  # the dialog gone
        # A window manager gives the focus back to the panel; Xvfb has none.
        subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)

    keys("ctrl+q")


main()
