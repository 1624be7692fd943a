#!/usr/bin/env bash
# The npm package as a user gets it: the tarball the wasm build packed
# (build/wasm/web/npm/lq2x-VERSION.tgz) installed offline into a fresh
# folder, then test/package.test.js run there under Node.js against the
# native tool (build/release/lq2x), on the page test's inputs (made by
# web/test/make_inputs.py from Debian's crawl-tiles-data with Pillow), and
# test/consumer.ts type-checked by the pinned TypeScript of web/ (npm ci).
# LQ2X_NPM_TARBALL and LQ2X_TOOL name others. Nothing is fetched.
set -euo pipefail
project=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -nE 's/^project\(lq2x VERSION ([0-9.]+).*/\1/p' "$project/CMakeLists.txt")
tarball=$(realpath "${LQ2X_NPM_TARBALL:-$project/build/wasm/web/npm/lq2x-$version.tgz}")
tool=$(realpath "${LQ2X_TOOL:-$project/build/release/lq2x}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "the npm package: $tarball, $(stat -c %s "$tarball") bytes"
mkdir "$scratch/inputs"
timeout 120 /usr/bin/python3 "$project/web/test/make_inputs.py" /usr/share/crawl/dat/tiles "$scratch/inputs"
cp "$project/docs/sample.png" "$scratch/inputs"
cp "$project"/web/npm/test/{package.test.js,consumer.ts,tsconfig.json} "$scratch"
cd "$scratch"
echo '{ "private": true, "type": "module" }' >package.json
timeout 120 npm install --offline --no-audit --no-fund --loglevel=error "$tarball"
LQ2X_PROJECT=$project LQ2X_TOOL=$tool LQ2X_INPUTS=$scratch/inputs LQ2X_SCRATCH=$scratch \
    timeout 300 node --test --test-reporter=tap package.test.js
