#!/usr/bin/env bash
# 7z packing speed and size against 7zz on the same data, one thread each: solid LZMA
# level 5 over a tree (about 1500 source files and a few shared libraries) and over a
# 100 MB file; then Copy with AES-256 and an encrypted header. 7zz filters the executables
# it recognises (the shared libraries) with BCJ by default, so the LZMA runs here convert
# every file (BCJ mode 1), which leaves text as it is. Time is the best of the
# runs, memory the peak resident size (/usr/bin/time -v).
# Then two cores against 7zz with two threads: one solid block (our match finder on the
# second core), solid blocks of 4 MB and one folder per file (a folder for each core at a
# time, the match finders of folders of 1 MiB or more on threads of their own).
# Then the same archives unpacked by both, and 7-Zip's default archive of the tree (LZMA2,
# BCJ for the shared libraries) and its -mx=9 archive (BCJ2 for them) unpacked by both.
# Last, splitting 200 MB into volumes of 10 MB and joining them again, one run each against
# split -b and cat on the same data, and deleting one entry of four from a 200 MB archive
# against 7zz d (ours flush every volume, the joined file and the new archive to disk before
# they take their names, so synced runs of the peers are shown as well).
# usage: bench/7z.sh [volumes|cores] [DATA_FILE]   (default: 100 MB gathered from /usr; build/
# must exist; "volumes" runs the volume and update parts alone, "cores" the two-core part)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${TESSAREX_CLI:-$PWD/build/tessarex}
[ -x "$cli" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }
runs=${RUNS:-3}
only_volumes=0 only_cores=0
if [ "${1:-}" = volumes ]; then only_volumes=1; shift; fi
if [ "${1:-}" = cores ]; then only_cores=1; shift; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tessarex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/big" "$work/tree"
if [ -n "${1:-}" ]; then
  cp "$1" "$work/big/data.bin"
else
  find /usr/lib /usr/share /usr/include -type f -size +1k 2>/dev/null | sort |
    xargs cat 2>/dev/null | head -c 104857600 > "$work/big/data.bin" || [ -s "$work/big/data.bin" ]
fi
(cd /usr/include && find . -name '*.h' -type f | sort | awk 'NR <= 1500' | xargs cp --parents -p -t "$work/tree")
mkdir -p "$work/tree/lib"
for l in libc.so.6 libstdc++.so.6 libcrypto.so.3; do
  f=$(find /usr/lib /lib -name "$l" 2>/dev/null | head -n1)
  [ -n "$f" ] && cp -L "$f" "$work/tree/lib/"
done
cat "$work/big/data.bin" > /dev/null

best() {  # command line; prints "seconds peak_kB"
  local best_t="" peak=0
  for _ in $(seq "$runs"); do
    /usr/bin/time -v -o "$work/time.txt" bash -c "$1" > /dev/null 2>&1
    local t kb
    t=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' "$work/time.txt")
    kb=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time.txt")
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; fi
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  echo "$best_t $peak"
}
report() {  # name, ours "t kB", theirs "t kB", our size, their size
  read -r t1 m1 <<< "$2"
  read -r t2 m2 <<< "$3"
  printf '  %-30s %7.2f s vs %7.2f s  time ratio %5s   size %11d vs %11d ratio %6s   peak %6d MB vs %6d MB\n' \
    "$1" "$t1" "$t2" "$(echo "scale=3; $t1 / $t2" | bc -l)" "$4" "$5" "$(echo "scale=4; $4 / $5" | bc -l)" \
    $((m1 / 1024)) $((m2 / 1024))
}
check() {  # archive, source folder
  rm -rf "$work/out" && mkdir "$work/out"
  7zz x -bd -pbench -o"$work/out" "$1" > /dev/null
  diff -r "$2" "$work/out" > /dev/null || { echo "$1 does not extract to $2" >&2; exit 1; }
}

# The last output is moved aside, not removed, inside the timing: on ext4 without a
# journal, inodes freed in the last half minute are skipped one by one when files are
# created, so removing a tree would slow down the next run.
aside() { echo "mv -T '$1' \"\$(mktemp -u '$work/spent.XXXXXX')\" 2> /dev/null;"; }
unpack() {  # name, our archive, 7zz's archive, source folder
  local r1 r2
  r1=$(best "$(aside "$work/o1") mkdir '$work/o1' && '$cli' 7z unpack '$2' --to '$work/o1' --password bench")
  r2=$(best "$(aside "$work/o2") 7zz x -bd -mmt=1 -pbench -o'$work/o2' '$3'")
  diff -r "$4" "$work/o1" > /dev/null || { echo "$2 does not unpack to $4" >&2; exit 1; }
  report "$1" "$r1" "$r2" "$(du -sb "$work/o1" | cut -f1)" "$(du -sb "$work/o2" | cut -f1)"
}

volumes() {
  local data=$work/vol/data.bin r1 r2 r3
  mkdir -p "$work/vol"
  cat "$work/big/data.bin" "$work/big/data.bin" | head -c 209715200 > "$data"
  local runs=1
  echo "7z volumes of 10 MB, 200 MB file, one run each:"
  r1=$(best "rm -f '$data'.0*; '$cli' 7z split '$data' --volume-size 10485760")
  cp "$data" "$work/vol/original" && rm "$data"
  r2=$(best "rm -f '$work/vol/s.'*; split -b 10485760 -a 3 --numeric-suffixes=1 '$work/vol/original' '$work/vol/s.'")
  r3=$(best "rm -f '$work/vol/s.'*; split -b 10485760 -a 3 --numeric-suffixes=1 '$work/vol/original' '$work/vol/s.' && sync '$work/vol/s.'*")
  cmp <(cat "$data".0*) "$work/vol/original" || { echo "our volumes do not make the file" >&2; exit 1; }
  report "split 200 MB" "$r1" "$r2" 209715200 209715200
  report "  against split -b synced" "$r1" "$r3" 209715200 209715200
  r1=$(best "rm -f '$data'; '$cli' 7z join '$data.001'")
  cmp "$data" "$work/vol/original" || { echo "the join does not give the file back" >&2; exit 1; }
  r2=$(best "cat '$work/vol/s.'* > '$work/vol/joined'")
  r3=$(best "cat '$work/vol/s.'* > '$work/vol/joined' && sync '$work/vol/joined'")
  report "join 200 MB" "$r1" "$r2" 209715200 209715200
  report "  against cat synced" "$r1" "$r3" 209715200 209715200
}

updates() {
  local runs=1 r1 r2 r3
  mkdir -p "$work/upd/src"
  for i in 1 2 3 4; do head -c $((i * 52428800)) "$work/vol/original" | tail -c 52428800 > "$work/upd/src/part$i"; done
  (cd "$work/upd/src" && 7zz a -bd -t7z -ms=off -m0=Copy -mmt=1 "$work/upd/base.7z" . > /dev/null)
  cp "$work/upd/base.7z" "$work/upd/ours.7z" && cp "$work/upd/base.7z" "$work/upd/theirs.7z"
  cp "$work/upd/base.7z" "$work/upd/synced.7z"
  echo "7z update, 200 MB archive of four 50 MB entries (one folder each), one run each:"
  r1=$(best "'$cli' 7z delete '$work/upd/ours.7z' --filter part2")
  r2=$(best "7zz d -bd '$work/upd/theirs.7z' part2")
  r3=$(best "7zz d -bd '$work/upd/synced.7z' part2 && sync '$work/upd/synced.7z'")
  7zz t "$work/upd/ours.7z" > /dev/null || { echo "our delete broke the archive" >&2; exit 1; }
  report "delete one entry" "$r1" "$r2" "$(stat -c %s "$work/upd/ours.7z")" "$(stat -c %s "$work/upd/theirs.7z")"
  report "  against 7zz d synced" "$r1" "$r3" "$(stat -c %s "$work/upd/ours.7z")" "$(stat -c %s "$work/upd/synced.7z")"
}

cores() {
  local r1 r2 src
  echo "7z, two cores against 7zz -mmt=2, best of $runs (archive sizes):"
  for set in tree big; do
    src="$work/$set"
    r1=$(best "rm -f '$work/$set-t2.7z'; '$cli' 7z pack-solid '$work/$set-t2.7z' '$src/*' --method lzma --level 5 --bcj always")
    r2=$(best "rm -f '$work/$set-s2.7z'; cd '$src' && 7zz a -bd -t7z -m0=LZMA -mx=5 -mmt=2 -ms=on '$work/$set-s2.7z' .")
    check "$work/$set-t2.7z" "$src"
    report "$set: solid LZMA 5, one block" "$r1" "$r2" "$(stat -c %s "$work/$set-t2.7z")" "$(stat -c %s "$work/$set-s2.7z")"
  done
  src="$work/tree"
  r1=$(best "rm -f '$work/b-t.7z'; '$cli' 7z pack-solid '$work/b-t.7z' '$src/*' --method lzma --level 5 --bcj always --block-bytes 4194304")
  r2=$(best "rm -f '$work/b-s.7z'; cd '$src' && 7zz a -bd -t7z -m0=LZMA -mx=5 -mmt=2 -ms=4m '$work/b-s.7z' .")
  check "$work/b-t.7z" "$src"
  report "tree: LZMA 5, blocks of 4 MB" "$r1" "$r2" "$(stat -c %s "$work/b-t.7z")" "$(stat -c %s "$work/b-s.7z")"
  r1=$(best "rm -f '$work/f-t.7z'; '$cli' 7z pack '$work/f-t.7z' '$src/*' --method lzma --level 5 --bcj always")
  r2=$(best "rm -f '$work/f-s.7z'; cd '$src' && 7zz a -bd -t7z -m0=LZMA -mx=5 -mmt=2 -ms=off '$work/f-s.7z' .")
  check "$work/f-t.7z" "$src"
  report "tree: LZMA 5, a folder per file" "$r1" "$r2" "$(stat -c %s "$work/f-t.7z")" "$(stat -c %s "$work/f-s.7z")"
}

if [ "$only_volumes" = 1 ]; then volumes; updates; exit 0; fi
if [ "$only_cores" = 1 ]; then cores; exit 0; fi
echo "7z, one thread, best of $runs (packing: archive sizes; unpacking: output sizes):"
for set in tree big; do
  src="$work/$set"
  rm -f "$work/$set-t.7z" "$work/$set-s.7z"
  r1=$(best "rm -f '$work/$set-t.7z'; TESSAREX_THREADS=1 '$cli' 7z pack-solid '$work/$set-t.7z' '$src/*' --method lzma --level 5 --bcj always")
  r2=$(best "rm -f '$work/$set-s.7z'; cd '$src' && 7zz a -bd -t7z -m0=LZMA -mx=5 -mmt=1 -ms=on '$work/$set-s.7z' .")
  check "$work/$set-t.7z" "$src"
  report "$set: pack solid LZMA 5" "$r1" "$r2" "$(stat -c %s "$work/$set-t.7z")" "$(stat -c %s "$work/$set-s.7z")"
  unpack "$set: unpack solid LZMA 5" "$work/$set-t.7z" "$work/$set-s.7z" "$src"
done
(cd "$work/tree" && 7zz a -bd -t7z -mmt=1 "$work/tree-d.7z" . > /dev/null)
unpack "tree: unpack 7zz default (LZMA2)" "$work/tree-d.7z" "$work/tree-d.7z" "$work/tree"
(cd "$work/tree" && 7zz a -bd -t7z -mx=9 -mmt=1 "$work/tree-9.7z" . > /dev/null)
unpack "tree: unpack 7zz -mx=9 (BCJ2)" "$work/tree-9.7z" "$work/tree-9.7z" "$work/tree"
src="$work/big"
r1=$(best "rm -f '$work/t.7z'; '$cli' 7z pack1 '$work/t.7z' '$src/data.bin' --method copy --password bench")
r2=$(best "rm -f '$work/s.7z'; 7zz a -bd -t7z -m0=Copy -mhe=on -mmt=1 -pbench '$work/s.7z' '$src/data.bin'")
check "$work/t.7z" "$src"
report "big: pack Copy + AES, enc. header" "$r1" "$r2" "$(stat -c %s "$work/t.7z")" "$(stat -c %s "$work/s.7z")"
# Our archives reach the disk before they take their name; 7zz leaves that to the kernel.
r3=$(best "rm -f '$work/s.7z'; 7zz a -bd -t7z -m0=Copy -mhe=on -mmt=1 -pbench '$work/s.7z' '$src/data.bin' && sync '$work/s.7z'")
report "  the same, 7zz's archive synced" "$r1" "$r3" "$(stat -c %s "$work/t.7z")" "$(stat -c %s "$work/s.7z")"
unpack "big: unpack Copy + AES" "$work/t.7z" "$work/s.7z" "$src"
cores
volumes
updates
