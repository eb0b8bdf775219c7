"""What the AT-SPI tests share: railmon's panel found on the accessibility
bus, the tree walked, the text a node shows, the events let in."""
import sys
import time

import pyatspi
from gi.repository import GLib


def fail(why):
    print("FAIL: " + why, file=sys.stderr)
    sys.exit(1)


def settle(seconds):
    """Turns the event loop for `seconds`, so accessibility events (an
    announcement, a window opened, children changed) are let in."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while True:
        while context.iteration(False):
            pass
        if time.monotonic() >= end:
            return
        time.sleep(0.02)


def application(pid):
    """railmon's application node, once its panel (titled "railmon - ...")
    is on the bus."""
    for _ in range(150):
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == pid:
                    if any(f is not None and f.name.startswith("railmon - ") for f in app):
                        return app
            except Exception:
                pass
        time.sleep(0.2)
    fail(f"no railmon panel (process {pid}) on the accessibility bus")


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def shown_text(node):
    """The text a node shows, or None when it has no text."""
    try:
        return node.queryText().getText(0, -1)
    except NotImplementedError:
        return None
