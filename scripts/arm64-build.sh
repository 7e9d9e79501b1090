#!/usr/bin/env bash
# Cross-builds the whole tree for arm64 (aarch64: a Raspberry Pi 3/4/5 or another arm64 board
# with a Debian-based system) with Debian's g++-aarch64-linux-gnu and the :arm64 multiarch dev
# packages into build-arm64/ (ARM64_BUILD_DIR overrides it; warnings are errors), then makes
# the package build-arm64/zarn60-tools_<version>_arm64.deb and checks it with lintian.
# Installs what is missing first (adding arm64 to dpkg's architectures when needed).
#
#   scripts/arm64-build.sh          build and package
#   scripts/arm64-build.sh --test   the same, then under qemu-user (qemu-aarch64-static):
#     - every ctest entry of the arm64 build (test programs start the arm64 programs
#       through the emulator too)
#     - arm64 against amd64, output for output and byte for byte: the runner examples,
#       the .cfg images zarn60 and the window write, the bytes a card swipe gives, and
#       zarn60 apply, show and save and the window's download and upload against a native
#       zarn60-sim on a pseudo-terminal
#     - the package: its file list equals the amd64 package's, its dependencies resolve
#       for arm64, the programs of its extracted tree run, and its window shows on Xvfb
#       (build-arm64/check/window.png; skipped with a note without Xvfb)
# The amd64 side is the native build in build/ (ARM64_NATIVE_BUILD overrides it): configured
# and built when missing, its package made anew with cpack.
# ZARN60_ARM64_TEST=1 in the environment is the same as --test.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ARM64_BUILD_DIR:-$root/build-arm64}
native=${ARM64_NATIVE_BUILD:-$root/build}
test=${ZARN60_ARM64_TEST:-0}
for a in "$@"; do
  case $a in
    --test) test=1 ;;
    -h|--help) sed -n '2,21p' "$0"; exit 0 ;;
    *) echo "arm64-build.sh: unknown option $a" >&2; exit 2 ;;
  esac
done
start=$SECONDS
phase() { echo "arm64-build.sh: $1 ($((SECONDS - start)) s so far)"; }

# --- What the build needs ------------------------------------------------------------------
# The amd64 packages first (Qt's moc, uic and rcc, and the host Qt CMake files that point
# at them, come from qt6-base-dev:amd64), then the cross compiler, qemu-user and the arm64
# libraries. All of them install side by side with the amd64 ones (Multi-Arch: same).
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
bash scripts/deps.sh --package
arm64_pkgs=(g++-aarch64-linux-gnu qemu-user-static libc6-dev:arm64 libstdc++6:arm64
            libgtest-dev:arm64 libgmock-dev:arm64 libfuse3-dev:arm64 qt6-base-dev:arm64
            libgl-dev:arm64)
update=0
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "adding the arm64 architecture to dpkg"
  $sudo dpkg --add-architecture arm64
  update=1
fi
missing=()
for p in "${arm64_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  update=1
fi
if [ "$update" = 1 ]; then
  $sudo apt-get update -o DPkg::Lock::Timeout=120
fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=120 "${missing[@]}"
fi
qemu=$(command -v qemu-aarch64-static)
phase "packages in place"

# --- The arm64 build and its package -------------------------------------------------------
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The page is the same on every architecture: the amd64 build's copy when it has one (made
# by scripts/package.sh), else built here when emscripten is present, else none in either.
site=""
[ -f "$native/CMakeCache.txt" ] && site=$(sed -n 's/^ZARN60_WEB_SITE:PATH=//p' "$native/CMakeCache.txt")
if [ -z "$site" ] || [ ! -f "$site/index.html" ]; then
  site=""
  if command -v emcmake >/dev/null; then
    site=$build/web-site
    bash scripts/web-build.sh "$site"
  fi
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN60_WERROR=ON -DZARN60_WEB_SITE="$site" "${launcher[@]}"
# CMake goes on without the window when Qt is missing; here that is a failure.
[ -d "$build/gui" ] ||
  { echo "arm64-build.sh: the arm64 build has no window (Qt6 Widgets for arm64 not found)" >&2; exit 1; }
cmake --build "$build" -j"$(nproc)"
phase "built $build"

rm -f "$build"/zarn60-tools_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/zarn60-tools_*_arm64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "arm64-build.sh: cpack made no single arm64 package" >&2; exit 1; }
deb=${debs[0]}
# Errors and warnings fail (the amd64 package has neither); README.md lists the notes.
rc=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || rc=$?
printf '%s\n' "$report" | grep -v '^running with root privileges' || true
[ "$rc" -eq 0 ] || { echo "arm64-build.sh: lintian reports errors or warnings" >&2; exit 1; }
phase "packed $deb"

[ "$test" = 1 ] || exit 0

# --- Under qemu-user -----------------------------------------------------------------------
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 600)
phase "ctest under qemu-user done"

# The amd64 side, for the comparisons below.
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN60_WERROR=ON "${launcher[@]}"
fi
cmake "$native" -DZARN60_WEB_SITE="$site" >/dev/null
cmake --build "$native" -j"$(nproc)" --target zarn60-tool zarn60-sim zarn60 zarn60-icon \
  zarn60-man zarn60-changelog
# Packed anew, so that the comparison is with what the same sources give.
rm -f "$native"/zarn60-tools_*.deb
(cd "$native" && cpack -G DEB >/dev/null)
amd64_debs=("$native"/zarn60-tools_*_amd64.deb)
[ -f "${amd64_debs[0]}" ] || { echo "arm64-build.sh: no amd64 package in $native" >&2; exit 1; }
amd64_deb=${amd64_debs[0]}

# The transcripts and files of the checks stay in build-arm64/check for a look afterwards.
work=$build/check
rm -rf "$work" && mkdir -p "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
pass=0; fail=0
ok() { pass=$((pass+1)); echo "ok   $1"; }
bad() { fail=$((fail+1)); echo "FAIL $1"; }
# same NAME A B: the two files hold the same bytes (a diff of the first lines if not).
same() {
  if cmp -s "$2" "$3"; then ok "$1"; else bad "$1"; diff -u "$2" "$3" | sed -n '3,30p'; fi
}

# The programs of each architecture by one name: run/<arch>/<program>.
for arch in amd64 arm64; do mkdir -p "$work/run/$arch"; done
for p in zarn60 zarn60-tool zarn60-sim; do
  ln -s "$native/tools/$p" "$work/run/amd64/$p"
  printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$qemu" "$build/tools/$p" >"$work/run/arm64/$p"
  chmod +x "$work/run/arm64/$p"
done

# A native simulated reader on a fresh pseudo-terminal: its path in $port. Each start
# prints into a file of its own: the background job opens (and empties) it when it gets
# to it, and a shared file could still show the previous simulator's vanished pty then.
sims=0
start_sim() {
  sims=$((sims + 1))
  local out="$work/sim-$sims.out"
  "$native/tools/zarn60-sim" --serial "$@" >"$out" 2>/dev/null &
  pids+=($!)
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/^ZARN60_COM[0-9]*=//p' "$out" 2>/dev/null | head -n 1)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "arm64-build.sh: zarn60-sim gave no pseudo-terminal" >&2; exit 1; }
}
# Stops the process started last.
stop_last() {
  local last=$((${#pids[@]} - 1))
  kill "${pids[$last]}" 2>/dev/null || true
  wait "${pids[$last]}" 2>/dev/null || true
  unset "pids[$last]"
}

config=$root/examples/ansible/reader.json
card='B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|'
# t NAME COMMAND...: the command's output and exit status, under a heading.
t() {
  local name=$1; shift
  echo "== $name"
  "$@" 2>&1 && echo "exit 0" || echo "exit $?"
}
for arch in amd64 arm64; do
  bin=$work/run/$arch
  out=$work/$arch
  mkdir -p "$out"
  {
    # Offline: the JSON document to the 56-byte image and back, and the bytes a swipe gives.
    t encode "$bin/zarn60" encode "$config" -o "$out/encoded.cfg"
    t decode "$bin/zarn60" decode --json "$out/encoded.cfg"
    t preview "$bin/zarn60" preview "$config" --track1 'B4111111111111111^DOE/JOHN^2912101' \
      --track2 '4111111111111111=2912101' --hex
    # Against the native simulated reader on a pty: apply writes, a second apply has
    # nothing to do, show and save read back.
    start_sim
    t apply "$bin/zarn60" apply "$config" --port "$port" --json
    t apply-again "$bin/zarn60" apply "$config" --port "$port" --json
    t show "$bin/zarn60" show --port "$port" --raw
    t save "$bin/zarn60" save "$out/saved.cfg" --port "$port"
    t version "$bin/zarn60" version --port "$port"
    t factory "$bin/zarn60" factory --port "$port"
    t show-factory "$bin/zarn60" show --port "$port" --raw
    stop_last
    # The card the reader holds, as zarn60 asks for it (one answer, no timed swipes).
    start_sim --card "$card"
    t read-card "$bin/zarn60" read-card --port "$port" --timeout 20
    stop_last
    # The window's dialog over the same kind of line: download, upload and the settings
    # file it saves.
    start_sim
    t window-serial env ZARN60_COM3="$port" "$bin/zarn60-tool" --script - <<EOF
click 1061
type 1050 3
click 1055
click 1013
get 1052
click 1053
click 1040
get 1052
answer save $out/window.cfg
click 1051
get 1052
EOF
    stop_last
  } >"$out/transcript" 2>&1
  # The paths differ between the two runs; the transcripts name the folder as OUT.
  sed -i "s|$out|OUT|g" "$out/transcript"
done
same "zarn60 and the window against zarn60-sim on a pty, arm64 = amd64" \
  "$work/amd64/transcript" "$work/arm64/transcript"
for f in encoded.cfg saved.cfg window.cfg; do
  if [ -s "$work/amd64/$f" ]; then same "$f, arm64 = amd64" "$work/amd64/$f" "$work/arm64/$f"
  else bad "$f was not written"; fi
done
# The transcript must show the work done, not only the same failure twice.
# (The window names every saved file Setup.cfg in its message, whatever it was called.)
for want in '{"changed":true' '{"changed":false' 'Setup ok' 'Get Setting Ok' \
            'Save CFG file Setup.cfg Ok' 'factory configuration written and verified' \
            'text: %B4111111111111111^DOE/JOHN^2912101?'; do
  if grep -qF -- "$want" "$work/arm64/transcript"; then ok "arm64 transcript shows $want"
  else bad "arm64 transcript lacks $want"; fi
done

# The runner examples, each architecture against the same pinned output.
for arch in amd64 arm64; do
  if bash tests/data/runner-examples/check "$work/run/$arch/zarn60-tool" >"$work/examples-$arch"
  then ok "runner examples ($arch)"; else bad "runner examples ($arch)"; cat "$work/examples-$arch"; fi
done
phase "arm64 against amd64 done"

# --- The package ---------------------------------------------------------------------------
# The same files, modes and owners as the amd64 package (sizes and dates differ).
listing() { dpkg-deb -c "$1" | awk '{print $1, $2, $6, $7, $8}' | sed 's/ *$//' | sort; }
listing "$amd64_deb" >"$work/amd64.list"
listing "$deb" >"$work/arm64.list"
grep -q ' ./usr/bin/zarn60$' "$work/amd64.list" ||
  bad "the amd64 package $(basename "$amd64_deb") has no /usr/bin/zarn60"
same "package contents: $(basename "$deb") = $(basename "$amd64_deb")" \
  "$work/amd64.list" "$work/arm64.list"
[ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] && ok "package architecture arm64" ||
  bad "package architecture $(dpkg-deb -f "$deb" Architecture)"
echo "Depends (arm64): $(dpkg-deb -f "$deb" Depends)"
# Every dependency resolves for arm64 (a simulated install: nothing on this machine changes).
if (cd "$(dirname "$deb")" && apt-get install -s --no-install-recommends \
    "./$(basename "$deb")" >"$work/apt-sim" 2>&1); then
  ok "package dependencies resolve for arm64"
else
  bad "package dependencies"; tail -n 20 "$work/apt-sim"
fi
# The extracted tree: arm64 programs that run under qemu-user with the installed names.
tree=$work/tree
dpkg-deb -x "$deb" "$tree"
for p in zarn60 zarn60-tool zarn60-sim; do
  # e_machine 0xb7: AArch64.
  if [ "$(od -An -tx1 -j18 -N2 "$tree/usr/bin/$p" | tr -d ' ')" = b700 ]; then
    ok "/usr/bin/$p is an AArch64 program"
  else
    bad "/usr/bin/$p is not an AArch64 program"
  fi
  if v=$("$qemu" "$tree/usr/bin/$p" --version 2>&1) && [ -n "$v" ]; then
    ok "/usr/bin/$p --version under qemu: $v"
  else
    bad "/usr/bin/$p --version under qemu: $v"
  fi
done
printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$qemu" "$tree/usr/bin/zarn60-tool" >"$work/installed-tool"
chmod +x "$work/installed-tool"
if bash tests/data/runner-examples/check "$work/installed-tool" >"$work/examples-installed"
then ok "runner examples with the packaged zarn60-tool"
else bad "runner examples with the packaged zarn60-tool"; cat "$work/examples-installed"; fi
# The packaged window on a display of its own (Xvfb, with the arm64 xcb platform plugin),
# kept as a screenshot: build-arm64/check/window.png.
if command -v Xvfb >/dev/null && command -v xwininfo >/dev/null && command -v import >/dev/null; then
  display=""
  for n in $(seq 61 80); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  DISPLAY=$display "$work/installed-tool" --simulate >"$work/window.log" 2>&1 &
  pids+=($!)
  shown=0
  for _ in $(seq 120); do
    if DISPLAY=$display xwininfo -root -children 2>/dev/null | grep -q '"ZARN TOOLS V'; then
      shown=1; break
    fi
    sleep 0.5
  done
  if [ "$shown" = 1 ]; then
    sleep 2  # its first paint
    DISPLAY=$display import -window root "$work/window.png"
    ok "the packaged window shows on X under qemu ($work/window.png)"
  else
    bad "the packaged window did not show on X under qemu"; cat "$work/window.log"
  fi
  stop_last  # the window, then the display: the last two started
  stop_last
else
  echo "Xvfb, xwininfo or import missing: the window was not shown" \
    "(Debian: xvfb x11-utils imagemagick)"
fi
phase "package checked"

echo "$pass passed, $fail failed"
[ "$fail" = 0 ]
