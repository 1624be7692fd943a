#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs the Debian packages the
# suite builds and runs with when some are missing (as root; otherwise says which),
# then configures, builds and runs every test. With --install-only it stops
# after the install.
set -euo pipefail
cd "$(dirname "$0")/.."

# Besides the build's own libraries: Debian's webp programs, ffmpeg and
# ImageMagick, which read the tool's WebP, animated PNG and GIF files back
# as independent decoders, and Pillow, for the older formats ImageMagick
# misreads. EGL, OpenGL ES 3 and Mesa's software rasteriser
# for the GPU host and its test, and the real pixel art that test reads.
# groff (groff-base), which checks the tool's manual page.
packages=(cmake ninja-build g++ pkg-config zlib1g-dev libdeflate-dev libgif-dev libwebp-dev libleptonica-dev libgtest-dev
          libpng-dev libcli11-dev libbenchmark-dev webp ffmpeg imagemagick python3-pil
          libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri crawl-tiles-data groff-base)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
    if [ "$(id -u)" -ne 0 ]; then
        echo "tests/run.sh: the tests need: sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

[ "${1:-}" = --install-only ] && exit 0
cmake --workflow --preset test
