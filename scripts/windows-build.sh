#!/usr/bin/env bash
# Cross-builds zarn60-tool.exe and zarn60.exe for 64-bit Windows with mingw-w64 (installing
# the compiler when missing) into build-windows/ (warnings are errors; WIN_BUILD_DIR overrides
# it), then packs them: zarn60-tool-<version>-win64.zip and, with makensis, the installer
# zarn60-tool-<version>-win64-setup.exe, both in build-windows/dist/.
#
#   scripts/windows-build.sh          build and pack; when wine is installed, also run the
#                                     headless checks under it (skipped with a note if not)
#   scripts/windows-build.sh --test   build, pack and run every check under wine, the window's
#                                     included (on Xvfb); fails when any tool for that is
#                                     missing (wine, Xvfb, makensis, ImageMagick's import)
# ZARN60_WIN_TEST=1 in the environment is the same as --test.
#
# Under wine: the runner examples byte for byte, the settings file through the Win32 file
# code, the window's test program, the serial backend against a pseudo-terminal served by
# zarn60-sim (built natively for that), zarn60.exe (scripts/wine-cli-check.sh), the installer
# installing and uninstalling, the start-up bench and a screenshot of the window (build-windows/artifacts/window.png).
set -euo pipefail
# A step that fails without a word of its own still says where it stopped.
trap 'echo "windows-build.sh: line $LINENO failed (exit $?): $BASH_COMMAND" >&2' ERR
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/wine-reg.sh
. scripts/wine-reg.sh
build=${WIN_BUILD_DIR:-$root/build-windows}
test=${ZARN60_WIN_TEST:-0}
for a in "$@"; do
  case $a in
    --test) test=1 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "windows-build.sh: unknown option $a" >&2; exit 2 ;;
  esac
done

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v cmake >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: g++-mingw-w64-x86-64-posix cmake make"
  $sudo apt-get update -o DPkg::Lock::Timeout=120
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=120 g++-mingw-w64-x86-64-posix cmake make
fi

if [ "$test" = 1 ]; then
  missing=""
  for tool in wine Xvfb makensis import xwininfo; do
    command -v "$tool" >/dev/null || missing="$missing $tool"
  done
  if [ -n "$missing" ]; then
    echo "windows-build.sh --test: cannot test, missing:$missing" >&2
    echo "  (Debian: apt-get install wine wine64 xvfb nsis imagemagick x11-utils)" >&2
    exit 1
  fi
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN60_GUI=OFF -DZARN60_TESTS=ON -DZARN60_WERROR=ON \
  "${launcher[@]}"
cmake --build "$build" -j"$(nproc)"
exe="$build/tools/zarn60-tool.exe"
echo "built $exe"

# --- Packing -----------------------------------------------------------------------------
version=$(sed -n 's/^project(zarn60_tools VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist="$build/dist"
name="zarn60-tool-$version-win64"
rm -rf "$dist" && mkdir -p "$dist/$name"
x86_64-w64-mingw32-strip -o "$dist/$name/zarn60-tool.exe" "$exe"
x86_64-w64-mingw32-strip -o "$dist/$name/zarn60.exe" "$build/tools/zarn60.exe"
cp README.md "$dist/$name/README.md"
(cd "$dist" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "packed $dist/$name.zip"
installer=""
if command -v makensis >/dev/null; then
  installer="$dist/$name-setup.exe"
  makensis -V2 -DVERSION="$version" -DEXE="$dist/$name/zarn60-tool.exe" -DCLI="$dist/$name/zarn60.exe" \
    -DICON="$root/res/win32/zarn60-tool.ico" -DOUTFILE="$installer" \
    "$root/installer/zarn60-tool.nsi"
  echo "packed $installer"
else
  echo "makensis not installed: no installer (apt-get install nsis)"
fi
echo "sizes: zarn60-tool.exe $(stat -c %s "$dist/$name/zarn60-tool.exe") bytes," \
  "zip $(stat -c %s "$dist/$name.zip") bytes${installer:+, installer $(stat -c %s "$installer") bytes}"

if ! command -v wine >/dev/null; then
  echo "wine not installed: nothing run (apt-get install wine wine64 to run the checks)"
  exit 0
fi

# --- Under wine ----------------------------------------------------------------------------
# A prefix of our own, so that the user's ~/.wine is left alone.
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  sleep 0.5
  # A reader blocked writing to a pty nobody reads may outlive its TERM.
  for p in "${pids[@]}"; do if kill -0 "$p" 2>/dev/null; then kill -KILL "$p" 2>/dev/null || true; fi; done
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
pass=0; fail=0
ok() { pass=$((pass+1)); echo "ok   $1 (wine)"; }
bad() { fail=$((fail+1)); echo "FAIL $1 (wine)"; }

# The serial readers on pseudo-terminals must be known to wine before it starts: its COM
# ports are read from the registry when the server comes up.
if [ "$test" = 1 ]; then
  # A display of our own, there before wine first starts: wine takes the screen's size
  # from the display it comes up with.
  display=""
  for n in $(seq 41 60); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  if [ ! -e "/tmp/.X11-unix/X${display#:}" ]; then
    echo "windows-build.sh --test: Xvfb did not start on $display" >&2
    exit 1
  fi
  export DISPLAY=$display
  wineserver -k 2>/dev/null || true  # a server from an earlier run without this display
  native="$build/native"
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN60_GUI=OFF \
    -DZARN60_TESTS=OFF "${launcher[@]}" >/dev/null
  cmake --build "$native" -j"$(nproc)" --target zarn60-sim >/dev/null
  card='B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|'
  # Each reader serves COM n on a new pty and prints the pty's path. The files are removed
  # first: the background job empties them only when it gets to it, and a file left by an
  # earlier run would show that run's vanished pty.
  rm -f "$build/sim7.out" "$build/sim8.out"
  "$native/tools/zarn60-sim" --serial --com 7 --card "$card" >"$build/sim7.out" 2>/dev/null &
  pids+=($!)
  "$native/tools/zarn60-sim" --serial --com 8 --card "$card" --swipe-every 400 \
    >"$build/sim8.out" 2>/dev/null &
  pids+=($!)
  pty_of() {
    for _ in $(seq 50); do grep -qs = "$1" && break; sleep 0.1; done
    sed -n 's/^ZARN60_COM[0-9]*=//p' "$1" 2>/dev/null || true
  }
  pty7=$(pty_of "$build/sim7.out")
  pty8=$(pty_of "$build/sim8.out")
  if [ -z "$pty7" ] || [ -z "$pty8" ]; then
    echo "windows-build.sh --test: zarn60-sim gave no pseudo-terminal" >&2
    exit 1
  fi
fi
# Creates the prefix (its chatter is no result), without offering to download .NET or
# HTML engines, which nothing here needs.
WINEDLLOVERRIDES="mscoree,mshtml=" wine "$exe" --help >/dev/null 2>&1 || true
if [ "$test" = 1 ]; then
  wine_reg_add 'HKLM\Software\Wine\Ports' /v COM7 /d "$pty7"
  wine_reg_add 'HKLM\Software\Wine\Ports' /v COM8 /d "$pty8"
  # No window manager on Xvfb: wine draws the windows' frames itself, so the screenshot
  # shows the caption, the icon and the close box.
  wine_reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
  # The system menu's Chinese About item: the menu face links to a host CJK face, as the
  # platform links its UI faces to the Chinese ones.
  for face in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
    wine_reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei'
  done
  wineserver -k 2>/dev/null || true
  wineserver -w
fi

examples="$root/tests/data/runner-examples"
for s in "$examples"/*.script; do
  n=${s%.script}; flags=$(cat "$n.flags" 2>/dev/null || true)
  # Relative names: wine takes a path from the command line as a Windows path.
  # shellcheck disable=SC2086
  if diff -u "$n.expected" <(cd "$examples" && wine "$exe" --script "$(basename "$s")" $flags \
      2>/dev/null) >"$build/runner-example.diff"; then
    ok "$(basename "$n")"
  else
    bad "$(basename "$n")"; sed -n '3,40p' "$build/runner-example.diff"
  fi
done

# The settings file: a save replaces a longer file by exactly 56 bytes and leaves no
# temporary file behind, it loads back, and a read-only file is neither saved nor loaded.
dir="$build/settings-check"
rm -rf "$dir" && mkdir -p "$dir"
head -c 100 /dev/zero | tr '\0' 'x' >"$dir/Setup.cfg"
head -c 56 /dev/zero >"$dir/ro.cfg" && chmod 444 "$dir/ro.cfg"
w=$(winepath -w "$dir")
got=$(printf '%s\n' "answer save $w\\Setup.cfg" "click 1051" "get 1052" \
  "answer open $w\\Setup.cfg" "click 1041" "get 1052" \
  "answer save $w\\ro.cfg" "click 1051" "get 1052" \
  "answer open $w\\ro.cfg" "click 1041" "get 1052" |
  wine "$exe" --simulate --script - 2>/dev/null | sed -n 's/^ctl 1052 .* text="\(.*\)"$/\1/p')
want=$'Save CFG file Setup.cfg Ok\nLoad setting ok!\nOpen File Error\nOpen Setup.cfg File Error'
files=$(cd "$dir" && ls -A | tr '\n' ' ')
if [ "$got" = "$want" ] && [ "$(stat -c %s "$dir/Setup.cfg")" = 56 ] && [ "$files" = "Setup.cfg ro.cfg " ]; then
  ok "settings file"
else
  bad "settings file"
  printf 'got:\n%s\nfiles: %s\n' "$got" "$files"
fi

if [ "$test" = 1 ]; then
  # The serial backend end to end: download, upload and the receive poll over a real
  # pseudo-terminal, every byte of the swiped card arriving.
  got=$(printf '%s\n' "click 1061" "type 1050 7" "click 1055" "click 1013" "get 1052" \
    "click 1053" "click 1040" "get 1052" | wine "$exe" --script - 2>/dev/null |
    sed -n 's/^ctl 1052 .* text="\(.*\)"$/\1/p')
  if [ "$got" = $'Setup ok\nGet Setting Ok' ]; then ok "serial download and upload on a pty"
  else bad "serial download and upload on a pty"; printf 'got:\n%s\n' "$got"; fi
  got=$(printf '%s\n' "click 1061" "type 1050 8" "click 1055" "wait 6000" "get 1052" |
    wine "$exe" --script - 2>/dev/null | sed -n 's/^ctl 1052 .* text="\(.*\)"$/\1/p')
  if [[ $got == *'%B4111111111111111^DOE/JOHN^2912101?'* && $got == *';4111111111111111=2912101?'* ]]; then
    ok "serial receive poll on a pty"
  else bad "serial receive poll on a pty"; printf 'got: %s\n' "$got"; fi

  # The window, on the display of our own started above, with real keys and clicks, once
  # in each of two ANSI code pages: 1252 and 936 (Chinese, two-byte characters). Wine takes
  # the code page from the locale; the locales are made here when the system lacks them.
  locales="$build/locale"
  mkdir -p "$locales"
  for loc in en_US zh_CN; do
    [ -d "$locales/$loc.UTF-8" ] || localedef -i "$loc" -f UTF-8 "$locales/$loc.UTF-8" 2>/dev/null || true
  done
  for loc in en_US zh_CN; do
    cp=$( [ "$loc" = zh_CN ] && echo 936 || echo 1252 )
    if LOCPATH="$locales" LANG="$loc.UTF-8" LC_ALL="$loc.UTF-8" timeout 300 \
        wine "$build/tests/win32/zarn60-window-test.exe" 2>/dev/null >"$build/window-test-$cp.log" &&
       tr -d '\r' <"$build/window-test-$cp.log" | grep -qx "code page $cp"; then
      ok "window, code page $cp"
    else
      bad "window, code page $cp"; grep -E '^(FAIL|code page)' "$build/window-test-$cp.log" | head -20
    fi
    tail -1 "$build/window-test-$cp.log"
  done
  wine "$build/tests/win32/zarn60-window-test.exe" --bench 5 --simulate 2>/dev/null || true

  # A screenshot of the window on the simulated reader.
  mkdir -p "$build/artifacts"
  wine "$exe" --simulate >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 60); do
    xwininfo -root -children 2>/dev/null | grep -q '"ZARN TOOLS V' && break
    sleep 0.5
  done
  sleep 3  # its first paint
  import -window root "$build/artifacts/window.png"
  if command -v xdotool >/dev/null; then
    xdotool key alt+space && sleep 1.5
    import -window root "$build/artifacts/window-system-menu.png"
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w
  if [ -s "$build/artifacts/window.png" ]; then ok "screenshot $build/artifacts/window.png"
  else bad "screenshot"; fi

  # zarn60.exe against a COM port and USB readers (scripts/wine-cli-check.sh).
  if bash scripts/wine-cli-check.sh "$build/tools/zarn60.exe" "$exe" "$native/tools/zarn60-sim" \
      "$build/wine-cli"; then ok "zarn60.exe"; else bad "zarn60.exe"; fi

  # The installer: a silent install (with /PATH: the folder on PATH) puts both programs and
  # the Start-menu entry in place, the installed programs run, and the uninstaller takes
  # everything away again, the PATH entry included.
  wine "$installer" /S /PATH 2>/dev/null
  progs=$(winepath -u 'C:\Program Files\ZARN TOOLS' 2>/dev/null)
  menu=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\ZARN TOOLS' 2>/dev/null)
  listed=$(wine "$progs/zarn60-tool.exe" --list-ports 2>/dev/null | grep -c '^COM' || true)
  on_path=$(wine cmd /c 'zarn60 --version' 2>/dev/null | tr -d '\r')
  if [ -f "$progs/zarn60-tool.exe" ] && [ -f "$menu/ZARN TOOLS.lnk" ] && [ "$listed" -gt 0 ] &&
     [ "$on_path" = "zarn60 $version" ]; then
    # The uninstaller runs from a copy of itself: wait for it to end.
    wine "$progs/uninstall.exe" /S 2>/dev/null || true
    wineserver -w
    if [ ! -e "$progs/zarn60-tool.exe" ] && [ ! -e "$menu" ] &&
       ! wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' \
         /v Path 2>/dev/null | grep -qi 'ZARN TOOLS'; then ok "installer and uninstaller"
    else bad "uninstaller"; fi
  else
    bad "installer (zarn60 on PATH: $on_path)"; ls -la "$progs" "$menu" 2>&1 | head
  fi
fi

echo "$pass passed, $fail failed under wine"
[ "$fail" = 0 ]
