#!/usr/bin/env bash
# Runs every benchmark and prints its ratios. The programs are built with the project:
#
#   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2
#   bench/run.sh [BUILD_DIR] [--runs N] [--seconds S]
#
# BUILD_DIR defaults to ./build. --runs is the rounds of each operation and start-up
# (default 7 and 15), --seconds the idle time measured (default 10). The USB half of the
# operations needs root and /dev/fuse; without them it is skipped with a word why.
# Exit status: 0 when every ratio is within its target, 3 when some is above it, 1 when a
# benchmark could not run.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../build"
if [[ $# -gt 0 && $1 != --* ]]; then
    build=$1
    shift
fi
runs=""
seconds=""
while [[ $# -gt 0 ]]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        *) echo "usage: bench/run.sh [BUILD_DIR] [--runs N] [--seconds S]" >&2; exit 2 ;;
    esac
done

for program in zarn60-bench-ops zarn60-bench-start zarn60-bench-idle zarn60-bench-poll \
    zarn60-bench-parse; do
    if [[ ! -x $build/bench/$program ]]; then
        echo "bench/run.sh: $build/bench/$program is missing: build the project first" >&2
        exit 1
    fi
done

worst=0
run() {
    "$@"
    local status=$?
    if [[ $status -ne 0 && $status -ne 3 ]]; then
        echo "bench/run.sh: $(basename "$1") failed (status $status)" >&2
        worst=1
    elif [[ $status -eq 3 && $worst -eq 0 ]]; then
        worst=3
    fi
    echo
}

echo "== operations through the real links =="
run "$build/bench/zarn60-bench-ops" ${runs:+--runs "$runs"}
echo "== start-up =="
run "$build/bench/zarn60-bench-start" ${runs:+--runs "$runs"} 2>/dev/null
echo "== idle window =="
run "$build/bench/zarn60-bench-idle" ${seconds:+--seconds "$seconds"} 2>/dev/null
echo "== receive poll as the text grows =="
run "$build/bench/zarn60-bench-poll" 2>/dev/null
echo "== JSON documents as their names grow =="
run "$build/bench/zarn60-bench-parse"
exit $worst
