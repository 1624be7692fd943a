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
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { decode as decode_rgba, CHANNELS } from '../src/png.js';
import { unzipSync } from 'fflate';
import { decode as decode_png, encode as encode_png } from 'fast-png';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const PROJECT = path.resolve(HERE, '../..');
const SITE = process.env.LQ2X_WEB_DIR ?? path.join(PROJECT, 'build/wasm/web/page');
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
        viewport: { width: 1280, height: 960 },
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

// Runs the tool and returns the file it wrote.
function tool_output(input, o) {
    const out = path.join(scratch, `tool-${path.basename(input, '.png')}-${Math.random().toString(36).slice(2)}.png`);
    const r = spawnSync(TOOL, [...tool_args(o), input, out], { encoding: 'utf8' });
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
    // A number field reports its change when it loses focus: let it now, not
    // when the download button is clicked (which would start the batch again).
    await page.locator('#tile-spacing').blur();
    const started = Date.now();
    await page.setInputFiles('#files', files);
    await page.waitForSelector('body[data-state="done"], body[data-state="error"], body[data-state="invalid"]', { timeout: 120_000 });
    const wall_ms = Date.now() - started;
    assert.equal(await page.getAttribute('body', 'data-state'), 'done',
                 `${await page.textContent('#status')} ${await page.textContent('#list')}`);
    assert.deepEqual(errors, []);
    return { page, wall_ms };
}

async function download(page, button) {
    const [d] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
    return { name: d.suggestedFilename(), bytes: fs.readFileSync(await d.path()) };
}

// Both PNGs decoded to 8-bit RGBA by the same decoder: equal sizes and equal
// pixels. Their layouts may differ: the tool writes the smallest exact PNG
// kind (a palette, a colour key), the page grey, RGB or RGBA.
function assert_same_pixels(page_png, tool_png, what) {
    const a = decode_rgba(page_png), b = decode_rgba(tool_png);
    assert.deepEqual([a.width, a.height], [b.width, b.height], `${what}: width and height`);
    if (Buffer.compare(Buffer.from(a.rgba), Buffer.from(b.rgba)) !== 0) {
        let differ = 0, first = -1;
        for (let i = 0; i < a.rgba.length; i += 4)
            if (a.rgba.subarray(i, i + 4).some((v, k) => v !== b.rgba[i + k])) {
                differ++;
                if (first < 0) first = i / 4;
            }
        const px = (d) => [...d.subarray(4 * first, 4 * first + 4)].join(',');
        assert.fail(`${what}: ${differ} pixels differ, the first at (${first % a.width}, ${Math.floor(first / a.width)}): ` +
                    `page ${px(a.rgba)}, tool ${px(b.rgba)}`);
    }
    return { ...a, channels: CHANNELS[a.kind] };
}

async function check_one(t, file, o) {
    const expected = tool_output(file, o);
    const { page, wall_ms } = await scale_in_page([file], o);
    // A picture that failed leaves the button disabled: say why rather than wait.
    assert.equal(await page.isDisabled('#download'), false, await page.textContent('#list'));
    const got = await download(page, '#download');
    assert.match(got.name, new RegExp(`-lq2x-${o.factor ?? 2}x\\.png$`));
    const picture = assert_same_pixels(got.bytes, expected, `${path.basename(file)} ${tool_args(o).join(' ')}`);
    // The original laid over the result covers it exactly, turned as it is.
    const zoom = Number(await page.inputValue('#zoom'));
    const over = await page.locator('#compare-original').boundingBox(), under = await page.locator('#compare').boundingBox();
    for (const k of ['x', 'y', 'width', 'height']) assert.ok(Math.abs(over[k] - under[k]) < 0.5, `overlay ${k}: ${over[k]} against ${under[k]}`);
    assert.deepEqual([under.width, under.height], [picture.width * zoom, picture.height * zoom]);
    return { page, wall_ms, picture };
}

test('the sample, 2x; the page names the library\'s version as the tool does', async (t) => {
    const { page } = await check_one(t, SAMPLE, { factor: 2 });
    const version = spawnSync(TOOL, ['--version'], { encoding: 'utf8' }).stdout.trim();
    assert.match(version, /^lq2x \d+\.\d+\.\d+$/);
    assert.equal(await page.textContent('#version'), `${version}, running in WebAssembly on this computer.`);
    await page.close();
});

test('a sprite, 4x, shown at zoom 2 with the divider dragged (the screenshot)', async (t) => {
    const { page } = await check_one(t, tile('stone_soup_icon-48x48.png'), { factor: 4 });
    await page.selectOption('#zoom', '2');
    const box = await page.locator('#compare').boundingBox();
    assert.equal(Math.round(box.width), 48 * 4 * 2);
    // Dragging the divider moves the slider with it.
    await page.mouse.move(box.x + box.width * 0.5, box.y + 10);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.3, box.y + 20, { steps: 4 });
    await page.mouse.up();
    assert.ok(Math.abs(Number(await page.inputValue('#split')) - 30) <= 1, await page.inputValue('#split'));
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.setViewportSize({ width: 1280, height: 1040 });
    if (process.env.LQ2X_SCREENSHOT) await page.screenshot({ path: process.env.LQ2X_SCREENSHOT });
    await page.close();
});

test('a 1024 x 1000 sheet with semi-transparent pixels, 2x, timed', async (t) => {
    const r = await check_one(t, tile('main.png'), { factor: 2 });
    assert.equal(r.picture.channels, 4);
    const translucent = r.picture.rgba.filter((v, i) => i % 4 === 3 && v > 0 && v < 255).length;
    assert.ok(translucent > 1000, `semi-transparent pixels in the result: ${translucent}`);
    // Three runs in the same page (changing the rotation back and forth
    // scales again), since one run alone says little on a busy machine.
    const runs = [];
    const measure = async (wall_ms) => runs.push({
        decode: Number(await r.page.getAttribute('#list li', 'data-decode-ms')),
        scale: Number(await r.page.getAttribute('#list li', 'data-scale-ms')),
        encode: Number(await r.page.getAttribute('#list li', 'data-encode-ms')),
        total: Number(await r.page.getAttribute('#list li', 'data-total-ms')), wall: wall_ms,
    });
    await measure(r.wall_ms);
    for (const rotate of ['ccw', 'none']) {
        const started = Date.now();
        await r.page.selectOption('#rotate', rotate);
        await r.page.waitForFunction((w) => document.body.dataset.state === 'done' &&
                                     document.getElementById('result-caption').textContent.startsWith(`Result: ${w} `),
                                     rotate === 'ccw' ? 2000 : 2048);
        await measure(Date.now() - started);
    }
    const last = await download(r.page, '#download');
    assert_same_pixels(last.bytes, tool_output(tile('main.png'), { factor: 2 }), 'main.png, third run');
    const line = runs.map((m) => `scaling ${m.scale} ms (decoding ${m.decode}, encoding ${m.encode}, all ${m.total}), until shown ${m.wall} ms`).join('; ');
    t.diagnostic(`main.png 1024x1000 -> 2048x2000 in the page, three runs: ${line}`);
    console.log(`timing: 1024x1000 sheet, three runs: ${line}`);
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
    const art = decode_png(fs.readFileSync(tile('logosmall.png')));
    assert.equal(art.channels, 4);
    const data = new Uint16Array(art.width * art.height * 2);
    for (let i = 0; i < art.width * art.height; ++i) {
        data[2 * i] = art.data[4 * i + 1] * 257 + (i % 251);
        data[2 * i + 1] = art.data[4 * i + 3] * 257 - (art.data[4 * i + 3] ? i % 200 : 0);
    }
    const file = path.join(scratch, 'grey16.png');
    fs.writeFileSync(file, encode_png({ width: art.width, height: art.height, data, depth: 16, channels: 2 }));
    (await check_one(t, file, { factor: 2 })).page.close();
});

// A tRNS chunk naming one grey or RGB colour transparent, put before IDAT
// (the encoder writes such keys only for palettes).
function with_key(png, samples) {
    const body = Buffer.alloc(4 + 2 * samples.length);
    body.write('tRNS', 0, 'latin1');
    samples.forEach((v, i) => body.writeUInt16BE(v, 4 + 2 * i));
    const chunk = Buffer.alloc(12 + 2 * samples.length);
    chunk.writeUInt32BE(2 * samples.length, 0);
    body.copy(chunk, 4);
    chunk.writeUInt32BE(zlib.crc32(body), 8 + 2 * samples.length);
    const at = Buffer.from(png).indexOf('IDAT', 0, 'latin1') - 4;
    return Buffer.concat([Buffer.from(png).subarray(0, at), chunk, Buffer.from(png).subarray(at)]);
}

// Packs one sample a pixel into rows of `depth`-bit samples.
function pack(values, width, height, depth) {
    const row = Math.ceil((width * depth) / 8), out = new Uint8Array(row * height);
    for (let y = 0; y < height; ++y)
        for (let x = 0; x < width; ++x)
            out[y * row + Math.floor((x * depth) / 8)] |= values[y * width + x] << (8 - depth - ((x * depth) % 8));
    return out;
}

test('PNG kinds made from real art: palettes, low-bit and 16-bit grey and colour, tRNS keys, interlacing', async (t) => {
    const art = decode_png(fs.readFileSync(tile('stone_soup_icon-48x48.png')));
    const scene = decode_png(fs.readFileSync(SAMPLE)); // a palette picture
    assert.ok(scene.palette && art.channels === 4);
    const { width: W, height: H } = scene;
    const rgb = [...scene.data].map((i) => scene.palette[i]);
    const grey = rgb.map(([r, g, b]) => (r * 3 + g * 6 + b) / 10 | 0);
    const n = art.width * art.height;
    const level = (i) => art.data[4 * i + 1] >> 4; // 16 levels of the sprite's green
    const kinds = {
        'palette4-trns': encode_png({ width: art.width, height: art.height, depth: 4, channels: 1,
                                      data: pack(Array.from({ length: n }, (_, i) => (art.data[4 * i + 3] ? level(i) : 0)), art.width, art.height, 4),
                                      palette: Array.from({ length: 16 }, (_, k) => [k * 17, 255 - k * 9, k * 5, k ? 120 + k * 9 : 0]) }),
        'grey1': encode_png({ width: W, height: H, depth: 1, channels: 1, data: pack(grey.map((g) => +(g > 110)), W, H, 1) }),
        'grey2': encode_png({ width: W, height: H, depth: 2, channels: 1, data: pack(grey.map((g) => g >> 6), W, H, 2) }),
        'grey8-key': with_key(encode_png({ width: W, height: H, depth: 8, channels: 1, data: Uint8Array.from(grey) }), [grey[0]]),
        'rgb16-key': with_key(encode_png({ width: W, height: H, depth: 16, channels: 3,
                                           data: Uint16Array.from(rgb.flat().map((v, i) => v * 257 + (i % 7) * (v > 128 ? -1 : 1))) }),
                              rgb[0].map((v, i) => v * 257 + (i % 7) * (v > 128 ? -1 : 1))),
        'rgb8-adam7': encode_png({ width: W, height: H, depth: 8, channels: 3, data: Uint8Array.from(rgb.flat()) }, { interlace: 'Adam7' }),
    };
    const files = Object.entries(kinds).map(([name, bytes]) => {
        const file = path.join(scratch, `${name}.png`);
        fs.writeFileSync(file, bytes);
        return file;
    });
    const o = { factor: 2, rotate: 'ccw' };
    const { page } = await scale_in_page(files, o);
    const entries = unzipSync(new Uint8Array((await download(page, '#download-zip')).bytes));
    for (const f of files) {
        const name = `${path.basename(f, '.png')}-lq2x-2x.png`;
        assert_same_pixels(entries[name], tool_output(f, o), name);
    }
    await page.close();
});

test('an interlaced PNG of 2-bit samples is refused with a reason, the others in the batch scaled', async () => {
    // Such files cannot be made by the encoder at hand: the header says so, and the page reads the header first.
    const file = path.join(scratch, 'interlaced2.png');
    const png = Buffer.from(encode_png({ width: 8, height: 8, depth: 2, channels: 1, data: new Uint8Array(16) }));
    png[16 + 8] = 2;
    png[16 + 12] = 1;
    png.writeUInt32BE(zlib.crc32(png.subarray(12, 29)), 29);
    fs.writeFileSync(file, png);
    const page = await context.newPage();
    await page.goto(`${origin}/index.html`);
    await page.setInputFiles('#files', [file, SAMPLE]);
    await page.waitForSelector('body[data-state="error"]');
    assert.match(await page.textContent('#list'), /interlaced2\.png: failed: interlaced PNGs of fewer than 8 bits a sample cannot be read here/);
    assert.match(await page.textContent('#list'), /sample\.png: 320 × 204/);
    assert.match(await page.textContent('#status'), /1 of 2 scaled .*1 could not be read/);
    await page.close();
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
        assert_same_pixels(entries[name], tool_output(f, o), name);
    }
    await page.close();
});

test('a picture dropped on the page', async (t) => {
    const file = tile('stone_soup_icon-win32.png');
    const expected = tool_output(file, { factor: 2 });
    const page = await context.newPage();
    await page.goto(`${origin}/index.html`);
    const bytes = [...fs.readFileSync(file)];
    const transfer = await page.evaluateHandle((b) => {
        const d = new DataTransfer();
        d.items.add(new File([new Uint8Array(b)], 'dropped.png', { type: 'image/png' }));
        return d;
    }, bytes);
    await page.dispatchEvent('#drop', 'drop', { dataTransfer: transfer });
    await page.waitForSelector('body[data-state="done"]');
    const got = await download(page, '#download');
    assert.equal(got.name, 'dropped-lq2x-2x.png');
    assert_same_pixels(got.bytes, expected, 'dropped');
    await page.close();
});

test('keyboard: every control reached with Tab, labelled, focus shown; an option changed by keys scales again', async (t) => {
    const { page } = await check_one(t, SAMPLE, { factor: 2 });
    const controls = ['files', 'scale', 'rotate', 'edge-x', 'edge-y', 'tile-width', 'tile-height', 'tile-margin',
                      'tile-spacing', 'zoom', 'download', 'split'];
    await page.evaluate(() => document.activeElement.blur());
    const reached = new Map();
    for (let i = 0; i < 40; ++i) {
        await page.keyboard.press('Tab');
        const seen = await page.evaluate(() => {
            const e = document.activeElement;
            const style = getComputedStyle(e);
            const label = e.labels?.[0]?.textContent.trim() || e.getAttribute('aria-label') || (e.tagName === 'BUTTON' ? e.textContent.trim() : '');
            return { id: e.id || `${e.tagName}:${e.textContent}`, outline: style.outlineStyle, width: parseFloat(style.outlineWidth), label };
        });
        reached.set(seen.id, seen);
    }
    for (const id of controls) {
        const c = reached.get(id);
        assert.ok(c, `#${id} reached with Tab (reached: ${[...reached.keys()].join(', ')})`);
        assert.ok(c.outline !== 'none' && c.width >= 2, `#${id} shows focus: ${c.outline} ${c.width}px`);
        assert.ok(c.label.length > 2, `#${id} has a label`);
    }
    assert.ok([...reached.keys()].some((id) => id.startsWith('BUTTON:sample.png')), 'the picture list is reachable');
    // Arrow down on the scale picks 4x, which scales the picture again.
    await page.focus('#scale');
    await page.keyboard.press('ArrowDown');
    await page.waitForFunction(() => document.getElementById('result-caption').textContent.includes('(4×)'));
    await page.waitForSelector('body[data-state="done"]');
    const got = await download(page, '#download');
    assert_same_pixels(got.bytes, tool_output(SAMPLE, { factor: 4 }), 'sample 4x after the change');
    await page.close();
});

test('a tile margin larger than the picture is refused for that picture', async () => {
    // The page's own check, made before the library is called, as the tool makes it before scaling.
    const page = await context.newPage();
    await page.goto(`${origin}/index.html`);
    await page.fill('#tile-width', '8');
    await page.fill('#tile-height', '8');
    await page.fill('#tile-margin', '40');
    await page.setInputFiles('#files', [tile('stone_soup_icon-32x32.png'), tile('stone_soup_icon-48x48.png')]);
    await page.waitForSelector('body[data-state="error"]');
    const list = await page.textContent('#list');
    assert.match(list, /stone_soup_icon-32x32\.png: failed: the tile margin \(40\) is larger than the picture \(32 × 32\)/);
    assert.match(list, /stone_soup_icon-48x48\.png: 96 × 96/);
    await page.close();
});

test('a picture too large to scale is refused from its header, as the tool refuses it', async (t) => {
    // 8193 x 8192 scaled 2x is just over the tool's default 2^28 output pixels.
    const file = path.join(scratch, 'huge.png');
    const png = Buffer.from(encode_png({ width: 1, height: 1, depth: 8, channels: 4, data: new Uint8Array(4) }));
    png.writeUInt32BE(8193, 16);
    png.writeUInt32BE(8192, 20);
    png.writeUInt32BE(zlib.crc32(png.subarray(12, 29)), 29);
    fs.writeFileSync(file, png);
    const r = spawnSync(TOOL, [file, path.join(scratch, 'huge-out.png')], { encoding: 'utf8' });
    assert.equal(r.status, 1, 'the tool refuses it too');
    assert.match(r.stderr, /too large|large/i);
    const page = await context.newPage();
    await page.goto(`${origin}/index.html`);
    await page.setInputFiles('#files', [file]);
    await page.waitForSelector('body[data-state="error"]');
    assert.match(await page.textContent('#list'), /huge\.png: failed: 8193 × 8192 scaled 2× is more than 268,435,456 pixels/);
    await page.close();
});

test('a cell size without its other side is refused before scaling', async () => {
    const page = await context.newPage();
    await page.goto(`${origin}/index.html`);
    await page.fill('#tile-width', '16');
    await page.setInputFiles('#files', [SAMPLE]);
    await page.waitForSelector('body[data-state="invalid"]');
    assert.match(await page.textContent('#status'), /both a width and a height/);
    assert.match(await page.textContent('#list'), /sample\.png: waiting/);
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
        assert.equal(r.picture.channels, 4);
        r.page.close();
    }
});

test('tile grid: 32x32 cells of a sheet, 4x turned counter-clockwise', async (t) => {
    (await check_one(t, tile('feat.png'), { factor: 4, rotate: 'ccw', tile: '32x32' }))?.page.close();
});

test('tile grid with margin and spacing, transparent edges', async (t) => {
    (await check_one(t, tile('icons.png'), { tile: '30x30', margin: 1, spacing: 2, edge: 'transparent' }))?.page.close();
});

test('tile grid with a margin and cells cut short, 4x turned counter-clockwise', async (t) => {
    // 1024 x 48 in 30 x 30 cells from (1, 1), 2 apart: cut short at the right and bottom.
    (await check_one(t, tile('icons.png'), { factor: 4, rotate: 'ccw', tile: '30x30', margin: 1, spacing: 2 }))?.page.close();
});

test('no request left the machine', () => {
    assert.deepEqual(stray_requests, []);
});
