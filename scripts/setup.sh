#!/usr/bin/env bash
# Sets up a Debian 12 machine for quadview: installs the Debian packages it needs that are
# missing (through sudo when not root), then configures and builds into BUILD_DIR (build/).
# With --tests it also installs what the tests and benchmarks need, with --package what the
# Debian package is built with. apt's output goes to BUILD_DIR/apt.log unless --verbose.
# Usage: scripts/setup.sh [--tests] [--package] [--verbose] [BUILD_DIR [cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."

with_tests=0
with_package=0
verbose=0
while [ $# -gt 0 ]; do
  case "$1" in
    --tests) with_tests=1; with_package=1; shift ;;
    --package) with_package=1; shift ;;
    --verbose) verbose=1; shift ;;
    *) break ;;
  esac
done
build=${1:-build}
shift || true

packages=(
  build-essential cmake pkg-config
  libfltk1.3-dev libx11-dev
  libgl-dev libegl-dev libglu1-mesa-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0
  libcli11-dev libstb-dev libassimp-dev nlohmann-json3-dev help2man
)
# dpkg-shlibdeps computes the package's Depends; file tells it which files are programs.
[ "$with_package" -eq 1 ] && packages+=(dpkg-dev file)
if [ "$with_tests" -eq 1 ]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev libxtst-dev
    xvfb xauth openbox
    clang libclang-rt-14-dev bc time
    assimp-utils assimp-testmodels
  )
  # The glTF validator runs on Node.js; a machine that has node and npm already keeps them.
  command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
mkdir -p "$build"
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "installing: ${missing[*]}"
  # sudo drops the environment: the variable goes through env on its command line.
  apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
  if [ "$verbose" -eq 1 ]; then
    "${apt[@]}" update
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
  elif ! { "${apt[@]}" update -q && "${apt[@]}" install -y -q --no-install-recommends \
      "${missing[@]}"; } >"$build/apt.log" 2>&1; then
    tail -n 20 "$build/apt.log" >&2
    echo "apt-get failed; the whole output is in $build/apt.log" >&2
    exit 1
  fi
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >"$build/cmake.log" ||
  { cat "$build/cmake.log" >&2; exit 1; }
cmake --build "$build" -j "$(nproc)"
