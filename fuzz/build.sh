#!/bin/sh
# Builds the libFuzzer targets into fuzz/out/ with clang, straight from the sources (no CMake):
# each target is fuzz/<name>_fuzz.cpp linked with every scene/*.cpp; own_glb, own_gltf, own_obj,
# own_json and own_qvb are fuzz/own_export_fuzz.cpp for each kind of quadview export, with the
# readers of interchange/. Also fills the seed folders fuzz/corpus-<name>/ (ignored by git) from the
# shared test data and from the demo scene's exports.
#   fuzz/build.sh            build every target
#   fuzz/build.sh tga        build one
# Run:  fuzz/out/tga_fuzz fuzz/corpus-tga -max_total_time=600 -rss_limit_mb=4096
#       fuzz/out/quad_list_fuzz fuzz/corpus-quad_list -max_total_time=600 -max_len=65536
#       fuzz/out/numbers_fuzz fuzz/corpus-numbers -max_total_time=600 -max_len=8192
#       fuzz/out/own_glb_fuzz fuzz/corpus-own_glb -max_total_time=600 -rss_limit_mb=6000
#       fuzz/out/record_diff_fuzz fuzz/corpus-record_diff -max_total_time=600 -max_len=4096
set -eu
cd "$(dirname "$0")/.."

TARGETS="tga quad_list numbers own_glb own_gltf own_obj own_json own_qvb record_diff"
SHARED_DIR="${QUADVIEW_SHARED_DIR:-$(pwd)/../shared}"
CXX="${CXX_FUZZ:-clang++}"
FLAGS="-std=c++17 -g -O1 -pthread -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I."

# Seeds for one target; a target without a seed source starts from nothing.
seed() {
  case "$1" in
    quad_list)
      # The first byte of an input picks the file name (0: nyc.map), the rest is the file.
      mkdir -p fuzz/corpus-quad_list
      quadscene=$(ls -t build*/tools/quadscene 2>/dev/null | head -n 1)  # the newest build
      if [ -n "$quadscene" ]; then
        "$quadscene" demo fuzz/out/demo-seed --force >/dev/null
        { printf '\000'; cat fuzz/out/demo-seed/nyc.map; } > fuzz/corpus-quad_list/demo
      fi
      printf '\00110 1\rCCW\r0.25, 0.75, 1.5, -2, 3\r1 0 1 1 1\n1 1 2 2 2\r\n"0" 1 3 3 3\r\n\r\n' \
        > fuzz/corpus-quad_list/mixed
      # Long lines: 0xFF and the byte after it stand for a run longer than the reader holds.
      printf '\3001 2\377 \r\nCCW\3770\r\n\3770.5 1 2 3 4\r\n1 1 1 1 1\r\n1 1 1 1 1\r\n1 1 1 1 \3771\r\n' \
        > fuzz/corpus-quad_list/long
      ;;
    numbers)
      mkdir -p fuzz/corpus-numbers
      i=0
      for token in -123.456789 0.25 1E600 1E5000 . -.5 1e 16777217 0x10 '$FF' 3.4028235E38 \
        '0.2500 1.0000 -123.456789 -0.600000 -45.678901' '1e2 "2" +.5 -0 3.,7' '1 2 3 4'; do
        printf '%s' "$token" > "fuzz/corpus-numbers/seed$i"
        i=$((i + 1))
      done
      ;;
    own_glb | own_gltf | own_obj | own_json | own_qvb)
      # The demo's own exports, and the smallest ones: a scene of one record and one image.
      mkdir -p "fuzz/corpus-$1"
      quadscene=$(ls -t build*/tools/quadscene 2>/dev/null | head -n 1)  # the newest build
      extension=${1#own_}
      if [ -n "$quadscene" ]; then
        "$quadscene" demo fuzz/out/demo-seed --force >/dev/null
        printf '0 1\r\nCCW\r\n0 0 0 0 0\r\n1 0 1 0 0\r\n1 1 1 1 0\r\n0 1 0 1 0\r\n' \
          > fuzz/out/one.map
        mkdir -p fuzz/out/one
        cp fuzz/out/demo-seed/nyc/000.tga fuzz/out/one/
        mkdir -p "fuzz/out/seed-$1"
        for scene in fuzz/out/demo-seed/nyc.map fuzz/out/one.map; do
          name=$(basename "$(dirname "$scene")")-$(basename "$scene" .map).$extension
          "$quadscene" export "$scene" -o "fuzz/out/seed-$1/$name" >/dev/null
          cp "fuzz/out/seed-$1/$name" "fuzz/corpus-$1/"  # the export alone, not its companions
        done
      fi
      ;;
    record_diff)
      mkdir -p fuzz/corpus-record_diff
      printf '\200\001\002\003\004\005\001\002\003\004\005' >fuzz/corpus-record_diff/same
      printf '\200\001\002\003\004\005\002\003\001\104\006' >fuzz/corpus-record_diff/edited
      ;;
    tga)
      mkdir -p fuzz/corpus-tga
      if [ -d "$SHARED_DIR/tga-corpus/files" ]; then
        cp "$SHARED_DIR"/tga-corpus/files/*.tga fuzz/corpus-tga/
      fi
      ;;
  esac
}

mkdir -p fuzz/out
for target in ${1:-$TARGETS}; do
  echo "building fuzz/out/${target}_fuzz"
  case "$target" in
    own_*)
      # shellcheck disable=SC2086
      $CXX $FLAGS -DOWN_EXPORT_EXTENSION="\".${target#own_}\"" fuzz/own_export_fuzz.cpp \
        interchange/import_own.cpp interchange/image_codec.cpp interchange/quadview_data.cpp \
        interchange/model_files.cpp scene/*.cpp -lstb -lassimp -o "fuzz/out/${target}_fuzz"
      ;;
    *)
      # shellcheck disable=SC2086
      $CXX $FLAGS "fuzz/${target}_fuzz.cpp" scene/*.cpp -lstb -o "fuzz/out/${target}_fuzz"
      ;;
  esac
  seed "$target"
done
