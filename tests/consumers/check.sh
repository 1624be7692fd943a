#!/usr/bin/env bash
# Builds the library and tool, installs them into a scratch prefix, and builds
# and runs a small outside program against the library three ways:
# find_package on the installed copy, add_subdirectory on the source tree,
# and pkg-config.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLQ2X_WERROR=ON -DLQ2X_BUILD_TESTS=OFF \
    -DLQ2X_BUILD_BENCH=OFF >/dev/null
cmake --build "$work/build" >/dev/null
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
# The tool comes with the library.
"$work/prefix/bin/lq2x" --version

passed=0
cmake -S "$src/tests/consumers/installed" -B "$work/installed" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/installed" >/dev/null
"$work/installed/consumer" && passed=$((passed + 1))

cmake -S "$src/tests/consumers/subdirectory" -B "$work/subdirectory" -G Ninja -DLQ2X_SOURCE_DIR="$src" >/dev/null
cmake --build "$work/subdirectory" >/dev/null
# Embedded, the project builds no tests, benchmark or bench programs of its own.
if [ -e "$work/subdirectory/lq2x/tests" ] || [ -e "$work/subdirectory/lq2x/lq2x_testbench" ]; then
    echo "add_subdirectory built the project's own tests or programs" >&2
    exit 1
fi
"$work/subdirectory/consumer" && passed=$((passed + 1))

pc_dir=$(dirname "$(find "$work/prefix" -name lq2x.pc)")
flags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs lq2x)
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++20 "$src/tests/consumers/main.cpp" $flags -o "$work/pkgconfig-consumer"
"$work/pkgconfig-consumer" && passed=$((passed + 1))

echo "consumers: $passed passed, 0 failed"
