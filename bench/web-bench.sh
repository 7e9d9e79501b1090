#!/usr/bin/env bash
# The page's times in a real Chromium (bench/web-bench.mjs): navigation to a usable dialog
# against a blank page, and each operation over WebHID and WebSerial against its floor, the
# readers zarn60-sim over FUSE and a pty shown as a USB serial adapter, in the namespace of
# scripts/reader-ns.sh.
#
#   bench/web-bench.sh SITE [BUILD] [--runs N]
#     SITE   the built site (scripts/web-build.sh's build-web/site)
#     BUILD  the native build with tools/zarn60-sim (default build)
#
# Needs root, /dev/fuse, python3, node 20, /usr/lib/chromium/chromium and `npm ci` in
# tests/web. Exits 0 when every judged ratio is within its target, 3 when one is above it,
# 1 when it could not run.
set -euo pipefail

if [ $# -lt 1 ]; then
  sed -n '2,14p' "$0" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
site=$(realpath -m "$1")
shift
build=build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
build=$(realpath -m "$build")
runs=7
if [ "${1:-}" = --runs ] && [ -n "${2:-}" ]; then runs=$2; fi
reader_sim=$build/tools/zarn60-sim
chromium=${ZARN60_CHROMIUM:-/usr/lib/chromium/chromium}
port=8632

# shellcheck source=scripts/reader-ns.sh
. "$here/scripts/reader-ns.sh"
if [ -z "${ZARN60_READER_NS:-}" ]; then
  [ -f "$site/index.html" ] || { echo "web-bench: no $site/index.html (scripts/web-build.sh)" >&2; exit 1; }
  [ -x "$chromium" ] || { echo "web-bench: no $chromium" >&2; exit 1; }
  [ -d "$here/tests/web/node_modules/playwright-core" ] ||
    { echo "web-bench: no playwright-core (npm ci --prefix tests/web)" >&2; exit 1; }
fi
reader_ns_enter "$site" "$build" --runs "$runs"

reader_ns_setup "$(mktemp -d /tmp/zarn60-web-bench.XXXXXX)"
reader_chromium_policy "http://127.0.0.1:$port"
node "$here/bench/web-bench.mjs" --site "$site" --chromium "$chromium" --port "$port" \
  --readers "$here/scripts/reader-ns.sh" --runs "$runs"
