#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60):
# scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
CC=clang CXX=clang++ "$root/scripts/build.sh" "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMARROWBY_FUZZ=ON -DMARROWBY_TESTS=OFF -DMARROWBY_BENCH=OFF
shopt -s nullglob
targets=("$root"/build-fuzz/fuzz/fuzz_*)
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/seeds/$name" ] && seeds=("$root/fuzz/seeds/$name")
  echo "fuzz: $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=0 \
    "$corpus" "${seeds[@]}" 2>"$root/build-fuzz/$name.log" || { tail -50 "$root/build-fuzz/$name.log"; exit 1; }
done
echo "fuzz: ${#targets[@]} targets ran clean"
