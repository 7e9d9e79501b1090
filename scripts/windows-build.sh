#!/usr/bin/env bash
# Cross-builds zarn60-tool.exe for 64-bit Windows with mingw-w64 (installing the compiler when
# it is missing) into build-windows/ (warnings are errors; WIN_BUILD_DIR overrides it). The
# window needs Qt for Windows and is left out: the .exe is the headless runner with the
# Win32 HID and serial backends and the in-process simulated reader.
# When wine is installed, the runner examples run under it and are compared with their
# expected output, and a settings file is saved and loaded through the Win32 file code.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${WIN_BUILD_DIR:-$root/build-windows}

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v cmake >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: g++-mingw-w64-x86-64-posix cmake make"
  $sudo apt-get update -o DPkg::Lock::Timeout=120
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=120 g++-mingw-w64-x86-64-posix cmake make
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN60_GUI=OFF -DZARN60_TESTS=OFF -DZARN60_WERROR=ON
cmake --build "$build" -j"$(nproc)"
exe="$build/tools/zarn60-tool.exe"
echo "built $exe"

if ! command -v wine >/dev/null; then
  echo "wine not installed: nothing run (apt-get install wine wine64 to run the examples)"
  exit 0
fi
# A prefix of our own, so that the user's ~/.wine is left alone.
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
wine "$exe" --help >/dev/null 2>&1 || true  # creates the prefix; its chatter is no result

pass=0; fail=0
examples="$root/tests/data/runner-examples"
for s in "$examples"/*.script; do
  n=${s%.script}; flags=$(cat "$n.flags" 2>/dev/null || true)
  # Relative names: wine takes a path from the command line as a Windows path.
  # shellcheck disable=SC2086
  if diff -u "$n.expected" <(cd "$examples" && wine "$exe" --script "$(basename "$s")" $flags \
      2>/dev/null) >"$build/runner-example.diff"; then
    pass=$((pass+1)); echo "ok   $(basename "$n") (wine)"
  else
    fail=$((fail+1)); echo "FAIL $(basename "$n") (wine)"; sed -n '3,40p' "$build/runner-example.diff"
  fi
done

# The settings file: a save replaces a longer file by exactly 56 bytes and leaves no
# temporary file behind, it loads back, and a read-only file is neither saved nor loaded.
dir="$build/settings-check"
rm -rf "$dir" && mkdir -p "$dir"
head -c 100 /dev/zero | tr '\0' 'x' >"$dir/Setup.cfg"
head -c 56 /dev/zero >"$dir/ro.cfg" && chmod 444 "$dir/ro.cfg"
w=$(WINEDEBUG=-all winepath -w "$dir")
got=$(printf '%s\n' "answer save $w\\Setup.cfg" "click 1051" "get 1052" \
  "answer open $w\\Setup.cfg" "click 1041" "get 1052" \
  "answer save $w\\ro.cfg" "click 1051" "get 1052" \
  "answer open $w\\ro.cfg" "click 1041" "get 1052" |
  wine "$exe" --simulate --script - 2>/dev/null | sed -n 's/^ctl 1052 .* text="\(.*\)"$/\1/p')
want=$'Save CFG file Setup.cfg Ok\nLoad setting ok!\nOpen File Error\nOpen Setup.cfg File Error'
files=$(cd "$dir" && ls -A | tr '\n' ' ')
if [ "$got" = "$want" ] && [ "$(stat -c %s "$dir/Setup.cfg")" = 56 ] && [ "$files" = "Setup.cfg ro.cfg " ]; then
  pass=$((pass+1)); echo "ok   settings file (wine)"
else
  fail=$((fail+1)); echo "FAIL settings file (wine)"
  printf 'got:\n%s\nfiles: %s\n' "$got" "$files"
fi
echo "$pass passed, $fail failed under wine"
[ "$fail" = 0 ]
