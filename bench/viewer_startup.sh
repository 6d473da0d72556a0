#!/usr/bin/env bash
# Viewer start-up benchmark, run by hand: under a private Xvfb, the time from starting quadview
# on the 1,000,000-quad demo scene until its first frame starts, and until it shows (the
# progress bar goes with it). build-test/bench/viewer_probe watches the viewer's pixels and
# title from outside, and preloads a mark that notes its first glBegin: the viewer draws no quad
# before its load returns, so that moment is the end of the load. The span also holds the start
# of the process, window and GL context, which `quadscene info` does not have; so the viewer's
# load is that span less the same span on the 85-quad demo, set against `quadscene info` on the
# big scene less info on the small one. The first frame itself is shown apart: on Mesa's
# llvmpipe it costs the driver several steady frames (its first use of its vertex buffers).
# Then the frame rate the title shows for the 10,000-quad demo.
# Usage: bench/viewer_startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build_dir=$(cd "${1:-build-test}" && pwd)
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
tiny_map=$("$quadscene" demo "$work/tiny" | tail -n1)
cat "$big_map" "${big_map%.*}"/*.tga >/dev/null # both programs then read from the page cache
echo "scene: $big_map, $(stat -c %s "$big_map") bytes"

seconds_of() {  # wall seconds of "$@", output discarded
  local start
  start=$(now_ns)
  "$@" >/dev/null
  awk -v ns="$(($(now_ns) - start))" 'BEGIN { printf "%.3f", ns / 1e9 }'
}
fps() { sed -n 's/^title OpenGL - \([0-9]*\) FPS.*/\1/p'; }
big_fps=$("$probe" "$viewer" "$big_map" 3 | fps)
echo "1,000,000-quad demo: $big_fps FPS, one frame $(awk -v f="$big_fps" 'BEGIN { printf "%.3f", 1 / f }') s"

info_runs=() load_runs=() span_runs=()
for ((run = 1; run <= runs; run++)); do
  info_big=$(seconds_of "$quadscene" info "$big_map")
  info_tiny=$(seconds_of "$quadscene" info "$tiny_map")
  # Output: loaded S first-frame S first-draw S
  read -r _ _ _ shown_big _ draw_big < <("$probe" "$viewer" "$big_map")
  read -r _ _ _ _ _ draw_tiny < <("$probe" "$viewer" "$tiny_map")
  [[ "$draw_big" != -* && "$draw_tiny" != -* ]] || { echo "run $run: the probe saw no first frame" >&2; exit 1; }
  info=$(awk -v a="$info_big" -v b="$info_tiny" 'BEGIN { printf "%.3f", a - b }')
  load=$(awk -v a="$draw_big" -v b="$draw_tiny" 'BEGIN { printf "%.3f", a - b }')
  info_runs+=("$info") load_runs+=("$load") span_runs+=("$shown_big")
  echo "run $run: info $info_big - $info_tiny = $info s; first frame starts $draw_big - $draw_tiny (85 quads) = load $load s, shows at $shown_big s"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
info=$(median "${info_runs[@]}")
load=$(median "${load_runs[@]}")
span=$(median "${span_runs[@]}")
awk -v info="$info" -v load="$load" -v span="$span" -v runs="$runs" 'BEGIN {
  printf "median of %d: info %.3f s; viewer load %.3f s (%.3fx, target <= 1.15x); first frame shown %.3f s after start\n",
    runs, info, load, load / info, span }'

# Frame rate: the third title tick of the 10,000-quad demo (the first may include the load).
"$probe" "$viewer" "$small_map" 3 | sed -n 's/^title /10,000-quad demo: /p'
