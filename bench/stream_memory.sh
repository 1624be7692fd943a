#!/bin/bash
# Peak memory and wall time of pictures scaled by rows, against libvips'
# `vips zoom` (which streams too) and a whole-picture build of the tool
# (OLD, e.g. main's), on art: crawl's main.png tiled to 16, 64 and 256
# megapixels, at 2x and 4x, upright and turned (cw). Prints a Markdown
# table (processor named at its head) for docs/performance.md.
#
#   bench/stream_memory.sh NEW_TOOL [OLD_TOOL] [SIZES...]
#     NEW_TOOL   this build's lq2x (e.g. build/release/lq2x)
#     OLD_TOOL   a whole-picture lq2x to compare times with; "-" for none
#     SIZES      sides of the square inputs (default 4096 8192 16384)
#
# Needs libvips-tools and crawl-tiles-data; SCRATCH (default /tmp) needs
# room for the largest output (about 1 GB at 16384 and 4x). A run whose
# memory would pass MAX_WHOLE_GB (default 8) on a whole-picture path (OLD,
# and NEW turned, which holds the picture) is skipped and marked so.
set -euo pipefail
NEW=$(realpath "$1")
OLD=${2:--}
[ "$OLD" != - ] && OLD=$(realpath "$OLD")
shift $(($# < 2 ? $# : 2))
SIZES=${*:-4096 8192 16384}
ART=/usr/share/crawl/dat/tiles/main.png
SCRATCH=$(mktemp -d "${SCRATCH:-/tmp}/stream_memory.XXXXXX")
MAX_WHOLE_GB=${MAX_WHOLE_GB:-8}
trap 'rm -rf "$SCRATCH"' EXIT
cd "$SCRATCH"

cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
family=$(lscpu | sed -n 's/^CPU family: *//p' | head -1)
echo "Processor: $cpu (family $family), $(nproc) cores; $(vips --version)"
echo
echo "| input | scale | turn | lq2x by rows: s, MB | libvips zoom: s, MB | whole picture: s, MB |"
echo "|---|---|---|---|---|---|"

# "seconds, MB" of a command, its output deleted; "-" when it fails.
measure() {
    local out=$1
    shift
    if /usr/bin/time -f "%e %M" -o time.txt timeout 1800 nice "$@" >/dev/null 2>err.txt; then
        read -r s kb < time.txt
        echo "$s, $((kb / 1024))"
    else
        echo "failed ($(head -c 120 err.txt | tr '\n' ' '))"
    fi
    rm -f "$out"
}

for side in $SIZES; do
    mp=$((side * side / 1048576))
    across=$(((side + 1023) / 1024)) down=$(((side + 999) / 1000))
    vips replicate "$ART" tiled.v "$across" "$down"
    vips crop tiled.v "in$side.png" 0 0 "$side" "$side"
    rm -f tiled.v
    for scale in 2 4; do
        for turn in none cw; do
            whole_gb=$((side * side * (scale * scale + 1) * 4 / 1073741824))
            if [ "$turn" = cw ] && [ "$whole_gb" -gt "$MAX_WHOLE_GB" ]; then
                new="skipped (holds ${whole_gb} GB whole)"
            else
                new=$(measure out.png "$NEW" --max-pixels 0 --scale "$scale" --rotate "$turn" "in$side.png" out.png)
            fi
            vips_cell=$(measure out.png vips zoom "in$side.png" out.png "$scale" "$scale")
            [ "$turn" = cw ] && vips_cell="$vips_cell (upright)"
            old="-"
            if [ "$OLD" != - ]; then
                if [ "$whole_gb" -gt "$MAX_WHOLE_GB" ]; then
                    old="skipped (holds ${whole_gb} GB)"
                else
                    old=$(measure out.png "$OLD" --max-pixels 0 --scale "$scale" --rotate "$turn" "in$side.png" out.png)
                fi
            fi
            echo "| ${side}² (${mp} MP) | ${scale}x | $turn | $new | $vips_cell | $old |"
        done
    done
    rm -f "in$side.png"
done
