#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ./run.sh on a fresh clone builds what the window and the virtual device need, and none of the tests or
# benchmarks. Nothing is built: run.sh configures a copy of the tree and names its targets, and CMake's
# dependency graph says what those targets pull in.
# Usage: tests/runbuildsthewindow.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
src="$1"
scratch="$2"
rm -rf "$scratch"
mkdir -p "$scratch/src"
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # What a commit of this tree would hold: tracked and new files, none that are ignored or deleted.
    (cd "$src" && git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
        if [ -e "$f" ]; then cp --parents -- "$f" "$scratch/src"; fi
    done)
else
    (cd "$src" && tar --exclude='./build*' -cf - .) | tar -xf - -C "$scratch/src"
fi
build="$scratch/build"
mapfile -t targets < <(ZELCOM_BUILD_DIR="$build" "$scratch/src/run.sh" --targets)
cmake "--graphviz=$scratch/graph.dot" "$build" >/dev/null

# Every target the named ones need, by name, following the graph's edges.
needed=$(sed -n -e 's/^ *"\([^"]*\)" \[ label = "\([^"\\]*\).*/L\t\1\t\2/p' \
    -e 's/^ *"\([^"]*\)" -> "\([^"]*\)".*/E\t\1\t\2/p' "$scratch/graph.dot" |
    awk -F '\t' -v roots="${targets[*]}" '
    $1 == "L" { name[$2] = $3 }
    $1 == "E" { edges[$2] = edges[$2] "\t" $3 }
    END {
        n = split(roots, r, " ")
        for (id in name) for (i = 1; i <= n; i++) if (name[id] == r[i]) todo[id] = 1
        do {
            more = 0
            for (id in todo) {
                if (id in seen) continue
                seen[id] = 1
                k = split(edges[id], e, "\t")
                for (j = 1; j <= k; j++) if (e[j] != "" && !(e[j] in seen)) { todo[e[j]] = 1; more = 1 }
            }
        } while (more)
        for (id in seen) print name[id]
    }' | sort -u)

status=0
for wanted in zelcom_app zelcom_vport zelcom_binding; do
    if ! grep -qx -- "$wanted" <<<"$needed"; then
        echo "run.sh does not build $wanted" >&2
        status=1
    fi
done
# The targets defined in tests/ and bench/ are those with a folder of their own there.
for dir in $(find "$build/tests" "$build/bench" -type d -path '*/CMakeFiles/*.dir' 2>/dev/null); do
    target=$(basename "$dir" .dir)
    if grep -qx -- "$target" <<<"$needed"; then
        echo "run.sh builds $target, which belongs to the tests or the benchmarks" >&2
        status=1
    fi
done
[ "$status" = 0 ] && echo "run.sh builds: $(tr '\n' ' ' <<<"$needed")"
exit "$status"
