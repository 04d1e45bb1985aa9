#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite: the
# normal build (gcc), the ASan+UBSan build (gcc), the ThreadSanitizer build
# (clang, so the suite is known to build with both compilers), and a short run
# of every fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

echo "== normal build"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$root/build" --output-on-failure -j2

echo "== ASan+UBSan build"
"$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DMARROWBY_SANITIZE=ON -DMARROWBY_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j2

echo "== ThreadSanitizer build (clang)"
CC=clang CXX=clang++ "$root/scripts/build.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMARROWBY_TSAN=ON -DMARROWBY_BENCH=OFF
TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1" \
  ctest --test-dir "$root/build-tsan" --output-on-failure -j2

echo "== fuzz targets"
"$root/scripts/fuzz.sh" 20
