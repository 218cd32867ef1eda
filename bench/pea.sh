#!/usr/bin/env bash
# PEA packing and unpacking speed against gzip on the same data.
# usage: bench/pea.sh [DATA_FILE]   (default: 200 MB gathered from /usr; build/ must exist)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$PWD/build/tessarex
[ -x "$cli" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }
runs=3
work=$(mktemp -d "${TMPDIR:-/tmp}/tessarex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

data=${1:-}
if [ -z "$data" ]; then
  # Libraries, headers and documentation: the mix of binary and text an archiver meets.
  data=$work/data.bin
  find /usr/lib /usr/share /usr/include -type f -size +1k 2>/dev/null | sort |
    xargs cat 2>/dev/null | head -c 209715200 > "$data" || true
fi
cat "$data" > /dev/null
size_mb=$(( $(stat -c %s "$data") / 1048576 ))

best() {
  local best_t=""
  for _ in $(seq $runs); do
    local s e t
    s=$(date +%s.%N)
    "$@"
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; fi
  done
  echo "$best_t"
}

gzip_pack() { gzip -6 -c "$data" > "$work/data.gz"; }
gzip_unpack() { gzip -d -c "$work/data.gz" > "$work/gunzipped"; }
pea_pack() {
  rm -f "$work/data.pea"
  "$cli" pea pack1 "$work/data.pea" "$data" --compression normal --volume-check crc32 \
    --stream-check eax128 --object-check sha256 --password bench
}
pea_unpack() {
  rm -rf "$work/out" && mkdir "$work/out"
  "$cli" pea unpack1 "$work/data.pea" --to "$work/out" --password bench
}

t_gz=$(best gzip_pack)
t_pea=$(best pea_pack)
t_gunzip=$(best gzip_unpack)
t_unpea=$(best pea_unpack)
cmp -s "$data" "$work/out/$(basename "$data")" || { echo "unpacked data differs" >&2; exit 1; }

printf '%s MB, best of %d runs (Normal; CRC32 volume, EAX AES-128 stream, SHA-256 object checks)\n' "$size_mb" "$runs"
printf '  gzip -6            %7.2f s   %s bytes\n' "$t_gz" "$(stat -c %s "$work/data.gz")"
printf '  pea pack1          %7.2f s   %s bytes\n' "$t_pea" "$(stat -c %s "$work/data.pea")"
printf '  gzip -d            %7.2f s\n' "$t_gunzip"
printf '  pea unpack1        %7.2f s\n' "$t_unpea"
echo "ratios (tessarex time / gzip time; the goal is at most 1.15):"
echo "  packing    $(echo "scale=2; $t_pea / $t_gz" | bc -l)"
echo "  unpacking  $(echo "scale=2; $t_unpea / $t_gunzip" | bc -l)"
