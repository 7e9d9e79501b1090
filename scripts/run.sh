#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool with the simulated reader.
# Without a display the tool shows its main operations headless instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >&2
exec ./build/tools/zarn60-tool --simulate "$@"
