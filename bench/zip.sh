#!/usr/bin/env bash
# ZIP packing and unpacking speed against zip/unzip and 7-Zip on the same data: one large
# file (100 MB) and a tree of about 1500 source files, Deflate level 6, with the peak RSS of
# each side; the tree packed on one thread as well; then WinZip AES-256 (AE-2), and strong
# AES-256 against it; then
# updates: deleting one member against zip -d, adding an archive's members against cp.
# usage: bench/zip.sh [DATA_FILE]   (default: 200 MB gathered from /usr; build/ must exist)
#        UPDATE_ONLY=1 bench/zip.sh  runs the update measurements alone
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$PWD/build/tessarex
[ -x "$cli" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }
runs=3
work=$(mktemp -d "${TMPDIR:-/tmp}/tessarex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/big" "$work/tree"
if [ -n "${1:-}" ]; then
  cp "$1" "$work/big/data.bin"
else
  find /usr/lib /usr/share /usr/include -type f -size +1k 2>/dev/null | sort |
    xargs cat 2>/dev/null | head -c 104857600 > "$work/big/data.bin" || [ -s "$work/big/data.bin" ]
fi
# About 1500 source files with their folders.
(cd /usr/include && find . -name '*.h' -type f | sort | awk 'NR <= 1500' | xargs cp --parents -p -t "$work/tree")
cat "$work/big/data.bin" > /dev/null

# Best wall time of several runs; $before, when set, runs untimed ahead of each.
best() {
  local best_t=""
  for _ in $(seq $runs); do
    local s e t
    if [ -n "${before:-}" ]; then "$before"; fi
    s=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; fi
  done
  echo "$best_t"
}
# An empty output folder. The last one is moved aside, not removed: on ext4 without a
# journal, inodes freed in the last half minute are skipped one by one when files are
# created, so removing 1500 files would slow down whichever run came next.
fresh() {
  if [ -e "$work/out" ]; then mv "$work/out" "$(mktemp -u "$work/spent.XXXXXX")"; fi
  mkdir "$work/out"
}

report() {  # name, ours, theirs
  printf '  %-34s %7.2f s vs %7.2f s   ratio %s\n' "$1" "$2" "$3" "$(echo "scale=2; $2 / $3" | bc -l)"
}
rss() {  # peak resident set of one run of the program, in MiB
  /usr/bin/time -f %M -o "$work/rss" "$@" > /dev/null 2>&1 || true
  echo $(( $(tail -n 1 "$work/rss") / 1024 ))
}
report_rss() {  # name, ours, theirs
  printf '  %-34s %7s MiB vs %5s MiB\n' "$1" "$2" "$3"
}

if [ "${UPDATE_ONLY:-0}" != 1 ]; then
for set in big tree; do
  src="$work/$set"
  zip_pack() { rm -f "$work/z.zip"; (cd "$src" && zip -q -r -6 "$work/z.zip" .); }
  tx_pack() { rm -f "$work/t.zip"; "$cli" zip pack "$work/t.zip" "$src/*" --method deflate --level 6; }
  t_zip=$(best zip_pack)
  t_tx=$(best tx_pack)
  unzip_x() { unzip -q "$work/z.zip" -d "$work/out"; }
  tx_x() { "$cli" zip unpack "$work/t.zip" --to "$work/out"; }
  t_unzip=$(before=fresh best unzip_x)
  t_txx=$(before=fresh best tx_x)
  diff -r "$src" "$work/out" > /dev/null || { echo "unpacked $set differs" >&2; exit 1; }
  r_tx=$(rss "$cli" zip pack "$work/t.zip" "$src/*" --method deflate --level 6)
  rm -f "$work/z.zip"
  r_zip=$(rss sh -c 'cd "$1" && exec zip -q -r -6 "$2" .' sh "$src" "$work/z.zip")
  fresh
  r_txx=$(rss "$cli" zip unpack "$work/t.zip" --to "$work/out")
  fresh
  r_unzip=$(rss unzip -q "$work/z.zip" -d "$work/out")
  echo "$set ($(du -sm "$src" | cut -f1) MB, $(find "$src" -type f | wc -l) files), Deflate level 6, best of $runs:"
  if [ "$set" = big ]; then
    report "pack: tessarex vs zip -6 (want <= 0.85)" "$t_tx" "$t_zip"
    report "unpack: tessarex vs unzip" "$t_txx" "$t_unzip"
  else
    t_tx1=$(TESSAREX_THREADS=1 best tx_pack)
    report "pack: tessarex vs zip -6 (want <= 0.7)" "$t_tx" "$t_zip"
    report "pack, one thread: vs zip -6" "$t_tx1" "$t_zip"
    report "unpack: tessarex vs unzip (want <= 0.4)" "$t_txx" "$t_unzip"
  fi
  report_rss "peak RSS, pack: tessarex vs zip" "$r_tx" "$r_zip"
  report_rss "peak RSS, unpack: tessarex vs unzip" "$r_txx" "$r_unzip"
done

src="$work/big"
seven_pack() { rm -f "$work/s.zip"; 7zz a -tzip -mx=6 -mem=AES256 -mmt=1 -pbench "$work/s.zip" "$src/data.bin"; }
tx_aes_pack() {
  rm -f "$work/a.zip"
  "$cli" zip pack1 "$work/a.zip" "$src/data.bin" --method deflate --level 6 --encryption ae2 --key-length 256 \
    --password bench
}
seven_x() { 7zz x -tzip -mmt=1 -pbench -o"$work/out" "$work/s.zip"; }
tx_aes_x() { "$cli" zip unpack1 "$work/a.zip" --to "$work/out" --password bench; }
t_7p=$(best seven_pack)
t_tp=$(best tx_aes_pack)
t_7x=$(before=fresh best seven_x)
t_tx=$(before=fresh best tx_aes_x)
cmp -s "$src/data.bin" "$work/out/data.bin" || { echo "AES unpacked data differs" >&2; exit 1; }
echo "big, AE-2 AES-256, Deflate level 6, one thread, best of $runs:"
report "pack: tessarex vs 7zz" "$t_tp" "$t_7p"
report "unpack: tessarex vs 7zz" "$t_tx" "$t_7x"

# Strong AES-256 (CBC) against our own AE-2 AES-256 on 100 MB at the same level.
head -c 104857600 "$src/data.bin" > "$work/hundred.bin"
pack_kind() {  # archive, encryption kind
  rm -f "$work/$1"
  "$cli" zip pack1 "$work/$1" "$work/hundred.bin" --method deflate --level 6 --encryption "$2" \
    --key-length 256 --password bench
}
unpack_of() { "$cli" zip unpack1 "$work/$1" --to "$work/out" --password bench; }
t_sp=$(best pack_kind c.zip aes)
t_ep=$(best pack_kind e.zip ae2)
t_ex=$(before=fresh best unpack_of e.zip)
t_sx=$(before=fresh best unpack_of c.zip)
cmp -s "$work/hundred.bin" "$work/out/hundred.bin" || { echo "strong AES unpacked data differs" >&2; exit 1; }
echo "100 MB, strong AES-256 vs AE-2 AES-256 (both ours), Deflate level 6, best of $runs:"
report "pack: strong vs AE-2 (want <= 1.1)" "$t_sp" "$t_ep"
report "unpack: strong vs AE-2 (want <= 1.1)" "$t_sx" "$t_ex"
fi

# Updates copy members without recoding them, so their peer is copying the files.
best_after() {  # prepare, command: the best time of the command alone
  local best_t=""
  for _ in $(seq $runs); do
    local s e t
    "$1" > /dev/null 2>&1
    s=$(date +%s.%N)
    "$2" > /dev/null 2>&1
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; fi
  done
  echo "$best_t"
}
mkdir -p "$work/parts" "$work/more"
split -b 10485760 -d "$work/big/data.bin" "$work/parts/part"
for f in "$work"/parts/part0*; do head -c 10485760 "$f" > "$work/more/new_$(basename "$f")"; done
(cd "$work/parts" && zip -q -0 "$work/base.zip" part*)
(cd "$work/more" && zip -q -0 "$work/more.zip" new_*)
copy_base() { cp "$work/base.zip" "$work/u.zip"; cp "$work/base.zip" "$work/v.zip"; }
tx_delete() { "$cli" zip delete "$work/u.zip" --filter part07; }
zip_delete() { zip -q -d "$work/v.zip" part07; }
t_txd=$(best_after copy_base tx_delete)
t_zd=$(best_after copy_base zip_delete)
# zip -d does not flush its result; the update does, before its rename.
zip_delete_flushed() { zip_delete; sync "$work/v.zip"; }
t_zds=$(best_after copy_base zip_delete_flushed)
unzip -tq "$work/u.zip" > /dev/null || { echo "deleted archive fails unzip -t" >&2; exit 1; }
tx_add() { "$cli" zip add "$work/u.zip" "$work/more.zip"; }
cp_both() { cp "$work/u.zip" "$work/w1.zip"; cp "$work/more.zip" "$work/w2.zip"; }
t_txa=$(best_after copy_base tx_add)
t_cp=$(best_after copy_base cp_both)
# The update flushes its archive before renaming it; the same for the copies.
cp_both_flushed() { cp_both; sync "$work/w1.zip" "$work/w2.zip"; }
t_cps=$(best_after copy_base cp_both_flushed)
unzip -tq "$work/u.zip" > /dev/null || { echo "merged archive fails unzip -t" >&2; exit 1; }
echo "updates, $(du -m "$work/base.zip" | cut -f1) MB archive, $(du -m "$work/more.zip" | cut -f1) MB added, best of $runs:"
report "delete one member: tessarex vs zip -d" "$t_txd" "$t_zd"
report "delete one member: vs zip -d + sync" "$t_txd" "$t_zds"
report "add an archive: tessarex vs cp of both" "$t_txa" "$t_cp"
report "add an archive: vs cp of both + sync" "$t_txa" "$t_cps"
