#!/usr/bin/env bash
# Builds the fuzz targets (the readers, and every vector kernel against the
# portable walk) with clang, libFuzzer and the address and undefined-behaviour
# sanitizers, and runs each for SECONDS (default 30) from a copy of its seed
# corpus. A crash fails the run and leaves its input in
# build/fuzz/crashes/; put it in fuzz/regressions/<target>/ once fixed, where
# the test suite replays it for good.
#
#     fuzz/run.sh [SECONDS]
set -euo pipefail
seconds=${1:-30}
src=$(cd "$(dirname "$0")/.." && pwd)
build="$src/build/fuzz"
CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLQ2X_FUZZ=ON \
    -DLQ2X_SANITIZE=ON -DLQ2X_WERROR=ON -DLQ2X_BUILD_TESTS=OFF -DLQ2X_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_png fuzz_pnm fuzz_raw fuzz_kernels
mkdir -p "$build/crashes"
for reader in png pnm raw kernels; do
    work="$build/corpus-$reader"
    rm -rf "$work"
    mkdir -p "$work"
    cp "$src/fuzz/corpus/$reader/"* "$work/"
    echo "fuzzing $reader for ${seconds}s"
    "$build/fuzz_$reader" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="$build/crashes/$reader-" "$work" "$src/fuzz/regressions/$reader" 2>"$build/$reader.log" ||
        { tail -n 40 "$build/$reader.log"; exit 1; }
    grep -E '^Done|stat::number_of_executed_units' "$build/$reader.log" | tail -n 1
done
