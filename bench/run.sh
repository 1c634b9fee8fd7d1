#!/usr/bin/env bash
# Builds the benchmarks and prints the receive area's figures as Markdown tables: the real window
# draining a pty at the maximum rate (against `cat` and the stock plain-text widget in the same run),
# cost per receive event and memory per received byte against how much the area holds, clear time,
# and the window under a fixed-rate flood.
#
# Usage: bench/run.sh
# Parameters (environment), defaults in brackets:
#   DRAIN_SECONDS  length of each maximum-rate drain (0 skips the drain table)      [30]
#   CLICK_EVERY    seconds between clicks on "清接收区" during a drain (0: none)    [5]
#   ACCESSIBLE     1: the window runs with accessibility truly active, as under a screen reader
#                  (bench/accessible.sh: X11 on a virtual display and the accessibility bus)        [1]
#   BEFORE         a revision whose receive area is drained too, in the same run (e.g. ec45599)    []
#   SIZES          bytes received before measuring, hex and text lines             ["100K 1M 20M 140M 1G"]
#   TEXT_SIZES     the same for text with no line break                            ["100K 1M 140M"]
#   STOCK_MAX      largest size tried with the stock widget                        [20M]
#   FILL_SECONDS   longest time spent filling the area to one size (0: no limit)   [120]
#   EVENTS         receive events measured per size                                [200]
#   FLOOD_SECONDS  length of each fixed-rate flood (0 skips it)                    [60]
#   FLOOD_RATE     its rate in bytes per second                                    [2097152]
#   BUILD_DIR      build directory                                                 [build]
set -euo pipefail
cd "$(dirname "$0")/.."

DRAIN_SECONDS=${DRAIN_SECONDS:-30}
CLICK_EVERY=${CLICK_EVERY:-5}
ACCESSIBLE=${ACCESSIBLE:-1}
SIZES=${SIZES:-"100K 1M 20M 140M 1G"}
TEXT_SIZES=${TEXT_SIZES:-"100K 1M 140M"}
STOCK_MAX=${STOCK_MAX:-20M}
FILL_SECONDS=${FILL_SECONDS:-120}
EVENTS=${EVENTS:-200}
FLOOD_SECONDS=${FLOOD_SECONDS:-60}
FLOOD_RATE=${FLOOD_RATE:-2097152}
BUILD_DIR=${BUILD_DIR:-build}
BEFORE=${BEFORE:-}

scripts/deps.sh $([ "$ACCESSIBLE" = 1 ] && echo xvfb xauth dbus-daemon dbus-bin at-spi2-core || true) >&2
cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target areabench floodwriter floodwindow >&2
bin="$BUILD_DIR/bench"
writerBin="$bin/floodwriter"
. bench/writer.sh
if [ -n "$BEFORE" ]; then
    # The same window at another revision, built from a copy of its tree beside this build.
    before="$BUILD_DIR/before-$BEFORE"
    if [ ! -x "$before/build/bench/floodwindow" ]; then
        rm -rf "$before/src"
        mkdir -p "$before/src"
        git archive "$BEFORE" | tar -x -C "$before/src"
        cmake -S "$before/src" -B "$before/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
        cmake --build "$before/build" -j2 --target floodwindow >&2
    fi
fi
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
accessible=$([ "$ACCESSIBLE" = 1 ] && echo --accessible || true)
# Offscreen, Qt has no accessibility bridge: the window runs where accessibility can be active.
runWindow=$([ "$ACCESSIBLE" = 1 ] && echo bench/accessible.sh || true)
accessibleNote=$([ "$ACCESSIBLE" = 1 ] && echo "accessibility active (X11 on a virtual display with the accessibility bus; a handler counts each event in place of the bridge; the window says whether accessibility was active)" || echo "accessibility off")

bytes() { numfmt --from=iec "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.0f %%", 100 * a / b; else printf "-" }'; }
# Whether accessibility was active, and what the window told a reader; "-" where the window does not say.
told() { local a=$(field accessible_active "$1"); [ -n "$a" ] && echo "$a / $(field accessible_events "$1") / $(field accessible_chars "$1")" || echo "-"; }
display() { case $1 in hex) echo "hex" ;; text) echo "text, no line break" ;; lines) echo "text lines" ;; esac; }


if [ "$DRAIN_SECONDS" != 0 ]; then
    echo "Drain at the maximum rate: a writer process on the pty master writes as fast as the reader takes"
    echo "the data, for $DRAIN_SECONDS s; the real window reads the slave, $accessibleNote;"
    [ "$CLICK_EVERY" = 0 ] || echo "a click on \"清接收区\" every $CLICK_EVERY s (so the text read back is what arrived after the last click)."
    echo
    echo "| reader | display | MB/s | of cat | vs stock widget | counted / written | read back exact | CPU % | peak RSS MB | KB per receive event | 10 ms probe late p50 / p99 / max ms | clicks | clear ms p50 / max | click to empty ms p50 / max | accessibility active / events / characters told |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    declare -A drainRate
    for mode in lines hex; do
        writerMode=$([ $mode = hex ] && echo hex || echo text)
        unit=$([ $mode = hex ] && echo bytes || echo chars)
        # The ceiling: cat on the raw slave.
        startWriter --mode "$writerMode" --rate 0 --seconds "$DRAIN_SECONDS"
        stty -F "$slave" raw -echo
        cat "$slave" >/dev/null 2>&1 &
        reader=$!
        printf G >"$slave"
        until grep -q written_bytes "$writerOut"; do
            kill -0 "$writer" 2>/dev/null || { echo "floodwriter stopped" >&2; exit 1; }
            sleep 0.2
        done
        ticks=$(awk '{ print $14 + $15 }' "/proc/$reader/stat")
        printf Q >"$slave"
        written=$(writerResult)
        kill "$reader" 2>/dev/null || true
        wait "$reader" 2>/dev/null || true
        catRate=$(awk -v b="$(field written_bytes "$written")" -v s="$(field writer_seconds "$written")" 'BEGIN { printf "%.2f", b / s / 1e6 }')
        catCpu=$(awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v s="$(field writer_seconds "$written")" 'BEGIN { printf "%.0f", 100 * t / hz / s }')
        printf "| cat (raw pty) | %s | %s | 100 %% | | - / %s bytes | - | %s | - | - | - | - | - | - | - |\n" \
            "$(display $mode)" "$catRate" "$(field written_bytes "$written")" "$catCpu"
        for widget in stock area ${BEFORE:+before}; do
            startWriter --mode "$writerMode" --rate 0 --seconds "$DRAIN_SECONDS"
            program=$([ $widget = before ] && echo "$before/build/bench/floodwindow" || echo "$bin/floodwindow")
            window=$($runWindow "$program" --slave "$slave" --mode "$writerMode" --seconds "$DRAIN_SECONDS" \
                --click-every "$CLICK_EVERY" $accessible $([ $widget = stock ] && echo --stock || true) 2>/dev/null) || true
            written=$(writerResult)
            rate=$(awk -v b="$(field received_bytes "$window")" -v s="$(field receive_seconds "$window")" 'BEGIN { printf "%.2f", b / s / 1e6 }')
            drainRate[$widget/$mode]=$rate
            sent=$([ $mode = hex ] && field written_bytes "$written" || field written_chars "$written")
            printf "| %s | %s | %s | %s | %s | %s / %s %s | %s | %s | %s | %s | %s / %s / %s | %s | %s / %s | %s / %s | %s |\n" \
                "$(case $widget in area) echo "receive area" ;; before) echo "receive area at $BEFORE" ;; *) echo "stock QPlainTextEdit" ;; esac)" \
                "$(display $mode)" "$rate" "$(ratio "$rate" "$catRate")" \
                "$([ $widget != stock ] && awk -v a="$rate" -v b="${drainRate[stock/$mode]}" 'BEGIN { if (b > 0) printf "%.2f×", a / b }' || true)" \
                "$(field counted "$window")" "$sent" "$unit" "$(field exact "$window")" "$(field cpu_pct "$window")" \
                "$(field peak_rss_mb "$window")" \
                "$(awk -v b="$(field received_bytes "$window")" -v n="$(field receive_events "$window")" 'BEGIN { if (n > 0) printf "%.1f", b / n / 1024 }')" \
                "$(field probe_p50_ms "$window")" "$(field probe_p99_ms "$window")" \
                "$(field probe_max_ms "$window")" "$(field clicked "$window")/$(field clicks "$window")" \
                "$(field clear_p50_ms "$window")" "$(field clear_max_ms "$window")" \
                "$(field effect_p50_ms "$window")" "$(field effect_max_ms "$window")" \
                "$(told "$window")"
            [ "$(field not_emptied "$window")" = 0 ] || echo "floodwindow: the area was not empty right after a click: $window" >&2
        done
    done
    echo
fi

echo "Receive event cost (1024 bytes in hex, or 1024 characters of text, including the repaint), read back"
echo "and clear, per amount received before the events:"
echo
echo "| widget | display | received | characters held | events | median ms | max ms | median vs smallest | clear ms | RSS left after clear MB | read back exact | stock / area median | screen reader query, slowest ms |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
declare -A median
memoryRows=()
row() { # widget mode size events
    local line
    line=$("$bin/areabench" --widget "$1" --mode "$2" --received "$(bytes "$3")" --events "$4" \
        --fill-seconds "$FILL_SECONDS" 2>/dev/null) || true
    [ -n "$line" ] || { printf "| %s | %s | %s | did not finish |\n" "$1" "$(display "$2")" "$3"; return; }
    local m=$(field median_ms "$line")
    median[$1/$2/$3]=$m
    local sizes=$([ "$2" = text ] && echo "$TEXT_SIZES" || echo "$SIZES")
    local base=${median[$1/$2/${sizes%% *}]:-$m}
    local gain=""
    if [ "$1" = area ] && [ -n "${median[stock/$2/$3]:-}" ]; then
        gain=$(awk -v o="${median[stock/$2/$3]}" -v n="$m" 'BEGIN { printf "%.0f×", o / n }')
    fi
    local name=$([ "$1" = area ] && echo "receive area" || echo "stock QPlainTextEdit")
    local size=$3
    # Stopped filling after FILL_SECONDS: say how much it got.
    [ "$(field filled_bytes "$line")" -ge "$(bytes "$3")" ] || size="$3: $(field filled_bytes "$line") in $(field fill_s "$line") s"
    local held=$(field kept_chars "$line")
    [ "$held" = "$(field received_chars "$line")" ] || held="$held of $(field received_chars "$line")"
    printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n" "$name" "$(display "$2")" "$size" "$held" "$4" \
        "$m" "$(field max_ms "$line")" "$(awk -v a="$m" -v b="$base" 'BEGIN { printf "%.2f", a / b }')" \
        "$(field clear_ms "$line")" "$(field left_mb "$line")" "$(field exact "$line")" "$gain" \
        "$([ "$1" = area ] && field query_max_ms "$line" || echo -)"
    memoryRows+=("$(printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |" "$name" "$(display "$2")" "$size" "$held" \
        "$(field rss_growth_mb "$line")" "$(field per_byte "$line")" "$(field per_char "$line")" \
        "$(field fill_s "$line")" "$(field text_ms "$line")")")
}
stockEvents() { # fewer events where the stock widget needs seconds for each
    local n=$(bytes "$1")
    if [ "$n" -le 200000 ]; then echo 20; elif [ "$n" -le 2000000 ]; then echo 10; else echo 3; fi
}
for mode in hex lines text; do
    sizes=$([ "$mode" = text ] && echo "$TEXT_SIZES" || echo "$SIZES")
    for size in $sizes; do
        if [ "$(bytes "$size")" -le "$(bytes "$STOCK_MAX")" ]; then
            row stock "$mode" "$size" "$(stockEvents "$size")"
        fi
        row area "$mode" "$size" "$EVENTS"
    done
done
echo
echo "(The stock widget is filled in one go and is not run above $STOCK_MAX: with no line break it needs"
echo "seconds for each event there.)"
echo
echo "Memory per received byte, from the same runs (resident memory grown while filling; text is GBK on"
echo "the line, so a text byte is less than a character):"
echo
echo "| widget | display | received | characters held | RSS growth MB | bytes per received byte | bytes per character | fill s | whole text read back ms |"
echo "|---|---|---|---|---|---|---|---|---|"
printf "%s\n" "${memoryRows[@]}"
echo

if [ "$FLOOD_SECONDS" != 0 ]; then
    echo "Flood at a fixed rate: $FLOOD_RATE bytes/s for $FLOOD_SECONDS s into the window, $accessibleNote;"
    echo "no pause may hold the window (probe lateness) or the writer (the pty filling up) for long:"
    echo
    echo "| display | bytes due | bytes written | writer held back, longest ms | counted / written | read back exact | 10 ms probe late p50 / p99 / max ms | CPU % | peak RSS MB |"
    echo "|---|---|---|---|---|---|---|---|---|"
    for mode in hex lines; do
        writerMode=$([ $mode = hex ] && echo hex || echo text)
        startWriter --mode "$writerMode" --rate "$FLOOD_RATE" --seconds "$FLOOD_SECONDS"
        window=$($runWindow "$bin/floodwindow" --slave "$slave" --mode "$writerMode" --seconds "$FLOOD_SECONDS" $accessible 2>/dev/null) || true
        written=$(writerResult)
        unit=$([ $mode = hex ] && echo bytes || echo chars)
        sent=$([ $mode = hex ] && field written_bytes "$written" || field written_chars "$written")
        printf "| %s | %s | %s | %s | %s / %s %s | %s | %s / %s / %s | %s | %s |\n" "$(display $mode)" \
            "$(field target_bytes "$written")" "$(field written_bytes "$written")" "$(field max_blocked_ms "$written")" \
            "$(field counted "$window")" "$sent" "$unit" "$(field exact "$window")" "$(field probe_p50_ms "$window")" \
            "$(field probe_p99_ms "$window")" "$(field probe_max_ms "$window")" "$(field cpu_pct "$window")" \
            "$(field peak_rss_mb "$window")"
    done
fi

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
echo "| a 200 MB file sent (\"发送文件…\") | $("$bin/sendbench" --mode file 2>/dev/null || echo "(wire NOT exact)") |"
# ---- end of send path ----
