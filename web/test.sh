#!/usr/bin/env bash
# The page end to end: builds the command-line tool and the page (the
# library in WebAssembly), then the Chromium test compares what the page
# downloads with the tool's output. Needs the Debian packages the README's
# section on the page names (.ci/run installs them) and the npm registry for
# the pinned packages. LQ2X_SCREENSHOT=docs/web.png also saves the README's
# screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

(cd web && npm ci --no-audit --no-fund --loglevel=error)
cmake --preset release >/dev/null
cmake --build --preset release --target lq2x_tool
cmake --workflow --preset wasm
cd web
node --test --test-reporter=tap test/
