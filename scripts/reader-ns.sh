# shellcheck shell=bash
# Simulated readers shown to programs that look for real ones (Wine's HID bus driver,
# Chromium's WebHID and WebSerial): sourced by scripts/wine-hid-env.sh and
# scripts/web-check.sh. Everything happens in a private mount and network namespace, so the
# machine's own /dev, /sys, /run, /proc/tty and /etc/chromium never change and the fake
# device events reach only the programs inside:
# - /dev is a tmpfs of links to the host's entries (its hidraw and ttyUSB nodes left out),
#   plus hidraw0 -> the node `zarn60-sim --usb` serves over FUSE and ttyUSB0 -> the pty of
#   `zarn60-sim --serial`;
# - /sys is a tmpfs of links to the host's top-level entries, but class/, bus/ and devices/
#   are our own: the simulator's HID device folder (bound), class/hidraw/hidraw0, and a
#   USB serial adapter's tree (usb device, interface, ttyUSB0, class/tty/ttyUSB0);
# - /run is a tmpfs of links to the host's entries plus udev's: /run/udev/control (libudev
#   monitors join their multicast group only when it exists) and /run/udev/data/c188:0
#   (the serial port's ID_BUS, ID_VENDOR_ID, ID_MODEL_ID);
# - /proc/tty/drivers is a copy naming the usbserial driver for major 188 (Chromium drops a
#   tty whose major no driver claims);
# - SYSTEMD_DEVICE_VERIFY_SYSFS=0, since libudev otherwise ignores a tree that is not sysfs;
# - the loopback interface is up (a page served on 127.0.0.1).
# Plugging and pulling send kernel-format uevents to netlink group 2 (udev's), which the
# libudev monitors of Wine and Chromium hear.
#
# The sourcing script sets `reader_sim` (the native zarn60-sim) and calls:
#   reader_ns_enter ARGS...    outside the namespace: checks root, /dev/fuse, unshare and
#                              python3, runs "$0" ARGS again in a namespace of its own,
#                              prints its time and exits with its status; inside, returns
#   reader_ns_setup WORK       inside: empties WORK, builds /dev, /sys, /run, /proc/tty,
#                              sets an EXIT trap that stops the readers (and calls
#                              reader_ns_on_exit when the script defines it)
#   reader_usb_start OPTS...   `zarn60-sim --usb OPTS` as /dev/hidraw0 and its sysfs
#                              entries, already there (no event)
#   reader_usb_stop            that reader gone (no event)
#   reader_usb_plug OPTS...    started, then the "add" event
#   reader_usb_pull            the "remove" event, then stopped
#   reader_serial_start OPTS...  `zarn60-sim --serial OPTS` as /dev/ttyUSB0 (0801:0005)
#   reader_serial_stop / reader_serial_plug OPTS... / reader_serial_pull   as for USB
#   reader_uevent ACTION SUBSYSTEM DEVPATH [KEY=VALUE...]   one event, kernel format
#   reader_chromium_policy URL   a bound copy of /etc/chromium whose managed policy grants
#                              both readers (USB 0801:0005, 0802:0005; the serial
#                              adapter) to pages from URL's origin
#   reader_sim_log usb|serial  what that simulator received since the last call, in the
#                              runner's `sim log` form (the simulator's --log file, written
#                              on SIGUSR2)
#   reader_usb_pid, reader_serial_pid, reader_serial_pty   the running simulators
# The state lives in files under WORK (exported as ZARN60_READER_WORK), so any process in
# the namespace can do the same as a command: `bash scripts/reader-ns.sh usb-plug OPTS...`,
# usb-start, usb-stop, usb-pull, serial-*, uevent, log usb|serial.

reader_ns_enter() {
  [ -z "${ZARN60_READER_NS:-}" ] || return 0
  local name missing="" tool start status=0
  name=$(basename "$0" .sh)
  for tool in unshare python3 mount; do
    command -v "$tool" >/dev/null || missing="$missing $tool"
  done
  [ -z "$missing" ] || { echo "$name: missing:$missing" >&2; exit 1; }
  [ "$(id -u)" = 0 ] || { echo "$name: needs root (mounts, FUSE, device events)" >&2; exit 1; }
  [ -c /dev/fuse ] || { echo "$name: no /dev/fuse" >&2; exit 1; }
  [ -x "${reader_sim:-}" ] || { echo "$name: no zarn60-sim at ${reader_sim:-(unset)}" >&2; exit 1; }
  start=$(date +%s)
  ZARN60_READER_NS=1 unshare -m -n --propagation private bash "$0" "$@" || status=$?
  echo "$name: $(($(date +%s) - start)) s"
  exit "$status"
}

# A tmpfs at AT whose entries are links to those of FROM (the host's, bound beside), but
# the names matching the extended pattern SKIP.
reader_links_over() {
  local at=$1 from=$2 skip=$3 entry name
  mount -t tmpfs -o mode=755 zarn60-ns "$at"
  for entry in "$from"/* "$from"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    name=$(basename "$entry")
    [[ $name =~ ^($skip)$ ]] && continue
    ln -s "$entry" "$at/$name"
  done
}

reader_ns_setup() {
  reader_work=$(realpath -m "$1")
  rm -rf "$reader_work"
  mkdir -p "$reader_work/host/dev" "$reader_work/host/sys" "$reader_work/host/run" \
    "$reader_work/logs" "$reader_work/state"
  export ZARN60_READER_WORK=$reader_work ZARN60_READER_SIM=$reader_sim
  mount --rbind /dev "$reader_work/host/dev"
  mount --rbind /sys "$reader_work/host/sys"
  mount --rbind /run "$reader_work/host/run"
  reader_links_over /dev "$reader_work/host/dev" 'hidraw[0-9]*|ttyUSB[0-9]*'
  reader_links_over /sys "$reader_work/host/sys" 'class|bus|devices'
  mkdir -p /sys/class/hidraw /sys/class/tty /sys/bus/hid /sys/bus/usb /sys/bus/usb-serial \
    /sys/devices
  for entry in "$reader_work"/host/sys/devices/*; do
    ln -s "$entry" "/sys/devices/$(basename "$entry")"
  done
  reader_links_over /run "$reader_work/host/run" 'udev'
  mkdir -p /run/udev/data
  : >/run/udev/control
  # Chromium lists a tty only when a driver in /proc/tty/drivers claims its major.
  { cat /proc/tty/drivers; echo 'usbserial            /dev/ttyUSB   188 0-511 serial'; } \
    >"$reader_work/tty-drivers"
  mount --bind "$reader_work/tty-drivers" /proc/tty/drivers
  export SYSTEMD_DEVICE_VERIFY_SYSFS=0
  python3 -c '
import fcntl, socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
req = struct.pack("16sH", b"lo", 0)
flags = struct.unpack("16sH", fcntl.ioctl(s, 0x8913, req))[1]  # SIOCGIFFLAGS
fcntl.ioctl(s, 0x8914, struct.pack("16sH", b"lo", flags | 1))  # SIOCSIFFLAGS, IFF_UP'
  trap reader_ns_cleanup EXIT
}

# The state of the namespace's readers, kept in files so that every process sees it.
reader_state_dir() { printf '%s/state' "${reader_work:=$ZARN60_READER_WORK}"; }
reader_get() { cat "$(reader_state_dir)/$1" 2>/dev/null || true; }
reader_put() { printf '%s' "$2" >"$(reader_state_dir)/$1"; }
reader_next() {  # counts NAME up and prints it
  local n
  n=$(($(reader_get "$1" || echo 0) + 1))
  reader_put "$1" "$n"
  echo "$n"
}
# Whether the process runs (not gone, not a zombie nobody has reaped yet: a simulator
# started by a command that has ended is reaped by whoever adopted it).
reader_alive() {
  local state
  state=$(sed -n 's/^[0-9]* (.*) \(.\).*/\1/p' "/proc/$1/stat" 2>/dev/null || true)
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}
# Ends a simulator started by any process here and waits until it is gone.
reader_end() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  wait "$pid" 2>/dev/null || true
  for _ in $(seq 200); do reader_alive "$pid" || return 0; sleep 0.025; done
}

reader_ns_cleanup() {
  if declare -F reader_ns_on_exit >/dev/null; then reader_ns_on_exit || true; fi
  reader_usb_stop
  reader_serial_stop
}

# One uevent in the kernel's form ("ACTION@DEVPATH", then KEY=VALUE fields, each ended
# by a NUL) to netlink group 2, where libudev's monitors listen.
reader_uevent() {
  local action=$1 subsystem=$2 devpath=$3
  shift 3
  python3 - "$action" "$devpath" "ACTION=$action" "DEVPATH=$devpath" "SUBSYSTEM=$subsystem" \
    "$@" "SEQNUM=$((1000 + $(reader_next seqnum)))" <<'EOF'
import socket, sys
fields = [sys.argv[1] + "@" + sys.argv[2]] + sys.argv[3:]
s = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 15)  # NETLINK_KOBJECT_UEVENT
s.bind((0, 0))
s.sendto(b"".join(f.encode() + b"\0" for f in fields), (0, 2))
EOF
}

# Waits until FILE has a line starting with PREFIX (20 s at most); prints the rest of it.
reader_wait_line() {
  local file=$1 prefix=$2 pid=$3 until=$((SECONDS + 20)) value=""
  while [ $SECONDS -lt $until ] && reader_alive "$pid"; do
    value=$(sed -n "s|^$prefix||p" "$file" 2>/dev/null | head -n1)
    [ -n "$value" ] && break
    sleep 0.05
  done
  printf '%s' "$value"
}

# --- USB: the FUSE hidraw node ---------------------------------------------------------------
reader_usb_start() {
  reader_usb_stop
  local out n sys dev link
  n=$(reader_next usb.count)
  out=$reader_work/usb-$n
  : >"$reader_work/logs/usb.log"
  "${reader_sim:-$ZARN60_READER_SIM}" --usb --log "$reader_work/logs/usb.log" "$@" \
    >"$out.out" 2>"$out.err" </dev/null &
  reader_usb_pid=$!
  reader_put usb.pid "$reader_usb_pid"
  sys=$(reader_wait_line "$out.out" ZARN60_SYSFS_ROOT= "$reader_usb_pid")
  dev=$(reader_wait_line "$out.out" ZARN60_DEV_ROOT= "$reader_usb_pid")
  link=$(readlink "$sys/class/hidraw/hidraw0" 2>/dev/null || true)
  if [ -z "$dev" ] || [ -z "$link" ]; then
    echo "$(basename "$0" .sh): zarn60-sim --usb $* did not start:" >&2
    cat "$out.out" "$out.err" >&2 2>/dev/null || true
    exit 1
  fi
  # class/hidraw/hidraw0 -> ../../devices/zarn60-sim/<HID device>/hidraw/hidraw0
  mkdir -p /sys/devices/zarn60-sim
  mount --bind "$sys/devices/zarn60-sim" /sys/devices/zarn60-sim
  ln -sfn "$link" /sys/class/hidraw/hidraw0
  ln -sfn "$dev/hidraw0" /dev/hidraw0
  reader_put usb.devpath "${link#../..}"
}

reader_usb_stop() {
  local pid
  pid=$(reader_get usb.pid)
  [ -n "$pid" ] || return 0
  rm -f /dev/hidraw0 /sys/class/hidraw/hidraw0
  umount /sys/devices/zarn60-sim 2>/dev/null || true
  reader_end "$pid"
  reader_put usb.pid ""
  reader_usb_pid=""
}

reader_usb_plug() {
  reader_usb_start "$@"
  reader_uevent add hidraw "$(reader_get usb.devpath)" MAJOR=245 MINOR=0 DEVNAME=hidraw0
}

reader_usb_pull() {
  [ -n "$(reader_get usb.pid)" ] || return 0
  rm -f /dev/hidraw0 /sys/class/hidraw/hidraw0
  reader_uevent remove hidraw "$(reader_get usb.devpath)" MAJOR=245 MINOR=0 DEVNAME=hidraw0
  reader_usb_stop
}

# --- Serial: the pty behind a USB serial adapter's ttyUSB0 ---------------------------------
reader_serial_devpath=/devices/zarn60-usb/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0
reader_serial_props=(ID_BUS=usb ID_VENDOR_ID=0801 ID_MODEL_ID=0005 ID_VENDOR=ZARN
  ID_MODEL=ZARN60_serial ID_SERIAL=ZARN_ZARN60_serial ID_USB_INTERFACE_NUM=00)

reader_serial_tree() {
  local usb=/sys/devices/zarn60-usb/usb1/1-1 f
  mkdir -p "$usb/1-1:1.0/ttyUSB0/tty/ttyUSB0"
  printf '0801\n' >"$usb/idVendor"
  printf '0005\n' >"$usb/idProduct"
  printf 'ZARN60 serial\n' >"$usb/product"
  printf 'DEVTYPE=usb_device\nPRODUCT=801/5/100\nBUSNUM=001\nDEVNUM=002\n' >"$usb/uevent"
  printf 'DEVTYPE=usb_interface\nINTERFACE=255/0/0\n' >"$usb/1-1:1.0/uevent"
  printf 'DRIVER=pl2303\n' >"$usb/1-1:1.0/ttyUSB0/uevent"
  printf 'MAJOR=188\nMINOR=0\nDEVNAME=ttyUSB0\n' >"$usb/1-1:1.0/ttyUSB0/tty/ttyUSB0/uevent"
  printf '188:0\n' >"$usb/1-1:1.0/ttyUSB0/tty/ttyUSB0/dev"
  ln -sfn ../../../../bus/usb "$usb/subsystem"
  ln -sfn ../../../../../bus/usb "$usb/1-1:1.0/subsystem"
  ln -sfn ../../../../../../bus/usb-serial "$usb/1-1:1.0/ttyUSB0/subsystem"
  ln -sfn ../../../../../../../../class/tty "$usb/1-1:1.0/ttyUSB0/tty/ttyUSB0/subsystem"
  ln -sfn "../../devices/zarn60-usb/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0" /sys/class/tty/ttyUSB0
  {
    echo "I:1"
    for f in "${reader_serial_props[@]}"; do echo "E:$f"; done
  } >/run/udev/data/c188:0
}

reader_serial_start() {
  reader_serial_stop
  local out n
  n=$(reader_next serial.count)
  out=$reader_work/serial-$n
  : >"$reader_work/logs/serial.log"
  "${reader_sim:-$ZARN60_READER_SIM}" --serial --com 1 --log "$reader_work/logs/serial.log" "$@" \
    >"$out.out" 2>"$out.err" </dev/null &
  reader_serial_pid=$!
  reader_put serial.pid "$reader_serial_pid"
  reader_serial_pty=$(reader_wait_line "$out.out" ZARN60_COM1= "$reader_serial_pid")
  if [ -z "$reader_serial_pty" ]; then
    echo "$(basename "$0" .sh): zarn60-sim --serial $* did not start:" >&2
    cat "$out.out" "$out.err" >&2 2>/dev/null || true
    exit 1
  fi
  reader_put serial.pty "$reader_serial_pty"
  ln -sfn "$reader_serial_pty" /dev/ttyUSB0
  reader_serial_tree
}

reader_serial_stop() {
  local pid
  pid=$(reader_get serial.pid)
  [ -n "$pid" ] || return 0
  rm -rf /dev/ttyUSB0 /sys/class/tty/ttyUSB0 /sys/devices/zarn60-usb /run/udev/data/c188:0
  reader_end "$pid"
  reader_put serial.pid ""
  reader_serial_pid=""
}

reader_serial_plug() {
  reader_serial_start "$@"
  reader_uevent add tty "$reader_serial_devpath" MAJOR=188 MINOR=0 DEVNAME=ttyUSB0 \
    "${reader_serial_props[@]}"
}

reader_serial_pull() {
  [ -n "$(reader_get serial.pid)" ] || return 0
  rm -f /dev/ttyUSB0 /sys/class/tty/ttyUSB0
  reader_uevent remove tty "$reader_serial_devpath" MAJOR=188 MINOR=0 DEVNAME=ttyUSB0 \
    "${reader_serial_props[@]}"
  reader_serial_stop
}

# What the usb or serial simulator received since the last call, in the runner's
# `sim log` form: SIGUSR2 makes it append that and a line "sim log end" to its --log file
# (it does the same when it ends, so a reader that vanished has its last part there).
reader_sim_log() {
  local which=$1 pid file marks
  pid=$(reader_get "$which.pid")
  file=$reader_work/logs/$which.log
  marks=$(grep -c '^sim log end$' "$file" 2>/dev/null || true)
  if [ -n "$pid" ] && reader_alive "$pid" && kill -USR2 "$pid" 2>/dev/null; then
    local until=$((SECONDS + 10))
    while [ $SECONDS -lt $until ] &&
      [ "$(grep -c '^sim log end$' "$file" 2>/dev/null || true)" -le "$marks" ]; do
      sleep 0.02
    done
  fi
  # The last part: after the last mark but one.
  awk '/^sim log end$/ { last = part; part = ""; next } { part = part $0 "\n" }
       END { printf "%s", last }' "$file"
}

# --- Chromium's managed policy ---------------------------------------------------------------
reader_chromium_policy() {
  local url=$1 copy=$reader_work/etc-chromium
  rm -rf "$copy"
  if [ -d /etc/chromium ]; then cp -a /etc/chromium "$copy"; else mkdir -p "$copy"; fi
  mkdir -p "$copy/policies/managed"
  cat >"$copy/policies/managed/zarn60-readers.json" <<EOF
{
  "WebHidAllowDevicesForUrls": [{
    "devices": [{"vendor_id": 2049, "product_id": 5}, {"vendor_id": 2050, "product_id": 5}],
    "urls": ["$url"]
  }],
  "SerialAllowUsbDevicesForUrls": [{
    "devices": [{"vendor_id": 2049, "product_id": 5}],
    "urls": ["$url"]
  }]
}
EOF
  [ -d /etc/chromium ] || { echo "reader_chromium_policy: no /etc/chromium (chromium is not installed)" >&2; return 1; }
  mount --bind "$copy" /etc/chromium
}

# Run as a command inside the namespace: the function named by the first argument.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  if [ -z "${ZARN60_READER_NS:-}" ] || [ -z "${ZARN60_READER_WORK:-}" ]; then
    echo "reader-ns.sh: run only inside the namespace of a check" >&2
    exit 2
  fi
  reader_work=$ZARN60_READER_WORK
  command=${1:-}
  shift || true
  case $command in
    usb-start | usb-stop | usb-plug | usb-pull | serial-start | serial-stop | serial-plug | \
      serial-pull) "reader_${command//-/_}" "$@" ;;
    uevent) reader_uevent "$@" ;;
    log) reader_sim_log "$@" ;;
    *) echo "reader-ns.sh: unknown command: $command" >&2; exit 2 ;;
  esac
fi
