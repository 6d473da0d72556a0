#!/usr/bin/env bash
# Sets up a Debian 12 or Debian 13 machine for quadview: installs the Debian packages it needs
# that are missing (through sudo when not root), then configures and builds into BUILD_DIR
# (build/). The package names differ between the releases, so the list is chosen by the
# release /etc/os-release names. With --tests it also installs what the tests and benchmarks
# need, with --package what the Debian package is built with. apt's progress is shown a line
# per phase; --verbose shows all of its output (always kept in BUILD_DIR/apt.log).
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

# The release decides the names: Debian 12's Assimp links zlib through its CMake package and
# needs zlib's headers; Debian 13's links pugixml, which its own package pulls in.
release=unknown
if [ -r /etc/os-release ]; then
  release=$(. /etc/os-release && echo "${ID:-}-${VERSION_ID:-}")
fi
case "$release" in
  debian-12) release_packages=(zlib1g-dev) ;;
  debian-13) release_packages=() ;;
  *)
    echo "set-up: this is not Debian 12 or 13 ($release); trying the package names of Debian 13" >&2
    release_packages=()
    ;;
esac

packages=(
  build-essential cmake pkg-config
  libfltk1.3-dev libx11-dev
  libgl-dev libegl-dev libglu1-mesa-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0
  libcli11-dev libstb-dev libassimp-dev libseccomp-dev nlohmann-json3-dev help2man
  "${release_packages[@]}"
)
# dpkg-shlibdeps computes the package's Depends; file tells it which files are programs;
# lintian judges the package.
[ "$with_package" -eq 1 ] && packages+=(dpkg-dev file lintian)
if [ "$with_tests" -eq 1 ]; then
  # libclang-rt-dev is the sanitizer and fuzzer runtime of each release's default clang.
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev libfast-float-dev libxtst-dev
    xvfb xauth openbox x11-utils
    clang libclang-rt-dev bc time procps
    assimp-utils assimp-testmodels
    ca-certificates
    # the package test runs quadscene's completion, validates the AppStream file and lays
    # out the man pages
    bash-completion appstream man-db
    # the Blender tests run the add-on in the release's own Blender (which reads glTF with
    # numpy); python3 checks the add-on's zip
    blender python3-numpy python3
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

# apt-get's output reduced to a line per phase: what it will fetch, then how far the
# download, the unpacking and the setting up have come (every 25 packages and at the end).
apt_phases() {
  awk -v total="$1" '
    function report(what, n) { printf "set-up:   %s %d of %d packages\n", what, n, total; fflush() }
    /^Need to get|^After this operation/ { print "set-up:   " $0; fflush() }
    /^Get:/ { if (++got % 25 == 0) report("downloaded", got) }
    /^Unpacking / { if (got && !doneGet) { report("downloaded", got); doneGet = 1 }
                    if (++unpacked % 25 == 0) report("unpacked", unpacked) }
    /^Setting up / { if (++configured % 25 == 0) report("set up", configured) }
    END { if (configured) report("set up", configured) }'
}

if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # sudo drops the environment: the variable goes through env on its command line.
  apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
  echo "set-up: installing ${#missing[@]} Debian packages with their dependencies" \
    "(${sudo[*]:+through sudo, }a few minutes on a new machine): ${missing[*]}"
  echo "set-up: reading the package lists (apt-get update)"
  if [ "$verbose" -eq 1 ]; then
    "${apt[@]}" update 2>&1 | tee "$build/apt.log"
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}" 2>&1 | tee -a "$build/apt.log"
  else
    status=0
    "${apt[@]}" update -q >"$build/apt.log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
      echo "set-up: downloading and installing (apt-get install)"
      # The count of packages to come, then the phases as they pass.
      count=$("${apt[@]}" install -s --no-install-recommends "${missing[@]}" 2>>"$build/apt.log" |
        grep -c '^Inst ' || true)
      set +o pipefail
      "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}" 2>&1 |
        tee -a "$build/apt.log" | apt_phases "$count"
      status=${PIPESTATUS[0]}
      set -o pipefail
    fi
    if [ "$status" -ne 0 ]; then
      tail -n 20 "$build/apt.log" >&2
      echo "set-up: apt-get failed; its whole output is in $build/apt.log" >&2
      exit 1
    fi
  fi
fi

echo "set-up: configuring $build (cmake)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >"$build/cmake.log" ||
  { cat "$build/cmake.log" >&2; exit 1; }
echo "set-up: building $build with $(nproc) jobs"
cmake --build "$build" -j "$(nproc)"
