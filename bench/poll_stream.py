#!/usr/bin/python3
"""The window's cost while a reader streams cards at the receive poll's full rate.

    bench/poll_stream.py BUILD_DIR [--windows BUILD_WINDOWS_DIR] [--seconds S]

The Qt window (BUILD_DIR/tools/zarn60-tool) on a private X display, D-Bus session and
accessibility bus, with a listener registered for the text, caret, name and showing events
as a screen reader registers them. zarn60-sim on a pseudo-terminal (COM1) swipes a card
faster than the poll takes bytes in, so that every 10 ms poll tick finds a byte waiting;
the window opens the port and "Get Version" starts the 10 ms poll. After a warm-up, the
window's processor time (/proc/PID/stat) over S seconds (20 by default) of wall time is its
CPU share, and its resident memory (VmRSS) at the end over the start is its growth, set
against what the received text itself may take.

With --windows, the Win32 window (BUILD_WINDOWS_DIR/tools/zarn60-tool.exe) under wine on the
same display and the same kind of stream: its process's share and wineserver's, apart.
Without wine or the .exe, that row is a note.

Exits 0 when every measured row meets its targets, 3 when one misses, 1 when it could not
run (no display, no bus, the window never streamed).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "gui"))
import atspi_announce as session  # noqa: E402

# The reader protocol's receive poll: one byte each 10 ms tick.
POLL_BYTES_A_SECOND = 100.0
# A card of the simulator's default output (66 bytes on the line at 9600 baud, about
# 70 ms) swiped every 400 ms: 165 bytes a second, more than the poll takes in, and far
# less than the line carries, so the bytes waiting grow slowly and never fill the
# pseudo-terminal.
CARD = "B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|"
SWIPE_EVERY_MS = 400
WARM_UP_SECONDS = 4.0

CPU_LIMIT = 0.02  # of one core
# Resident memory may grow by the text itself: a byte in the model's copy, one in the
# control's, two in the box's UTF-16 document, each container up to twice its length
# while it grows: 8 bytes a received byte. Plus a margin for the allocator handing out
# memory in whole pages and 128 KiB steps of its heap top.
TEXT_BYTES_PER_BYTE = 8
RSS_MARGIN_KIB = 256

EXIT_MET, EXIT_FAILED_TO_RUN, EXIT_MISSED = 0, 1, 3


def cpu_seconds(pid):
    """utime + stime of a process (its ended threads included), in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def start_sim(sim, com, procs):
    """zarn60-sim streaming cards on a pseudo-terminal served as COM `com`; its path."""
    out = tempfile.TemporaryFile(mode="w+")  # a pipe nobody reads would stop it once full
    reader = subprocess.Popen([sim, "--serial", "--com", str(com), "--card", CARD,
                               "--swipe-every", str(SWIPE_EVERY_MS)],
                              stdout=out, stderr=subprocess.DEVNULL, text=True)
    procs.append(reader)
    prefix = "ZARN60_COM%d=" % com
    for _ in range(50):
        out.seek(0)
        pty = next((l.strip()[len(prefix):] for l in out if l.startswith(prefix)), "")
        if pty:
            return pty
        time.sleep(0.1)
    raise RuntimeError("zarn60-sim gave no pseudo-terminal")


class Measure:
    """CPU share and resident growth of `pid` (and the extra pids' CPU) over `seconds`."""

    def __init__(self, pid, seconds, count_bytes, others=None):
        others = others or (lambda: [])
        t0, c0, r0, b0 = time.monotonic(), cpu_seconds(pid), rss_kib(pid), count_bytes()
        o0 = sum(cpu_seconds(p) for p in others())
        time.sleep(seconds)
        t1, c1, r1, b1 = time.monotonic(), cpu_seconds(pid), rss_kib(pid), count_bytes()
        self.wall = t1 - t0
        self.share = (c1 - c0) / self.wall
        self.others_share = (sum(cpu_seconds(p) for p in others()) - o0) / self.wall
        self.rss_start, self.rss_growth = r0, r1 - r0
        self.received = b1 - b0

    def judge(self, label, others_label=None):
        """Prints the row; returns the list of missed targets."""
        rate = self.received / self.wall
        allowed = self.received * TEXT_BYTES_PER_BYTE / 1024 + RSS_MARGIN_KIB
        print("%s: %d bytes received in %.1f s, %.1f a second (%.3f of the poll's %d)"
              % (label, self.received, self.wall, rate, rate / POLL_BYTES_A_SECOND,
                 POLL_BYTES_A_SECOND))
        print("  CPU %.2f %% of a core (target <= %.0f %%: %.2f of it)"
              % (100 * self.share, 100 * CPU_LIMIT, self.share / CPU_LIMIT))
        if others_label:
            print("  %s CPU %.2f %% of a core (apart; together %.2f %%)"
                  % (others_label, 100 * self.others_share,
                     100 * (self.share + self.others_share)))
        print("  resident memory %d KiB at the start, %+d KiB after (the text allows %.0f KiB:"
              " %d B a byte + %d KiB)" % (self.rss_start, self.rss_growth, allowed,
                                          TEXT_BYTES_PER_BYTE, RSS_MARGIN_KIB))
        missed = []
        if self.share > CPU_LIMIT:
            missed.append("%s CPU" % label)
        if self.rss_growth > allowed:
            missed.append("%s memory" % label)
        return missed


def linux_row(pyatspi, tool, sim, seconds):
    """The Qt window's row; (status, missed targets)."""
    lock = threading.Lock()
    inserted = [0, 0]  # text-inserted events of a text object, their characters
    procs = []

    def on_event(e):
        if e.type.startswith("object:text-changed:insert"):
            with lock:
                inserted[0] += 1
                inserted[1] += e.detail2

    pyatspi.Registry.registerEventListener(on_event, "object:text-changed:insert",
                                           "object:text-changed:delete",
                                           "object:text-caret-moved",
                                           "object:state-changed:showing",
                                           "object:property-change:accessible-name")
    result = {}

    def steps():
        try:
            pty = start_sim(sim, 1, procs)
            env = dict(os.environ, ZARN60_COM1=pty)
            app = None
            for _ in range(3):
                window = subprocess.Popen([tool], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, env=env)
                procs.append(window)
                deadline = time.time() + 12
                while time.time() < deadline and not app:
                    app = next((a for a in pyatspi.Registry.getDesktop(0)
                                if a and a.name == "zarn60-tool"), None)
                    if app and not session.find(app, "Get Version"):
                        app = None
                    time.sleep(0.2)
                if app:
                    break
                window.terminate()
                window.wait(5)
            if not app:
                raise RuntimeError("the window did not appear on the accessibility bus")
            session.find(app, "serial port").queryAction().doAction(0)
            time.sleep(0.5)
            session.find(app, "Open").queryAction().doAction(0)
            time.sleep(0.5)
            session.find(app, "Get Version").queryAction().doAction(0)
            box = test_box(pyatspi, app)
            if box is None:
                raise RuntimeError("no multi-line text box on the bus")
            count = lambda: box.queryText().characterCount  # noqa: E731
            deadline = time.time() + 10
            while count() < 10 and time.time() < deadline:
                time.sleep(0.2)
            if count() < 10:
                raise RuntimeError("no bytes reached the test box")
            time.sleep(WARM_UP_SECONDS)
            with lock:
                events0 = list(inserted)
            result["m"] = Measure(window.pid, seconds, count)
            with lock:
                result["events"] = [a - b for a, b in zip(inserted, events0)]
        except Exception as e:  # a broken bus or window is a run that could not be made
            result["error"] = str(e)
        finally:
            session.stop(procs)

    session.on_bus(pyatspi, steps, [])
    if "error" in result:
        print("Qt window: could not run: %s" % result["error"])
        return EXIT_FAILED_TO_RUN, []
    m = result["m"]
    missed = m.judge("Qt window, accessibility bus on")
    events, chars = result["events"]
    print("  the listener heard %d text-inserted events (%.1f a second) with %d characters"
          % (events, events / m.wall, chars))
    return not_saturated(m), missed


def not_saturated(m):
    """EXIT_FAILED_TO_RUN when the stream did not keep the poll busy (the row would
    measure a quieter window than asked)."""
    if m.received / m.wall < 0.9 * POLL_BYTES_A_SECOND:
        print("  the poll was not saturated: the row does not count")
        return EXIT_FAILED_TO_RUN
    return EXIT_MET


def test_box(pyatspi, app):
    """The window's multi-line text object (the test box)."""
    def walk(obj):
        for child in obj:
            if child is None:
                continue
            try:
                if (child.getRoleName() == "text" and
                        child.getState().contains(pyatspi.STATE_MULTI_LINE)):
                    return child
            except Exception:
                continue
            found = walk(child)
            if found:
                return found
        return None
    return walk(app)


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        print(__doc__)
        return EXIT_FAILED_TO_RUN
    build = os.path.abspath(args[0])
    seconds = float(args[args.index("--seconds") + 1]) if "--seconds" in args else 20.0
    windows = os.path.abspath(args[args.index("--windows") + 1]) if "--windows" in args \
        else None
    tool = os.path.join(build, "tools", "zarn60-tool")
    sim = os.path.join(build, "tools", "zarn60-sim")
    with open("/proc/loadavg") as f:
        print("load average %s; %d seconds a row, poll %d bytes a second, a %d-byte card "
              "every %d ms" % (" ".join(f.read().split()[:3]), seconds, POLL_BYTES_A_SECOND,
                               66, SWIPE_EVERY_MS))
    statuses, missed = [], []

    def rows(pyatspi, _start_tool):
        status, m = linux_row(pyatspi, tool, sim, seconds)
        statuses.append(status)
        missed.extend(m)
        if windows is None:
            print("Win32 window under wine: not measured (no --windows BUILD_WINDOWS_DIR)")
        else:
            status, m = wine_row(windows, sim, seconds)
            statuses.append(status)
            missed.extend(m)
        return 0

    sys.argv[1:] = [tool]
    try:
        session.main(rows)
    except SystemExit as e:  # the session could not start: no display, bus or pyatspi
        if e.code == session.SKIP:
            return EXIT_FAILED_TO_RUN
        raise
    if EXIT_FAILED_TO_RUN in statuses:
        return EXIT_FAILED_TO_RUN
    if missed:
        print("missed: %s" % ", ".join(missed))
        return EXIT_MISSED
    print("all targets met")
    return EXIT_MET


def wine_row(build_windows, sim, seconds):
    exe = os.path.join(build_windows, "tools", "zarn60-tool.exe")
    if not shutil.which("wine") or not os.path.exists(exe):
        print("Win32 window under wine: not measured (%s)"
              % ("no wine" if not shutil.which("wine") else "no " + exe))
        return EXIT_MET, []
    print("Win32 window under wine: not measured yet")
    return EXIT_MET, []


if __name__ == "__main__":
    sys.exit(main())
