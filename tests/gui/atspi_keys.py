#!/usr/bin/python3
"""The window by keyboard, as a screen reader follows it: real keys (xdotool) on a private X
display, the focus and the menus read over AT-SPI. One table of cases on one window: the
focus stays on a button an operation disables while it runs and comes back after a file
dialog; Shift+F10 and the Menu key open the window's menu with its first item active, also
from an edit. Then the window at its own scale (ZARN60_SCALE): AT-SPI tells the same
geometry as X, and the window grows with the scale.

Usage: atspi_keys.py ZARN60_TOOL. Exits 77 (skipped) as atspi_announce.py does, or without
xdotool."""
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import atspi_announce as session  # noqa: E402

FACTORY = "Back to Default Factory Setting"
DOWNLOAD = "Download Setting to Device"
SAVE = "Save setting to File"
LOAD = "Load Setting from File"
EDIT = "an edit"  # the first edit of the window

# (what, where the focus is put, the keys and waits, what must follow). "dialog" waits for a
# file dialog to show; "menu" for the window's menu with its first item active; a name is
# where the focus must be after the keys.
CASES = [
    ("Space on the factory button, twice", FACTORY, ["space", "result", "space", "result"],
     FACTORY),
    ("Space on the download button", DOWNLOAD, ["space", "result"], DOWNLOAD),
    ("Escape in the save dialog", SAVE, ["space", "dialog", "Escape"], SAVE),
    ("Escape in the load dialog", LOAD, ["space", "dialog", "Escape"], LOAD),
    ("Shift+F10 in an edit", EDIT, ["shift+F10", "menu", "Escape"], EDIT),
    ("the Menu key in an edit", EDIT, ["Menu", "menu", "Escape"], EDIT),
    ("Shift+F10 on a button", DOWNLOAD, ["shift+F10", "menu", "Escape"], DOWNLOAD),
]
SCALES = (1, 1.5, 2)


def xdotool(*args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True).stdout


def walk(obj):
    for child in obj:
        if child is None:
            continue
        yield child
        yield from walk(child)


def run(pyatspi, start_tool):
    events = []  # (kind, role, name) of focus and showing changes
    lock = threading.Lock()

    def on_event(e):
        with lock:
            try:
                if e.detail1:
                    events.append((e.type, e.source.getRoleName(), e.source.name))
            except Exception:
                pass

    pyatspi.Registry.registerEventListener(on_event, "object:state-changed:focused",
                                           "object:state-changed:showing",
                                           "object:property-change:accessible-name")
    failures = []

    def wait_for(condition, seconds=10):
        return session.wait_until(lock, condition, seconds)

    def start(env):
        for _ in range(3):
            proc = start_tool(env)
            deadline = time.time() + 12
            while time.time() < deadline:
                app = next((a for a in pyatspi.Registry.getDesktop(0)
                            if a and a.name == "zarn60-tool"), None)
                if app and any(o.name == "Get Version" for o in walk(app)):
                    return proc, app
                time.sleep(0.2)
            proc.terminate()
            proc.wait(5)
        raise RuntimeError("the window did not appear on the accessibility bus")

    def stop(proc):
        proc.terminate()
        proc.wait(5)
        wait_for(lambda: not any(a and a.name == "zarn60-tool"
                                 for a in pyatspi.Registry.getDesktop(0)), 5)

    def x_window(proc):
        for _ in range(50):
            ids = xdotool("search", "--onlyvisible", "--pid", proc.pid, "--name", "ZARN").split()
            if ids:
                return ids[0]
            time.sleep(0.1)
        raise RuntimeError("no X window of the tool")

    def focused(app):
        for o in walk(app):
            if o.getState().contains(pyatspi.STATE_FOCUSED):
                return o
        return None

    def keys_cases():
        proc, app = start({})
        try:
            window = x_window(proc)
            xdotool("windowfocus", "--sync", window)
            edit = next(o for o in walk(app) if o.getRoleName() == "text" and o.name)
            for what, target, keys, after in CASES:
                with lock:
                    mark = len(events)
                name = edit.name if target == EDIT else target
                obj = edit if target == EDIT else next(o for o in walk(app) if o.name == name)
                obj.queryComponent().grabFocus()
                if not wait_for(lambda: focused(app) is not None and focused(app).name == name, 5):
                    failures.append("%s: the focus could not be put on %s" % (what, name))
                    continue
                for key in keys:
                    if key == "result":
                        # The operation has run: its result is announced.
                        ok = wait_for(lambda: any(r == "notification" for _, r, _n in
                                                  events[mark:]), 10)
                        time.sleep(0.3)
                    elif key == "dialog":
                        ok = wait_for(lambda: any(t.endswith("showing") and
                                                  r in ("dialog", "file chooser")
                                                  for t, r, _n in events[mark:]), 10)
                        time.sleep(0.5)
                    elif key == "menu":
                        # The first item is active as soon as the menu shows.
                        ok = wait_for(lambda: any(t.endswith("focused") and r == "menu item"
                                                  for t, r, _n in events[mark:]), 5)
                        with lock:
                            items = [n for t, r, n in events[mark:]
                                     if t.endswith("focused") and r == "menu item"]
                        ok = ok and "ZARN TOOLS" in items[0]
                    else:
                        with lock:
                            mark = len(events)
                        xdotool("key", key)
                        time.sleep(0.4)
                        continue
                    if not ok:
                        with lock:
                            got = events[mark:]
                        failures.append("%s: no %s after the keys, heard %s" % (what, key, got))
                        break
                want = edit.name if after == EDIT else after
                if not wait_for(lambda: focused(app) is not None and focused(app).name == want, 5):
                    now = focused(app)
                    failures.append("%s: the focus is on %s, not %s" %
                                    (what, now.name if now else "nothing", want))
                print("%s: done" % what)
        finally:
            stop(proc)

    def scale_cases():
        widths = {}
        for scale in SCALES:
            proc, app = start({"ZARN60_SCALE": str(scale)} if scale != 1 else {})
            try:
                window = x_window(proc)
                geometry = dict(line.split("=") for line in
                                xdotool("getwindowgeometry", "--shell", window).split())
                x_rect = tuple(int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
                frame = next(o for o in app if o and o.getRoleName() in ("frame", "dialog"))
                e = frame.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                at_rect = (e.x, e.y, e.width, e.height)
                print("scale %s: X %s, AT-SPI %s" % (scale, x_rect, at_rect))
                if at_rect != x_rect:
                    failures.append("scale %s: AT-SPI says %s, X %s" % (scale, at_rect, x_rect))
                button = next(o for o in walk(app) if o.name == "Get Version")
                b = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                if not (e.x <= b.x and b.x + b.width <= e.x + e.width and
                        e.y <= b.y and b.y + b.height <= e.y + e.height):
                    failures.append("scale %s: the button %s lies outside the window" %
                                    (scale, (b.x, b.y, b.width, b.height)))
                widths[scale] = (e.width, b.width)
            finally:
                stop(proc)
        for scale in SCALES[1:]:
            for part, own, scaled in zip(("window", "button"), widths[1], widths[scale]):
                if abs(scaled - own * scale) > own * scale * 0.05:
                    failures.append("scale %s: the %s is %d wide, %d at scale 1" %
                                    (scale, part, scaled, own))

    def steps():
        keys_cases()
        scale_cases()

    return session.on_bus(pyatspi, steps, failures)


if __name__ == "__main__":
    if not shutil.which("xdotool"):
        session.skip("xdotool is not installed")
    sys.exit(session.main(run, screen="2400x1800x24"))
