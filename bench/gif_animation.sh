#!/usr/bin/env bash
# Makes a 100-frame 128 x 128 animated GIF with ImageMagick (a sprite, a
# block and a hill moving over a flat sky, a few dozen colours) and times
# `lq2x in.gif out.gif` and `lq2x in.gif out.png` (animated PNG) on it with hyperfine, side by side with ImageMagick's
# plain pixel doubling of the same GIF (one thread) as a yardstick.
#
#     bench/gif_animation.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$src/build/release}")/lq2x
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=()
for i in $(seq 0 99); do
    x=$((10 + i)) y=$((54 + i % 20))
    frames+=('(' -size 128x128 xc:'#204060' -fill '#e0c040' -draw "circle $x,$y $((x + 12)),$y"
             -fill '#a02020' -draw "rectangle $((100 - i / 2)),20 $((120 - i / 2)),40"
             -fill '#40a040' -draw "polygon 0,127 $i,90 $((i + 30)),127" ')')
done
# One thread: ImageMagick's own threads only wait for each other on so small pictures.
MAGICK_THREAD_LIMIT=1 convert "${frames[@]}" -set delay 4 -loop 0 "$work/in.gif"
echo "$(identify "$work/in.gif" | wc -l) frames of $(identify -format '%wx%h\n' "$work/in.gif" | head -n 1)"
hyperfine --warmup 1 --runs 10 "$tool $work/in.gif $work/out.gif" "$tool $work/in.gif $work/out.png" \
    "env MAGICK_THREAD_LIMIT=1 convert $work/in.gif -sample 200% $work/sampled.gif"
