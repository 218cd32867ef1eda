#!/usr/bin/env bash
# PEA packing and unpacking speed against gzip on the same data.
# usage: bench/pea.sh [DATA_FILE]   (default: 100 MB gathered from /usr; build/ must exist)
# Packing uses every core (at most two); TESSAREX_THREADS=1 measures the one-thread path.
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
    xargs cat 2>/dev/null | head -c 104857600 > "$data" || true
fi
cat "$data" > /dev/null
size_mb=$(( $(stat -c %s "$data") / 1048576 ))

# Best wall time of the runs; the peak resident set of the last run goes to $work/rss.$1.
best() {
  local name=$1 best_t=""
  shift
  for _ in $(seq $runs); do
    local s e t
    s=$(date +%s.%N)
    /usr/bin/time -f %M -o "$work/rss.$name" "$@"
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; fi
  done
  echo "$best_t"
}
rss() { echo "$(( $(tail -n 1 "$work/rss.$1") / 1024 )) MB"; }

gzip_pack() { sh -c 'gzip -6 -c "$1" > "$2"' - "$data" "$work/data.gz"; }
gzip_unpack() { sh -c 'gzip -d -c "$1" > "$2"' - "$work/data.gz" "$work/gunzipped"; }
pea_pack() {
  rm -f "$work/data.pea"
  "$cli" pea pack1 "$work/data.pea" "$data" --compression normal --volume-check crc32 \
    --stream-check eax128 --object-check sha256 --password bench
}
pea_unpack() {
  rm -rf "$work/out" && mkdir "$work/out"
  "$cli" pea unpack1 "$work/data.pea" --to "$work/out" --password bench
}

export -f gzip_pack gzip_unpack pea_pack pea_unpack
export data work cli
t_gz=$(best gz bash -c gzip_pack)
t_pea=$(best pea bash -c pea_pack)
t_gunzip=$(best gunzip bash -c gzip_unpack)
t_unpea=$(best unpea bash -c pea_unpack)
cmp -s "$data" "$work/out/$(basename "$data")" || { echo "unpacked data differs" >&2; exit 1; }

printf '%s MB, best of %d runs (Normal; CRC32 volume, EAX AES-128 stream, SHA-256 object checks)\n' "$size_mb" "$runs"
printf '  gzip -6            %7.2f s   %s bytes   peak %s\n' "$t_gz" "$(stat -c %s "$work/data.gz")" "$(rss gz)"
printf '  pea pack1          %7.2f s   %s bytes   peak %s\n' "$t_pea" "$(stat -c %s "$work/data.pea")" "$(rss pea)"
printf '  gzip -d            %7.2f s   peak %s\n' "$t_gunzip" "$(rss gunzip)"
printf '  pea unpack1        %7.2f s   peak %s\n' "$t_unpea" "$(rss unpea)"
echo "ratios (tessarex time / gzip time; goals: packing at most 0.8, unpacking at most 1.15):"
echo "  packing    $(echo "scale=2; $t_pea / $t_gz" | bc -l)"
echo "  unpacking  $(echo "scale=2; $t_unpea / $t_gunzip" | bc -l)"
