#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang 14 (AddressSanitizer and
# UndefinedBehaviorSanitizer on every library they link) and runs each one on its seed
# corpus for a bounded time. A crash, a sanitizer report, a broken check, a leak, a
# time-out or running out of memory fails the run; the input that did it is kept under
# <build>/artifacts/<target>/ and its path printed. fuzz/README.md says how to go on.
#
#   FUZZ_SECONDS    seconds of fuzzing per target (default 60; 0 replays the seeds only)
#   FUZZ_TARGETS    which targets (default: all of them)
#   FUZZ_BUILD_DIR  build folder (default build-fuzz)
#   FUZZ_JOBS       parallel compile jobs (default: the number of cores)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-clang.sh
root=$PWD
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-$(nproc)}
all="fuzz_read_image fuzz_settings_file fuzz_script fuzz_hid_descriptor fuzz_exchanges"
targets=${FUZZ_TARGETS:-$all}

start=$(date +%s)
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DZARN60_SANITIZE=ON -DZARN60_FUZZ=ON -DZARN60_GUI=OFF -DZARN60_TESTS=OFF -DZARN60_WERROR=OFF
# shellcheck disable=SC2086
cmake --build "$build" -j"$jobs" --target $targets
built=$(date +%s)

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# The targets' scratch files stay inside the build folder.
export TMPDIR="$root/$build/tmp"

max_len() {
  case "$1" in
    fuzz_read_image) echo 112 ;;
    fuzz_settings_file) echo 256 ;;
    fuzz_hid_descriptor) echo 2048 ;;
    *) echo 4096 ;;
  esac
}

failed=()
for t in $targets; do
  work="$build/corpus/$t"
  artifacts="$build/artifacts/$t/"
  rm -rf "$TMPDIR"
  mkdir -p "$work" "$artifacts" "$TMPDIR"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== $t: ${seconds} s"
  # libFuzzer takes a total time of 0 as no limit: 0 here means the seeds and nothing more.
  limit=(-max_total_time="$seconds")
  [ "$seconds" -eq 0 ] && limit=(-runs=0)
  # New inputs go to the work folder; the seeds in the repository are only read.
  if ! "$build/fuzz/$t" "${limit[@]}" -timeout=20 -rss_limit_mb=2048 \
      -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="$artifacts" \
      "${dict[@]}" "$work" "fuzz/corpus/$t" 2>"$build/$t.log"; then
    tail -n 60 "$build/$t.log"
    echo "== $t FAILED (log: $build/$t.log, input: $(ls -1 "$artifacts" | head -n 1))"
    failed+=("$t")
  else
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$t.log" || true
  fi
done
rm -rf "$TMPDIR"

echo "fuzz.sh: build $((built - start)) s, fuzzing $(($(date +%s) - built)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]}"
  exit 1
fi
