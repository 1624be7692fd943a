#!/usr/bin/env bash
# The page end to end: builds the command-line tool and the page (the files
# library in WebAssembly, with its C libraries built from Debian's sources),
# then the module's tests under Node.js and the Chromium test, which compare
# what the page downloads with the tool's output byte for byte, and the npm
# package's test (web/npm/test.sh). Needs the
# Debian packages docs/web.md names (.ci/run installs
# them: emscripten, node-acorn, chromium, crawl-tiles-data, python3-pil), apt
# source access for Debian's packages and the npm registry for the pinned
# packages. LQ2X_SCREENSHOT=docs/web.png and LQ2X_PREVIEW_SCREENSHOT=docs/web-preview.png
# also save the screenshots docs/web.md shows. Chromium's WebGL 2 here is ANGLE on
# SwiftShader (software); the test fails without a WebGL 2 context.
set -euo pipefail
export CMAKE_BUILD_PARALLEL_LEVEL=2 # small, shared machines
cd "$(dirname "$0")/.."

(cd web && npm ci --no-audit --no-fund --loglevel=error)
cmake --preset release >/dev/null
nice cmake --build --preset release --target lq2x_tool doors lq2x_shaders -j 2
# The native side of the scaling-step comparison, against the same library.
c++ -std=c++20 -O2 -Iinclude -Ibuild/release/include web/test/scale_time.cpp build/release/liblq2x.a -lpthread \
    -o build/release/web_scale_time
nice cmake --workflow --preset wasm
cd web
node --test --test-reporter=tap test/module.test.js test/page.test.js
# The npm package the workflow packed, installed as a user installs it.
bash npm/test.sh
