#!/usr/bin/env bash
# Load speed and peak memory of the quad-list reader on a generated 1,000,000-quad scene,
# against `wc -l` on the same file. Both read from the page cache; medians of five runs.
# Usage: bench/scene_load.sh [BUILD_DIR] [QUADS]
set -euo pipefail
build=${1:-build-test}
quads=${2:-1000000}
quadscene="$build/tools/quadscene"
scene="${TMPDIR:-/tmp}/quadview-bench-$quads"
[ -x "$quadscene" ] || { echo "no $quadscene: build first" >&2; exit 1; }
if [ ! -f "$scene/nyc.map" ]; then
  "$quadscene" demo "$scene" --quads "$quads" >/dev/null
fi
file="$scene/nyc.map"
bytes=$(stat -c %s "$file")
cat "$file" >/dev/null  # into the page cache

seconds() {  # wall seconds of one run of "$@"
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | sed -n 3p; }

wc_runs=() info_runs=()
for _ in 1 2 3 4 5; do
  wc_runs+=("$(seconds wc -l "$file")")
  info_runs+=("$(seconds "$quadscene" info "$file")")
done
wc_median=$(printf '%s\n' "${wc_runs[@]}" | median)
info_median=$(printf '%s\n' "${info_runs[@]}" | median)
peak_kb=$(/usr/bin/time -f %M "$quadscene" info "$file" 2>&1 >/dev/null | tail -1)
table_mib=$(echo "$quads * 86 / 1048576" | bc -l)

printf 'file: %s (%d bytes, %d quads)\n' "$file" "$bytes" "$quads"
printf 'wc -l:          median %.3f s  (runs: %s)\n' "$wc_median" "${wc_runs[*]}"
printf 'quadscene info: median %.3f s  (runs: %s)\n' "$info_median" "${info_runs[*]}"
printf 'reader speed:   %.0f MB/s\n' "$(echo "$bytes / $info_median / 1000000" | bc -l)"
printf 'ratio:          %.2f x wc -l (target <= 10)\n' "$(echo "$info_median / $wc_median" | bc -l)"
printf 'peak memory:    %.1f MiB (table %.1f MiB + 32 MiB allowed)\n' \
  "$(echo "$peak_kb / 1024" | bc -l)" "$table_mib"
