#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when it is missing;
# with --package also what building and checking the Debian package needs (the package
# carries the page, built with emscripten).
set -euo pipefail
pkgs=(g++ cmake make pkg-config libgtest-dev libgmock-dev qt6-base-dev libgl-dev
      libfuse3-dev fuse3 fonts-wqy-microhei fonts-freefont-ttf libcli11-dev nlohmann-json3-dev
      python3 python3-jsonschema xvfb dbus at-spi2-core python3-pyatspi)
if [ "${1:-}" = "--package" ]; then pkgs+=(dpkg-dev lintian emscripten); fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -o DPkg::Lock::Timeout=120
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=120 "${missing[@]}"
fi
