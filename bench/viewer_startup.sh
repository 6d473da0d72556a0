#!/usr/bin/env bash
# Viewer start-up benchmark, run by hand: under a private Xvfb, the time from starting quadview
# on the 1,000,000-quad demo scene until its load ends (the progress bar goes) and until its
# first frame shows, against the time `quadscene info` takes to read the same file; then the
# frame rate the title shows for the 10,000-quad demo. The viewer is watched from outside,
# through its pixels and title only (build/bench/viewer_probe).
# Usage: bench/viewer_startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-5}
viewer="$build_dir/app/quadview"
quadscene="$build_dir/tools/quadscene"
probe="$build_dir/bench/viewer_probe"
work=$(mktemp -d /tmp/quadview_bench_XXXXXX)
xvfb_pid=""

cleanup() {
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

now_ns() { date +%s%N; }

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 200); do [[ -s "$work/display" ]] && break; sleep 0.05; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export LC_ALL=C

# `quadscene demo` prints the path of the quad-list file it wrote.
big_map=$("$quadscene" demo "$work/big" --quads 1000000 | tail -n1)
small_map=$("$quadscene" demo "$work/small" --quads 10000 | tail -n1)
cat "$big_map" "${big_map%.*}"/*.tga >/dev/null # both programs then read from the page cache
echo "scene: $big_map, $(stat -c %s "$big_map") bytes"

info_runs=() load_runs=() frame_runs=()
for ((run = 1; run <= runs; run++)); do
  start=$(now_ns)
  "$quadscene" info "$big_map" >/dev/null
  info_runs+=("$(awk -v ns="$(($(now_ns) - start))" 'BEGIN { printf "%.3f", ns / 1e9 }')")
  read -r _ load _ frame < <("$probe" "$viewer" "$big_map")
  load_runs+=("$load")
  frame_runs+=("$frame")
  echo "run $run: quadscene info ${info_runs[-1]} s; quadview load ended $load s, first frame $frame s"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
info=$(median "${info_runs[@]}")
load=$(median "${load_runs[@]}")
frame=$(median "${frame_runs[@]}")
awk -v info="$info" -v load="$load" -v frame="$frame" -v runs="$runs" 'BEGIN {
  printf "median of %d: info %.3f s; load ended %.3f s (%.3fx, target <= 1.15x); first frame %.3f s (%.3fx)\n",
    runs, info, load, load / info, frame, frame / info }'

# Frame rate: the third title tick of the 10,000-quad demo (the first may include the load).
"$probe" "$viewer" "$small_map" 3 | sed -n 's/^title /10,000-quad demo: /p'
