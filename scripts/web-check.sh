#!/usr/bin/env bash
# The page in a real Chromium, by real input, against simulated readers: Debian's Chromium
# (driven by playwright-core from tests/web/) loads the site from 127.0.0.1 and reaches
# zarn60-sim over WebHID (its FUSE hidraw node) and over WebSerial (its pty shown as a USB
# serial adapter), the readers granted by Chromium's managed policy, all inside the private
# namespace of scripts/reader-ns.sh. Prints one table: each operation over each link, the
# failures, the files and the accessibility tree, compared with the runner's texts
# (`zarn60-tool --simulate --script`) and the bytes the simulator received.
#
#   scripts/web-check.sh SITE [BUILD] [WORK]
#     SITE   the built site (scripts/web-build.sh's build-web/site)
#     BUILD  the native build with tools/zarn60-tool and tools/zarn60-sim (default build)
#     WORK   a folder of its own, emptied first (default: web-check beside SITE)
#
# Needs root (mounts, FUSE, device events), /dev/fuse, python3, node 20 and
# /usr/lib/chromium/chromium; run `npm ci` in tests/web first. ZARN60_WEB_ONLY=REGEX runs
# only the rows whose name matches.
set -euo pipefail

if [ $# -lt 1 ]; then
  sed -n '2,17p' "$0" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
site=$(realpath -m "$1")
build=$(realpath -m "${2:-build}")
work=$(realpath -m "${3:-$(dirname "$site")/web-check}")
reader_sim=$build/tools/zarn60-sim
chromium=${ZARN60_CHROMIUM:-/usr/lib/chromium/chromium}
port=8631

# shellcheck source=scripts/reader-ns.sh
. "$here/scripts/reader-ns.sh"
if [ -z "${ZARN60_READER_NS:-}" ]; then
  missing=""
  [ -f "$site/index.html" ] || missing="$missing $site/index.html (scripts/web-build.sh)"
  [ -x "$build/tools/zarn60-tool" ] || missing="$missing $build/tools/zarn60-tool"
  [ -x "$chromium" ] || missing="$missing $chromium (apt-get install chromium)"
  command -v node >/dev/null || missing="$missing node"
  [ -d "$here/tests/web/node_modules/playwright-core" ] ||
    missing="$missing playwright-core (npm ci --prefix tests/web)"
  [ -z "$missing" ] || { echo "web-check: missing:$missing" >&2; exit 1; }
fi
reader_ns_enter "$@"

# --- Inside the namespace -----------------------------------------------------------------
reader_ns_setup "$work"
reader_chromium_policy "http://127.0.0.1:$port"
node "$here/tests/web/check.mjs" --site "$site" --tool "$build/tools/zarn60-tool" \
  --chromium "$chromium" --port "$port" --work "$work" --readers "$here/scripts/reader-ns.sh"
