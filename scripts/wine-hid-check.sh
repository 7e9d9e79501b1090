#!/usr/bin/env bash
# zarn60-tool.exe under Wine against simulated USB readers, through the Win32 HID backend:
# Wine's own HID bus driver (winebus.sys, its udev/hidraw side) finds a hidraw node that
# `zarn60-sim --usb` serves over FUSE, and the program talks to it through SetupAPI, HID and
# overlapped ReadFile/WriteFile as it would to a reader on Windows; last, one window that
# runs while a reader is plugged in, pulled between operations and mid-download (udev's
# add and remove events reach Wine's bus), and plugged back.
#
#   scripts/wine-hid-check.sh EXE SIM [WORK]
#     EXE   zarn60-tool.exe (the cross build's build-windows/tools/zarn60-tool.exe)
#     SIM   the native zarn60-sim
#     WORK  a folder of its own, emptied first (default: wine-hid beside EXE's build)
#
# Needs root (mounts) and /dev/fuse. Everything runs in a private mount namespace set up by
# scripts/wine-hid-env.sh (which says how the node is shown to Wine).
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,16p' "$0" >&2
  exit 2
fi
hid_exe=$(realpath -m "$1")
exe=$hid_exe
sim=$(realpath -m "$2")
work=${3:-$(dirname "$(dirname "$exe")")/wine-hid}
# shellcheck source=scripts/wine-hid-env.sh
. "$(dirname "$0")/wine-hid-env.sh"
hid_env_enter "$exe" "$sim" "$work"

# --- Inside the namespace -----------------------------------------------------------------
hid_env_setup "$work"

pass=0; fail=0
ok() { pass=$((pass+1)); echo "ok   $1"; }
bad() { fail=$((fail+1)); echo "FAIL $1"; }

# The end of what Wine and the program said in the last run (N lines), indented.
said() {
  grep -v '^[0-9a-f]*:fixme:' "$work/run.err" 2>/dev/null | tail -n "$1" | sed "s/^/$2/" || true
}

# Runs a script read from standard input; prints the text of each control it gets, or
# "checked=N" for a check box or radio button. Every script gets a control, so a run that
# printed nothing did not run: it is tried once more, and what Wine said is shown. Wine's
# and the program's own words of the last run are kept for a failure's report.
run() {
  local script out rc attempt
  script=$(cat)
  for attempt in 1 2; do
    rc=0
    out=$(printf '%s\n' "$script" | wine "$exe" --script - 2>"$work/run.err") || rc=$?
    echo "exit status $rc" >> "$work/run.err"
    if [ -n "$out" ] || [ "$attempt" = 2 ]; then break; fi
    echo "note: a run printed nothing; once more. What it said:" >&2
    said 8 '    ' >&2
  done
  printf '%s\n' "$out" | tr -d '\r' |
    sed -n -E 's/^ctl [0-9]+ kind=(check|radio) .* checked=([01]) .*/checked=\2/p;
               s/^ctl [0-9]+ kind=(edit|combo|button|label) .* text="(.*)"$/\2/p'
}

expect() {
  local name=$1 got=$2 want=$3
  if [ "$got" = "$want" ]; then ok "$name"
  else
    bad "$name"; diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | sed 's/^/    /' || true
    echo "    the last run's own words:"
    said 12 '      '
  fi
}

# The default card as the test box shows it: the bytes in hexadecimal.
card=$(printf '%s' '%B4111111111111111^DOE/JOHN^2912101?' $'\r\n' ';4111111111111111=2912101?' \
  $'\r\n' | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F)
save_dir=$(winepath -w "$work/files" 2>/dev/null)
# The reader's factory configuration as it reads it back (a settings file holds this).
factory_read='01 01 01 25 3b 2b 3f 3f 3f 00 03 03 03 06 14 01 00'
factory_read="$factory_read$(printf ' 00%.0s' $(seq 38)) 1b"

# --- A reader that answers ------------------------------------------------------------------
serve --reader-version V7.71
if wine_up; then
  ok "the reader is listed through SetupAPI and HID"
  got=$(printf '%s\n' \
    "click IDC_FACTORY" "get IDC_TEST_BOX" \
    "click IDC_UPLOAD" "get IDC_TEST_BOX" \
    "answer save $save_dir\\Setup.cfg" "click IDC_SAVE_FILE" "get IDC_TEST_BOX" \
    "click IDC_BEEP_OFF" "click IDC_DOWNLOAD" "get IDC_TEST_BOX" \
    "click IDC_BEEP_ON" "click IDC_UPLOAD" "get IDC_TEST_BOX" "get IDC_BEEP_OFF" \
    "click IDC_GET_VERSION" "get IDC_TEST_BOX" \
    "click IDC_READ_CARD" "get IDC_TEST_BOX" | run)
  expect "factory, upload, save, download, upload, version, card over USB" "$got" \
    "$(printf '%s\n' "Setup ok" "Get Setting Ok" "Save CFG file Setup.cfg Ok" "Setup ok" \
      "Get Setting Ok" "checked=1" "V7.71" "$card")"
  saved=$(od -An -v -tx1 "$work/files/Setup.cfg" 2>/dev/null | tr -s ' \n' ' ' | sed 's/^ //;s/ $//')
  expect "the saved file is the reader's 56-byte read image" "$saved" "$factory_read"
else
  bad "the reader is listed through SetupAPI and HID"
  wine "$exe" --list-devices 2>&1 | sed 's/^/    /'
fi
unserve

# --- The USB failures -------------------------------------------------------------------------
# Each: the simulator's options, the script, the texts.
failure() {
  local name=$1 options=$2 script=$3 want=$4
  # shellcheck disable=SC2086
  serve $options
  if wine_up; then
    expect "$name" "$(printf '%s\n' "$script" | run)" "$want"
  else
    bad "$name: the reader is not listed"
  fi
  unserve
}

version_download_upload_card=$'click IDC_DOWNLOAD\nget IDC_TEST_BOX\nclick IDC_FACTORY\nget IDC_TEST_BOX\nclick IDC_UPLOAD\nget IDC_TEST_BOX\nclick IDC_GET_VERSION\nget IDC_TEST_BOX\nclick IDC_READ_CARD\nget IDC_TEST_BOX'

failure "silent reader" "--mode silent" "$version_download_upload_card" \
  "$(printf '%s\n' "ZARN60 NO RESPONSE3" "Setup ok" "ZARN60 NO RESPONSE1" \
    "ZARN60 NO RESPONSE1" "")"
failure "rejected configuration" "--mode reject" \
  $'click IDC_BEEP_OFF\nclick IDC_DOWNLOAD\nget IDC_TEST_BOX\nclick IDC_FACTORY\nget IDC_TEST_BOX\nclick IDC_UPLOAD\nget IDC_TEST_BOX\nget IDC_BEEP_ON' \
  "$(printf '%s\n' "Setup Error" "Setup ok" "Get Setting Ok" "checked=1")"

# Garbage: the verdict is never 00, any 56 bytes make an upload, the version is 8 bytes of
# noise.
serve --mode garbage
if wine_up; then
  got=$(printf '%s\n' "click IDC_DOWNLOAD" "get IDC_TEST_BOX" "click IDC_UPLOAD" \
    "get IDC_TEST_BOX" "click IDC_GET_VERSION" "get IDC_TEST_BOX" | run)
  head2=$(printf '%s\n' "$got" | sed -n 1,2p)
  version=$(printf '%s\n' "$got" | sed -n 3p)
  if [ "$head2" = $'Setup Error\nGet Setting Ok' ] && [ -n "$version" ] &&
     [ "$version" != V2.10 ] && [ "$(printf '%s' "$version" | sed 's/\\x[0-9a-f][0-9a-f]/#/g; s/\\./#/g' | wc -c)" = 8 ]; then
    ok "garbage"
  else
    bad "garbage"; printf '    %s\n' "$got"
  fi
else
  bad "garbage: the reader is not listed"
fi
unserve

# The reader vanishes after N reports: report N+1 of the eight fails.
failure "vanishing after the first report of a download" "--vanish 1" \
  $'click IDC_DOWNLOAD\nget IDC_TEST_BOX' "USB WRITE ERROR2"
failure "vanishing after the third report of a download" "--vanish 3" \
  $'click IDC_DOWNLOAD\nget IDC_TEST_BOX' "USB WRITE ERROR 3"
failure "vanishing after the first report of a factory reset" "--vanish 1" \
  $'click IDC_FACTORY\nget IDC_TEST_BOX' "USB WRITE ERROR2 !!!"
# Gone after the request: the read waits out its time-out (Wine's bus never says the device
# left: no udev events here).
failure "vanishing after the request of an upload" "--vanish 1" \
  $'click IDC_UPLOAD\nget IDC_TEST_BOX' "ZARN60 NO RESPONSE1"

# Report lengths other than the 9 bytes the exchanges build.
failure "output reports of 8 bytes" "--reports 9 8" "$version_download_upload_card" \
  "$(printf '%s\n' "USB WRITE ERROR1" "USB WRITE ERROR1 !!!" "USB WRITE ERROR1" \
    "USB WRITE ERROR1" "USB WRITE ERROR1")"
failure "input reports of 8 bytes" "--reports 8 9" \
  $'click IDC_DOWNLOAD\nget IDC_TEST_BOX\nclick IDC_UPLOAD\nget IDC_TEST_BOX\nclick IDC_FACTORY\nget IDC_TEST_BOX' \
  "$(printf '%s\n' "USB WRITE ERROR1" "USB WRITE ERROR1" "Setup ok")"
failure "65-byte reports on vendor 0802" "--vid 0802 --reports 65 65 --reader-version V9" \
  $'click IDC_DOWNLOAD\nget IDC_TEST_BOX\nclick IDC_UPLOAD\nget IDC_TEST_BOX\nclick IDC_GET_VERSION\nget IDC_TEST_BOX' \
  "$(printf '%s\n' "Setup ok" "Get Setting Ok" "V9")"

# No reader at all.
wineserver -p
expect "no reader" "$(printf '%s\n' "click IDC_DOWNLOAD" "get IDC_TEST_BOX" \
  "click IDC_GET_VERSION" "get IDC_TEST_BOX" | run)" \
  "$(printf '%s\n' "Open USB Device Failure!!!" "Open USB Device Failure!!!")"
wineserver -k 2>/dev/null || true
wineserver -w

# --- Readers that come and go ---------------------------------------------------------------
# One window under Wine all along, its bus running; the reader is plugged in and pulled with
# the kernel's udev events (reader-ns.sh), as a user plugs a reader into a running program.
# The window reads its script from a pipe, a line at a time, so each step happens while it
# runs.
coproc window { wine "$exe" --script - 2>/dev/null; }
window_in=${window[1]}; window_out=${window[0]}
# Sends one operation (a control name) and prints the test box's text after it.
press() {
  local line=""
  printf 'click %s\nget IDC_TEST_BOX\n' "$1" >&"$window_in"
  IFS= read -r -t 90 line <&"$window_out" || true
  printf '%s' "$line" | tr -d '\r' | sed -n -E 's/^ctl [0-9]+ kind=edit .* text="(.*)"$/\1/p'
}
# Presses until the text is WANT (Wine's bus takes a moment to follow an event); prints the
# last text.
press_until() {
  local control=$1 want=$2 got="" until=$((SECONDS + 40))
  while [ $SECONDS -lt $until ]; do
    got=$(press "$control")
    [ "$got" = "$want" ] && break
    sleep 0.5
  done
  printf '%s' "$got"
}
no_reader="Open USB Device Failure!!!"
expect "no reader yet in a running window" "$(press IDC_GET_VERSION)" "$no_reader"
reader_usb_plug --reader-version V7.71
expect "a reader plugged in while the window runs is found" \
  "$(press_until IDC_GET_VERSION V7.71)" V7.71
reader_usb_pull
expect "a reader pulled between operations is gone" \
  "$(press_until IDC_GET_VERSION "$no_reader")" "$no_reader"
# The cable out: the node fails at once (its server killed, as the kernel's node fails when
# the device goes), then the remove event.
cable_out() {
  kill -KILL "$(reader_get usb.pid)" 2>/dev/null || true
  reader_usb_pull
}
# Plugged back with its answers 900 ms late (the download waits 1000 ms for its verdict), so
# that a pull 0.4 s into a download comes after the eight reports, or among them when Wine
# is slow: the download fails on a report or on the verdict, and says neither success nor
# that no reader was found (the reader was there when it began).
reader_usb_plug --reader-version V7.72 --slow 900
expect "a reader plugged back is found again" "$(press_until IDC_DOWNLOAD "Setup ok")" "Setup ok"
(sleep 0.4 && cable_out) &
puller=$!
got=$(press IDC_DOWNLOAD)
wait "$puller"
case $got in
  "ZARN60 NO RESPONSE3" | "USB WRITE ERROR1" | "USB WRITE ERROR2" | "USB WRITE ERROR 3")
    ok "a reader pulled mid-download: $got" ;;
  *) bad "a reader pulled mid-download: \"$got\"" ;;
esac
expect "after a pull mid-download the reader is gone" \
  "$(press_until IDC_DOWNLOAD "$no_reader")" "$no_reader"
reader_usb_plug --reader-version V7.73
expect "and found once more when plugged back" "$(press_until IDC_GET_VERSION V7.73)" V7.73
exec {window_in}>&-
# shellcheck disable=SC2154
wait "$window_PID" 2>/dev/null || true
wineserver -k 2>/dev/null || true
wineserver -w

# --- Two programs on one reader -------------------------------------------------------------
# Each round an upload with the sentinels it shows, then a version query: each program shows
# the reader's own answer or fails to open, never the other's answer.
serve --reader-version V2.10
if wine_up; then
  rounds=10
  for _ in $(seq $rounds); do
    printf '%s\n' "click IDC_UPLOAD" "get IDC_TEST_BOX" "get IDC_TRACK1_SS" "get IDC_TRACK1_ES" \
      "click IDC_GET_VERSION" "get IDC_TEST_BOX"
  done >"$work/two.script"
  (cd "$work" && run <two.script >two-1.out) &
  first=$!
  (cd "$work" && run <two.script >two-2.out) &
  second=$!
  wait "$first" "$second"
  served=0; wrong=0
  for out in "$work/two-1.out" "$work/two-2.out"; do
    [ "$(wc -l <"$out")" = $((rounds * 4)) ] || wrong=$((wrong+1))
    while read -r upload && read -r ss && read -r es && read -r version; do
      if [ "$upload" = "Get Setting Ok" ] && [ "$ss" = % ] && [ "$es" = '?' ]; then
        served=$((served+1))
      elif [ "$upload" != "Open USB Device Failure!!!" ]; then
        wrong=$((wrong+1)); echo "    upload: $upload $ss $es"
      fi
      if [ "$version" = V2.10 ]; then served=$((served+1))
      elif [ "$version" != "Open USB Device Failure!!!" ]; then
        wrong=$((wrong+1)); echo "    version: $version"
      fi
    done <"$out"
  done
  if [ "$wrong" = 0 ] && [ "$served" -gt $((rounds * 2)) ]; then
    ok "two programs on one reader ($served of $((rounds * 4)) exchanges served)"
  else
    bad "two programs on one reader ($served served, $wrong wrong)"
  fi
else
  bad "two programs on one reader: the reader is not listed"
fi
unserve

echo "$pass passed, $fail failed (USB under wine)"
[ "$fail" = 0 ]
