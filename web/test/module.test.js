// The WebAssembly module on its own, under Node.js: it loads (the module is
// inlined in the script), scales as the tool does, and reports bad calls by
// status without writing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import { decode } from '../src/png.js';

const PROJECT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const MODULE = process.env.LQ2X_NODE_MODULE ?? path.join(PROJECT, 'build/wasm/web/module/lq2x_node.js');
const TOOL = process.env.LQ2X_TOOL ?? path.join(PROJECT, 'build/release/lq2x');
const SAMPLE = path.join(PROJECT, 'docs/sample.png');
const CCW = 1, OUTPUT_TOO_SMALL = 4;

const m = await createRequire(import.meta.url)(MODULE)();

test('the sample turned counter-clockwise equals the tool\'s', () => {
    const picture = decode(fs.readFileSync(SAMPLE));
    const { width: w, height: h } = picture;
    const src = m._malloc(w * h * 4), dst = m._malloc(w * h * 16);
    m.HEAPU8.set(picture.rgba, src);
    assert.equal(m._lq2x_web_scale(src, w, h, dst, 2 * h, 2 * w, CCW, 0, 0, 0, 0, 0, 0), 0);
    const got = m.HEAPU8.slice(dst, dst + w * h * 16);
    m._free(src);
    m._free(dst);

    const out = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'lq2x-module-')), 'tool.png');
    const r = spawnSync(TOOL, ['--rotate', 'ccw', SAMPLE, out], { encoding: 'utf8' });
    assert.equal(r.status, 0, r.stderr);
    const expected = decode(fs.readFileSync(out));
    fs.rmSync(path.dirname(out), { recursive: true });
    assert.deepEqual([expected.width, expected.height], [2 * h, 2 * w]);
    assert.ok(Buffer.from(got).equals(Buffer.from(expected.rgba)), 'pixels equal');
});

test('an output too small is refused, and nothing is written', () => {
    const src = m._malloc(4 * 4 * 4), dst = m._malloc(8 * 8 * 4);
    m.HEAPU8.fill(7, src, src + 64);
    m.HEAPU8.fill(0xab, dst, dst + 256);
    assert.equal(m._lq2x_web_scale(src, 4, 4, dst, 8, 7, 0, 0, 0, 0, 0, 0, 0), OUTPUT_TOO_SMALL);
    assert.equal(m.UTF8ToString(m._lq2x_web_describe(OUTPUT_TOO_SMALL)), 'output image is smaller than the scaled image');
    assert.ok(m.HEAPU8.subarray(dst, dst + 256).every((v) => v === 0xab));
    m._free(src);
    m._free(dst);
});
