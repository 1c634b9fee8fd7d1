#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window. On a machine without a serial adapter a
# virtual device stands in as COM1 for as long as the window is open.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2

app="build/app/串口调试程序"
vport="build/tools/vport/zelcom-vport"

# Ports the user named, or real hardware (the system console does not count): COM1 is theirs.
if [ -n "${ZELCOM_PORTS:-}" ] || [ -n "$("$vport" --hardware)" ]; then
    exec "$app" "$@"
fi

coproc VPORT { exec "$vport"; }
vport_pid=$VPORT_PID
stop_vport() {
    kill -TERM "$vport_pid" 2>/dev/null || true
    wait "$vport_pid" 2>/dev/null || true
}
trap stop_vport EXIT
if ! read -r -t 5 vport_path <&"${VPORT[0]}" || [ -z "$vport_path" ]; then
    echo "run.sh: the virtual serial device did not start" >&2
    exit 1
fi
echo "No serial adapter found: COM1 is the virtual device $vport_path (it echoes what you send and sends a line of text every second)."
status=0
ZELCOM_PORTS="$vport_path" "$app" "$@" || status=$?
exit "$status"
