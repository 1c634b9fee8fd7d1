#!/usr/bin/env bash
# The window draining a pty at the maximum rate on a real X server (Xvfb) with the screen-reader bridge
# really on (an AT-SPI bus, QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1; the table says whether Qt had it active),
# this tree against an earlier commit, with `cat` on the raw pty as the ceiling, all in one run. Both
# windows are driven by this tree's bench/ sources. Then the window's writes to the X server per second
# (writev, traced in separate runs so the tracing does not slow the measured ones).
#
# Usage: bench/xdrain.sh
# Parameters (environment), defaults in brackets:
#   DRAIN_SECONDS  length of each drain                                  [20]
#   TRACE_SECONDS  length of each traced run (0 skips them)              [10]
#   BEFORE         the commit to compare with                            [ec45599]
#   BEFORE_DIR     where that commit is unpacked and built               [/tmp/zelcom-before-$BEFORE]
#   BUILD_DIR      this tree's build directory                           [build]
set -euo pipefail
cd "$(dirname "$0")/.."

DRAIN_SECONDS=${DRAIN_SECONDS:-20}
TRACE_SECONDS=${TRACE_SECONDS:-10}
BEFORE=${BEFORE:-ec45599}
BEFORE_DIR=${BEFORE_DIR:-/tmp/zelcom-before-$BEFORE}
BUILD_DIR=${BUILD_DIR:-build}

if [ -z "${XDRAIN_INNER:-}" ]; then
    scripts/deps.sh xvfb xauth dbus-daemon at-spi2-core strace >&2
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
    exec env XDRAIN_INNER=1 BEFORE_DIR="$BEFORE_DIR" xvfb-run -a -s "-screen 0 1280x1024x24" \
        dbus-run-session -- "$0" "$@"
fi

export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
busLauncher=$!
trap 'kill $busLauncher 2>/dev/null || true' EXIT
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

echo "Drain at the maximum rate on Xvfb with the AT-SPI bridge on: a C writer on the pty master writes as fast"
echo "as the reader takes, for $DRAIN_SECONDS s each; \`cat\`, the window at $BEFORE and this tree's window, one"
echo "after the other in this run."
echo
echo "| reader | display | MB/s | of cat | counted / written | exact | accessibility active | CPU % | KB per receive event | 10 ms probe late p50 / p99 / max ms |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for mode in text hex; do
    read -r catRate catCpu < <(catRun "$mode")
    printf "| cat | %s | %s | 100 %% | | | | %s | | |\n" "$(display $mode)" "$catRate" "$catCpu"
    for which in before after; do
        bin=$([ $which = before ] && echo "$BEFORE_DIR/build/bench/floodwindow" || echo "$BUILD_DIR/bench/floodwindow")
        out=$(windowRun "$bin" "$mode" "$DRAIN_SECONDS")
        window=$(head -n 1 <<<"$out")
        written=$(tail -n 1 <<<"$out")
        rate=$(mbps "$(field received_bytes "$window")" "$(field receive_seconds "$window")")
        sent=$([ $mode = hex ] && field written_bytes "$written" || field written_chars "$written")
        printf "| window %s | %s | %s | %s | %s / %s | %s | %s | %s | %s | %s / %s / %s |\n" \
            "$([ $which = before ] && echo "at $BEFORE" || echo "(this tree)")" "$(display $mode)" "$rate" \
            "$(awk -v a="$rate" -v b="$catRate" 'BEGIN { printf "%.2f", a / b }')" \
            "$(field counted "$window")" "$sent" "$(field exact "$window")" "$(field a11y_active "$window")" \
            "$(field cpu_pct "$window")" \
            "$(awk -v b="$(field received_bytes "$window")" -v n="$(field receive_events "$window")" 'BEGIN { if (n > 0) printf "%.0f", b / n / 1024 }')" \
            "$(field probe_p50_ms "$window")" "$(field probe_p99_ms "$window")" "$(field probe_max_ms "$window")"
    done
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
