#!/usr/bin/env bash
# Load speed and peak memory of the quad-list reader on a generated 1,000,000-quad scene, run
# by hand: `quadscene info` on every processor this process may use and on one (taskset),
# beside `wc -l` and bench/fast_float_reader.cpp (a straightforward reader with Debian's
# fast_float) on the same file, all from the page cache, in rounds that run each once so that
# they share the machine's moods, the fast_float reader's rounds after the others (its 200 MB
# churn makes this virtual machine's next allocations slow); medians of the rounds. Targets: info at most 4x wc -l and
# at most half the fast_float reader; peak memory within the table (86 bytes a record) plus
# 32 MiB. With BASELINE_BUILD, the same info of that build on one processor beside ours.
# Usage: bench/scene_load.sh [BUILD_DIR] [QUADS] [ROUNDS] [BASELINE_BUILD]
set -euo pipefail
build=${1:-build-test}
quads=${2:-1000000}
rounds=${3:-9}
baseline=${4:-}
quadscene="$build/tools/quadscene"
reader="$build/bench/fast_float_reader"
scene="${TMPDIR:-/tmp}/quadview-bench-$quads"
[ -x "$quadscene" ] && [ -x "$reader" ] || { echo "no $quadscene or $reader: build first" >&2; exit 1; }
if [ ! -f "$scene/nyc.map" ]; then
  "$quadscene" demo "$scene" --quads "$quads" --force >/dev/null
fi
file="$scene/nyc.map"
bytes=$(stat -c %s "$file")
cat "$file" >/dev/null  # into the page cache
cpus=$(nproc)
first_cpu=$(taskset -pc $$ | sed 's/.*: *//; s/[-,].*//')

seconds() {  # wall seconds of one run of "$@"
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

declare -A runs
names=(wc info info1 fastfloat)
[ -n "$baseline" ] && names+=(baseline1)
run() {  # one run of the command called `name`
  case "$1" in
    wc) seconds wc -l "$file" ;;
    info) seconds "$quadscene" info "$file" --quiet ;;
    info1) seconds taskset -c "$first_cpu" "$quadscene" info "$file" --quiet ;;
    baseline1) seconds taskset -c "$first_cpu" "$baseline/tools/quadscene" info "$file" --quiet ;;
  esac
}
for round in $(seq "$rounds"); do
  # Each round in its own order: what ran before a run changes it on this machine.
  for name in $(printf '%s\n' "${names[@]}" | grep -v fastfloat |
                shuf --random-source=<(yes "$round")); do
    runs[$name]+="$(run "$name") "
  done
done
for _ in $(seq "$rounds"); do runs[fastfloat]+="$(seconds "$reader" "$file") "; done
declare -A m
for name in "${names[@]}"; do m[$name]=$(printf '%s\n' ${runs[$name]} | median); done
peak_kb=$(/usr/bin/time -f %M "$quadscene" info "$file" --quiet 2>&1 >/dev/null | tail -1)
reader_kb=$(/usr/bin/time -f %M "$reader" "$file" 2>&1 >/dev/null | tail -1)
table_mib=$(echo "$quads * 86 / 1048576" | bc -l)
ratio() { echo "$1 / $2" | bc -l | xargs printf '%.2f'; }

printf 'file: %s (%d bytes, %d quads), %d rounds, %d processors\n' "$file" "$bytes" "$quads" "$rounds" "$cpus"
printf 'wc -l:                 median %.3f s\n' "${m[wc]}"
printf 'fast_float reader:     median %.3f s, peak %.1f MiB\n' "${m[fastfloat]}" "$(echo "$reader_kb / 1024" | bc -l)"
printf 'quadscene info (%d):    median %.3f s = %sx wc -l (target <= 4), %sx fast_float (target <= 0.5)\n' \
  "$cpus" "${m[info]}" "$(ratio "${m[info]}" "${m[wc]}")" "$(ratio "${m[info]}" "${m[fastfloat]}")"
printf 'quadscene info (1):    median %.3f s = %sx wc -l, %sx its time on %d\n' "${m[info1]}" \
  "$(ratio "${m[info1]}" "${m[wc]}")" "$(ratio "${m[info1]}" "${m[info]}")" "$cpus"
if [ -n "$baseline" ]; then
  printf 'baseline info (1):     median %.3f s; ours on one processor is %sx it (target <= 1.05)\n' \
    "${m[baseline1]}" "$(ratio "${m[info1]}" "${m[baseline1]}")"
fi
printf 'reader speed:          %.0f MB/s\n' "$(echo "$bytes / ${m[info]} / 1000000" | bc -l)"
printf 'peak memory:           %.1f MiB (table %.1f MiB + 32 MiB allowed)\n' \
  "$(echo "$peak_kb / 1024" | bc -l)" "$table_mib"
