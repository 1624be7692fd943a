#!/bin/sh
# Redraws the pictures of tile grids and edge modes in docs/tool.md from the
# project's own art: docs/make_figures.sh [BUILD_DIR]  (default build/release).
# Needs ImageMagick 6 (`convert`) to crop, enlarge and lay them out.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/lq2x_make_sample" --sheet sheet.pam
"$build/lq2x_make_sample" --texture texture.pam
lq2x="$build/lq2x"

# The sheet scaled as one picture, and cell by cell.
convert sheet.pam "$here/sheet.png"
"$lq2x" sheet.pam whole.png
"$lq2x" --tile 16x16 sheet.pam cells.png
# Four by two tiles from the middle of the sheet, enlarged 3x more.
for f in whole cells; do
    convert "$f.png" -crop 128x64+128+32 +repage -scale 300% "$f-crop.png"
done
convert whole-crop.png -size 24x1 xc:white cells-crop.png +append "$here/sheet-cells.png"

# The texture scaled with clamped and with wrapped edges, each tiled 2 x 2.
convert texture.pam "$here/texture.png"
"$lq2x" texture.pam clamp.png
"$lq2x" --edge wrap texture.pam wrap.png
for f in clamp wrap; do
    convert "$f.png" "$f.png" +append "$f-row.png"
    convert "$f-row.png" "$f-row.png" -append -scale 300% "$f-tiled.png"
done
convert clamp-tiled.png -size 24x1 xc:white wrap-tiled.png +append "$here/texture-wrap.png"
