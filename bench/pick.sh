#!/usr/bin/env bash
# pick against render on the 1,000,000-quad demo, run by hand: pick draws the scene once more,
# in index colours, so it should take at most 1.5x what render takes. Medians of 3.
# Usage: bench/pick.sh [BUILD_DIR] [QUADS]
set -euo pipefail
build=${1:-build}
quads=${2:-1000000}
quadscene="$build/tools/quadscene"
work=$(mktemp -d "${TMPDIR:-/tmp}/quadview-pick-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$quadscene" demo "$work/demo" --quads "$quads" --quiet >/dev/null
scene="$work/demo/nyc.map"
cat "$scene" >/dev/null
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
render=$(median3 "$(seconds "$quadscene" render "$scene" -o "$work/r.png")" \
  "$(seconds "$quadscene" render "$scene" -o "$work/r.png")" \
  "$(seconds "$quadscene" render "$scene" -o "$work/r.png")")
pick=$(median3 "$(seconds "$quadscene" pick "$scene" 267 150)" \
  "$(seconds "$quadscene" pick "$scene" 267 150)" "$(seconds "$quadscene" pick "$scene" 267 150)")
all=$(seconds "$quadscene" pick "$scene" 267 150 --all)
printf 'render %.3f s; pick %.3f s (%.2fx, target <= 1.5); pick --all %.3f s (%s records)\n' \
  "$render" "$pick" "$(echo "$pick / $render" | bc -l)" "$all" \
  "$("$quadscene" pick "$scene" 267 150 --all | grep -c '^record ')"
