#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a bounded time.
# Usage: tools/fuzz.sh [seconds per target, default 60]
# A finding leaves its input in build-fuzz/artifacts/<target>/ and makes the script fail; replay it with
#   build-fuzz/tools/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/deps.sh clang libclang-rt-14-dev
CXX=clang++ CC=clang cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELCOM_FUZZ=ON \
    -DBUILD_TESTING=OFF >/dev/null
targets=(fuzz_hexbytes fuzz_linesettings fuzz_gbkdecoder)
cmake --build build-fuzz -j2 --target "${targets[@]}"

# Seeds: a few inputs that already reach deep (first byte 0: the rest is UTF-8).
seed() { mkdir -p "build-fuzz/corpus/$1"; printf "$2" >"build-fuzz/corpus/$1/seed-$3"; }
seed fuzz_hexbytes '\0000A ff 41' 1
seed fuzz_hexbytes '\000 \t1 2\t' 2
seed fuzz_linesettings '\0009600,n,8,1' 1
seed fuzz_linesettings '\000115200,E,7,2' 2
seed fuzz_gbkdecoder '\005\xd0\xe9\xc4\xe2A\r\n\x81' 1

export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for t in "${targets[@]}"; do
    mkdir -p "build-fuzz/artifacts/$t"
    echo "== $t: ${seconds} s"
    if ! "build-fuzz/tools/fuzz/$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$t/" "build-fuzz/corpus/$t" 2>"build-fuzz/$t.log"; then
        failed+=("$t")
        tail -n 40 "build-fuzz/$t.log"
    else
        grep -E 'stat::number_of_executed_units|cov:' "build-fuzz/$t.log" | tail -n 2
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings in: ${failed[*]} (inputs in build-fuzz/artifacts/)"
    exit 1
fi
echo "No findings."
