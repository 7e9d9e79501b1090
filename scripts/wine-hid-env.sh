# shellcheck shell=bash disable=SC2154
# Sourced by the checks that show simulated USB readers to Windows programs under Wine
# (scripts/wine-hid-check.sh, scripts/wine-cli-check.sh): Wine's own HID bus driver
# (winebus.sys, its udev/hidraw side) finds a hidraw node that `zarn60-sim --usb` serves over
# FUSE, in a private mount namespace where:
# - /dev is a tmpfs of links to the host's entries, plus hidraw0 -> the simulator's node;
# - /sys is the simulator's sysfs-like tree (kernel-shaped: class/hidraw/hidraw0 leads to a
#   hidraw device whose parent HID device carries HID_ID and the report descriptor);
# - SYSTEMD_DEVICE_VERIFY_SYSFS=0, since libudev otherwise ignores a tree that is not sysfs;
# - a fresh Wine prefix whose winebus has 'Enable SDL' = 0: its SDL bus fails without
#   libSDL2 and no udev bus would follow.
# Wine's bus enumerates once when it starts and keeps the node open; it sees no plugging
# later (no udev events here), so each simulated reader gets a Wine session of its own.
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

hid_env_enter() {
  [ -z "${ZARN60_WINE_HID_NS:-}" ] || return 0
  local name missing="" tool start status=0
  name=$(basename "$0" .sh)
  for tool in wine wineserver winepath unshare; do
    command -v "$tool" >/dev/null || missing="$missing $tool"
  done
  [ -z "$missing" ] || { echo "$name: missing:$missing" >&2; exit 1; }
  [ "$(id -u)" = 0 ] || { echo "$name: needs root (mounts, FUSE)" >&2; exit 1; }
  [ -c /dev/fuse ] || { echo "$name: no /dev/fuse" >&2; exit 1; }
  if [ ! -f "$hid_exe" ] || [ ! -x "$sim" ]; then
    echo "$name: no $hid_exe or $sim" >&2
    exit 1
  fi
  start=$(date +%s)
  ZARN60_WINE_HID_NS=1 unshare -m --propagation private bash "$0" "$@" || status=$?
  echo "$name: $(($(date +%s) - start)) s"
  exit "$status"
}

hid_env_setup() {
  hid_work=$1
  rm -rf "$hid_work"
  mkdir -p "$hid_work/hostdev" "$hid_work/nosys" "$hid_work/files"
  mount --rbind /dev "$hid_work/hostdev"
  mount -t tmpfs -o mode=755 zarn60-dev /dev
  local entry name
  for entry in "$hid_work"/hostdev/*; do
    name=$(basename "$entry")
    case $name in hidraw*) continue ;; esac  # the host's readers stay out of sight
    ln -s "$entry" "/dev/$name"
  done
  mount --bind "$hid_work/nosys" /sys

  export WINEPREFIX="$hid_work/prefix" WINEDEBUG=${WINEDEBUG:--all} SYSTEMD_DEVICE_VERIFY_SYSFS=0
  export WINEDLLOVERRIDES="mscoree,mshtml="
  sim_pid=""
  xvfb_pid=""
  trap hid_env_cleanup EXIT

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
  wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD \
    /d 0 /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w
  readers=0
}

hid_env_cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}

# Serves one simulated reader with these options as /dev/hidraw0 and /sys. Each reader
# prints into files of its own: the shell opens them in the background job, possibly after
# the first look.
serve() {
  readers=$((readers+1))
  local out="$hid_work/sim-$readers.out" err="$hid_work/sim-$readers.err"
  "$sim" --usb "$@" >"$out" 2>"$err" &
  sim_pid=$!
  local until=$((SECONDS + 20))
  while [ $SECONDS -lt $until ] && kill -0 "$sim_pid" 2>/dev/null; do
    grep -qs '^ZARN60_DEV_ROOT=' "$out" && break
    sleep 0.05
  done
  local sys dev
  sys=$(sed -n 's/^ZARN60_SYSFS_ROOT=//p' "$out" 2>/dev/null)
  dev=$(sed -n 's/^ZARN60_DEV_ROOT=//p' "$out" 2>/dev/null)
  if [ -z "$dev" ] || [ -z "$sys" ]; then
    echo "$(basename "$0" .sh): zarn60-sim --usb $* did not start:" >&2
    cat "$out" "$err" >&2 2>/dev/null || true
    exit 1
  fi
  mount --bind "$sys" /sys
  ln -sfn "$dev/hidraw0" /dev/hidraw0
}

unserve() {
  wineserver -k 2>/dev/null || true
  wineserver -w
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  umount /sys
  rm -f /dev/hidraw0
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
