#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tests offscreen.
# Usage: ./test.sh [--sanitize | --tsan] [ctest arguments...]
#   --sanitize  builds in build-sanitize/ with AddressSanitizer and UndefinedBehaviorSanitizer and runs
#               the tests there (also: ZELCOM_SANITIZE=1 ./test.sh)
#   --tsan      builds in build-tsan/ with ThreadSanitizer and runs the tests there
set -euo pipefail
cd "$(dirname "$0")"
sanitize="${ZELCOM_SANITIZE:-0}"
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=1
    shift
fi
scripts/deps.sh
if [ "${1:-}" = "--tsan" ]; then
    shift
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELCOM_TSAN=ON >/dev/null
    cmake --build build-tsan -j2
    cd build-tsan
    # die_after_fork=0: the vport test starts its program with QProcess from a process with threads.
    export TSAN_OPTIONS="second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/../tests/tsan.supp"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure "$@"
    exit
fi
if [ "$sanitize" = 1 ]; then
    cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELCOM_SANITIZE=ON >/dev/null
    cmake --build build-sanitize -j2
    cd build-sanitize
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure "$@"
    exit
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure "$@"
