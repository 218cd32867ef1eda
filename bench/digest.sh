#!/usr/bin/env bash
# Digest speed against 7-Zip and the usual tools on one file in the page cache, with the
# peak resident memory of each of our runs.
# usage: bench/digest.sh [SIZE_MB]   (default 227; the build must exist in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-227}
runs=5
cli=build/tessarex
[ -x "$cli" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }
command -v 7zz > /dev/null || { echo "7zz missing: bash scripts/setup.sh" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing (Debian package time)" >&2; exit 1; }

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
# Peak resident memory of one run, in KiB.
peak() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -n 1; }

declare -A t rss
# Ours and the peer alternate, so that load from other work falls on both alike.
for alg in crc32 crc64 sha256; do
  peer=${alg^^}
  t[tx_$alg]=$(best $cli digest $alg "$file")
  t[7zz_$alg]=$(best 7zz h -scrc$peer "$file")
  rss[tx_$alg]=$(peak $cli digest $alg "$file")
  rss[7zz_$alg]=$(peak 7zz h -scrc$peer "$file")
done
t[sha256sum]=$(best sha256sum "$file")
t[openssl_sha256]=$(best openssl dgst -sha256 "$file")
t[tx_md5]=$(best $cli digest md5 "$file")
t[tx_sha512]=$(best $cli digest sha512 "$file")

printf '%s MB in the page cache, best of %d runs\n' "$size_mb" "$runs"
for k in tx_crc32 7zz_crc32 tx_crc64 7zz_crc64 tx_sha256 7zz_sha256 sha256sum openssl_sha256 tx_md5 tx_sha512; do
  printf '  %-16s %7.3f s  %8.0f MB/s' "$k" "${t[$k]}" "$(echo "$size_mb / ${t[$k]}" | bc -l)"
  [ -n "${rss[$k]:-}" ] && printf '  peak RSS %7d KiB' "${rss[$k]}"
  printf '\n'
done
ratio() { echo "scale=2; $1 / $2" | bc -l; }
echo "ratios (tessarex time / other time; below 1 means tessarex is faster):"
echo "  file_crc32  / 7zz h -scrcCRC32   $(ratio "${t[tx_crc32]}" "${t[7zz_crc32]}")"
echo "  file_crc64  / 7zz h -scrcCRC64   $(ratio "${t[tx_crc64]}" "${t[7zz_crc64]}")"
echo "  file_sha256 / 7zz h -scrcSHA256  $(ratio "${t[tx_sha256]}" "${t[7zz_sha256]}")"
echo "  file_sha256 / sha256sum          $(ratio "${t[tx_sha256]}" "${t[sha256sum]}")"
echo "  file_sha256 / openssl dgst       $(ratio "${t[tx_sha256]}" "${t[openssl_sha256]}")"
