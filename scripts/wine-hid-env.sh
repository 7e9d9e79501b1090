# shellcheck shell=bash disable=SC2154
# Sourced by the checks that show simulated USB readers to Windows programs under Wine
# (scripts/wine-hid-check.sh, scripts/wine-cli-check.sh): Wine's own HID bus driver
# (winebus.sys, its udev/hidraw side) finds the hidraw node that `zarn60-sim --usb` serves
# over FUSE, in the private namespace of scripts/reader-ns.sh (which says how the node,
# its sysfs entries and udev are shown), with a fresh Wine prefix whose winebus has
# 'Enable SDL' = 0: its SDL bus fails without libSDL2 and no udev bus would follow.
# Wine's bus enumerates when it starts and keeps the node open, so each simulated reader
# gets a Wine session of its own here (reader-ns.sh can also plug and pull a reader while
# Wine runs).
#
# The script sets `hid_exe` (zarn60-tool.exe: it creates the prefix and lists the readers)
# and `sim` (the native zarn60-sim), then calls:
#   hid_env_enter ARGS...   outside the namespace: checks the host (root, /dev/fuse, wine,
#                           unshare), runs the script again with ARGS in a namespace of its
#                           own and exits with its status; inside, returns at once
#   hid_env_setup WORK      inside: empties WORK, mounts, makes the prefix, sets the trap
#   serve SIM-OPTIONS...    one simulated reader as /dev/hidraw0 and /sys
#   unserve                 Wine stopped, the reader gone
#   wine_up                 Wine started; true once its bus lists a reader

# shellcheck source=scripts/reader-ns.sh
. "$(dirname "${BASH_SOURCE[0]}")/reader-ns.sh"
# shellcheck source=scripts/wine-reg.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-reg.sh"

hid_env_enter() {
  [ -z "${ZARN60_READER_NS:-}" ] || return 0
  local name missing="" tool
  name=$(basename "$0" .sh)
  for tool in wine wineserver winepath; do
    command -v "$tool" >/dev/null || missing="$missing $tool"
  done
  [ -z "$missing" ] || { echo "$name: missing:$missing" >&2; exit 1; }
  if [ ! -f "$hid_exe" ] || [ ! -x "$sim" ]; then
    echo "$name: no $hid_exe or $sim" >&2
    exit 1
  fi
  reader_sim=$sim
  reader_ns_enter "$@"
}

hid_env_setup() {
  hid_work=$1
  reader_sim=$sim
  reader_ns_setup "$hid_work"
  mkdir -p "$hid_work/files"

  export WINEPREFIX="$hid_work/prefix" WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  xvfb_pid=""

  # Without a display, the installation of a newly found device fails now and then (its
  # COM apartment wants a window): a display of our own when there is none.
  if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
    local n display=""
    for n in $(seq 61 80); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
    done
    Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
    export DISPLAY=$display
  fi

  wine "$hid_exe" --version >/dev/null 2>&1 || true  # creates the prefix
  wine_reg_add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' \
    /t REG_DWORD /d 0 || return 1
  wineserver -k 2>/dev/null || true
  wineserver -w
}

# Called by reader-ns.sh's trap before the readers stop.
reader_ns_on_exit() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}

# Serves one simulated reader with these options as /dev/hidraw0 and /sys.
serve() {
  reader_usb_start "$@"
}

unserve() {
  wineserver -k 2>/dev/null || true
  wineserver -w
  reader_usb_stop
}

# Starts Wine and waits until its bus lists a reader (true) or has had time to (false). The
# first start in a new prefix installs a driver for the new device and often does not
# present it (Wine 8): a second start, 8 s later, does.
wine_up() {
  local attempt
  for attempt in 1 2; do
    wineserver -p
    local until=$((SECONDS + (attempt == 1 ? 8 : 30)))
    while [ $SECONDS -lt $until ]; do
      if wine "$hid_exe" --list-devices 2>>"$hid_work/wine.log" | grep -Eqi '080[12]:0005'; then
        [ "$attempt" = 1 ] || echo "note: the reader was listed on Wine's second start"
        return 0
      fi
      sleep 0.25
    done
    wineserver -k 2>/dev/null || true
    wineserver -w
  done
  return 1
}
