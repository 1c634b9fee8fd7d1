#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window under a flood faster than its disk, this tree against an earlier revision in the same run, as
# a Markdown table: the scratch folder is on an ext4 mounted with -o sync (every write goes to the device
# before it returns) on a loop device whose writes are throttled to THROTTLE bytes a second for the
# window's process (a blkio cgroup). Measured: how late a 10 ms timer fires on the window's thread, whether
# every byte is counted and shown exactly, and the peak memory. Needs root (losetup, mount, cgroups v1
# blkio).
#
# Usage: sudo bench/slowdisk.sh
# Parameters (environment), defaults in brackets:
#   RATE      bytes a second the writer sends (hex: random bytes)  [4194304]
#   SECONDS_  length of each flood                                  [30]
#   THROTTLE  bytes a second the disk takes                         [1048576]
#   BEFORE    the revision compared with                            [fcd2333]
#   BUILD_DIR build directory                                       [build]
set -euo pipefail
cd "$(dirname "$0")/.."

RATE=${RATE:-4194304}
SECONDS_=${SECONDS_:-30}
THROTTLE=${THROTTLE:-1048576}
BEFORE=${BEFORE:-fcd2333}
BUILD_DIR=${BUILD_DIR:-build}

cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target floodwindow floodwriter >&2
before="${TMPDIR:-/tmp}/zelcom-before-$BEFORE"
if [ ! -x "$before/build/bench/floodwindow" ]; then
    rm -rf "$before" && mkdir -p "$before"
    git archive "$BEFORE" | tar -x -C "$before"
    cmake -S "$before" -B "$before/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >&2
    cmake --build "$before/build" -j2 --target floodwindow >&2
fi
writerBin="$BUILD_DIR/bench/floodwriter"
. bench/writer.sh
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

# A sparse file system large enough that the scratch file is chosen over memory.
image=$(mktemp "${TMPDIR:-/tmp}/zelcom-slow-XXXXXX.img")
mountpoint=$(mktemp -d "${TMPDIR:-/tmp}/zelcom-slow-XXXXXX")
group=/sys/fs/cgroup/blkio/zelcom-slowdisk-$$
loop=""
cleanup() {
    mountpoint -q "$mountpoint" && umount "$mountpoint"
    [ -n "$loop" ] && losetup -d "$loop"
    rm -f "$image"
    rmdir "$mountpoint"
    [ -d "$group" ] && rmdir "$group"
}
trap cleanup EXIT
truncate -s 32G "$image"
loop=$(losetup -f --show "$image")
mkfs.ext4 -q "$loop"
mount -o sync "$loop" "$mountpoint"
mkdir "$group"
IFS=: read -r major minor <<<"$(stat -c '%t:%T' "$loop")"
printf '%d:%d %d\n' "0x$major" "0x$minor" "$THROTTLE" >"$group/blkio.throttle.write_bps_device"

echo "A hex flood of $RATE bytes/s for $SECONDS_ s; the scratch folder on a disk that takes $THROTTLE bytes/s."
echo "Timings share two cores with other builds."
echo
echo "| revision | received MB | exact | 10 ms timer late, p50 ms | p99 ms | worst ms | peak RSS MB |"
echo "|---|---|---|---|---|---|---|"
for revision in "$BEFORE" this; do
    window=$([ "$revision" = this ] && echo "$BUILD_DIR/bench/floodwindow" || echo "$before/build/bench/floodwindow")
    rm -rf "$mountpoint/cache"
    startWriter --mode hex --rate "$RATE" --seconds "$SECONDS_"
    line=$(sh -c 'echo $$ >"$1/cgroup.procs"; shift; exec "$@"' - "$group" \
        env XDG_CACHE_HOME="$mountpoint/cache" "$window" --slave "$slave" --mode hex --seconds "$SECONDS_" \
        2>/dev/null) || true
    writerResult >/dev/null || true
    printf "| %s | %s | %s | %s | %s | %s | %s |\n" "$revision" \
        "$(awk -v b="$(field received_bytes "$line")" 'BEGIN { printf "%.0f", b / 1e6 }')" "$(field exact "$line")" \
        "$(field probe_p50_ms "$line")" "$(field probe_p99_ms "$line")" "$(field probe_max_ms "$line")" \
        "$(field peak_rss_mb "$line")"
done
