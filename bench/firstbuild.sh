#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How long the first ./run.sh builds: a fresh build of the targets run.sh names (./run.sh --targets), from a
# copy of the tree, without ccache, -j2 as run.sh builds. Prints the wall-clock time, the CPU time of the
# compilers and linkers, and the machine's load when it started (a busy machine stretches the first).
# Usage: bench/firstbuild.sh [scratch-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
scratch="${1:-$(mktemp -d)}"
mkdir -p "$scratch/src"
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
    if [ -e "$f" ]; then cp --parents -- "$f" "$scratch/src"; fi
done
mapfile -t targets < <(ZELCOM_BUILD_DIR="$scratch/build" "$scratch/src/run.sh" --targets)
load=$(cut -d' ' -f1 /proc/loadavg)
TIMEFORMAT='%R %U %S'
times=$({ time CCACHE_DISABLE=1 cmake --build "$scratch/build" -j2 --target "${targets[@]}" >/dev/null; } 2>&1)
read -r wall user sys <<<"$times"
printf 'first build of %s: %.0f s wall, %.0f s CPU, load %s at the start on %s cores\n' \
    "${targets[*]}" "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$load" "$(nproc)"
