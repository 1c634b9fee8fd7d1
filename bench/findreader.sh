#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a screen reader hears of a find: the find box finds a line in a receive area on a virtual display
# with the accessibility bus up (bench/accessible.sh), while the stand-in screen reader counts the events
# of the program and a listener prints each name change, selection change and caret move it sees, with
# what the event carried.
#
# Usage: bench/findreader.sh
# Parameters (environment), defaults in brackets:
#   SCREENREADER   the stand-in screen reader    [shared/tools/screenreader-standin.py beside the checkout]
#   BUILD_DIR      build directory               [build]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${SCREENREADER:-}" ]; then
    for SCREENREADER in ../shared/tools/screenreader-standin.py ../../shared/tools/screenreader-standin.py; do
        [ -f "$SCREENREADER" ] && break
    done
fi
SCREENREADER=$(realpath "$SCREENREADER")
BUILD_DIR=${BUILD_DIR:-build}

if [ -z "${FINDREADER_INNER:-}" ]; then
    scripts/deps.sh xvfb xauth dbus-daemon at-spi2-core python3-pyatspi >&2
    cmake -S . -B "$BUILD_DIR" >&2
    cmake --build "$BUILD_DIR" -j2 --target findbench >&2
    FINDREADER_INNER=1 SCREENREADER="$SCREENREADER" exec bench/accessible.sh "$0"
fi

/usr/bin/python3 "$SCREENREADER" --seconds 6 --app findbench &
standin=$!
/usr/bin/python3 - <<'PY' &
import pyatspi
from gi.repository import GLib

def on_event(event):
    try:
        if event.host_application.name != "findbench":
            return
        role = event.source.getRoleName()
        name = event.source.name
    except Exception:
        return
    print("listener: %s on %s \"%s\" detail=%s,%s data=%r" % (
        event.type, role, name, event.detail1, event.detail2, event.any_data), flush=True)

for kind in ("object:property-change:accessible-name", "object:text-selection-changed",
             "object:text-caret-moved"):
    pyatspi.Registry.registerEventListener(on_event, kind)
GLib.timeout_add(6000, lambda: pyatspi.Registry.stop())
pyatspi.Registry.start()
PY
listener=$!
sleep 1
"$BUILD_DIR/bench/findbench" --window
wait "$standin" "$listener"
