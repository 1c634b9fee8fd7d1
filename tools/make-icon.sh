#!/usr/bin/env bash
# Renders resources/zelcom.svg to the 48 x 48 PNG the program and the desktop use.
# Only needed after editing the SVG; the PNG is kept in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh librsvg2-bin
rsvg-convert -w 48 -h 48 resources/zelcom.svg -o resources/zelcom.png
