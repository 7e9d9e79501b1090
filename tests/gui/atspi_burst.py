#!/usr/bin/python3
"""What a screen reader receives while a serial reader streams cards: the window on a
private X display and accessibility bus (as atspi_announce.py starts them) opens COM1, a
zarn60-sim swiping a card every second on a pseudo-terminal, and a listener counts the
test box's text and caret events and reads each announcement for some seconds. The poll's
appends must come as a few events a second, not one or two per byte, and no announcement
may be longer than a person can follow.

Usage: atspi_burst.py ZARN60_TOOL ZARN60_SIM. Exits 77 (skipped) as atspi_announce.py
does."""
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import atspi_announce as session  # noqa: E402

CARD = "B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|"
# Faster than the window takes the bytes in (one each 50 ms poll tick): the data never
# pauses while the listener counts.
SWIPE_EVERY_MS = 1000
LISTEN_SECONDS = 6.0

# (what is measured, its limit, whether the limit is a floor). The window tells the
# poll's appends every 250 ms: four of each event a second, a few more at the edges. The
# first two rows make sure the data really streamed (about 20 bytes a second) and was
# heard, so that a window raising an event a byte would exceed the others.
CHECKS = [
    ("characters received a second", 10, True),
    ("announcements a second", 0.15, True),
    ("text-inserted events a second", 6, False),
    ("caret-moved events a second", 6, False),
    ("characters in the longest announcement", 300, False),
]


def run(pyatspi, _start_tool):
    sim = sys.argv[2]
    lock = threading.Lock()
    inserted = []  # (time, characters) of each text-inserted event of a text object
    carets = []    # time of each caret-moved event of a text object
    said = []      # (time, text) of each notification that became showing

    def on_event(e):
        now = time.time()
        try:
            role = e.source.getRoleName()
        except Exception:
            return
        with lock:
            if e.type.startswith("object:text-changed:insert") and role == "text":
                inserted.append((now, e.detail2))
            elif e.type.startswith("object:text-caret-moved") and role == "text":
                carets.append(now)
            elif (e.type.startswith("object:state-changed:showing") and e.detail1 and
                  role == "notification"):
                said.append((now, e.source.name or ""))

    pyatspi.Registry.registerEventListener(on_event, "object:text-changed:insert",
                                           "object:text-caret-moved",
                                           "object:state-changed:showing",
                                           "object:property-change:accessible-name")
    failures = []
    procs = []

    def start():
        # Its output to a file: a pipe nobody reads would stop it once full.
        out = tempfile.TemporaryFile(mode="w+")
        reader = subprocess.Popen([sim, "--serial", "--com", "1", "--card", CARD,
                                   "--swipe-every", str(SWIPE_EVERY_MS)],
                                  stdout=out, stderr=subprocess.DEVNULL, text=True)
        procs.append(reader)
        pty = ""
        for _ in range(50):
            out.seek(0)
            pty = next((l.strip().split("=", 1)[1] for l in out
                        if l.startswith("ZARN60_COM1=")), "")
            if pty:
                break
            time.sleep(0.1)
        if not pty:
            raise RuntimeError("zarn60-sim gave no pseudo-terminal")
        env = dict(os.environ, ZARN60_COM1=pty)

        def start_tool():
            tool = subprocess.Popen([sys.argv[1]], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, env=env)
            procs.append(tool)
            return tool

        app = session.window_on_bus(pyatspi, start_tool, "Open")
        if not app:
            raise RuntimeError("the window did not appear on the accessibility bus")
        return app

    def steps():
        try:
            app = start()
            session.find(app, "serial port").queryAction().doAction(0)
            time.sleep(0.5)
            session.find(app, "Open").queryAction().doAction(0)
            # Measured once the box holds more than one announcement may say: a window
            # that announced the whole burst would then say too much.
            if not session.wait_until(lock, lambda: sum(n for _, n in inserted) > 400, 60):
                failures.append("no cards reached the test box")
                return
            start_at = time.time()
            time.sleep(LISTEN_SECONDS)
            end_at = time.time()
            with lock:
                within = lambda t: start_at <= t < end_at  # noqa: E731
                got = {
                    "characters received a second":
                        sum(n for t, n in inserted if within(t)) / LISTEN_SECONDS,
                    "announcements a second":
                        sum(1 for t, _ in said if within(t)) / LISTEN_SECONDS,
                    "text-inserted events a second":
                        sum(1 for t, _ in inserted if within(t)) / LISTEN_SECONDS,
                    "caret-moved events a second":
                        sum(1 for t in carets if within(t)) / LISTEN_SECONDS,
                    "characters in the longest announcement":
                        max((len(text) for _, text in said), default=0),
                }
                latest = said[-1][1] if said else ""
            for what, limit, floor in CHECKS:
                value = got[what]
                print("%s: %.1f (%s %s)" % (what, value, "at least" if floor else "at most",
                                             limit))
                if (value < limit) if floor else (value > limit):
                    failures.append("%s: %.1f, %s %s" % (what, value,
                                                         "under" if floor else "over", limit))
            print("latest announcement: %r" % latest)
        finally:
            session.stop(procs)

    return session.on_bus(pyatspi, steps, failures)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    sys.exit(session.main(run))
