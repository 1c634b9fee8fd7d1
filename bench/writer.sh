# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the bench scripts: the flood writer on a pty master, and the fields of a key=value line.
# Needs $writerBin (the floodwriter program).

field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }

# Starts floodwriter with the given arguments; sets $writer (its pid), $writerOut and $slave.
startWriter() {
    writerOut=$(mktemp)
    "$writerBin" "$@" >"$writerOut" &
    writer=$!
    slave=""
    for _ in $(seq 100); do
        slave=$(sed -n 's/^slave=//p' "$writerOut")
        [ -n "$slave" ] && break
        sleep 0.1
    done
    [ -n "$slave" ] || { echo "floodwriter did not start" >&2; exit 1; }
}

# Waits for the writer to end and prints its report.
writerResult() {
    wait "$writer"
    tail -n 1 "$writerOut"
    rm -f "$writerOut"
}
