#!/usr/bin/env bash
# Peak memory (maximum resident set size) of quadscene on hostile files, run by hand:
# info on a 500 MB single-line file and on a 1 GB sparse file, render on a scene whose 1,024
# textures are all 18-byte headers declaring 16,384 x 16,384, and texture on a 64 x 64 image
# followed by a 2 GB sparse tail. Each command fails or succeeds with a message; what is
# measured is that none of them needs memory in proportion to what the file claims.
# Usage: bench/hostile_memory.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build-test}
quadscene="$build/tools/quadscene"
[ -x "$quadscene" ] || { echo "no $quadscene: build first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quadview-hostile-XXXXXX")
trap 'rm -rf "$work"' EXIT

peak() {  # peak RSS in MiB of "$@", whatever its exit status
  local kb
  kb=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n1)
  echo "$kb / 1024" | bc -l | xargs printf '%.1f'
}

# A header line that goes on for 500 MB: tokens, then nothing else.
{ printf '1 2'; head -c 500000000 /dev/zero | tr '\0' ' '; } >"$work/line.map"
truncate -s 1G "$work/sparse.map"
mkdir -p "$work/headers"
printf '1 1\r\nCW\r\n0 0 0 0 0\r\n1 0 1 0 0\r\n1 1 1 1 0\r\n0 1 0 1 0\r\n' >"$work/headers.map"
header=$(printf '\0\0\2\0\0\0\0\0\0\0\0\0\0\100\0\100\40\10' | od -An -tx1 | tr -d ' \n')
for ((i = 0; i < 1024; i++)); do
  printf '%s' "$header" | xxd -r -p >"$work/headers/$(printf '%03X' "$i").tga"
done
{ printf '\0\0\2\0\0\0\0\0\0\0\0\0\100\0\100\0\40\10'; head -c 16384 /dev/zero; } >"$work/tail.tga"
truncate -s 2G "$work/tail.tga"

printf 'info, 500 MB single line:       %s MiB\n' "$(peak "$quadscene" info "$work/line.map")"
printf 'info, 1 GB sparse file:         %s MiB\n' "$(peak "$quadscene" info "$work/sparse.map")"
printf 'render, 1,024 16384^2 headers:  %s MiB\n' \
  "$(peak "$quadscene" render "$work/headers.map" -o "$work/headers.png")"
printf 'texture, 64 x 64 + 2 GB tail:   %s MiB\n' \
  "$(peak "$quadscene" texture "$work/tail.tga" -o "$work/tail.png")"
