#!/usr/bin/env bash
# diff against GNU diff on the 1,000,000-quad demo and a copy with 1% of its records changed,
# removed or added, spread over the file (a third each), run by hand: quadscene diff should
# take at most 0.25x the time of GNU diff, and peak at most 2.5x the memory of quadscene info
# on one of the files. Medians of 3; peaks from GNU time.
# Usage: bench/diff.sh [BUILD_DIR] [QUADS]
source "$(dirname "$0")/demo_bench.sh" diff "$@"

# Every 100th record is edited: the first of each three changes a corner, the second is
# removed, the third gets a new record after it.
edited="$work/edited/nyc.map"
mkdir -p "$work/edited"
cp -r "$work/demo/nyc" "$work/edited/nyc"
awk 'BEGIN { RS = "\r\n"; ORS = "\r\n" }
  { line = (NR - 1) % 6; record = int((NR - 1) / 6); kind = -1
    if (record % 100 == 0) kind = (record / 100) % 3 }
  kind == 0 && line == 2 { $1 = $1 + 0.5 }
  kind == 1 { next }
  { print }
  kind == 2 && line == 5 { print "1 1"; print "CCW"; for (k = 0; k < 4; k++) print k, k, record, 1, 2 }' \
  "$scene" >"$edited"
cat "$edited" >/dev/null

gnu=$(run3 diff "$scene" "$edited")
ours=$(run3 "$quadscene" diff "$scene" "$edited" --quiet)
peak_kb() { { /usr/bin/time -f %M "$@" 2>&1 >/dev/null || true; } | tail -n1; }
diff_kb=$(peak_kb "$quadscene" diff "$scene" "$edited" --quiet)
info_kb=$(peak_kb "$quadscene" info "$scene" --quiet)
gnu_kb=$(peak_kb diff "$scene" "$edited")
printf 'GNU diff %.3f s, %d MB; quadscene diff %.3f s (%.2fx, target <= 0.25)\n' \
  "$gnu" $((gnu_kb / 1024)) "$ours" "$(echo "$ours / $gnu" | bc -l)"
printf 'peak: quadscene diff %d MB, info %d MB (%.2fx, target <= 2.5)\n' \
  $((diff_kb / 1024)) $((info_kb / 1024)) "$(echo "$diff_kb / $info_kb" | bc -l)"
{ "$quadscene" diff "$scene" "$edited" --quiet || true; } | tail -n1
