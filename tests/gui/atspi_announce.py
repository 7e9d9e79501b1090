#!/usr/bin/python3
"""What a screen reader receives over AT-SPI when results come: the window is started on
the simulated reader on a private X display, D-Bus session and accessibility bus; its
buttons are pressed through AT-SPI, and each result must arrive as a notification that
becomes showing, with the result as its name, while the focus stays where it was.

Usage: atspi_announce.py ZARN60_TOOL. Exits 77 (skipped) when Xvfb, dbus-daemon, the
AT-SPI bus launcher or pyatspi is missing or cannot start."""
import os
import shutil
import subprocess
import sys
import threading
import time

SKIP = 77
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def free_display():
    for n in range(90, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return n
    skip("no free X display number")


def wait_for_a11y_bus(seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        ask = subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply",
                              "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if ask.returncode == 0 and "unix:" in ask.stdout:
            return True
        time.sleep(0.1)
    return False


def main(run_steps=None, screen="1280x1024x24"):
    """Starts the private display and buses and runs `run_steps(pyatspi, start_tool)`
    (this file's own steps by default); start_tool(env) starts the window on them."""
    run_steps = run_steps or run
    tool = sys.argv[1]
    for program in ("Xvfb", "dbus-daemon", "dbus-send"):
        if not shutil.which(program):
            skip(program + " is not installed")
    if not os.path.exists(LAUNCHER):
        skip("the AT-SPI bus (at-spi2-core) is not installed")
    procs = []
    try:
        n = free_display()
        procs.append(subprocess.Popen(["Xvfb", ":%d" % n, "-nolisten", "tcp", "-screen", "0",
                                       screen], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X%d" % n):
                break
            time.sleep(0.05)
        else:
            skip("Xvfb did not start")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        procs.append(bus)
        address = bus.stdout.readline().strip()
        if not address:
            skip("no D-Bus session bus")
        os.environ.update(DISPLAY=":%d" % n, DBUS_SESSION_BUS_ADDRESS=address,
                          QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        os.environ.pop("WAYLAND_DISPLAY", None)
        procs.append(subprocess.Popen([LAUNCHER, "--launch-immediately"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        # Qt looks for the accessibility bus once, at start: the tool starts only when the
        # bus answers (its first start on a new machine can take seconds).
        if not wait_for_a11y_bus(30):
            skip("the AT-SPI bus did not start")
        try:
            import pyatspi
        except ImportError:
            skip("pyatspi (python3-pyatspi) is not installed")
        def start_tool(env=None):
            tool_proc = subprocess.Popen([tool, "--simulate"], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.PIPE, env=dict(os.environ, **(env or {})))
            procs.append(tool_proc)
            return tool_proc

        return run_steps(pyatspi, start_tool)
    finally:
        stop(procs)


def stop(procs):
    """Ends the processes, the last started first; kills those that do not end."""
    for p in reversed(procs):
        p.terminate()
    for p in procs:
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()


def find(obj, name):
    """The first accessible under `obj` with this name (spaces around it aside), depth first;
    None when none."""
    for child in obj:
        if child is None:
            continue
        if (child.name or "").strip() == name:
            return child
        found = find(child, name)
        if found:
            return found
    return None


def window_on_bus(pyatspi, start, control="Get Version", seconds=12):
    """Starts the window with `start()` (which returns its process) until it is on the
    accessibility bus with `control` among its accessibles, at most three times: the
    accessibility bridge sometimes misses a bus that has just come up, and then never
    registers. Returns the window's application, or None; a start that did not appear is
    ended."""
    for _ in range(3):
        proc = start()
        deadline = time.time() + seconds
        while time.time() < deadline:
            app = next((a for a in pyatspi.Registry.getDesktop(0)
                        if a and a.name == "zarn60-tool"), None)
            if app and find(app, control):
                return app
            time.sleep(0.2)
        if proc.poll() is not None and proc.stderr:
            print("zarn60-tool ended with %d: %s" % (proc.returncode, proc.stderr.read()[-500:]))
        proc.terminate()
        proc.wait(5)
    return None


def wait_until(lock, condition, seconds=10):
    """True once `condition()`, checked under `lock`, holds; False after `seconds`."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        with lock:
            if condition():
                return True
        time.sleep(0.05)
    return False


def on_bus(pyatspi, steps, failures):
    """Runs `steps` beside AT-SPI's event loop, which stops when they end; prints the
    failures and returns the exit status. A broken bus is a failure, not a hang."""
    def thread():
        try:
            steps()
        except Exception as e:
            failures.append("error: %r" % e)
        finally:
            pyatspi.Registry.stop()

    threading.Thread(target=thread, daemon=True).start()
    pyatspi.Registry.start()
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


def run(pyatspi, start_tool):
    shown = []    # (role, name) of each object that became showing
    focused = []  # names of objects that took the focus
    lock = threading.Lock()

    def on_event(e):
        with lock:
            if e.type.startswith("object:state-changed:showing") and e.detail1:
                shown.append((e.source.getRoleName(), e.source.name))
            elif e.type.startswith("object:state-changed:focused") and e.detail1:
                focused.append(e.source.name)

    # Listening to name changes keeps the names AT-SPI caches up to date.
    pyatspi.Registry.registerEventListener(on_event, "object:state-changed:showing",
                                           "object:state-changed:focused",
                                           "object:property-change:accessible-name")
    failures = []

    def wait_for(condition, seconds=10):
        return wait_until(lock, condition, seconds)

    def steps():
        app = window_on_bus(pyatspi, start_tool)
        if not app:
            names = [a.name for a in pyatspi.Registry.getDesktop(0) if a]
            failures.append("the window did not appear on the accessibility bus: %s" % names)
            return
        time.sleep(0.5)
        with lock:
            focused.clear()
        for button, said in (("Get Version", lambda t: t == "V2.10"),
                             ("Download Setting to Device", lambda t: t == "Setup ok"),
                             ("Read Card", lambda t: t.startswith("2542"))):
            with lock:
                before = len(shown)
            find(app, button).queryAction().doAction(0)
            ok = wait_for(lambda: any(role == "notification" and said(name)
                                      for role, name in shown[before:]))
            with lock:
                heard = shown[before:]
            print("%s: %s" % (button, heard))
            if not ok:
                failures.append("%s: no notification with its result, got %s" %
                                (button, heard))
        with lock:
            if focused:
                failures.append("the focus moved to %s" % focused)

    return on_bus(pyatspi, steps, failures)


if __name__ == "__main__":
    sys.exit(main())
