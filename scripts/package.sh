#!/usr/bin/env bash
# package.sh [BUILD_DIR]: builds the Debian package from a configured build folder (default
# build/), checks it with lintian (errors fail), installs it with apt-get, runs the
# installed programs from /usr/bin (--version, the runner examples), then removes it. The
# package carries the page (scripts/web-build.sh, built here into BUILD_DIR/web-site/),
# which is also written as BUILD_DIR/zarn60-tools-web_<version>.zip for hosting elsewhere.
# Needs root or sudo for apt-get. Fails on the first error.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || { echo "package.sh: $build is not a configured build folder" >&2; exit 2; }
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
bash scripts/deps.sh --package

# The page: built into the build folder and installed from there with the rest.
site=$(realpath -m "$build/web-site")
bash scripts/web-build.sh "$site"  # an incremental build after .ci/run's own
cmake "$build" -DZARN60_WEB_SITE="$site" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
zip="$(realpath "$build")/zarn60-tools-web_${version}.zip"
rm -f "$zip"
(cd "$site" && cmake -E tar cf "$zip" --format=zip index.html zarn60-tool.js zarn60-tool.wasm zarn60-tool.png)
echo "package: $zip"

cmake --build "$build" -j"$(nproc)" --target zarn60-tool zarn60-sim zarn60 zarn60-icon zarn60-man zarn60-changelog
rm -f "$build"/zarn60-tools_*.deb
(cd "$build" && cpack -G DEB)
# One package, for the machine the build folder's compiler targets (amd64, or arm64 on a
# Raspberry Pi; scripts/arm64-build.sh packs and checks the cross build).
debs=("$build"/zarn60-tools_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package.sh: cpack made no single package" >&2; exit 1; }
deb=$(realpath "${debs[0]}")
echo "package: $deb"

# Errors fail; warnings are printed (README.md lists those that remain and why).
rc=0
report=$(lintian --fail-on error "$deb" 2>&1) || rc=$?
printf '%s\n' "$report" | grep -v '^running with root privileges' || true
[ "$rc" -eq 0 ] || { echo "package.sh: lintian reports errors" >&2; exit 1; }

installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y --purge -o DPkg::Lock::Timeout=120 zarn60-tools >/dev/null
  fi
}
trap cleanup EXIT
# apt-get needs a path (./...) to take a file rather than a package name.
(cd "$(dirname "$deb")" && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y \
  --no-install-recommends -o DPkg::Lock::Timeout=120 "./$(basename "$deb")")
installed=1

[ "$(command -v zarn60-tool)" = /usr/bin/zarn60-tool ] || { echo "package.sh: zarn60-tool is not /usr/bin/zarn60-tool" >&2; exit 1; }
/usr/bin/zarn60-tool --version
/usr/bin/zarn60-sim --version
bash tests/data/runner-examples/check /usr/bin/zarn60-tool
for f in /usr/lib/udev/rules.d/70-zarn60.rules /usr/share/applications/zarn60-tool.desktop \
         /usr/share/man/man1/zarn60-tool.1.gz /usr/share/doc/zarn60-tools/copyright \
         /usr/share/zarn60-tools/web/index.html /usr/share/zarn60-tools/web/zarn60-tool.wasm; do
  [ -f "$f" ] || { echo "package.sh: $f was not installed" >&2; exit 1; }
done
if command -v man >/dev/null; then man -w zarn60-tool >/dev/null; fi

cleanup
installed=0
if [ -e /usr/bin/zarn60-tool ]; then echo "package.sh: removal left /usr/bin/zarn60-tool" >&2; exit 1; fi
echo "package.sh: $(basename "$deb") built, checked, installed, run and removed"
