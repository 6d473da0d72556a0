#!/usr/bin/env bash
# pick against render on the 1,000,000-quad demo, run by hand: pick draws the scene once more,
# in index colours, so it should take at most 1.5x what render takes. Medians of 3.
# Usage: bench/pick.sh [BUILD_DIR] [QUADS]
source "$(dirname "$0")/demo_bench.sh" pick "$@"

render=$(run3 "$quadscene" render "$scene" -o "$work/r.png")
pick=$(run3 "$quadscene" pick "$scene" 267 150)
all=$(seconds "$quadscene" pick "$scene" 267 150 --all)
printf 'render %.3f s; pick %.3f s (%.2fx, target <= 1.5); pick --all %.3f s (%s records)\n' \
  "$render" "$pick" "$(echo "$pick / $render" | bc -l)" "$all" \
  "$("$quadscene" pick "$scene" 267 150 --all | grep -c ': record ')"
