#!/usr/bin/env bash
# Builds the Debian package of quadview into build-package/: a plain Release build of the two
# programs (no tests), installed under /usr, packed by cpack with its Depends computed from
# the libraries the programs link. Prints the package's path.
# Usage: scripts/package.sh   then: sudo apt install ./build-package/quadview_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package build-package -DQUADVIEW_TESTS=OFF -DQUADVIEW_BENCH=OFF
(cd build-package && cpack -G DEB >cpack.log) || { cat build-package/cpack.log >&2; exit 1; }
ls "$(pwd)"/build-package/quadview_*.deb
