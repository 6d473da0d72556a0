#!/usr/bin/env bash
# Sets everything up and runs every test twice: in the Release build (build/) and in an
# AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/), both with warnings as
# errors. Window tests start their own private Xvfb server, and openbox on it for the runs
# under a window manager.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh --tests build -DQUADVIEW_TESTS=ON -DQUADVIEW_BENCH=ON -DQUADVIEW_WERROR=ON
ctest --test-dir build --output-on-failure -j "$jobs"

scripts/setup.sh --tests build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUADVIEW_SANITIZE=ON \
  -DQUADVIEW_TESTS=ON -DQUADVIEW_BENCH=OFF -DQUADVIEW_WERROR=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs"
