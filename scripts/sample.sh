#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main jobs on the built-in sample: digests
# with all eight algorithms, then an encrypted PEA archive packed, listed and unpacked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cli=build/tessarex
for algo in crc32 crc64 md5 ripemd160 sha1 sha256 sha512 whirlpool; do
  printf '%-10s ' "$algo"
  $cli digest "$algo" samples/sample.txt
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo
$cli pea pack "$work/sample.pea" samples --password sample --stream-check eax256 --object-check sha256
$cli pea list "$work/sample.pea" --password sample
$cli pea unpack "$work/sample.pea" --to "$work" --password sample
diff -r samples "$work/samples" && echo "unpacked samples/ matches the original"
