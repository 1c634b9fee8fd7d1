#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Find over a large capture held in the scratch file, as a Markdown table: GB received searched a second
# (text lines matching case and not, random bytes in hex) and the resident memory before and during the
# find. Each capture is fed first (that takes longer than the find); the scratch folder needs about the
# size of a hex capture, and a quarter of a text one, free.
#
# Usage: bench/find.sh
# Parameters (environment), defaults in brackets:
#   SIZES      bytes received per capture (G and M suffixes)                      ["2G"]
#   MODES      text, text-any-case, hex                                           ["text text-any-case hex"]
#   COLD       1: empty the page cache before each find (needs root)              [0]
#   REPEAT     finds over each capture, the median of each figure printed         [1]
#   FOLDER     scratch folder                                                     [~/.cache/zelcom]
#   BUILD_DIR  build directory                                                    [build]
set -euo pipefail
cd "$(dirname "$0")/.."

SIZES=${SIZES:-"2G"}
MODES=${MODES:-"text text-any-case hex"}
COLD=${COLD:-0}
REPEAT=${REPEAT:-1}
FOLDER=${FOLDER:-}
BUILD_DIR=${BUILD_DIR:-build}

cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target findbench >&2
export QT_QPA_PLATFORM=offscreen

bytes() {
    case "$1" in
    *G) echo $((${1%G} * 1000000000)) ;;
    *M) echo $((${1%M} * 1000000)) ;;
    *) echo "$1" ;;
    esac
}

echo "| search | capture | result | window thread | find | speed | per processor second | RSS before | RSS during |"
echo "|---|---|---|---|---|---|---|---|---|"
for size in $SIZES; do
    for mode in $MODES; do
        args=(--bytes "$(bytes "$size")")
        case "$mode" in
        text) args+=(--mode text) ;;
        text-any-case) args+=(--mode text --any-case) ;;
        hex) args+=(--mode hex) ;;
        esac
        [ "$COLD" = 1 ] && args+=(--cold)
        args+=(--repeat "$REPEAT")
        [ -n "$FOLDER" ] && args+=(--folder "$FOLDER")
        "$BUILD_DIR/bench/findbench" "${args[@]}"
    done
done
