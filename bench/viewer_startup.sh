#!/usr/bin/env bash
# Viewer start-up benchmark, run by hand: under a private Xvfb, the time from starting quadview
# on the 1,000,000-quad demo scene until its first finished frame, against the time
# `quadscene info` takes to read the same file; then the frame rate the title shows for the
# 10,000-quad demo. Relies on quadview's QUADVIEW_EXIT_AFTER_FIRST_FRAME=1 hook and xdotool.
# Usage: bench/viewer_startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-3}
viewer="$build_dir/app/quadview"
quadscene="$build_dir/tools/quadscene"
work=$(mktemp -d /tmp/quadview_bench_XXXXXX)
xvfb_pid=""
viewer_pid=""

cleanup() {
  if [[ -n "$viewer_pid" ]]; then kill "$viewer_pid" 2>/dev/null || true; wait "$viewer_pid" 2>/dev/null || true; fi
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

now_ns() { date +%s%N; }

# Polls a shell condition every 20 ms until it holds or TIMEOUT seconds have passed.
poll_until() {
  local timeout=$1
  shift
  local deadline=$(($(now_ns) + timeout * 1000000000))
  until "$@"; do
    (($(now_ns) < deadline)) || return 1
    sleep 0.02
  done
}

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
poll_until 20 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export LC_ALL=C

# `quadscene demo` prints the path of the quad-list file it wrote.
big_map=$("$quadscene" demo "$work/big" --quads 1000000 | tail -n1)
small_map=$("$quadscene" demo "$work/small" --quads 10000 | tail -n1)
cat "$big_map" "${big_map%.*}"/*.tga >/dev/null # both programs then read from the page cache
echo "scene: $big_map, $(stat -c %s "$big_map") bytes, $(ls "${big_map%.*}" | wc -l) textures"

seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }

best_info=""
best_load=""
best_view=""
for ((run = 1; run <= runs; run++)); do
  start=$(now_ns)
  "$quadscene" info "$big_map" >/dev/null
  info_ns=$(($(now_ns) - start))

  start=$(now_ns)
  QUADVIEW_EXIT_AFTER_FIRST_FRAME=1 "$viewer" "$big_map" 2>"$work/viewer.err"
  view_ns=$(($(now_ns) - start))
  # "quadview: scene loaded after L s, first frame after F s", both from the viewer's start.
  load_ns=$(awk '{ printf "%d", $5 * 1e9 }' "$work/viewer.err")

  echo "run $run: quadscene info $(seconds "$info_ns") s; quadview: scene loaded" \
    "$(seconds "$load_ns") s, first frame $(seconds "$view_ns") s (process start to exit)"
  [[ -z "$best_info" || $info_ns -lt $best_info ]] && best_info=$info_ns
  [[ -z "$best_load" || $load_ns -lt $best_load ]] && best_load=$load_ns
  [[ -z "$best_view" || $view_ns -lt $best_view ]] && best_view=$view_ns
done
awk -v info="$best_info" -v load="$best_load" -v view="$best_view" 'BEGIN {
  printf "best of %s: info %.3f s; loaded in the window %.3f s (%.3fx); first frame %.3f s (%.3fx); target <= 1.15x\n",
    "'"$runs"'", info / 1e9, load / 1e9, load / info, view / 1e9, view / info }'

# Frame rate: the third title tick of the 10,000-quad demo (the first may include the load).
"$viewer" "$small_map" 2>/dev/null &
viewer_pid=$!
ticks=0
last=""
read_title() {
  local title
  title=$(xdotool search --name '^OpenGL - ' getwindowname 2>/dev/null | head -n1) || true
  if [[ -n "$title" && "$title" != "$last" ]]; then
    last=$title
    ticks=$((ticks + 1))
  fi
  ((ticks >= 3))
}
if poll_until 30 read_title; then
  echo "10,000-quad demo: $last"
else
  echo "10,000-quad demo: no title tick seen" >&2
fi
