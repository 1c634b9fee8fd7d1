#!/usr/bin/env bash
# The window draining a pty at the maximum rate on a real X server (Xvfb) with the screen-reader bridge
# really on (an AT-SPI bus, QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1; the table says whether Qt had it active) and
# the stand-in screen reader listening beside it for the events a real one listens for, this tree against an
# earlier commit, with `cat` on the raw pty as the ceiling, all in one run: once on the machine as it is,
# once with two busy processes competing for the processors. Per run: the drain against `cat`'s, whether
# every byte arrived exactly and was counted, the event loop's lateness from a 10 ms probe, peak RSS, and
# the events and characters a second the reader received. Then, optionally, the window's writes to the X
# server per second (writev, traced in separate runs so the tracing does not slow the measured ones).
#
# The machine may be shared (other builds): compare figures within one run, never across runs.
#
# Usage: bench/xdrain.sh
# Parameters (environment), defaults in brackets:
#   DRAIN_SECONDS  length of each drain                                  [20]
#   TRACE_SECONDS  length of each traced run (0 skips them)              [0]
#   BEFORE         the commit to compare with                            [main]
#   BEFORE_DIR     where that commit is unpacked and built               [/tmp/zelcom-before-$BEFORE]
#   BUILD_DIR      this tree's build directory                           [build]
#   SCREENREADER   the stand-in screen reader    [shared/tools/screenreader-standin.py beside the checkout]
set -euo pipefail
cd "$(dirname "$0")/.."

DRAIN_SECONDS=${DRAIN_SECONDS:-20}
TRACE_SECONDS=${TRACE_SECONDS:-0}
BEFORE=${BEFORE:-main}
if [ -z "${SCREENREADER:-}" ]; then
    for SCREENREADER in ../shared/tools/screenreader-standin.py ../../shared/tools/screenreader-standin.py; do
        [ -f "$SCREENREADER" ] && break
    done
fi
SCREENREADER=$(realpath "$SCREENREADER")
BEFORE_DIR=${BEFORE_DIR:-/tmp/zelcom-before-$BEFORE}
BUILD_DIR=${BUILD_DIR:-build}

if [ -z "${XDRAIN_INNER:-}" ]; then
    scripts/deps.sh xvfb xauth dbus-daemon at-spi2-core python3-pyatspi strace >&2
    cmake -S . -B "$BUILD_DIR" >&2
    cmake --build "$BUILD_DIR" -j2 --target floodwriter floodwindow >&2
    if [ ! -f "$BEFORE_DIR/CMakeLists.txt" ]; then
        mkdir -p "$BEFORE_DIR"
        git archive "$BEFORE" | tar -x -C "$BEFORE_DIR"
    fi
    cp bench/CMakeLists.txt bench/*.h bench/*.cpp "$BEFORE_DIR/bench/"
    cmake -S "$BEFORE_DIR" -B "$BEFORE_DIR/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >&2
    cmake --build "$BEFORE_DIR/build" -j2 --target floodwindow >&2
    # A display of its own and a session bus on which the accessibility bus can start.
    exec env XDRAIN_INNER=1 BEFORE_DIR="$BEFORE_DIR" SCREENREADER="$SCREENREADER" xvfb-run -a -s "-screen 0 1280x1024x24" \
        dbus-run-session -- "$0" "$@"
fi

export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
busLauncher=$!
sleep 1

writerBin="$BUILD_DIR/bench/floodwriter"
. bench/writer.sh
display() { [ "$1" = hex ] && echo hex || echo "text lines"; }

mbps() { awk -v b="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", b / s / 1e6; else printf "0" }'; }

catRun() { # mode -> "MB/s CPU%"
    startWriter --mode "$1" --rate 0 --seconds "$DRAIN_SECONDS"
    stty -F "$slave" raw -echo
    cat "$slave" >/dev/null 2>&1 &
    local reader=$!
    printf G >"$slave"
    until grep -q written_bytes "$writerOut"; do sleep 0.2; done
    local ticks=$(awk '{ print $14 + $15 }' "/proc/$reader/stat")
    printf Q >"$slave"
    local written=$(writerResult)
    kill "$reader" 2>/dev/null || true
    wait "$reader" 2>/dev/null || true
    local s=$(field writer_seconds "$written")
    echo "$(mbps "$(field written_bytes "$written")" "$s") $(awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v s="$s" 'BEGIN { printf "%.0f", 100 * t / hz / s }')"
}

windowRun() { # binary mode seconds [wrapper...] -> floodwindow's line, then the writer's
    local bin=$1 mode=$2 seconds=$3
    shift 3
    startWriter --mode "$mode" --rate 0 --seconds "$seconds"
    "$@" "$bin" --slave "$slave" --mode "$mode" --seconds "$seconds" 2>/dev/null
    writerResult
}

# The stand-in screen reader, listening to floodwindow only, from before the window starts (so Qt's bridge
# knows it is listened to) until after it ends; sets $readerPid and $readerOut.
startReader() {
    readerOut=$(mktemp)
    /usr/bin/python3 "$SCREENREADER" --seconds "$1" --app floodwindow >"$readerOut" 2>/dev/null &
    readerPid=$!
    sleep 2
}

# Events and characters a second the reader received while the window drained, and the most characters
# in any one second of its own. Run after the reader ended (waited for by the shell that started it).
readerResult() { # receive_seconds -> "events/s chars/s max-chars-in-a-second"
    local total events chars most
    total=$(grep '^total:' "$readerOut" || true)
    events=$( (grep -o 'object:text-changed:[a-z]*=[0-9]*' <<<"$total" || true) | awk -F= '{ n += $2 } END { print n + 0 }')
    chars=$(field text_chars "$total")
    most=$( (grep -v '^total:' "$readerOut" || true) | sed -n 's/.*text_chars=\([0-9]*\).*/\1/p' | sort -n | tail -n 1)
    rm -f "$readerOut"
    awk -v e="$events" -v c="${chars:-0}" -v s="$1" -v m="${most:-0}" \
        'BEGIN { if (s > 0) printf "%.0f %.0f %d\n", e / s, c / s, m; else printf "0 0 %d\n", m }'
}

busyPids=()
startBusy() {
    for _ in 1 2; do
        sh -c 'while :; do :; done' &
        busyPids+=($!)
    done
}
stopBusy() {
    for pid in "${busyPids[@]}"; do kill "$pid" 2>/dev/null || true; done
    busyPids=()
}
trap 'stopBusy; kill $busLauncher 2>/dev/null || true' EXIT

echo "Drain at the maximum rate on Xvfb with the AT-SPI bridge on and the stand-in screen reader listening: a"
echo "C writer on the pty master writes as fast as the reader takes, for $DRAIN_SECONDS s each; \`cat\`, the window"
echo "at $BEFORE and this tree's window, one after the other in this run, on the machine as it is ($(nproc)"
echo "processors, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start), then with two busy processes."
echo
echo "| competing | reader | display | MB/s | of cat | counted / written | exact | accessibility active | CPU % | probe late p50 / p99 / max ms | peak RSS MB | reader events/s | reader chars/s | most chars in 1 s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for competing in none "2 busy"; do
    [ "$competing" = none ] || startBusy
    for mode in text hex; do
        read -r catRate catCpu < <(catRun "$mode")
        printf "| %s | cat | %s | %s | 100 %% | | | | %s | | | | | |\n" "$competing" "$(display $mode)" "$catRate" "$catCpu"
        for which in before after; do
            bin=$([ $which = before ] && echo "$BEFORE_DIR/build/bench/floodwindow" || echo "$BUILD_DIR/bench/floodwindow")
            startReader $((DRAIN_SECONDS + 6))
            out=$(windowRun "$bin" "$mode" "$DRAIN_SECONDS")
            window=$(head -n 1 <<<"$out")
            written=$(tail -n 1 <<<"$out")
            s=$(field receive_seconds "$window")
            wait "$readerPid" 2>/dev/null || true
            read -r readerEvents readerChars readerMost < <(readerResult "$s")
            rate=$(mbps "$(field received_bytes "$window")" "$s")
            sent=$([ $mode = hex ] && field written_bytes "$written" || field written_chars "$written")
            printf "| %s | window %s | %s | %s | %s | %s / %s | %s | %s | %s | %s / %s / %s | %s | %s | %s | %s |\n" \
                "$competing" "$([ $which = before ] && echo "at $BEFORE" || echo "(this tree)")" "$(display $mode)" \
                "$rate" "$(awk -v a="$rate" -v b="$catRate" 'BEGIN { printf "%.2f", a / b }')" \
                "$(field counted "$window")" "$sent" "$(field exact "$window")" "$(field a11y_active "$window")" \
                "$(field cpu_pct "$window")" \
                "$(field probe_p50_ms "$window")" "$(field probe_p99_ms "$window")" "$(field probe_max_ms "$window")" \
                "$(field peak_rss_mb "$window")" "$readerEvents" "$readerChars" "$readerMost"
        done
    done
    stopBusy
done

if [ "$TRACE_SECONDS" != 0 ]; then
    echo
    echo "Writes to the X server (writev calls of the window, traced with strace --seccomp-bpf so only they stop"
    echo "the process) per second of a $TRACE_SECONDS s drain; receive events per second from the same runs:"
    echo
    echo "| window | display | X writes per s | receive events per s | MB/s while traced |"
    echo "|---|---|---|---|---|"
    for mode in text hex; do
        for which in before after; do
            bin=$([ $which = before ] && echo "$BEFORE_DIR/build/bench/floodwindow" || echo "$BUILD_DIR/bench/floodwindow")
            trace=$(mktemp)
            out=$(windowRun "$bin" "$mode" "$TRACE_SECONDS" strace -f --seccomp-bpf -e trace=writev -o "$trace")
            window=$(head -n 1 <<<"$out")
            s=$(field receive_seconds "$window")
            printf "| %s | %s | %s | %s | %s |\n" "$([ $which = before ] && echo "at $BEFORE" || echo "this tree")" \
                "$(display $mode)" "$(awk -v n="$(grep -c 'writev(' "$trace")" -v s="$s" 'BEGIN { printf "%.0f", n / s }')" \
                "$(awk -v n="$(field receive_events "$window")" -v s="$s" 'BEGIN { printf "%.0f", n / s }')" \
                "$(mbps "$(field received_bytes "$window")" "$s")"
            rm -f "$trace"
        done
    done
fi
