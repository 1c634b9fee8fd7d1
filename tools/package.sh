#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package: cpack -G DEB on a release build in build-deb/ (the benchmarks and tests
# left out), or on a build tree given as argument, as CI does with the one ./test.sh built.
# Usage: tools/package.sh [build-dir]   (prints the path of the .deb on its last line)
# Check the result with tools/check-package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-deb builds the archive; cpack sets the owners itself, so no fakeroot.
scripts/deps.sh dpkg-dev
dir="${1:-build-deb}"
if [ $# -eq 0 ]; then
    cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DZELCOM_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/zelcom_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
(cd "$dir" && ls -1 "$PWD"/zelcom_*.deb)
