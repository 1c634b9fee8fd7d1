#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The capture past its disk budget, this tree against an earlier revision in the same run, as a Markdown
# table. The scratch folder is on a small ext4 of its own (a loop device; needs root), so that the budget
# (1 GiB and 5 % kept free) is reached within seconds and the file system holds nothing else. The file is
# measured on itself (its blocks on disk) against what the store holds, at 64 steps past the budget.
#
# Usage: sudo bench/budget.sh
# Parameters (environment), defaults in brackets:
#   LOOP_MB    size of the ext4 file system                      [1200]
#   HEX_BYTES  random bytes received in hex display               [400000000]
#   TEXT_CHARS characters of text lines received                  [2000000000]
#   BEFORE     the revision compared with                         [fcd2333]
#   BUILD_DIR  build directory                                    [build]
set -euo pipefail
cd "$(dirname "$0")/.."

LOOP_MB=${LOOP_MB:-1200}
HEX_BYTES=${HEX_BYTES:-400000000}
TEXT_CHARS=${TEXT_CHARS:-2000000000}
BEFORE=${BEFORE:-fcd2333}
BUILD_DIR=${BUILD_DIR:-build}
. bench/writer.sh # field

cmake -S . -B "$BUILD_DIR" >&2
cmake --build "$BUILD_DIR" -j2 --target storebench >&2

# The earlier revision, with this bench built against its store.
before="${TMPDIR:-/tmp}/zelcom-before-$BEFORE"
if [ ! -x "$before/build/bench/storebench" ]; then
    rm -rf "$before" && mkdir -p "$before"
    git archive "$BEFORE" | tar -x -C "$before"
    cp bench/storebench.cpp "$before/bench/"
    cat >>"$before/bench/CMakeLists.txt" <<'EOF'
add_executable(storebench storebench.cpp)
target_link_libraries(storebench PRIVATE zelcom_benchsupport zelcom::warnings)
target_compile_definitions(storebench PRIVATE ZELCOM_BENCH_BEFORE)
EOF
    cmake -S "$before" -B "$before/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >&2
    cmake --build "$before/build" -j2 --target storebench >&2
fi

image=$(mktemp "${TMPDIR:-/tmp}/zelcom-budget-XXXXXX.img")
mountpoint=$(mktemp -d "${TMPDIR:-/tmp}/zelcom-budget-XXXXXX")
loop=""
cleanup() {
    mountpoint -q "$mountpoint" && umount "$mountpoint"
    [ -n "$loop" ] && losetup -d "$loop"
    rm -f "$image"
    rmdir "$mountpoint"
}
trap cleanup EXIT
truncate -s "${LOOP_MB}M" "$image"
loop=$(losetup -f --show "$image")
mkfs.ext4 -q "$loop"
mount "$loop" "$mountpoint"

echo "The capture past its disk budget on a ${LOOP_MB} MB ext4 (budget: 1 GiB and 5 % kept free), this tree"
echo "against $BEFORE. \"held\" is what the store holds as received (text at two bytes a character); the"
echo "file is its blocks on disk. Timings share two cores with other builds."
echo
echo "| display | revision | received | held MB at the end | file MB at the end | least held MB past the budget | most file MB | file / held at worst | file - held at worst MB | oldest held exact | newest exact | peak RSS MB | clear ms (store) | old file gone |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for mode in text hex; do
    amount=$([ "$mode" = hex ] && echo "$HEX_BYTES" || echo "$TEXT_CHARS")
    for revision in "$BEFORE" this; do
        bin=$([ "$revision" = this ] && echo "$BUILD_DIR/bench/storebench" || echo "$before/build/bench/storebench")
        line=$("$bin" --folder "$mountpoint/zelcom" --mode "$mode" --bytes "$amount" 2>/dev/null) || true
        [ -n "$line" ] || { printf "| %s | %s | did not finish |\n" "$mode" "$revision"; continue; }
        printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n" "$mode" "$revision" \
            "$(field received "$line")" "$(field held_mb "$line")" "$(field file_mb "$line")" \
            "$(field least_held_mb "$line")" "$(field file_max_mb "$line")" "$(field worst_file_per_held "$line")" \
            "$(field worst_file_minus_held_mb "$line")" "$(field head_exact "$line")" "$(field tail_exact "$line")" \
            "$(field peak_rss_mb "$line")" "$(field clear_ms "$line")" "$(field old_file_gone "$line")"
    done
done
