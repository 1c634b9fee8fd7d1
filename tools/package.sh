#!/usr/bin/env bash
# Builds the Debian package in build-deb/ from a release build: cpack -G DEB.
# Usage: tools/package.sh   (prints the path of the .deb on its last line)
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-deb builds the archive; cpack sets the owners itself, so no fakeroot.
scripts/deps.sh dpkg-dev
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-deb -j2
(cd build-deb && cpack -G DEB >/dev/null)
ls -1 "$PWD"/build-deb/zelcom_*.deb | tail -n 1
