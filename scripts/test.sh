#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (--sanitize: the ASan+UBSan build;
# --release: the Release build).
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "") dir=build ;;
  --sanitize) dir=build-asan ;;
  --release) dir=build-release ;;
  *) echo "usage: scripts/test.sh [--sanitize | --release]" >&2; exit 2 ;;
esac
bash scripts/setup.sh
bash scripts/build.sh "$@"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j2
