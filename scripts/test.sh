#!/usr/bin/env bash
# Sets everything up and runs every test twice: in a Release build (build-test/) and in an
# AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/), both with warnings as
# errors; --release runs the Release build alone. Window tests start their own private Xvfb
# server, and openbox on it for the runs under a window manager. The glTF validator the
# tests use comes from npm, pinned by tests/gltf-validator/package-lock.json.
# Usage: scripts/test.sh [--release]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
sanitizers=1
[ "${1:-}" = "--release" ] && sanitizers=0

# The Khronos glTF-Validator, pinned by its lock file, goes into each build folder.
install_validator() {
  echo "set-up: installing the pinned glTF validator from npm into $1/gltf-validator"
  mkdir -p "$1/gltf-validator"
  cp tests/gltf-validator/package.json tests/gltf-validator/package-lock.json \
    tests/gltf-validator/validate.js "$1/gltf-validator/"
  (cd "$1/gltf-validator" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}

scripts/setup.sh --tests build-test -DQUADVIEW_TESTS=ON -DQUADVIEW_BENCH=ON \
  -DQUADVIEW_WERROR=ON -DQUADVIEW_SANITIZE=OFF
install_validator build-test
ctest --test-dir build-test --output-on-failure -j "$jobs"
[ "$sanitizers" -eq 1 ] || exit 0

scripts/setup.sh --tests build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUADVIEW_SANITIZE=ON \
  -DQUADVIEW_TESTS=ON -DQUADVIEW_BENCH=OFF -DQUADVIEW_WERROR=ON
install_validator build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs"
