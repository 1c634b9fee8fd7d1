#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A long capture into the real window, as Markdown tables: peak resident memory and scratch-file bytes
# on disk per received byte at each size, the first row after Ctrl+Home, the clear, and the drain rate;
# then the drain rate of this tree against an earlier revision in the same run.
#
# Usage: bench/capture.sh
# Parameters (environment), defaults in brackets:
#   SIZES          bytes received per capture                                   ["1G 10G"]
#   MODES          hex (random bytes) and/or lines (GBK text lines)             ["hex lines"]
#   DRAIN_SECONDS  length of each drain compared with BEFORE (0 skips it)       [20]
#   BEFORE         the revision compared with                                   [ec45599]
#   BUILD_DIR      build directory                                              [build]
set -euo pipefail
cd "$(dirname "$0")/.."

SIZES=${SIZES:-"1G 10G"}
MODES=${MODES:-"hex lines"}
DRAIN_SECONDS=${DRAIN_SECONDS:-20}
BEFORE=${BEFORE:-ec45599}
BUILD_DIR=${BUILD_DIR:-build}

scripts/deps.sh >&2
cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target capturebench floodwriter floodwindow >&2
bin="$BUILD_DIR/bench"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

writerBin="$bin/floodwriter"
. bench/writer.sh

echo "A capture at the maximum rate: a writer on the pty master writes as fast as the real window reads"
echo "the slave, until the window has received the amount; then Ctrl+Home and \"清接收区\"."
echo
echo "| display | received | MB/s | peak RSS MB | scratch file on disk MB | disk bytes per received byte | Ctrl+Home to first row ms | clear ms (with the repaint) | old scratch file gone after clear | newest 1 Mi characters exact | oldest rows held exact |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for mode in $MODES; do
    writerMode=$([ "$mode" = hex ] && echo hex || echo text)
    for size in $SIZES; do
        # The writer goes on until the window has had enough and tells it to stop.
        startWriter --mode "$writerMode" --rate 0 --seconds 100000
        line=$("$bin/capturebench" --slave "$slave" --mode "$writerMode" --bytes "$(numfmt --from=iec "$size")" 2>/dev/null) || true
        kill "$writer" 2>/dev/null || true
        writerResult >/dev/null || true
        [ -n "$line" ] || { printf "| %s | %s | did not finish |\n" "$mode" "$size"; continue; }
        printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n" \
            "$([ "$mode" = hex ] && echo "hex, random bytes" || echo "GBK text lines")" "$(field received_bytes "$line")" \
            "$(field mb_s "$line")" "$(field peak_rss_mb "$line")" "$(field disk_mb "$line")" \
            "$(field disk_per_byte "$line")" "$(field home_ms "$line")" "$(field clear_ms "$line")" \
            "$(field disk_back "$line")" "$(field exact "$line")" "$(field head_exact "$line")"
    done
done
echo
echo "(The scratch file is in $(field scratch "${line:-scratch=?}") and is compressed, so text lines take less disk than they are long.)"

[ "$DRAIN_SECONDS" = 0 ] && exit 0
# The earlier revision, built beside this tree, drains the same flood for the same time.
before="${TMPDIR:-/tmp}/zelcom-before-$BEFORE"
if [ ! -x "$before/build/bench/floodwindow" ]; then
    rm -rf "$before" && mkdir -p "$before"
    git archive "$BEFORE" | tar -x -C "$before"
    cmake -S "$before" -B "$before/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >&2
    cmake --build "$before/build" -j2 --target floodwindow >&2
fi
echo
echo "Drain for $DRAIN_SECONDS s at the maximum rate, this tree against $BEFORE, in the same run:"
echo
echo "| display | revision | MB/s | peak RSS MB | exact |"
echo "|---|---|---|---|---|"
for mode in hex lines; do
    writerMode=$([ "$mode" = hex ] && echo hex || echo text)
    for revision in "$BEFORE" this; do
        window=$([ "$revision" = this ] && echo "$bin/floodwindow" || echo "$before/build/bench/floodwindow")
        startWriter --mode "$writerMode" --rate 0 --seconds "$DRAIN_SECONDS"
        line=$("$window" --slave "$slave" --mode "$writerMode" --seconds "$DRAIN_SECONDS" 2>/dev/null) || true
        writerResult >/dev/null || true
        printf "| %s | %s | %s | %s | %s |\n" "$mode" "$revision" \
            "$(awk -v b="$(field received_bytes "$line")" -v s="$(field receive_seconds "$line")" 'BEGIN { if (s > 0) printf "%.1f", b / s / 1e6 }')" \
            "$(field peak_rss_mb "$line")" "$(field exact "$line")"
    done
done
