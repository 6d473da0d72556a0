# Sourced by the benchmarks that run quadscene on a generated demo scene:
#   source bench/demo_bench.sh NAME [BUILD_DIR] [QUADS]
# sets quadscene, work (a temporary folder removed on exit) and scene (its demo of QUADS quads,
# 1,000,000 by default, read once into the page cache), and defines seconds CMD... (wall
# seconds of one run, output discarded) and run3 CMD... (the median of three).
set -euo pipefail
build=${2:-build-test}
quads=${3:-1000000}
quadscene="$build/tools/quadscene"
work=$(mktemp -d "${TMPDIR:-/tmp}/quadview-$1-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$quadscene" demo "$work/demo" --quads "$quads" --quiet >/dev/null
scene="$work/demo/nyc.map"
cat "$scene" >/dev/null

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
run3() { median3 "$(seconds "$@")" "$(seconds "$@")" "$(seconds "$@")"; }
