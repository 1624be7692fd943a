#!/bin/sh
# The before-and-after table of the kernels against memset and the floor,
# from one run of bench/memwall.cpp with both builds loaded side by side:
#
#     bench/memwall.sh [--tool] [lq2x_memwall options] BEFORE AFTER
#
# BEFORE and AFTER are git revisions of this repository (main, memwall,
# 6bd09f6, ...) or folders that hold a built liblq2x.so. A revision is
# exported and built as a shared library in a scratch folder (under
# $MEMWALL_DIR, by default build/memwall-runs); lq2x_memwall itself is
# built from this checkout. Options after --tool go to lq2x_memwall
# (--rounds N, --huge, --kernel K, --size WxH, --content C).
#
# With --tool, the command-line tool of each revision is built too and its
# PNG and stream workloads are timed against each other with farm-bench
# (--vs) where it is installed: crawl-tiles-data's main.png at 2x, and 60
# frames of 1920 x 1080 raw RGBA (main.png tiled with its transparency, by
# ImageMagick's convert) through --stream, to /dev/null, one thread each.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
work=${MEMWALL_DIR:-$here/build/memwall-runs}
tool=no
if [ "${1:-}" = "--tool" ]; then
    tool=yes
    shift
fi
[ $# -ge 2 ] || { echo "usage: $0 [--tool] [lq2x_memwall options] BEFORE AFTER" >&2; exit 2; }
eval "after=\${$#}"
eval "before=\${$(($# - 1))}"
options=""
while [ $# -gt 2 ]; do
    options="$options $1"
    shift
done
mkdir -p "$work"
jobs=${JOBS:-2}

# A revision's library (and with --tool its tool), built once per commit.
build() {
    if [ -d "$1" ] && [ -e "$1/liblq2x.so" ]; then
        echo "$1"
        return
    fi
    commit=$(git -C "$here" rev-parse --short "$1^{commit}")
    src=$work/src-$commit
    out=$work/build-$commit
    if [ ! -d "$src" ]; then
        mkdir -p "$src"
        git -C "$here" archive "$commit" | tar -x -C "$src"
    fi
    if [ ! -e "$out/liblq2x.so" ] || { [ $tool = yes ] && [ ! -e "$out/lq2x" ]; }; then
        tool_on=OFF
        [ $tool = yes ] && tool_on=ON
        cmake -S "$src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
            -DLQ2X_BUILD_TESTS=OFF -DLQ2X_BUILD_BENCH=OFF -DLQ2X_BUILD_TOOL=$tool_on >"$out.log" 2>&1 ||
            { cat "$out.log" >&2; exit 1; }
        targets=lq2x
        [ $tool = yes ] && targets="lq2x lq2x_tool"
        nice cmake --build "$out" -j "$jobs" --target $targets >>"$out.log" 2>&1 || { cat "$out.log" >&2; exit 1; }
    fi
    echo "$out"
}

before_dir=$(build "$before")
after_dir=$(build "$after")

bench=$work/bench
if [ ! -e "$bench/build.ninja" ]; then
    cmake -S "$here" -B "$bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLQ2X_BUILD_TESTS=OFF \
        -DLQ2X_BUILD_TOOL=OFF -DLQ2X_BUILD_BENCH=ON >"$bench.log" 2>&1 || { cat "$bench.log" >&2; exit 1; }
fi
nice cmake --build "$bench" -j "$jobs" --target lq2x_memwall >>"$bench.log" 2>&1 || { cat "$bench.log" >&2; exit 1; }

echo "before: $before ($before_dir)"
echo "after:  $after ($after_dir)"
# shellcheck disable=SC2086 # the options are words
"$bench/lq2x_memwall" $options "$before_dir/liblq2x.so" "$after_dir/liblq2x.so"

if [ $tool = yes ]; then
    if ! command -v farm-bench >/dev/null; then
        echo "farm-bench is not installed: no tool workloads" >&2
        exit 0
    fi
    png=/usr/share/crawl/dat/tiles/main.png
    frames=$work/frames-1920x1080.rgba
    if [ ! -e "$frames" ]; then
        # 60 frames of real art: main.png tiled over 1920 x 1080, raw RGBA
        # with 8-bit samples (a Q16 ImageMagick writes 16 unless told), and
        # filled from the picture in memory: tile: would lay it on an opaque
        # canvas and lose the transparency.
        convert "$png" -write mpr:art +delete -size 1920x1080 xc:none -fill mpr:art -draw 'color 0,0 reset' \
            -depth 8 rgba:"$frames.one"
        [ "$(wc -c <"$frames.one")" -eq $((1920 * 1080 * 4)) ] || { echo "convert made the wrong frame" >&2; exit 1; }
        for _ in $(seq 60); do cat "$frames.one"; done >"$frames"
        rm "$frames.one"
    fi
    echo
    echo "Tool workloads (A: after, B: before):"
    farm-bench -n 9 --timeout 600 --vs "$before_dir/lq2x --threads 1 $png $work/before.png" -- \
        "$after_dir/lq2x" --threads 1 "$png" "$work/after.png"
    farm-bench -n 9 --timeout 600 --vs "$before_dir/lq2x --threads 1 --stream 1920x1080 --pixel rgba $frames /dev/null" -- \
        "$after_dir/lq2x" --threads 1 --stream 1920x1080 --pixel rgba "$frames" /dev/null
fi
