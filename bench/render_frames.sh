#!/usr/bin/env bash
# Frame-time benchmark of the renderer, run by hand: the demo scene at 10,000, 100,000 and
# 1,000,000 quads drawn with `quadscene render --frames` (immediate mode, as the viewer draws)
# and with render_va_frames (client-side vertex arrays, benchmark only), at the view panel's
# 535x326 on the headless EGL surface. The two pictures of one frame must be byte-identical.
# Usage: bench/render_frames.sh [BUILD_DIR] [QUAD_COUNTS...]
set -euo pipefail

build_dir=$(cd "${1:-build-test}" && pwd)
shift || true
quad_counts=("$@")
((${#quad_counts[@]} > 0)) || quad_counts=(10000 100000 1000000)
quadscene="$build_dir/tools/quadscene"
vertex_arrays="$build_dir/bench/render_va_frames"
work=$(mktemp -d /tmp/quadview_render_bench_XXXXXX)
trap 'rm -rf "$work"' EXIT

# Fewer frames for the larger scenes: the median needs only a handful.
frames_for() {
  if (($1 >= 1000000)); then echo 5; elif (($1 >= 100000)); then echo 11; else echo 31; fi
}

status=0
for quads in "${quad_counts[@]}"; do
  scene="$work/scene-$quads"
  "$quadscene" demo "$scene" --quads "$quads" >/dev/null
  frames=$(frames_for "$quads")
  echo "== $quads quads, $frames frames"
  printf 'immediate mode: '
  "$quadscene" render "$scene/nyc.map" -o "$work/immediate.png" --frames "$frames"
  printf 'vertex arrays:  '
  "$vertex_arrays" "$scene/nyc.map" -o "$work/arrays.png" --frames "$frames"
  # Pictures are compared on a single frame: after several frames llvmpipe switches some
  # draws to other code paths whose results can differ in the last bit of a few pixels.
  "$quadscene" render "$scene/nyc.map" -o "$work/immediate.png" >/dev/null
  "$vertex_arrays" "$scene/nyc.map" -o "$work/arrays.png" >/dev/null
  if cmp -s "$work/immediate.png" "$work/arrays.png"; then
    echo "pixels identical"
  else
    echo "PIXELS DIFFER between immediate mode and vertex arrays" >&2
    status=1
  fi
  rm -rf "$scene"
done
exit $status
