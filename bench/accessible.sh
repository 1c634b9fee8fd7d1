#!/usr/bin/env bash
# Runs a command with the platform's accessibility truly active, as under a screen reader: Qt's X11
# platform on a virtual display, a session bus with the accessibility bus launcher on it, and Qt told to
# stay on (no reader has to switch it on). Offscreen, Qt has no accessibility bridge at all, and
# QAccessible::isActive() stays false whatever a program does.
#
# Usage: bench/accessible.sh COMMAND [ARGUMENTS...]
# Needs xvfb-run, dbus-run-session and at-spi-bus-launcher (packages xvfb, xauth, dbus, at-spi2-core).
set -euo pipefail
if [ "${1:-}" = --inside ]; then
    shift
    launcher=/usr/libexec/at-spi-bus-launcher
    [ -x "$launcher" ] || launcher=/usr/lib/at-spi2-core/at-spi-bus-launcher
    "$launcher" >/dev/null 2>&1 &
    bus=$!
    trap 'kill "$bus" 2>/dev/null || true' EXIT
    # The launcher registers on the session bus; the program finds it there.
    for _ in $(seq 50); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
            string:org.a11y.Bus 2>/dev/null | grep -q true && break || true
        sleep 0.1
    done
    QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
    exit
fi
exec xvfb-run -a dbus-run-session -- "$0" --inside "$@"
