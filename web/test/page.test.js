// The page in a real browser: headless Chromium loads it from a local static
// server, scales real pixel art through the file input with the options set
// in its controls, and each downloaded result must equal the command-line
// tool's output for the same options, pixel for pixel (both files decoded by
// the same PNG decoder; the tool's is written by libpng). Any request that is
// not to the local server fails the run.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { unzipSync } from 'fflate';
import { decode } from '../src/png.js';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const PROJECT = path.resolve(HERE, '../..');
const SITE = process.env.LQ2X_WEB_DIR ?? path.join(PROJECT, 'build/wasm/web');
const TOOL = process.env.LQ2X_TOOL ?? path.join(PROJECT, 'build/release/lq2x');
const TILES = '/usr/share/crawl/dat/tiles';
const SAMPLE = path.join(PROJECT, 'docs/sample.png');
const tile = (name) => path.join(TILES, name);

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png' };
let server, origin, context, scratch;
const stray_requests = [];

before(async () => {
    for (const f of ['index.html', 'page.js', 'worker.js']) assert.ok(fs.existsSync(path.join(SITE, f)), `${f} in ${SITE}: build the page first`);
    assert.ok(fs.existsSync(TOOL), `the tool at ${TOOL}: build it first`);
    scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'lq2x-web-'));
    // A plain static server for the built page, nothing else.
    server = http.createServer((req, res) => {
        const name = path.normalize(decodeURIComponent(new URL(req.url, 'http://x').pathname)).replace(/^\/+/, '') || 'index.html';
        const file = path.join(SITE, name);
        if (!file.startsWith(SITE) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
            res.writeHead(404).end();
            return;
        }
        res.writeHead(200, { 'content-type': TYPES[path.extname(file)] ?? 'application/octet-stream' });
        fs.createReadStream(file).pipe(res);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    origin = `http://127.0.0.1:${server.address().port}`;
    context = await chromium.launchPersistentContext(path.join(scratch, 'profile'), {
        executablePath: '/usr/bin/chromium',
        headless: true,
        acceptDownloads: true,
        viewport: { width: 1280, height: 900 },
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    // Only the local server; everything else is refused and counted.
    await context.route('**/*', (route) => {
        const url = route.request().url();
        if (url.startsWith(`${origin}/`)) return route.continue();
        stray_requests.push(url);
        return route.abort();
    });
    context.on('request', (r) => {
        const url = r.url();
        if (!url.startsWith(`${origin}/`) && !url.startsWith('blob:') && !url.startsWith('data:')) stray_requests.push(url);
    });
});

after(async () => {
    await context?.close();
    server?.close();
    if (scratch) fs.rmSync(scratch, { recursive: true, force: true });
});

// The tool's command line for the page's options.
function tool_args(o) {
    const args = ['--scale', String(o.factor ?? 2), '--rotate', o.rotate ?? 'none'];
    if (o.edge) args.push('--edge', o.edge);
    if (o.tile) args.push('--tile', o.tile);
    if (o.margin !== undefined) args.push('--tile-margin', String(o.margin));
    if (o.spacing !== undefined) args.push('--tile-spacing', String(o.spacing));
    return args;
}

// Runs the tool; null when it refuses an option it does not know yet (usage error, exit 2).
function tool_output(input, o, t) {
    const out = path.join(scratch, `tool-${path.basename(input, '.png')}-${Math.random().toString(36).slice(2)}.png`);
    const r = spawnSync(TOOL, [...tool_args(o), input, out], { encoding: 'utf8' });
    if (r.status === 2 && (o.edge || o.tile)) {
        t.skip(`the tool does not take ${tool_args(o).join(' ')} yet (exit 2: ${r.stderr.trim()}); runs once edge modes and the tile grid are in the tool`);
        return null;
    }
    assert.equal(r.status, 0, `lq2x ${tool_args(o).join(' ')} ${input}: ${r.stderr}`);
    return fs.readFileSync(out);
}

// Opens the page, sets its controls, feeds the files and waits for the batch.
async function scale_in_page(files, o) {
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.goto(`${origin}/index.html`);
    await page.selectOption('#scale', String(o.factor ?? 2));
    await page.selectOption('#rotate', o.rotate ?? 'none');
    const [ex, ey] = (o.edge ?? 'clamp,clamp').split(',').concat(o.edge && !o.edge.includes(',') ? [o.edge] : []);
    await page.selectOption('#edge-x', ex);
    await page.selectOption('#edge-y', ey);
    const [tw, th] = (o.tile ?? '0x0').split('x');
    await page.fill('#tile-width', tw);
    await page.fill('#tile-height', th);
    await page.fill('#tile-margin', String(o.margin ?? 0));
    await page.fill('#tile-spacing', String(o.spacing ?? 0));
    const started = Date.now();
    await page.setInputFiles('#files', files);
    await page.waitForSelector('body[data-state="done"], body[data-state="error"], body[data-state="invalid"]', { timeout: 120_000 });
    const wall_ms = Date.now() - started;
    assert.equal(await page.getAttribute('body', 'data-state'), 'done', await page.textContent('#status'));
    assert.deepEqual(errors, []);
    return { page, wall_ms };
}

async function download(page, button) {
    const [d] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
    return { name: d.suggestedFilename(), bytes: fs.readFileSync(await d.path()) };
}

// Both PNGs decoded the same way; equal sizes and equal RGBA bytes.
function assert_same_pixels(page_png, tool_png, what) {
    const a = decode(page_png), b = decode(tool_png);
    assert.deepEqual([a.width, a.height], [b.width, b.height], `${what}: size`);
    if (Buffer.compare(Buffer.from(a.rgba), Buffer.from(b.rgba)) !== 0) {
        let differ = 0, first = -1;
        for (let i = 0; i < a.rgba.length; i += 4)
            if (a.rgba.subarray(i, i + 4).some((v, k) => v !== b.rgba[i + k])) {
                differ++;
                if (first < 0) first = i / 4;
            }
        assert.fail(`${what}: ${differ} pixels differ, the first at (${first % a.width}, ${Math.floor(first / a.width)}): ` +
                    `page ${a.rgba.subarray(4 * first, 4 * first + 4)}, tool ${b.rgba.subarray(4 * first, 4 * first + 4)}`);
    }
    return a;
}

async function check_one(t, file, o) {
    const expected = tool_output(file, o, t);
    if (!expected) return null;
    const { page, wall_ms } = await scale_in_page([file], o);
    const got = await download(page, '#download');
    assert.match(got.name, new RegExp(`-lq2x-${o.factor ?? 2}x\\.png$`));
    const picture = assert_same_pixels(got.bytes, expected, `${path.basename(file)} ${tool_args(o).join(' ')}`);
    return { page, wall_ms, picture };
}

test('the sample, 2x, and a screenshot of the page', async (t) => {
    const r = await check_one(t, SAMPLE, { factor: 2 });
    await r.page.selectOption('#zoom', '3');
    await r.page.fill('#split', '40');
    await r.page.dispatchEvent('#split', 'input');
    if (process.env.LQ2X_SCREENSHOT) await r.page.screenshot({ path: process.env.LQ2X_SCREENSHOT, fullPage: false });
    await r.page.close();
});

test('a 1024 x 1000 sheet with semi-transparent pixels, 2x, timed', async (t) => {
    const r = await check_one(t, tile('main.png'), { factor: 2 });
    const translucent = r.picture.rgba.filter((v, i) => i % 4 === 3 && v > 0 && v < 255).length;
    assert.ok(translucent > 1000, `semi-transparent pixels in the result: ${translucent}`);
    const scale_ms = Number(await r.page.getAttribute('#list li', 'data-scale-ms'));
    const total_ms = Number(await r.page.getAttribute('#list li', 'data-total-ms'));
    t.diagnostic(`main.png 1024x1000 -> 2048x2000 in the page: scaling ${scale_ms} ms, decode+scale+encode ${total_ms} ms, ` +
                 `file input to result shown ${r.wall_ms} ms`);
    console.log(`timing: 1024x1000 sheet, scale ${scale_ms} ms, decode+scale+encode ${total_ms} ms, wall ${r.wall_ms} ms`);
    await r.page.close();
});

test('semi-transparent icons, 4x turned counter-clockwise', async (t) => {
    (await check_one(t, tile('icons.png'), { factor: 4, rotate: 'ccw' })).page.close();
});

test('a palette picture with tRNS, 8x turned clockwise', async (t) => {
    (await check_one(t, tile('stone_soup_icon-32x32.png'), { factor: 8, rotate: 'cw' })).page.close();
});

test('an opaque RGB picture, 4x', async (t) => {
    (await check_one(t, tile('title_denzi_dragon.png'), { factor: 4 })).page.close();
});

test('16-bit grey with alpha, made from real art, 2x', async (t) => {
    // libpng's 16-to-8 rounding and grey expansion, against the page's decoder.
    const { encode } = await import('fast-png');
    const art = decode(fs.readFileSync(tile('logosmall.png')));
    const data = new Uint16Array(art.width * art.height * 2);
    for (let i = 0; i < art.width * art.height; ++i) {
        data[2 * i] = art.rgba[4 * i + 1] * 257 + (i % 251);
        data[2 * i + 1] = art.rgba[4 * i + 3] * 257 - (art.rgba[4 * i + 3] ? i % 200 : 0);
    }
    const file = path.join(scratch, 'grey16.png');
    fs.writeFileSync(file, encode({ width: art.width, height: art.height, data, depth: 16, channels: 2 }));
    (await check_one(t, file, { factor: 2 })).page.close();
});

test('a batch of several files, downloaded as one zip', async (t) => {
    const files = [SAMPLE, tile('stone_soup_icon-48x48.png'), tile('logosmall.png'), tile('stone_soup_icon-32x32.png')];
    const o = { factor: 4, rotate: 'cw' };
    const { page } = await scale_in_page(files, o);
    assert.equal(await page.getAttribute('#progress', 'value'), String(files.length));
    const zip = await download(page, '#download-zip');
    assert.equal(zip.name, 'lq2x.zip');
    const entries = unzipSync(new Uint8Array(zip.bytes));
    assert.equal(Object.keys(entries).length, files.length);
    for (const f of files) {
        const name = `${path.basename(f, '.png')}-lq2x-4x.png`;
        assert.ok(entries[name], `${name} in the zip`);
        assert_same_pixels(entries[name], tool_output(f, o, t), name);
    }
    await page.close();
});

// Edge modes and the tile grid: the page sets them in the library's options;
// these cases compare with the tool once it takes --edge and --tile.
test('edge: wrap on both axes', async (t) => {
    (await check_one(t, SAMPLE, { edge: 'wrap' }))?.page.close();
});

test('edge: wrap across, transparent up and down, 4x turned clockwise', async (t) => {
    (await check_one(t, tile('stone_soup_icon-48x48.png'), { factor: 4, rotate: 'cw', edge: 'wrap,transparent' }))?.page.close();
});

test('edge: transparent on an opaque picture gains alpha', async (t) => {
    const r = await check_one(t, tile('title_denzi_dragon.png'), { edge: 'transparent' });
    if (r) {
        assert.equal(r.picture.kind, 'rgba');
        r.page.close();
    }
});

test('tile grid: 32x32 cells of a sheet, 4x turned counter-clockwise', async (t) => {
    (await check_one(t, tile('feat.png'), { factor: 4, rotate: 'ccw', tile: '32x32' }))?.page.close();
});

test('tile grid with margin and spacing, transparent edges', async (t) => {
    (await check_one(t, tile('icons.png'), { tile: '30x30', margin: 1, spacing: 2, edge: 'transparent' }))?.page.close();
});

test('no request left the machine', () => {
    assert.deepEqual(stray_requests, []);
});
