#!/usr/bin/env bash
# Sets everything up, builds the programs into build/ (Release, no tests), writes the demo
# scene into demo-scene/ and opens it in the viewer. Needs a graphical session.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build -DQUADVIEW_TESTS=OFF -DQUADVIEW_BENCH=OFF -DQUADVIEW_WERROR=OFF \
  -DQUADVIEW_SANITIZE=OFF
build/tools/quadscene demo demo-scene --force >/dev/null
exec build/app/quadview demo-scene/nyc.map
