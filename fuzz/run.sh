#!/usr/bin/env bash
# Builds the fuzz targets (the readers, the PNG writer, and every vector
# kernel against the portable walk) with clang, libFuzzer and the address and
# undefined-behaviour sanitizers, and runs each for SECONDS (default 30) from
# a copy of its seed corpus. When Debian's libpng source is in
# build/libpng-src (fuzz/libpng-source.sh fetches it, as .ci/run does), libpng itself is built the same way, so the PNG fuzzer reaches
# and checks libpng's own code too; otherwise the installed libpng is used,
# uninstrumented, and the run says so. A crash fails the run and leaves its
# input in build/fuzz/crashes/; put it in fuzz/regressions/<target>/ once
# fixed, where the test suite replays it for good. LQ2X_FUZZ_TARGETS names
# the targets to run (all by default). `fuzz/run.sh build` only
# builds them (CI does so while another step leaves a core idle).
#
#     fuzz/run.sh [SECONDS | build]
set -euo pipefail
seconds=${1:-30}
src=$(cd "$(dirname "$0")/.." && pwd)
build="$src/build/fuzz"
libpng="$src/build/libpng-src"
if [[ ! -f $libpng/png.c ]]; then
    echo "no libpng source in $libpng (fuzz/libpng-source.sh fetches it): the installed libpng is used, uninstrumented"
    libpng=""
fi
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLQ2X_FUZZ=ON \
    -DLQ2X_FUZZ_LIBPNG_SOURCE="$libpng" -DLQ2X_SANITIZE=ON -DLQ2X_WERROR=ON -DLQ2X_BUILD_TESTS=OFF \
    -DLQ2X_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_png fuzz_pnm fuzz_raw fuzz_png_write fuzz_webp fuzz_apng fuzz_gif fuzz_kernels \
    fuzz_bmp fuzz_tga fuzz_ico fuzz_pcx
[[ $seconds == build ]] && exit 0
mkdir -p "$build/crashes"
# Two fuzzers at a time, one a core, each to its own log; the first to fail
# shows its log's end and fails the run.
fuzz_one() {
    local reader=$1 work="$build/corpus-$1"
    rm -rf "$work"
    mkdir -p "$work"
    cp "$src/fuzz/corpus/$reader/"* "$work/"
    if "$build/fuzz_$reader" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="$build/crashes/$reader-" "$work" "$src/fuzz/regressions/$reader" 2>"$build/$reader.log"; then
        echo "fuzz_$reader, ${seconds}s: $(grep -E '^Done|stat::number_of_executed_units' "$build/$reader.log" | tail -n 1)"
    else
        echo "fuzz_$reader failed:"
        tail -n 40 "$build/$reader.log"
        return 1
    fi
}
running=0
for reader in ${LQ2X_FUZZ_TARGETS:-png pnm raw png_write webp apng gif kernels bmp tga ico pcx}; do
    if ((running == ${LQ2X_FUZZ_JOBS:-2})); then
        wait -n
        running=$((running - 1))
    fi
    fuzz_one "$reader" &
    running=$((running + 1))
done
while ((running > 0)); do
    wait -n
    running=$((running - 1))
done
