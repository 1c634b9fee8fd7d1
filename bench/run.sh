#!/usr/bin/env bash
# Builds the benchmarks and prints the receive area's figures as Markdown tables: cost per receive
# event against how much the area holds, memory per character, clear time, and the window under a
# pty flood; each against the one-paragraph widget the area replaced, in the same run.
#
# Usage: bench/run.sh
# Parameters (environment), defaults in brackets:
#   SIZES          characters held before measuring         ["100K 1M 20M 140M"]
#   STOCK_MAX      largest size tried with the old widget   [20M]  (it needs seconds per event there)
#   EVENTS         receive events measured per size         [200]
#   FLOOD_SECONDS  length of each flood                     [60]
#   FLOOD_RATE     flood rate in bytes per second           [2097152]
#   BUILD_DIR      build directory                          [build]
set -euo pipefail
cd "$(dirname "$0")/.."

SIZES=${SIZES:-"100K 1M 20M 140M"}
STOCK_MAX=${STOCK_MAX:-20M}
EVENTS=${EVENTS:-200}
FLOOD_SECONDS=${FLOOD_SECONDS:-60}
FLOOD_RATE=${FLOOD_RATE:-2097152}
BUILD_DIR=${BUILD_DIR:-build}

scripts/deps.sh >&2
cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target areabench floodwriter floodwindow >&2
bin="$BUILD_DIR/bench"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

chars() { numfmt --from=iec "$1"; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
rest() { sed -n "s/.*\b$1=//p" <<<"$2"; } # the last field, which may hold blanks

echo "Receive event cost (1024 bytes as hex, or 1024 characters of text, including the repaint),"
echo "memory and clear, per characters held before the events:"
echo
echo "| widget | display | held | events | median ms | max ms | median vs 100K | RSS bytes/char | clear ms | RSS left after clear MB | gain (old/new median) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
declare -A median
row() { # widget mode size events
    local line
    if ! line=$("$bin/areabench" --widget "$1" --mode "$2" --held "$(chars "$3")" --events "$4" 2>/dev/null); then
        line="$line (text NOT exact)"
    fi
    local m=$(field median_ms "$line")
    median[$1/$2/$3]=$m
    local base=${median[$1/$2/${SIZES%% *}]:-$m}
    local gain=""
    if [ "$1" = area ] && [ -n "${median[stock/$2/$3]:-}" ]; then
        gain=$(awk -v o="${median[stock/$2/$3]}" -v n="$m" 'BEGIN { printf "%.0f×", o / n }')
    fi
    local name=$([ "$1" = area ] && echo "receive area" || echo "old one-paragraph")
    local display=$(case $2 in hex) echo "hex" ;; text) echo "text, no line breaks" ;; lines) echo "text lines (CR LF)" ;; esac)
    printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n" "$name" "$display" "$3" "$4" "$m" \
        "$(field max_ms "$line")" "$(awk -v a="$m" -v b="$base" 'BEGIN { printf "%.2f", a / b }')" \
        "$(field bytes_per_char "$line")" "$(field clear_ms "$line")" "$(field left_mb "$line")" "$gain"
    [[ $line != *"NOT exact"* ]] || echo "areabench: text not exact: $line" >&2
}
stockEvents() { # fewer events where the old widget needs seconds for each
    local n=$(chars "$1")
    if [ "$n" -le 200000 ]; then echo 20; elif [ "$n" -le 2000000 ]; then echo 10; else echo 3; fi
}
first=$(awk '{ print $1 }' <<<"$SIZES")
second=$(awk '{ print $2 }' <<<"$SIZES")
largest=${SIZES##* }
for mode in hex text lines; do
    for size in $SIZES; do
        # The text modes only at the two smallest sizes and the largest: they fill slowly.
        if [ "$mode" != hex ] && [ "$size" != "$first" ] && [ "$size" != "$second" ] && [ "$size" != "$largest" ]; then
            continue
        fi
        if [ "$(chars "$size")" -le "$(chars "$STOCK_MAX")" ]; then
            row stock "$mode" "$size" "$(stockEvents "$size")"
        fi
        row area "$mode" "$size" "$EVENTS"
    done
done
echo
echo "(The old widget is not run above $STOCK_MAX: it needs several seconds for each event there.)"
echo

flood() { # mode [--stock]
    local out
    out=$(mktemp)
    "$bin/floodwriter" --mode "$1" --rate "$FLOOD_RATE" --seconds "$FLOOD_SECONDS" >"$out" &
    local writer=$!
    local slave=""
    for _ in $(seq 100); do
        slave=$(sed -n 's/^slave=//p' "$out")
        [ -n "$slave" ] && break
        sleep 0.1
    done
    local window
    window=$("$bin/floodwindow" --slave "$slave" --mode "$1" --seconds "$FLOOD_SECONDS" ${2:-} 2>/dev/null)
    wait "$writer"
    local written
    written=$(tail -n 1 "$out")
    rm -f "$out"
    local name=$([ -z "${2:-}" ] && echo "receive area" || echo "old one-paragraph")
    local unit=$([ "$1" = hex ] && echo bytes || echo chars)
    local sent=$([ "$1" = hex ] && field written_bytes "$written" || field written_chars "$written")
    printf "| %s | %s | %s | %s | %s | %s | %s %s | %s | %s / %s | %s | %s |\n" "$name" \
        "$([ "$1" = hex ] && echo hex || echo "GBK text lines")" "$(field target_bytes "$written")" \
        "$(field written_bytes "$written")" "$(field max_blocked_ms "$written")" "$sent $unit" \
        "$(field counted "$window")" "$unit" "$(rest exact "$window")" "$(field probe_p50_ms "$window")" \
        "$(field probe_p99_ms "$window")" "$(field cpu_pct "$window")" "$(field rss_mb "$window")"
}
echo "Flood: $FLOOD_RATE bytes/s of random bytes (hex display) or GBK text lines (character display) for"
echo "$FLOOD_SECONDS s through a pty into the window; the writer is its own process on the pty master:"
echo
echo "| widget | display | bytes due | bytes written | writer held back, longest ms | sent | counted | shown exactly | 10 ms probe lateness p50 / p99 ms | CPU % | RSS MB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
flood hex
flood text
flood hex --stock
flood text --stock

# ---- send path (the send area and auto-send) ----
cmake --build "$BUILD_DIR" -j2 --target sendbench >&2
echo
echo "Send path: 1 Mi characters pasted into the send area (Ctrl+V and a repaint), one more typed, sent"
echo "with \"手动发送\" through a pty; auto-send through a pty; the component after its device went away:"
echo
echo "| measure | figures |"
echo "|---|---|"
echo "| paste, type, send (Chinese and Latin) | $("$bin/sendbench" --mode paste 2>/dev/null || echo "(wire NOT exact)") |"
echo "| paste, type, send (AT lines) | $("$bin/sendbench" --mode paste --text ascii 2>/dev/null || echo "(wire NOT exact)") |"
echo "| auto-send | $("$bin/sendbench" --mode auto 2>/dev/null) |"
echo "| device lost | $("$bin/sendbench" --mode loss 2>/dev/null) |"
# ---- end of send path ----
