#!/usr/bin/env bash
# zarn60.exe under Wine against simulated readers: over a COM port that Wine maps to a
# pseudo-terminal served by the native zarn60-sim (by number and by name), and over USB
# through Wine's HID stack (scripts/wine-hid-env.sh). Also files named outside the ANSI code
# page and paths over 260 characters, written and read by zarn60.exe and by zarn60-tool.exe's
# runner; binary standard input and output; exit codes; the standard output check; and the
# pty's line speed back as it was after each program closes the port.
#
#   scripts/wine-cli-check.sh CLI TOOL SIM [WORK]
#     CLI   zarn60.exe, TOOL zarn60-tool.exe (the cross build's build-windows/tools/; its
#           tests/win32/zarn60-file-paths-test.exe is run too)
#     SIM   the native zarn60-sim
#     WORK  a folder of its own, emptied first (default: wine-cli beside CLI's build)
#
# The serial part uses WINEPREFIX when set (scripts/windows-build.sh's), else a prefix in
# WORK; it maps COM12 to its own pseudo-terminal. The USB part needs root and /dev/fuse and
# runs in a private mount namespace with a prefix of its own.
set -euo pipefail

usb_part=0
if [ "${1:-}" = --usb-part ]; then usb_part=1; shift; fi
if [ $# -lt 3 ]; then
  sed -n '2,17p' "$0" >&2
  exit 2
fi
cli=$(realpath -m "$1")
tool=$(realpath -m "$2")
sim=$(realpath -m "$3")
work=${4:-$(dirname "$(dirname "$cli")")/wine-cli}
hid_exe=$tool
# base/win32's own test program, from the same build.
paths_test=$(dirname "$(dirname "$cli")")/tests/win32/zarn60-file-paths-test.exe
# shellcheck source=scripts/wine-hid-env.sh
. "$(dirname "$0")/wine-hid-env.sh"

pass=0; fail=0
ok() { pass=$((pass+1)); echo "ok   $1 (zarn60.exe)"; }
bad() { fail=$((fail+1)); echo "FAIL $1 (zarn60.exe)"; }
expect() {
  local name=$1 got=$2 want=$3
  if [ "$got" = "$want" ]; then ok "$name"
  else bad "$name"; diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | sed 's/^/    /' || true; fi
}
# zarn60.exe ARGS: its standard output, then "exit N"; standard error to $work/err.
z() {
  local status=0
  wine "$cli" "$@" 2>"$work/err" || status=$?
  echo "exit $status"
}
# The first line zarn60.exe wrote to standard error.
zerr() { head -1 "$work/err" | tr -d '\r'; }
# The runner's texts of the test box for a script read from standard input.
runner() {
  wine "$tool" --script - 2>/dev/null | tr -d '\r' | sed -n 's/^ctl 1052 .* text="\(.*\)"$/\1/p'
}
# The Windows form of a Unix path (Wine's drive Z: is /); winepath cuts long paths short.
win() { printf 'Z:%s' "${1//\//\\}"; }
# A folder whose Windows path is over 260 characters.
long_folder() {
  local base=$1 part d
  part=$(printf 'x%.0s' $(seq 60))
  d="$base/$part-1/$part-2/$part-3/$part-4/$part-5"
  mkdir -p "$d"
  echo "$d"
}
# Settings that differ from the factory's in a few fields, the prefix with bytes a text
# stream would change (CR LF, Ctrl-Z).
settings='{"beep": false, "track2_output": false, "prefix_on": true, "prefix": "<CR><LF><SUB>"}'

# --- USB, in the namespace ------------------------------------------------------------------
if [ "$usb_part" = 1 ]; then
  hid_env_setup "$work"
  files="$work/files"
  wfiles=$(winepath -w "$files" 2>/dev/null)
  printf '%s\n' "$settings" >"$files/settings.json"
  serve --reader-version V7.71
  if wine_up; then
    listed=$(wine "$cli" list 2>/dev/null | tr -d '\r' | grep -c $'^usb\t.*\t0801:0005\tinput 9 output 9$' || true)
    expect "list over USB" "$listed" 1
    node=$(wine "$cli" list --json 2>/dev/null | sed -n 's/.*"node": "\(.*\)",*$/\1/p' | head -1)
    expect "version over USB" "$(z version)" $'V7.71\nexit 0'
    expect "version over USB --usb NODE" "$(z version --usb "${node//\\\\/\\}")" $'V7.71\nexit 0'
    expect "apply over USB" "$(z apply "$wfiles\\settings.json" | tail -2)" \
      $'written and verified on USB\nexit 0'
    expect "apply again over USB: nothing to change" "$(z apply "$wfiles\\settings.json" | tail -2)" \
      $'nothing to change on USB\nexit 0'
    got=$(z show --json | tr -d '\r' | grep -E '"(beep|track2_output|prefix_on|prefix)"|^exit')
    expect "show --json over USB" "$got" \
      "$(printf '%s\n' '  "track2_output": false,' '  "prefix_on": true,' \
        '  "prefix": "<CR><LF><SUB>",' '  "beep": false,' 'exit 0')"
    expect "save over USB to a name outside the code page" \
      "$(z save "$wfiles\\读卡器 é.cfg")" "saved USB to $wfiles\\读卡器 é.cfg"$'\nexit 0'
    expect "the saved file" "$(stat -c %s "$files/读卡器 é.cfg" 2>&1)" 56
    expect "the runner loads it" "$(printf '%s\n' "answer open $wfiles\\读卡器 é.cfg" \
      "click IDC_LOAD_FILE" "get IDC_TEST_BOX" "get IDC_BEEP_OFF" | wine "$tool" --script - \
      2>/dev/null | tr -d '\r' | sed -n -E 's/^ctl 1052 .* text="(.*)"$/\1/p;
      s/^ctl [0-9]+ kind=radio .* checked=([01]) .*/checked=\1/p')" $'Load setting ok!\nchecked=1'
  else
    bad "the reader is listed through SetupAPI and HID"
  fi
  unserve
  serve --mode reject
  if wine_up; then
    expect "a refused configuration over USB" "$(z apply "$wfiles\\settings.json" --force | tail -1)
$(zerr)" $'exit 2\nzarn60: USB: the reader refused the configuration'
  else
    bad "the refusing reader is listed"
  fi
  unserve
  wineserver -p
  expect "no reader on USB" "$(z show)
$(zerr)" $'exit 2\nzarn60: USB: no reader found (vendor 0801 or 0802, product 0005)'
  wineserver -k 2>/dev/null || true
  echo "$pass passed, $fail failed (zarn60.exe on USB under wine)"
  [ "$fail" = 0 ]
  exit
fi

# --- The serial port ------------------------------------------------------------------------
for tool_needed in wine wineserver winepath stty; do
  command -v "$tool_needed" >/dev/null || { echo "wine-cli-check: missing $tool_needed" >&2; exit 1; }
done
start=$(date +%s)
rm -rf "$work" && mkdir -p "$work/files"
export WINEPREFIX=${WINEPREFIX:-$work/prefix} WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
card='B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|'
# The folder outlives a run: an old sim.out would show that run's vanished pty until the
# background job below empties it.
rm -f "$work/sim.out" "$work/sim.err"
"$sim" --serial --com 12 --card "$card" --reader-version V3.2 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do grep -qs = "$work/sim.out" && break; sleep 0.1; done
pty=$(sed -n 's/^ZARN60_COM[0-9]*=//p' "$work/sim.out")
[ -n "$pty" ] || { echo "wine-cli-check: zarn60-sim gave no pseudo-terminal" >&2; exit 1; }
# Wine reads its COM ports from the registry when its server starts.
wine "$tool" --version >/dev/null 2>&1 || true
wine_reg_add 'HKLM\Software\Wine\Ports' /v COM12 /d "$pty"
wineserver -k 2>/dev/null || true
wineserver -w

files="$work/files"
wfiles=$(winepath -w "$files" 2>/dev/null)
printf '%s\n' "$settings" >"$files/settings.json"

expect "version --com 12" "$(z version --com 12)" $'V3.2\nexit 0'
expect "version --port \\\\.\\COM12" "$(z version --port '\\.\COM12')" $'V3.2\nexit 0'
expect "apply --com 12" "$(z apply "$wfiles\\settings.json" --com 12 | tail -2)" \
  $'written and verified on COM12 (\\\\.\\COM12)\nexit 0'
got=$(z show --json --port '\\.\COM12' | grep -E '"(beep|track2_output|prefix_on|prefix)"|^exit')
expect "show --json --port" "$got" \
  "$(printf '%s\n' '  "track2_output": false,' '  "prefix_on": true,' \
    '  "prefix": "<CR><LF><SUB>",' '  "beep": false,' 'exit 0')"

# Binary streams: the .cfg to standard output and back from standard input unchanged,
# CR LF and Ctrl-Z included.
wine "$cli" save - --format cfg --com 12 >"$files/stdout.cfg" 2>/dev/null || true
wine "$cli" save "$wfiles\\file.cfg" --com 12 >/dev/null 2>&1 || true
if cmp -s "$files/stdout.cfg" "$files/file.cfg" && [ "$(stat -c %s "$files/stdout.cfg")" = 56 ] &&
   od -An -tx1 "$files/stdout.cfg" | grep -q '0d 0a 1a'; then
  ok "save - writes the 56 bytes as they are"
else
  bad "save - writes the 56 bytes as they are"; od -An -tx1 "$files/stdout.cfg" | sed 's/^/    /'
fi
expect "apply - reads them as they are" \
  "$(z apply - --format cfg --com 12 <"$files/stdout.cfg" | tail -2)" \
  $'nothing to change on COM12 (\\\\.\\COM12)\nexit 0'
got=$(printf '%s' "$settings" | wine "$cli" encode - --output - 2>/dev/null | od -An -v -tx1 |
  tr -s ' \n' ' ')
expect "encode - to - writes 56 bytes as they are" \
  "$(echo "$got" | wc -w) $(echo "$got" | grep -c ' 0d 0a 1a ')" "56 1"

# File names outside the code page and paths over 260 characters: base/win32 itself
# (tests/win32/file_paths_test.cpp), then both programs.
mkdir -p "$work/paths"
if wine "$paths_test" "$(win "$work/paths")" >"$work/paths.log" 2>&1; then
  ok "file paths ($(grep -c '^ok' "$work/paths.log") cases)"
else
  bad "file paths"; grep -v '^ok' "$work/paths.log" | sed 's/^/    /'
fi
# File names outside the code page and paths over 260 characters, both programs.
long=$(long_folder "$files")
wlong=$(win "$long")
expect "the long folder's Windows path is over 260 characters" \
  "$([ "${#wlong}" -gt 260 ] && echo yes)" yes
name='读卡器 é.cfg'
expect "save to a name outside the code page" "$(z save "$wfiles\\$name" --com 12)" \
  "saved COM12 (\\\\.\\COM12) to $wfiles\\$name"$'\nexit 0'
expect "save to a path over 260 characters" \
  "$(z save "$wlong\\$name" --port '\\.\COM12' | tail -1)" "exit 0"
expect "save to a path over 260 characters (JSON)" \
  "$(z save "$wlong\\reader.json" --com 12 | tail -1)" "exit 0"
if cmp -s "$files/$name" "$files/file.cfg" && cmp -s "$long/$name" "$files/file.cfg"; then
  ok "both files hold the reader's 56 bytes"
else
  bad "both files hold the reader's 56 bytes"; find "$files" -type f | sed 's/^/    /'
fi
expect "apply from a path over 260 characters" \
  "$(z apply "$wlong\\reader.json" --com 12 | tail -2)" \
  $'nothing to change on COM12 (\\\\.\\COM12)\nexit 0'
expect "diff of the two files" "$(z diff "$wfiles\\$name" "$wlong\\reader.json" --exit-code)" \
  $'no differences\nexit 0'
# Replacing an existing long-path file goes through a sibling and ReplaceFile.
expect "save over it again" "$(z save "$wlong\\$name" --com 12 | tail -1)" "exit 0"
leftover=$(find "$long" -name '.zarn60-*' | wc -l)
expect "no temporary file left" "$leftover" 0

# The runner: serial mode on COM12, the same names.
serial='click IDC_SERIAL_PORT
type IDC_COM 12
click IDC_OPEN'
got=$(printf '%s\n' "$serial" "answer save $wlong\\runner $name" "click IDC_SAVE_FILE" \
  "get IDC_TEST_BOX" "answer open $wlong\\$name" "click IDC_LOAD_FILE" "get IDC_TEST_BOX" \
  "answer save $wfiles\\runner $name" "click IDC_SAVE_FILE" "get IDC_TEST_BOX" | runner)
expect "the runner saves and loads the same names" "$got" \
  $'Save CFG file Setup.cfg Ok\nLoad setting ok!\nSave CFG file Setup.cfg Ok'
if cmp -s "$long/runner $name" "$files/file.cfg" && cmp -s "$files/runner $name" "$files/file.cfg"; then
  ok "the runner's files hold the reader's 56 bytes"
else
  bad "the runner's files hold the reader's 56 bytes"
fi
expect "zarn60.exe reads the runner's file" \
  "$(z diff "$wlong\\runner $name" "$wfiles\\$name" --exit-code)" $'no differences\nexit 0'

# Exit codes and messages as on Linux.
expect "a COM number out of range" "$(z show --com 201)
$(zerr)" $'exit 1\nzarn60: --com 201: COM numbers go from 1 to 200'
expect "a port that does not exist" "$(z show --com 13)
$(zerr | sed 's/\(cannot open the port\).*/\1/')" \
  $'exit 2\nzarn60: COM13 (\\\\.\\COM13): cannot open the port'
expect "a missing file" "$(z apply "$wfiles\\none.cfg" --com 12)
$(zerr)" "exit 3
zarn60: $wfiles\\none.cfg: cannot read: no such file"
expect "a folder" "$(z apply "$wlong" --com 12 --format cfg)
$(zerr)" "exit 3
zarn60: $wlong: cannot read: is a folder"
expect "a device name" "$(z apply "$wfiles\\COM1.cfg" --com 12)
$(zerr)" "exit 3
zarn60: $wfiles\\COM1.cfg: cannot read: not a regular file"

# The standard output check: a full disk fails, a closed pipe ends quietly.
status=0
wine "$cli" schema >/dev/full 2>"$work/err" || status=$?
expect "standard output on a full disk" "$status $(zerr)" \
  "3 zarn60: cannot write to standard output: No space left on device"
{ status=0; wine "$cli" show --com 12 2>"$work/err" || status=$?; echo "$status" >"$work/status"; } | true
expect "standard output closed early" "$(cat "$work/status") $(wc -c <"$work/err")" "141 0"

# The line settings the port had are back once each program closes it.
# (A pseudo-terminal takes a line speed but no other character size or parity.)
stty -F "$pty" 19200
wine "$cli" version --com 12 >"$work/cli-version" 2>&1 || true
after_cli=$(stty -F "$pty" speed)
printf '%s\n' "$serial" "click IDC_GET_VERSION" "wait 1500" "get IDC_TEST_BOX" | runner >"$work/runner-version" || true
after_tool=$(stty -F "$pty" speed)
expect "the line speed back after zarn60.exe and zarn60-tool.exe close the port" \
  "$(tr -d '\r' <"$work/cli-version") $after_cli $(cat "$work/runner-version") $after_tool" \
  "V3.2 19200 V3.2 19200"
stty -F "$pty" 9600

cleanup; sim_pid=""
wineserver -k 2>/dev/null || true
echo "$pass passed, $fail failed (zarn60.exe on a COM port under wine, $(($(date +%s) - start)) s)"
serial_fail=$fail

# --- USB ------------------------------------------------------------------------------------
usb_status=0
(WINEPREFIX='' hid_env_enter --usb-part "$cli" "$tool" "$sim" "$work/usb") || usb_status=$?
[ "$serial_fail" = 0 ] && [ "$usb_status" = 0 ]
