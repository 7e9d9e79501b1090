#!/usr/bin/python3
"""What Orca says for the window's results: the window on the simulated reader, on a
private X display and accessibility bus (as atspi_announce.py starts them), with Orca
running beside it and writing its debug log; each row presses a button through AT-SPI and
waits until the window has announced its result and Orca has had time to say it. Orca is
then ended (it writes its log in blocks, complete when it ends), and each result must be in
the log's SPEECH OUTPUT lines in turn. The log records what Orca hands to its speech
server, so no speech synthesizer or sound device is needed.

Usage: orca_speech.py ZARN60_TOOL. Exits 77 (skipped) when Orca is not installed, or as
atspi_announce.py does."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import atspi_announce as session  # noqa: E402

# (the button pressed, what Orca must say after it). A card is said as the test box shows
# it: its bytes in hexadecimal, from the start sentinel "%" (25) on.
CASES = [
    ("Get Version", re.compile(r"^notification V2\.10\.?$")),
    ("Download Setting to Device", re.compile(r"^notification Setup ok\.?$")),
    ("Read Card", re.compile(r"^notification 2542[0-9A-F]+\.?$")),
]
# A line of the log: SPEECH OUTPUT: 'the text' and, after it, the voice's settings.
SAID = re.compile(r"SPEECH OUTPUT: '(.*)'(\{[^\n]*\})?$", re.M)


def run(pyatspi, start_tool):
    work = tempfile.mkdtemp(prefix="zarn60-orca-")
    log = os.path.join(work, "orca-debug.out")
    runtime = os.path.join(work, "run")
    os.makedirs(runtime, mode=0o700)
    # Its settings, speech-dispatcher's socket and its home in a directory of their own.
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, HOME=work,
               XDG_CONFIG_HOME=os.path.join(work, "config"))
    orca = subprocess.Popen(["orca", "--replace", "-u", os.path.join(work, "prefs"),
                             "--debug-file", log], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=env)
    failures = []

    def spoken():
        try:
            with open(log, errors="replace") as f:
                return [m.group(1) for m in SAID.finditer(f.read())]
        except FileNotFoundError:
            return []

    shown = []  # names of the notifications that became showing
    lock = threading.Lock()

    def on_event(e):
        if (e.type.startswith("object:state-changed:showing") and e.detail1 and
                e.source.getRoleName() == "notification"):
            with lock:
                shown.append(e.source.name or "")

    pyatspi.Registry.registerEventListener(on_event, "object:state-changed:showing",
                                           "object:property-change:accessible-name")

    def steps():
        time.sleep(5)  # Orca comes up
        if orca.poll() is not None:
            failures.append("Orca ended at its start (its log: %s)" % log)
            return
        app = session.window_on_bus(pyatspi, start_tool)
        if not app:
            failures.append("the window did not appear on the accessibility bus")
            return
        # Orca first reads the window that came up; the results come after that.
        time.sleep(3)
        for button, _ in CASES:
            with lock:
                before = len(shown)
            session.find(app, button).queryAction().doAction(0)
            session.wait_until(lock, lambda: len(shown) > before, 15)
            time.sleep(2)
        orca.terminate()
        try:
            orca.wait(15)
        except subprocess.TimeoutExpired:
            orca.kill()  # what it had written is read all the same
            orca.wait(5)
        lines = spoken()
        at = 0
        for button, said in CASES:
            found = next((i for i in range(at, len(lines)) if said.match(lines[i])), None)
            print("%s: Orca said %s" % (button, lines[found] if found is not None else None))
            if found is None:
                failures.append("%s: Orca did not say its result; it said %s" %
                                (button, lines[at:]))
            else:
                at = found + 1

    try:
        return session.on_bus(pyatspi, steps, failures)
    finally:
        if orca.poll() is None:
            orca.terminate()
        try:
            orca.wait(5)
        except subprocess.TimeoutExpired:
            orca.kill()
        if not failures:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if not shutil.which("orca"):
        session.skip("Orca (orca) is not installed")
    sys.exit(session.main(run))
