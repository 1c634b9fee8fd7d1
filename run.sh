#!/usr/bin/env bash
# Installs what is missing, builds the window and the virtual device (not the tests and benchmarks:
# ./test.sh builds those), and starts the window. On a machine without a serial adapter a virtual
# device stands in as COM1 for as long as the window is open.
# Usage: ./run.sh [--targets]
#   --targets  configures build/ (or $ZELCOM_BUILD_DIR) as a start would, prints the targets it would
#              build, one a line, and stops there (tests/runbuildsthewindow.sh checks them)
set -euo pipefail
cd "$(dirname "$0")"
build="${ZELCOM_BUILD_DIR:-build}"
targets=(zelcom_app zelcom_vport)
configure() {
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}
if [ "${1:-}" = "--targets" ]; then
    configure
    printf '%s\n' "${targets[@]}"
    exit 0
fi
scripts/deps.sh
configure
if [ ! -x "$build/app/zelcom" ]; then
    # bench/firstbuild.sh: 113 s of CPU; 282 s on two cores shared with other builds (load 13).
    echo "First build of the window and the virtual device: about 2 minutes of compiling, so 1 to 2" \
        "minutes on two free cores and about 5 on a busy machine. Later starts build only what changed."
fi
cmake --build "$build" -j2 --target "${targets[@]}"

app="$build/app/串口调试程序"
vport="$build/tools/vport/zelcom-vport"

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
