#!/usr/bin/env bash
# Takes docs/screenshot.png: the window under a private X server (Xvfb), COM1 on the virtual device,
# after opening the port, sending a line and receiving its echo and a few lines of text.
# Usage: tools/screenshot.sh [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshot.png}"

if [ -z "${ZELCOM_SHOT_X:-}" ]; then
    scripts/deps.sh xvfb xauth imagemagick xdotool
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j2 >/dev/null
    # 96 dpi: the sizes of the window's controls are laid out for it.
    ZELCOM_SHOT_X=1 exec xvfb-run -a -s "-screen 0 800x500x24 -dpi 96 -nolisten tcp" "$0" "$out"
fi

app=""
vport=""
cleanup() {
    for pid in $app $vport; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

coproc VPORT { exec build/tools/vport/zelcom-vport; }
vport=$VPORT_PID
read -r -t 5 path <&"${VPORT[0]}"

ZELCOM_PORTS="$path" QT_QPA_PLATFORM=xcb "build/app/串口调试程序" &
app=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --pid "$app" --name 'ZEL' | head -n 1)
sleep 1

# Points inside the controls, in window pixels (twips / 15 from the layout table).
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; sleep 0.3; }
click 216 44     # Command5: open the port
click 130 230    # Text2: the send area
xdotool type --delay 30 "Hello, COM1!"
click 100 324    # Command6: send once
# Let the echo arrive and a few numbered lines follow.
sleep 3.5
mkdir -p "$(dirname "$out")"
import -window "$wid" "$out"
echo "$out"
