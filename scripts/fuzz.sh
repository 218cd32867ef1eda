#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while on its seed corpus.
# usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSAREX_FUZZ=ON -DTESSAREX_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
# Only the fuzz targets: the shared library cannot carry the sanitizer runtime.
cmake --build build-fuzz --target fuzz
for target in build-fuzz/fuzz_*; do
  name=${target##*/fuzz_}
  corpus=$(mktemp -d)
  cp fuzz/corpus/"$name"/* "$corpus"/ 2> /dev/null || true
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$corpus" 2>&1 | tail -3
  rm -rf "$corpus"
done
