#!/usr/bin/env bash
# The Blender add-on on the 1,000,000-quad demo beside Blender's own C++ OBJ importer and
# exporter on quadscene's OBJ export of the same scene, each operator call timed alone in a
# fresh Blender with default options, medians of 3: the add-on's import against wm.obj_import
# (target <= 1.0x), its export of the object it made against wm.obj_export of the object
# wm.obj_import made (target <= 1.5x), and the peak memory of each path (Blender's own, over
# the whole run, plus that of the largest quadscene it ran, measured by time(1) around it)
# against that of the OBJ import (target <= 1.2x). Run by hand, in Blender 3.4 on Debian 12
# and Blender 4.3 on Debian 13.
# Usage: bench/blender_addon.sh [BUILD_DIR] [QUADS]
source "$(dirname "$0")/demo_bench.sh" blender-addon "$@"
here=$(cd "$(dirname "$0")/.." && pwd)

# The add-on as a user installs it, and quadscene through time(1), which notes its peak.
mkdir -p "$work/scripts/addons"
ln -s "$here/blender/io_scene_quadview" "$work/scripts/addons/io_scene_quadview"
mkdir -p "$work/bin"
cat >"$work/bin/quadscene" <<WRAP
#!/bin/sh
exec /usr/bin/time -a -o "$work/quadscene-peaks" -f %M "$(realpath "$quadscene")" "\$@"
WRAP
chmod +x "$work/bin/quadscene"
"$quadscene" export "$scene" -o "$work/demo.obj" --quiet >/dev/null

# One call: "SECONDS PEAK_KB", the peak Blender's own plus the largest quadscene's.
call() {  # WHAT IN
  : >"$work/quadscene-peaks"
  local said out="$work/out/nyc.map"
  [[ $1 == obj_export ]] && out="$work/out/blender.obj"
  said=$(PATH="$work/bin:$PATH" BLENDER_USER_SCRIPTS="$work/scripts" blender -b \
    --factory-startup -P "$here/bench/blender_addon.py" -- "$1" "$2" "$out" 2>&1 |
    grep "^$1 ") || { echo "blender_addon: $1 failed" >&2; exit 1; }
  local quadscene_kb
  quadscene_kb=$(sort -n "$work/quadscene-peaks" | tail -n 1)
  awk -v q="${quadscene_kb:-0}" '{ print $2, $3 + q }' <<<"$said"
}
mkdir -p "$work/out"
declare -A time peak
for what in import obj_import export obj_export; do
  source_file=$scene
  [[ $what == obj_* ]] && source_file="$work/demo.obj"
  runs=$(for _ in 1 2 3; do call "$what" "$source_file"; done)
  time[$what]=$(awk '{ print $1 }' <<<"$runs" | sort -g | sed -n 2p)
  peak[$what]=$(awk '{ print $2 }' <<<"$runs" | sort -g | sed -n 2p)
done

ratio() { echo "$1 / $2" | bc -l | xargs printf '%.2f'; }
mb() { echo "${1} / 1024" | bc; }
printf 'Blender %s, %d quads\n' "$(blender -b --factory-startup --version 2>/dev/null |
  sed -n 's/^Blender \([0-9.]*\).*/\1/p' | head -n 1)" "$quads"
printf 'import:     %.2f s, peak %d MB | wm.obj_import %.2f s, peak %d MB | time %sx (target <= 1.0), peak %sx (target <= 1.2)\n' \
  "${time[import]}" "$(mb "${peak[import]}")" "${time[obj_import]}" "$(mb "${peak[obj_import]}")" \
  "$(ratio "${time[import]}" "${time[obj_import]}")" "$(ratio "${peak[import]}" "${peak[obj_import]}")"
printf 'export:     %.2f s, peak %d MB | wm.obj_export %.2f s, peak %d MB | time %sx (target <= 1.5), peak %sx of the OBJ import (target <= 1.2)\n' \
  "${time[export]}" "$(mb "${peak[export]}")" "${time[obj_export]}" "$(mb "${peak[obj_export]}")" \
  "$(ratio "${time[export]}" "${time[obj_export]}")" "$(ratio "${peak[export]}" "${peak[obj_import]}")"
