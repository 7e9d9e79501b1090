#!/usr/bin/env bash
# Installs what is missing and builds into build/ (warnings are errors).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN60_WERROR=ON
cmake --build build -j"$(nproc)"
