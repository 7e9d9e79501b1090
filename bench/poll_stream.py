#!/usr/bin/python3
"""The window's cost while a reader streams cards at the receive poll's full rate.

    bench/poll_stream.py BUILD_DIR [--windows BUILD_WINDOWS_DIR] [--seconds S]
                         [--prefix WINEPREFIX]

The Qt window (BUILD_DIR/tools/zarn60-tool) on a private X display, D-Bus session and
accessibility bus, with a listener registered for the text, caret, name and showing events
as a screen reader registers them. zarn60-sim on a pseudo-terminal (COM1) swipes a card
faster than the poll takes bytes in, so that every 10 ms poll tick finds a byte waiting;
the window opens the port and "Get Version" starts the 10 ms poll. After a warm-up, the
window's processor time (/proc/PID/stat) over S seconds (20 by default) of wall time is its
CPU share, and its resident memory (VmRSS) at the end over the start is its growth, set
against what the received text itself may take.

With --windows, the Win32 window (BUILD_WINDOWS_DIR/tools/zarn60-tool.exe) under wine on the
same display and the same kind of stream: its process's share and wineserver's, apart,
in a wine prefix of its own (--prefix, by default one under the temporary directory,
kept between runs). Without wine, xdotool or the .exe, that row is a note.

Exits 0 when every measured row meets its targets, 3 when one misses, 1 when it could not
run (no display, no bus, the window never streamed).
"""
import fcntl
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "gui"))
import atspi_announce as session  # noqa: E402

# The reader protocol's receive poll: one byte each 10 ms tick.
POLL_BYTES_A_SECOND = 100.0
# A card of the simulator's default output (66 bytes on the line at 9600 baud, about
# 70 ms) swiped every 600 ms: 110 bytes a second, more than the poll takes in, and far
# less than the line carries, so the bytes waiting grow slowly. The terminal's input
# queue holds 4095 bytes; what comes on top waits where TIOCINQ does not see it, so a
# row whose line filled up is void (a window far behind the poll, or a long run).
CARD = "B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|"
CARD_BYTES = 66
SWIPE_EVERY_MS = 600
LINE_QUEUE_FULL = 4095
WARM_UP_SECONDS = 4.0

CPU_LIMIT = 0.02  # of one core
# With bytes waiting all along, the window takes one a tick: the poll's rate, less the
# timer's own slack on a loaded machine.
KEEP_PACE = 0.95
# Resident memory may grow by the text itself: a byte in the model's copy, one in the
# control's, two in the box's UTF-16 document, each container up to twice its length
# while it grows: 8 bytes a received byte. Plus 64 KiB (sixteen pages) for pages the
# allocator and the buses' buffers have started to fill; an idle window grows by none.
TEXT_BYTES_PER_BYTE = 8
RSS_MARGIN_KIB = 64

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

    def __init__(self, pid, seconds, line, others=None, box=None):
        others = others or (lambda: [])
        box = box or (lambda: 0)
        t0, c0, r0, b0 = time.monotonic(), cpu_seconds(pid), rss_kib(pid), line.taken()
        o0, x0, w0 = sum(cpu_seconds(p) for p in others()), box(), line.waiting()
        # The bytes waiting, looked at every 20 ms: never none (every tick found a byte)
        # and never a full queue (the count of bytes taken holds).
        low = high = w0
        while time.monotonic() < t0 + seconds:
            time.sleep(0.02)
            waiting = line.waiting()
            low, high = min(low, waiting), max(high, waiting)
        t1, c1, r1, b1 = time.monotonic(), cpu_seconds(pid), rss_kib(pid), line.taken()
        self.box_growth = box() - x0
        self.waiting = (w0, line.waiting(), low, high)
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
        print("  resident memory %d KiB at the start, %+d KiB after, %.0f B a byte received "
              "(the text allows %.0f KiB: %d B a byte + %d KiB)"
              % (self.rss_start, self.rss_growth, self.rss_growth * 1024 / max(self.received, 1),
                 allowed, TEXT_BYTES_PER_BYTE, RSS_MARGIN_KIB))
        print("  bytes waiting on the line: %d at the start, %d at the end, %d to %d"
              % self.waiting)
        missed = []
        if rate < KEEP_PACE * POLL_BYTES_A_SECOND and self.waiting[2] > 0:
            missed.append("%s keeping pace with the poll" % label)
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
            started = []

            def start_window():
                started.append(subprocess.Popen([tool], stdout=subprocess.DEVNULL,
                                                stderr=subprocess.DEVNULL, env=env))
                procs.append(started[-1])
                return started[-1]

            app = session.window_on_bus(pyatspi, start_window)
            window = started[-1] if started else None
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
            shown = lambda: box.queryText().characterCount  # noqa: E731
            deadline = time.time() + 10
            while shown() < 10 and time.time() < deadline:
                time.sleep(0.2)
            if shown() < 10:
                raise RuntimeError("no bytes reached the test box")
            time.sleep(WARM_UP_SECONDS)
            with lock:
                events0 = list(inserted)
            line = Line(pty, procs[0].pid)
            try:
                result["m"] = Measure(window.pid, seconds, line, box=shown)
            finally:
                line.close()
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
    print("  the test box grew by %d characters" % m.box_growth)
    print("  the listener heard %d text-inserted events (%.1f a second) with %d characters"
          % (events, events / m.wall, chars))
    return not_saturated(m), missed


def not_saturated(m):
    """EXIT_FAILED_TO_RUN when the line ran dry, so that a tick could find no byte (the
    row would measure a quieter window than asked), or filled up (the bytes taken are
    not known)."""
    if m.waiting[2] == 0:
        print("  the line ran dry: the poll was not saturated, the row does not count")
        return EXIT_FAILED_TO_RUN
    if m.waiting[3] >= LINE_QUEUE_FULL:
        print("  the line filled up: the bytes taken are not known, the row does not count")
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


def wine_row(build_windows, sim, seconds, prefix):
    """The Win32 window under wine, on the session's display; (status, missed targets)."""
    exe = os.path.join(build_windows, "tools", "zarn60-tool.exe")
    missing = [what for what, there in (("wine", shutil.which("wine")),
                                        ("xdotool", shutil.which("xdotool")),
                                        (exe, os.path.exists(exe))) if not there]
    if missing:
        print("Win32 window under wine: not measured (no %s)" % ", ".join(missing))
        return EXIT_MET, []
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    procs = []
    try:
        pty = start_sim(sim, 1, procs)
        # Wine takes its COM ports from the registry when its server starts.
        subprocess.run(["wine", "reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1",
                        "/d", pty, "/f"], **quiet)
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        procs.append(subprocess.Popen(["wine", exe], **quiet))
        wid = None
        deadline = time.time() + 60
        while not wid and time.time() < deadline:
            found = subprocess.run(["xdotool", "search", "--name", "^ZARN TOOLS V"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   text=True).stdout.split()
            wid = found[0] if found else None
            time.sleep(0.5)
        if not wid:
            raise RuntimeError("the Win32 window did not appear")
        time.sleep(2)  # its first paint
        pid = wine_pid("zarn60-tool.exe", prefix)
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid],
                                  stdout=subprocess.PIPE, text=True).stdout
        size = dict(l.split("=", 1) for l in geometry.split())
        width, height = int(size["WIDTH"]), int(size["HEIGHT"])

        def click(x, y):
            # The X window is the dialog's client area, laid out in dialog units.
            subprocess.run(["xdotool", "mousemove", "--window", wid,
                            str(round(x * width / DIALOG_UNITS[0])),
                            str(round(y * height / DIALOG_UNITS[1])), "click", "1"], **quiet)
            time.sleep(0.5)

        for x, y in (SERIAL_PORT_AT, OPEN_AT, GET_VERSION_AT):
            click(x, y)
        line = Line(pty, procs[0].pid)
        try:
            before = line.taken()
            time.sleep(2)
            if line.taken() - before < 10:
                raise RuntimeError("the window took no bytes (the clicks missed?)")
            time.sleep(WARM_UP_SECONDS)
            m = Measure(pid, seconds, line, others=lambda: wine_pids("wineserver", prefix))
        finally:
            line.close()
    except Exception as e:
        print("Win32 window under wine: could not run: %s" % e)
        return EXIT_FAILED_TO_RUN, []
    finally:
        subprocess.run(["wineserver", "-k"], **quiet)
        session.stop(procs)
    missed = m.judge("Win32 window under wine", others_label="wineserver")
    print("  (wine's windows do not register on the accessibility bus: no events to hear)")
    return not_saturated(m), missed


# The main dialog's size and the middle of " serial port", "Open" and "Get Version", in
# dialog units (res/templates.cpp).
DIALOG_UNITS = (505, 450)
SERIAL_PORT_AT = (322, 119)
OPEN_AT = (357, 137)
GET_VERSION_AT = (360, 203)


def wine_pids(name, prefix):
    """Processes whose name starts with `name`, run in this wine prefix."""
    pids = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % pid) as f:
                if not f.read().strip().startswith(name[:15]):
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=%s" % prefix).encode() not in f.read().split(b"\0"):
                    continue
            pids.append(int(pid))
        except OSError:
            continue
    return pids


def wine_pid(name, prefix):
    pids = wine_pids(name, prefix)
    if not pids:
        raise RuntimeError("no %s process" % name)
    return pids[0]


class Line:
    """The pseudo-terminal between the simulator and the window, seen from outside: the
    bytes waiting in its input queue, and those the window has taken (what the simulator
    wrote, from its /proc io, less what still waits)."""

    def __init__(self, pty, sim_pid):
        self.fd = os.open(pty, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        self.sim_pid = sim_pid

    def waiting(self):
        return struct.unpack("i", fcntl.ioctl(self.fd, termios.TIOCINQ, b"\0\0\0\0"))[0]

    def taken(self):
        with open("/proc/%d/io" % self.sim_pid) as f:
            written = next(int(l.split()[1]) for l in f if l.startswith("wchar:"))
        return written - self.waiting()

    def close(self):
        os.close(self.fd)


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        print(__doc__)
        return EXIT_FAILED_TO_RUN
    build = os.path.abspath(args[0])
    seconds = float(args[args.index("--seconds") + 1]) if "--seconds" in args else 20.0
    windows = os.path.abspath(args[args.index("--windows") + 1]) if "--windows" in args \
        else None
    prefix = os.path.abspath(args[args.index("--prefix") + 1]) if "--prefix" in args \
        else os.path.join(tempfile.gettempdir(), "zarn60-poll-stream-prefix")
    tool = os.path.join(build, "tools", "zarn60-tool")
    sim = os.path.join(build, "tools", "zarn60-sim")
    with open("/proc/loadavg") as f:
        print("load average %s; %d seconds a row, poll %d bytes a second, a %d-byte card "
              "every %d ms" % (" ".join(f.read().split()[:3]), seconds, POLL_BYTES_A_SECOND,
                               CARD_BYTES, SWIPE_EVERY_MS))
    statuses, missed = [], []

    def rows(pyatspi, _start_tool):
        status, m = linux_row(pyatspi, tool, sim, seconds)
        statuses.append(status)
        missed.extend(m)
        if windows is None:
            print("Win32 window under wine: not measured (no --windows BUILD_WINDOWS_DIR)")
        else:
            status, m = wine_row(windows, sim, seconds, prefix)
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


if __name__ == "__main__":
    sys.exit(main())
