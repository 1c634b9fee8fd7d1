#!/usr/bin/env bash
# How long a screen reader waits for the receive area's answers through Qt's AT-SPI bridge, with 2^31 - 1
# characters held: the extents of the whole text (a reader's (0, -1)), of (0, count) and of the last 10
# characters, asked over the real bus by tests/atspireader.py (python3-pyatspi) under Xvfb. The machine's
# load counts: note `uptime` beside the figures.
#
# Usage: bench/readerqueries.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
cmake --build "$BUILD_DIR" -j2 --target tst_receivearea >&2
echo "load: $(uptime | sed 's/.*load average/load average/')"
bench/accessible.sh "$BUILD_DIR/tests/tst_receivearea" screenReaderOnTheBus 2>/dev/null | grep -o 'reader waited.*'
