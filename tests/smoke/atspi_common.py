"""What the tests that read a running Dorvane through AT-SPI share: waiting on
its events with a timeout, walking its tree as a screen reader may, and
keyboard gestures through xdotool."""

import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

# (type, role, name, detail1) of every event heard, for the checks and for a
# timeout's report.
events = []


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def pump(seconds):
    """Delivers AT-SPI events for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.02)


def wait_for(what, condition, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump(0.05)
        result = condition()
        if result:
            return result
    fail("timed out waiting for %s; heard %r" % (what, events))


def on_event(event):
    try:
        events.append((event.type, event.source.getRoleName(), event.source.name, event.detail1))
    except Exception:  # the source may be gone already
        pass


def listen(kinds, handler=on_event):
    """Listens for kinds of events; said again once Dorvane is up, because a
    bridge that was still starting when they were first said may have missed
    some, and then never sends them."""
    for kind in kinds:
        pyatspi.Registry.deregisterEventListener(handler, kind)
        pyatspi.Registry.registerEventListener(handler, kind)


def states(accessible):
    return set(accessible.getState().getStates())


def walk(accessible, found):
    """Every object below accessible, except the cells of tables: those
    manage their descendants, which a client must not enumerate."""
    for child in accessible:
        if child is None:
            continue
        found.append(child)
        if pyatspi.STATE_MANAGES_DESCENDANTS not in states(child):
            walk(child, found)
    return found


def the(root, role, name):
    """The one object below root with this role and name."""
    matches = [a for a in walk(root, []) if a.getRoleName() == role and a.name == name]
    if len(matches) != 1:
        fail("%d objects are a %s named %r" % (len(matches), role, name))
    return matches[0]


def dorvane():
    """Dorvane's application object, once it is on the accessibility bus."""
    def find():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "Dorvane":
                return app
        return None
    return wait_for("Dorvane on the accessibility bus", find, 30)


def key(*keys):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], check=True)
