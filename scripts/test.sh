#!/usr/bin/env bash
# Sets everything up and runs every test twice: in the Release build (build/) and in an
# AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/). Window tests start their
# own private Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

scripts/setup.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUADVIEW_SANITIZE=ON \
  -DQUADVIEW_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs"
