#!/usr/bin/env bash
# Builds modembench and prints what watching the control lines and waiting for a returning adapter cost,
# and how soon a change of a line reaches the window, as a Markdown table.
#
# Usage: bench/modem.sh
# Parameters (environment), defaults in brackets:
#   BUILD_DIR      build directory                                                 [build]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target modembench >&2
bin="$BUILD_DIR/bench"
echo "| measure | figures |"
echo "|---|---|"
echo "| a control line changes: the window is told (60 changes); an idle open port's processor time | $("$bin/modembench" lines) |"
echo "| one look for a returning adapter in /sys/class/tty (every 250 ms while waiting) | $("$bin/modembench" scan) |"
