#!/usr/bin/env bash
# Export and import on the 1,000,000-quad demo, run by hand, beside `quadscene info` on the
# same file: export to .glb (target within 2x info) and to .obj (within 4x); import of that OBJ
# (a quadview export, read back exactly by quadscene itself) and of the same OBJ without its
# quadview marker (read by Assimp), both against `assimp info` on it (target within 1.5x);
# peak memory of export against the table plus the output's size plus 64 MiB. Medians of 3.
# With BASELINE_BUILD, the import through Assimp and the import of the export of that build
# beside ours, run in turns, five of each (target: ours within 1.1x; the contained reader's
# process, its confinement and its channel are the cost).
# Usage: bench/interchange.sh [BUILD_DIR] [QUADS] [BASELINE_BUILD]
source "$(dirname "$0")/demo_bench.sh" interchange "$@"

info=$(run3 "$quadscene" info "$scene" --quiet)
glb=$(run3 "$quadscene" export "$scene" -o "$work/demo.glb" --quiet)
obj=$(run3 "$quadscene" export "$scene" -o "$work/demo.obj" --quiet)
tail -n +2 "$work/demo.obj" >"$work/plain.obj"  # the same OBJ, but not marked as quadview's
cp "$work/demo.mtl" "$work/plain.mtl"
sed -i 's/^mtllib demo.mtl/mtllib plain.mtl/' "$work/plain.obj"
assimp_info=$(run3 assimp info "$work/demo.obj")
own=$(run3 "$quadscene" import "$work/demo.obj" -o "$work/own/nyc.map" --force --quiet)
foreign=$(run3 "$quadscene" import "$work/plain.obj" -o "$work/foreign/nyc.map" --force --order file --quiet)
peak_kb=$(/usr/bin/time -f %M "$quadscene" export "$scene" -o "$work/peak.glb" --quiet 2>&1 >/dev/null | tail -n1)
glb_bytes=$(stat -c %s "$work/demo.glb")

ratio() { echo "$1 / $2" | bc -l | xargs printf '%.2f'; }
printf 'scene: %d quads, %d bytes; info %.3f s\n' "$quads" "$(stat -c %s "$scene")" "$info"
printf 'export .glb: %.3f s (%sx info, target <= 2), %d bytes\n' "$glb" "$(ratio "$glb" "$info")" "$glb_bytes"
printf 'export .obj: %.3f s (%sx info, target <= 4), %d bytes\n' "$obj" "$(ratio "$obj" "$info")" "$(stat -c %s "$work/demo.obj")"
printf 'assimp info on the OBJ: %.3f s\n' "$assimp_info"
printf 'import of the export: %.3f s (%sx assimp info, target <= 1.5)\n' "$own" "$(ratio "$own" "$assimp_info")"
printf 'import through Assimp: %.3f s (%sx assimp info)\n' "$foreign" "$(ratio "$foreign" "$assimp_info")"
if [ -n "${3:-}" ]; then
  median5() { printf '%s\n' "$@" | sort -g | sed -n 3p; }
  # in_turns LABEL MODEL [OPTIONS...]: five imports of MODEL by each build, one after the other.
  in_turns() {
    local label=$1 model=$2 ours_runs=() base_runs=()
    shift 2
    for _ in 1 2 3 4 5; do
      ours_runs+=("$(seconds "$quadscene" import "$model" -o "$work/ours/nyc.map" --force --quiet "$@")")
      base_runs+=("$(seconds "$baseline/tools/quadscene" import "$model" -o "$work/base/nyc.map" --force --quiet "$@")")
    done
    local ours base
    ours=$(median5 "${ours_runs[@]}") base=$(median5 "${base_runs[@]}")
    printf '%s, in turns: %.3f s against %.3f s of %s (%sx, target <= 1.1)\n' \
      "$label" "$ours" "$base" "$baseline" "$(ratio "$ours" "$base")"
  }
  baseline=$3
  in_turns "import through Assimp" "$work/plain.obj" --order file
  in_turns "import of the export" "$work/demo.obj"
fi
printf 'export peak memory: %.1f MiB (table %.1f MiB + output %.1f MiB + 64 MiB allowed)\n' \
  "$(echo "$peak_kb / 1024" | bc -l)" "$(echo "$quads * 86 / 1048576" | bc -l)" \
  "$(echo "$glb_bytes / 1048576" | bc -l)"
