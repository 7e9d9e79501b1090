#!/usr/bin/env bash
# Builds the whole tree a second time with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang 14) and runs every test in it. Any sanitizer report ends its test with a failure:
# UBSan stops at the first finding (-fno-sanitize-recover=all), ASan halts on its first
# error, and LeakSanitizer fails a program that leaks at exit.
#
#   SANITIZE_BUILD_DIR  build folder (default build-asan)
#   SANITIZE_JOBS       parallel compile and test jobs (default: the number of cores)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-clang.sh
build=${SANITIZE_BUILD_DIR:-build-asan}
jobs=${SANITIZE_JOBS:-$(nproc)}

start=$(date +%s)
# -O1 keeps the instrumented tests fast without making the build much slower than -O0.
# Warnings are the gcc build's gate (scripts/test.sh); this one is about what runs.
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DZARN60_SANITIZE=ON -DZARN60_WERROR=OFF
cmake --build "$build" -j"$jobs"
built=$(date +%s)

# Qt's offscreen platform and fontconfig leak nothing the tests can see, so no suppression
# list is needed; a leak report is ours to fix.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_odr_violation=2"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:report_error_type=1"
status=0
(cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 900) || status=$?
echo "sanitize.sh: build $((built - start)) s, tests $(($(date +%s) - built)) s"
exit "$status"
