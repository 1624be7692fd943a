// The WebAssembly module on its own, under Node.js: it loads (the module is
// inlined in the script), writes the tool's bytes for a file, reads a file's
// frames, and gives the tool's reasons for files it cannot read.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const PROJECT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const MODULE = process.env.LQ2X_NODE_MODULE ?? path.join(PROJECT, 'build/wasm/web/module/lq2x_npm.js');
const TOOL = process.env.LQ2X_TOOL ?? path.join(PROJECT, 'build/release/lq2x');
const SAMPLE = path.join(PROJECT, 'docs/sample.png');
const CCW = 1, PNG = 1, WEBP = 3;
const TIMEOUT = { timeout: 60_000 };

const m = await (await import(pathToFileURL(MODULE))).default();
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'lq2x-module-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));

function in_module(bytes, use) {
    const p = m._malloc(bytes.length);
    m.HEAPU8.set(bytes, p);
    try {
        return use(p);
    } finally {
        m._free(p);
    }
}

// lq2x_web_scale_file with the page's settings: { status, message, bytes }.
function scale_file(bytes, { scale = 2, orientation = 0, format = 0 } = {}) {
    return in_module(bytes, (p) => {
        const s = m._lq2x_web_page_settings(scale, orientation, 0, 0, 0, 0, 0, 0, format, 0, 0, 0);
        const r = m._lq2x_web_scale_file(p, bytes.length, s);
        m._lq2x_web_settings_free(s);
        try {
            const at = m._lq2x_web_file_bytes(r);
            return { status: m._lq2x_web_file_status(r), message: m.UTF8ToString(m._lq2x_web_file_message(r)),
                     bytes: at ? Buffer.from(m.HEAPU8.subarray(at, at + m._lq2x_web_file_size(r))) : null };
        } finally {
            m._lq2x_web_file_free(r);
        }
    });
}

function tool(args) {
    return spawnSync(TOOL, args, { encoding: 'utf8' });
}

test('a file scaled in the module is the tool\'s file, byte for byte', TIMEOUT, () => {
    const sample = fs.readFileSync(SAMPLE);
    for (const [format, ext, o] of [[PNG, 'png', ['--rotate', 'ccw']], [WEBP, 'webp', ['--scale', '4']]]) {
        const got = scale_file(sample, { format, scale: o[0] === '--scale' ? 4 : 2, orientation: o[0] === '--rotate' ? CCW : 0 });
        assert.equal(got.status, 0, got.message);
        const out = path.join(scratch, `tool.${ext}`);
        const r = tool([...o, SAMPLE, out]);
        assert.equal(r.status, 0, r.stderr);
        assert.ok(got.bytes.equals(fs.readFileSync(out)), `${ext}: ${got.bytes.length} bytes against the tool's ${fs.statSync(out).size}`);
    }
});

test('a file the library cannot read: the tool\'s reason, and nothing made', TIMEOUT, () => {
    const notes = path.join(scratch, 'notes.png');
    fs.writeFileSync(notes, 'not a picture at all\n');
    const got = scale_file(fs.readFileSync(notes));
    assert.notEqual(got.status, 0);
    assert.equal(got.bytes, null);
    const r = tool([notes, path.join(scratch, 'out.png')]);
    assert.equal(r.status, 1);
    assert.equal(r.stderr.trim(), `lq2x: ${notes}: ${got.message}`);
});

test('a file\'s frames: size, count and pixels as the picture holds them', TIMEOUT, () => {
    const sample = fs.readFileSync(SAMPLE);
    in_module(sample, (p) => {
        const r = m._lq2x_web_read_file(p, sample.length, 2, 0);
        try {
            assert.equal(m._lq2x_web_frames_status(r), 0, m.UTF8ToString(m._lq2x_web_frames_message(r)));
            const [w, h] = [m._lq2x_web_frames_width(r), m._lq2x_web_frames_height(r)];
            assert.deepEqual([w, h, m._lq2x_web_frames_count(r), m._lq2x_web_frames_animated(r)], [160, 102, 1, 0]);
            // Its pixels, as a PAM of their own, scale to the tool's PNG of the
            // sample (a PNG's form comes from its pixels alone).
            const pixels = m.HEAPU8.subarray(m._lq2x_web_frames_pixels(r), m._lq2x_web_frames_pixels(r) + w * h * 4);
            const scaled = scale_file(pixels_as_pam(pixels, w, h), { format: PNG });
            assert.equal(scaled.status, 0, scaled.message);
            const out = path.join(scratch, 'sample.png');
            assert.equal(tool([SAMPLE, out]).status, 0);
            assert.ok(scaled.bytes.equals(fs.readFileSync(out)), 'the frames scaled equal the tool\'s result for the file');
        } finally {
            m._lq2x_web_frames_free(r);
        }
    });
});

function pixels_as_pam(pixels, w, h) {
    const header = Buffer.from(`P7\nWIDTH ${w}\nHEIGHT ${h}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n`);
    return Buffer.concat([header, Buffer.from(pixels)]);
}
