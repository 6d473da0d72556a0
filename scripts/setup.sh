#!/usr/bin/env bash
# Sets up a Debian 12 machine for quadview: installs the Debian packages it needs that are
# missing (through sudo when not root), then configures and builds into build/.
# Usage: scripts/setup.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config git bc time
  libgtest-dev libgmock-dev libbenchmark-dev
  libfltk1.3-dev libx11-dev libxtst-dev
  libgl-dev libegl-dev libglu1-mesa-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0
  libcli11-dev libstb-dev
  xvfb xauth x11-utils xdotool
  clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${1:-build}
shift || true
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
