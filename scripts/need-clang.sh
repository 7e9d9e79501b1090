# Sourced by the sanitizer and fuzz scripts: both build with clang 14 and its sanitizer
# runtimes, and stop with the install line when they are missing.
if ! command -v clang++-14 >/dev/null ||
   ! compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.asan-*.a" >/dev/null; then
  echo "$(basename "$0"): needs clang 14 and its sanitizer runtimes:" \
    "apt-get install clang-14 libclang-rt-14-dev" >&2
  exit 1
fi
