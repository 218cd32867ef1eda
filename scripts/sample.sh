#!/usr/bin/env bash
# Installs what is missing, builds, and digests the built-in sample with all eight algorithms.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
for algo in crc32 crc64 md5 ripemd160 sha1 sha256 sha512 whirlpool; do
  printf '%-10s ' "$algo"
  build/tessarex digest "$algo" samples/sample.txt
done
