#!/usr/bin/env bash
# Sets everything up, writes the demo scene into demo-scene/ and opens it in the viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
build/tools/quadscene demo demo-scene >/dev/null
exec build/app/quadview demo-scene/nyc.map
