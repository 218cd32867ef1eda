#!/usr/bin/env bash
# Digest speed against the usual tools on one file in the page cache.
# usage: bench/digest.sh [SIZE_MB]   (default 256; the build must exist in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-256}
runs=5
cli=build/tessarex
[ -x "$cli" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }
command -v 7zz > /dev/null || { echo "7zz missing: bash scripts/setup.sh" >&2; exit 1; }

file=$(mktemp "${TMPDIR:-/tmp}/tessarex-bench-XXXXXX")
trap 'rm -f "$file"' EXIT
head -c $((size_mb * 1048576)) /dev/urandom > "$file"
cat "$file" > /dev/null

# Best wall time of several runs, in seconds.
best() {
  local best_t=""
  for _ in $(seq $runs); do
    local s e t
    s=$(date +%s.%N)
    "$@" > /dev/null
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; fi
  done
  echo "$best_t"
}

declare -A t
t[tx_crc32]=$(best $cli digest crc32 "$file")
t[7zz_crc32]=$(best 7zz h -scrcCRC32 "$file")
t[tx_sha256]=$(best $cli digest sha256 "$file")
t[7zz_sha256]=$(best 7zz h -scrcSHA256 "$file")
t[sha256sum]=$(best sha256sum "$file")
t[openssl_sha256]=$(best openssl dgst -sha256 "$file")
t[tx_crc64]=$(best $cli digest crc64 "$file")
t[tx_md5]=$(best $cli digest md5 "$file")
t[tx_sha512]=$(best $cli digest sha512 "$file")

printf '%s MB, best of %d runs\n' "$size_mb" "$runs"
for k in tx_crc32 7zz_crc32 tx_sha256 7zz_sha256 sha256sum openssl_sha256 tx_crc64 tx_md5 tx_sha512; do
  printf '  %-16s %7.3f s  %8.0f MB/s\n' "$k" "${t[$k]}" "$(echo "$size_mb / ${t[$k]}" | bc -l)"
done
ratio() { echo "scale=2; $1 / $2" | bc -l; }
echo "ratios (tessarex time / other time; below 1 means tessarex is faster):"
echo "  file_crc32  / 7zz h -scrcCRC32   $(ratio "${t[tx_crc32]}" "${t[7zz_crc32]}")"
echo "  file_sha256 / 7zz h -scrcSHA256  $(ratio "${t[tx_sha256]}" "${t[7zz_sha256]}")"
echo "  file_sha256 / sha256sum          $(ratio "${t[tx_sha256]}" "${t[sha256sum]}")"
echo "  file_sha256 / openssl dgst       $(ratio "${t[tx_sha256]}" "${t[openssl_sha256]}")"
