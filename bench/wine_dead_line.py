#!/usr/bin/env python3
"""The Windows window's receive poll on a COM port whose other end went away, under wine.

    bench/wine_dead_line.py BUILD_WINDOWS_DIR [--seconds S]

Runs zarn60-tool.exe's runner with the port open and the poll running for S seconds (10 by
default) twice, on a pseudo-terminal served as a COM port: once on a quiet line (the other
end open and silent), once on a line hung up a second after the open (the other end
closed). Prints the CPU of the tool and of wineserver for each and the ratio dead/quiet;
exits 3 when it is above 1.5 (a dead line must cost no more than a quiet one), 1 when the
port did not open.

Needs wine and Xvfb; uses its own prefix (BUILD_WINDOWS_DIR/bench-prefix) and display.
"""
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import time

COM = 5
LIMIT = 1.5
ENV = {}


def wineserver_cpu(prefix):
    """utime + stime of this prefix's wineserver, in seconds (0 when none runs)."""
    total = 0.0
    tick = os.sysconf("SC_CLK_TCK")
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().strip().startswith("wineserver"):  # wineserver64 too
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                env = f.read().split(b"\0")
            if f"WINEPREFIX={prefix}".encode() not in env:
                # a persistent server started by us has the prefix in its environment
                continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / tick
        except OSError:
            continue
    return total


def new_line(prefix):
    """A pseudo-terminal behind COM5: (master fd, slave path)."""
    master, slave = pty.openpty()
    path = os.ttyname(slave)
    os.close(slave)
    # Wine takes its COM ports from the registry when its server starts.
    subprocess.run(["wine", "reg", "add", r"HKLM\Software\Wine\Ports", "/v", f"COM{COM}",
                    "/d", path, "/f"], env=ENV, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-k"], env=ENV, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=ENV, stdout=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=ENV, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    link = os.path.join(prefix, "dosdevices", f"com{COM}")
    for _ in range(100):
        if os.path.realpath(link) == os.path.realpath(path):
            break
        time.sleep(0.05)
    return master, path


def run_tool(exe, env, script, hangup_after=None, master=None):
    """Runs the runner on `script`; returns (output, cpu seconds of the tool)."""
    before = os.times()
    p = subprocess.Popen(["wine", exe, "--script", "-"], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    p.stdin.write(script.encode())
    p.stdin.close()
    # The script's first line of output comes once the port is open.
    out = p.stdout.readline().decode(errors="replace")
    if hangup_after is not None:
        time.sleep(hangup_after)
        os.close(master)
    out += p.stdout.read().decode(errors="replace")
    p.wait()
    after = os.times()
    cpu = (after.children_user - before.children_user) + (after.children_system -
                                                          before.children_system)
    return out, cpu


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 1
    build = os.path.abspath(sys.argv[1])
    seconds = 10
    if "--seconds" in sys.argv:
        seconds = int(sys.argv[sys.argv.index("--seconds") + 1])
    exe = os.path.join(build, "tools", "zarn60-tool.exe")
    prefix = os.path.join(build, "bench-prefix")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    display = next(n for n in range(61, 99) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
    xvfb = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "1024x768x24"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env["DISPLAY"] = f":{display}"
    ENV.update(env)
    try:
        for _ in range(50):
            if os.path.exists(f"/tmp/.X11-unix/X{display}"):
                break
            time.sleep(0.1)
        subprocess.run(["wine", exe, "--help"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        open_and_wait = ("click 1061\ntype 1050 %d\nclick 1055\nget 1052\nwait %d\n"
                         % (COM, seconds * 1000))
        cpu = {}
        for case in ("quiet", "dead"):
            master, _ = new_line(prefix)
            server = wineserver_cpu(prefix)
            out, tool = run_tool(exe, env, open_and_wait,
                                 hangup_after=1.0 if case == "dead" else None, master=master)
            server = wineserver_cpu(prefix) - server
            if case == "quiet":
                os.close(master)
            if "Port is opened now" not in out:
                print(f"{case}: the port did not open: {out.strip()!r}")
                return 1
            cpu[case] = tool + server
            print(f"{case:5} line, {seconds} s of poll: tool {tool:.2f} s CPU, "
                  f"wineserver {server:.2f} s")
        ratio = cpu["dead"] / max(cpu["quiet"], 0.01)
        print(f"dead/quiet CPU: {ratio:.2f} (target <= {LIMIT})")

        return 3 if ratio > LIMIT else 0
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
