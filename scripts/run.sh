#!/usr/bin/env bash
# Installs what is missing, builds the tool (only what it runs; scripts/test.sh builds the
# rest) and starts it with the simulated reader. Without a display the tool tells what
# its main operations do, headless, instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh >&2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN60_WERROR=ON >&2
cmake --build build -j"$(nproc)" --target zarn60-tool >&2
exec ./build/tools/zarn60-tool --simulate "$@"
