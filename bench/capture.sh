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
#   TIMES_LINES    short lines fed for the times of arrival (0 skips them)      [10000000]
#   TIMES_FOLDER   scratch folder for them, on a disk (not tmpfs)               [~/.cache/zelcom-bench-times]
#   FLOOD_CLEARS   clears clicked while text lines flood in (0 skips them)      [3]
#   FLOOD_SIZE     bytes received before each of them                           [5G]
set -euo pipefail
cd "$(dirname "$0")/.."

SIZES=${SIZES:-"1G 10G"}
MODES=${MODES:-"hex lines"}
DRAIN_SECONDS=${DRAIN_SECONDS:-20}
BEFORE=${BEFORE:-ec45599}
BUILD_DIR=${BUILD_DIR:-build}

scripts/deps.sh >&2
cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target capturebench floodwriter floodwindow storebench >&2
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

FLOOD_CLEARS=${FLOOD_CLEARS:-3}
FLOOD_SIZE=${FLOOD_SIZE:-5G}
if [ "$FLOOD_CLEARS" != 0 ]; then
    startWriter --mode text --rate 0 --seconds 100000
    line=$("$bin/capturebench" --slave "$slave" --mode text --bytes "$(numfmt --from=iec "$FLOOD_SIZE")" \
        --clears "$FLOOD_CLEARS" 2>/dev/null) || true
    kill "$writer" 2>/dev/null || true
    writerResult >/dev/null || true
    echo
    echo "\"清接收区\" clicked while GBK text lines flood in, each time after $FLOOD_SIZE more received, timed from"
    echo "the click to the end of the repaint that shows the emptied area:"
    echo
    echo "| received before each click | most characters held at a click | clear ms (with the repaint), each click |"
    echo "|---|---|---|"
    printf "| %s | %s | %s |\n" "$FLOOD_SIZE" "$(field flood_held_chars "$line")" "$(field flood_clear_ms "$line")"
fi

TIMES_LINES=${TIMES_LINES:-10000000}
if [ "$TIMES_LINES" != 0 ]; then
    # Times of arrival, kept as the receive area keeps them, beside a store with its scratch file: the disk
    # they take over short lines that each come in a read of their own, 10 ms apart (their worst case), and
    # the store's feed rate with them and without, alternating.
    folder=${TIMES_FOLDER:-${XDG_CACHE_HOME:-$HOME/.cache}/zelcom-bench-times}
    mkdir -p -m 700 "$folder"
    line=$("$bin/storebench" --folder "$folder" --mode shortlines --bytes $((TIMES_LINES * 21)) --times on | tail -1)
    echo
    echo "Times of arrival over $TIMES_LINES lines of 21 characters, each in a read of its own:"
    echo
    echo "| lines | times on disk bytes | disk bytes per line | times in memory bytes |"
    echo "|---|---|---|---|"
    printf "| %s | %s | %s | %s |\n" "$(field lines "$line")" "$(field times_disk_bytes "$line")" \
        "$(field times_disk_bytes_per_line "$line")" "$(field times_memory_bytes "$line")"
    echo
    echo "The store's feed rate (millions of characters a second) with times and without, alternating:"
    echo
    echo "| lines | times | runs, M chars/s |"
    echo "|---|---|---|"
    for mode in shortlines text; do
        bytes=$([ "$mode" = text ] && echo 300000000 || echo $((TIMES_LINES * 21 / 2)))
        off="" on=""
        for run in 1 2 3; do
            off="$off $(field feed_m_per_s "$("$bin/storebench" --folder "$folder" --mode "$mode" --bytes "$bytes" --times off | tail -1)")"
            on="$on $(field feed_m_per_s "$("$bin/storebench" --folder "$folder" --mode "$mode" --bytes "$bytes" --times on | tail -1)")"
        done
        label=$([ "$mode" = text ] && echo "80 characters, 512 a read" || echo "21 characters, one a read")
        printf "| %s | off | %s |\n| %s | on | %s |\n" "$label" "$off" "$label" "$on"
    done
fi

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
