#!/usr/bin/env bash
# Configures and builds, warnings as errors: build/ (RelWithDebInfo), build-asan/ with
# --sanitize (Debug, ASan and UBSan), build-release/ with --release (Release, laid out for
# /usr with Debian's multiarch libdir, as a distribution package is).
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "") dir=build opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  --sanitize) dir=build-asan opts=(-DCMAKE_BUILD_TYPE=Debug -DTESSAREX_SANITIZE=ON) ;;
  --release) dir=build-release opts=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr) ;;
  *) echo "usage: scripts/build.sh [--sanitize | --release]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja -DTESSAREX_WERROR=ON "${opts[@]}" > /dev/null
cmake --build "$dir"
