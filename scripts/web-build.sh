#!/usr/bin/env bash
# web-build.sh [OUTDIR]: builds the page (the dialog in WebAssembly, over WebHID and
# WebSerial) with emscripten into OUTDIR (default build-web/site/): index.html,
# zarn60-tool.js, zarn60-tool.wasm and zarn60-tool.png, nothing else and nothing fetched
# from another host. Prints the site's size and fails above 600 KB. Serve the folder from
# localhost or any HTTPS static host (README.md, "In the browser").
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-web/site}
build=${ZARN60_WEB_BUILD_DIR:-build-web/cmake}
command -v emcmake >/dev/null || { echo "web-build.sh: emscripten is missing (apt-get install emscripten)" >&2; exit 2; }
# Debian's emscripten runs its JavaScript tools with the node found first; the modules they
# need (acorn) are in Debian's node folder.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
# Warnings are errors here as in every build.
# ZARN60_WEB_BUILD_TYPE=Debug: the runtime's own checks, for finding a fault in the page.
emcmake cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${ZARN60_WEB_BUILD_TYPE:-MinSizeRel}" \
  -DZARN60_WERROR=ON >/dev/null
nice cmake --build "$build" -j2 --target zarn60-web-site

site="$build/gui/web/site"
files=(index.html zarn60-tool.js zarn60-tool.wasm zarn60-tool.png)
rm -rf "$out"
mkdir -p "$out"
for f in "${files[@]}"; do cp "$site/$f" "$out/$f"; done
# Nothing from another host: no address with a scheme other than the page's own.
if grep -Eo '(src|href)="(https?:)?//[^"]*"' "$out/index.html"; then
  echo "web-build.sh: index.html loads something from another host" >&2; exit 1
fi
total=0
for f in "${files[@]}"; do
  size=$(stat -c %s "$out/$f")
  total=$((total + size))
  printf '%9d  %s\n' "$size" "$f"
done
limit=$((600 * 1024))
printf '%9d  the site, of at most %d (600 KB) before compression\n' "$total" "$limit"
[ "$total" -le "$limit" ] || { echo "web-build.sh: the site is larger than 600 KB" >&2; exit 1; }
echo "web-build.sh: the site is in $out"
