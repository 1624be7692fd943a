// The page in a real browser: headless Chromium loads it from a local static
// server and scales real pixel art in every format the page reads (PNG of
// every kind, animated PNG, GIF, WebP, PPM, PGM, PAM) through its file input
// with the options set in its controls, and every downloaded file must be
// byte for byte the command-line tool's output for the same input and
// options. Bad files must say the tool's reason, the preview must play an
// animation's frames for their delays, and no request may leave the page or
// its worker. The result on screen is the shader's, in WebGL 2 (SwiftShader
// here, through ANGLE): it is read back from its integer target and must be
// the download's pixels, frame by frame; a page without WebGL 2 must show the
// download's own frames instead and say so.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import crypto from 'node:crypto';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { unzipSync } from 'fflate';
import { encode as encode_png } from 'fast-png';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const PROJECT = path.resolve(HERE, '../..');
const BUILD = process.env.LQ2X_WEB_BUILD ?? path.join(PROJECT, 'build/wasm/web');
const SITE = path.join(BUILD, 'page');
const TOOL = process.env.LQ2X_TOOL ?? path.join(PROJECT, 'build/release/lq2x');
// The files library through its C interface (tests/doors.cpp), which gives
// the library's words in any door's names: the page's, for its reasons.
const DOORS = process.env.LQ2X_DOORS ?? path.join(PROJECT, 'build/release/tests/doors');
const SCALE_TIME = process.env.LQ2X_SCALE_TIME ?? path.join(PROJECT, 'build/release/web_scale_time');
// The shaders as the native build writes them, and as the page's own build does.
const NATIVE_SHADERS = process.env.LQ2X_SHADER_DIR ?? path.join(PROJECT, 'build/release/shaders');
const PAGE_SHADERS = path.join(BUILD, '../shaders');
const TILES = '/usr/share/crawl/dat/tiles';
const SAMPLE = path.join(PROJECT, 'docs/sample.png');
const tile = (name) => path.join(TILES, name);
const TIMEOUT = { timeout: 180_000 };

// The library in WebAssembly under Node, to read the tool's files into frames.
const lq2x = await (await import(pathToFileURL(path.join(BUILD, 'module/lq2x_npm.js')))).default();

// The page's controls take the library's numbers; the tool takes words.
const ROTATE = { none: '0', ccw: '1', cw: '2' };
const EDGE = { clamp: '0', wrap: '1', transparent: '2' };
const FORMAT = { same: '0', png: '1', gif: '2', webp: '3', pnm: '7', pam: '6' };

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png',
                '.webmanifest': 'application/manifest+json' };
let server, origin, context, scratch, inputs;
// The page's server as if the network were gone: every connection dropped.
let offline = false;
const stray_requests = [];
// Another origin on this machine, which only the control request may reach.
let elsewhere, elsewhere_origin;
const elsewhere_hits = [];

before(async () => {
    for (const f of ['index.html', 'page.js', 'style.css', 'lq2x.html', 'sw.js', 'manifest.webmanifest']) assert.ok(fs.existsSync(path.join(SITE, f)), `${f} in ${SITE}: build the page first`);
    assert.ok(fs.existsSync(TOOL), `the tool at ${TOOL}: build it first`);
    scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'lq2x-web-'));
    inputs = path.join(scratch, 'inputs');
    fs.mkdirSync(inputs);
    const made = spawnSync('/usr/bin/python3', [path.join(HERE, 'make_inputs.py'), TILES, inputs], { encoding: 'utf8' });
    assert.equal(made.status, 0, `make_inputs.py: ${made.stderr}`);
    // A plain static server: the built page at / (and a copy at /copy, which
    // its service worker does not keep), and for the scaling-step
    // measurement the module and a worker of the test's own under /module
    // and /bench, with a blank page (no policy) at /bench/, and its data under /data.
    const roots = { module: path.join(BUILD, 'module'), bench: HERE, data: scratch, copy: SITE };
    server = http.createServer((req, res) => {
        if (offline) return req.socket.destroy();
        const url = new URL(req.url, 'http://x').pathname;
        if (url === '/bench/') return res.writeHead(200, { 'content-type': 'text/html' }).end('<!doctype html><title>bench</title>');
        const [, first, ...rest] = url.split('/');
        const root = roots[first] ?? SITE;
        const name = path.normalize(decodeURIComponent(roots[first] ? rest.join('/') : url)).replace(/^\/+/, '') || 'index.html';
        const file = path.join(root, name);
        if (!file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) return res.writeHead(404).end();
        res.writeHead(200, { 'content-type': TYPES[path.extname(file)] ?? 'application/octet-stream' });
        fs.createReadStream(file).pipe(res);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    origin = `http://127.0.0.1:${server.address().port}`;
    elsewhere = http.createServer((req, res) => {
        elsewhere_hits.push(req.url);
        res.writeHead(200, { 'access-control-allow-origin': '*', 'content-type': 'text/javascript' }).end('// reached');
    });
    await new Promise((resolve) => elsewhere.listen(0, '127.0.0.1', resolve));
    elsewhere_origin = `http://127.0.0.1:${elsewhere.address().port}`;
    context = await chromium.launchPersistentContext(path.join(scratch, 'profile'), {
        executablePath: '/usr/bin/chromium',
        headless: true,
        acceptDownloads: true,
        viewport: { width: 1280, height: 960 },
        // WebGL 2 without a GPU: ANGLE on SwiftShader, Chromium's software
        // Vulkan. The test fails where the page gets no WebGL 2 (below).
        args: ['--headless', '--no-sandbox', '--use-gl=angle', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
               '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update',
               '--disable-sync'],
    });
    // In every page: the shaders' text as the page gives it to WebGL, and a
    // reader of what the result canvas shows, as the page's integer target
    // holds it (WebGL 2) or from the 2D canvas (without).
    await context.addInitScript(() => {
        const source = WebGL2RenderingContext.prototype.shaderSource;
        window.lq2x_test_shaders = [];
        WebGL2RenderingContext.prototype.shaderSource = function (shader, text) {
            window.lq2x_test_shaders.push(text);
            return source.call(this, shader, text);
        };
        window.lq2x_test_read_result = () => {
            const c = document.getElementById('result');
            const gl = c.dataset.by === 'webgl2' ? c.getContext('webgl2') : null;
            if (!gl) return { by: c.dataset.by, pixels: c.getContext('2d').getImageData(0, 0, c.width, c.height).data };
            const type = gl.getFramebufferAttachmentParameter(gl.READ_FRAMEBUFFER, gl.COLOR_ATTACHMENT0,
                                                              gl.FRAMEBUFFER_ATTACHMENT_COMPONENT_TYPE);
            const pixels = new Uint8Array(c.width * c.height * 4);
            gl.readPixels(0, 0, c.width, c.height, gl.RGBA_INTEGER, gl.UNSIGNED_BYTE, pixels);
            return { by: 'webgl2', integer: type === gl.UNSIGNED_INT, error: gl.getError(), pixels };
        };
    });
    // WebGL 2 must be there: without it every preview check below would only
    // test the fallback.
    const probe = await context.newPage();
    const gl = await probe.evaluate(() => {
        const c = document.createElement('canvas').getContext('webgl2');
        const d = c && c.getExtension('WEBGL_debug_renderer_info');
        return c ? `${c.getParameter(c.VERSION)}; ${c.getParameter(d ? d.UNMASKED_RENDERER_WEBGL : c.RENDERER)}` : null;
    });
    await probe.close();
    assert.ok(gl, 'headless Chromium gave no WebGL 2 context: the preview cannot be tested');
    console.log(`webgl: ${gl}`);
    // The local server, and the other local origin (whose hits are counted
    // there); everything else is refused and counted.
    await context.route('**/*', (route) => {
        const url = route.request().url();
        if (url.startsWith('file:') || url.startsWith(`${origin}/`) || url.startsWith(`${elsewhere_origin}/`)) return route.continue();
        stray_requests.push(url);
        return route.abort();
    });
    context.on('request', (r) => {
        const url = r.url();
        if (!url.startsWith(`${origin}/`) && !url.startsWith(`${elsewhere_origin}/`) && !url.startsWith('blob:') &&
            !url.startsWith('file:') &&
            !url.startsWith('data:'))
            stray_requests.push(url);
    });
});

after(async () => {
    await context?.close();
    server?.close();
    elsewhere?.close();
    if (scratch) fs.rmSync(scratch, { recursive: true, force: true });
});

// The tool's command line for the page's options.
function tool_args(o) {
    const args = ['--scale', String(o.scale ?? 2), '--rotate', o.rotate ?? 'none'];
    if (o.edge) args.push('--edge', o.edge);
    if (o.tile) args.push('--tile', o.tile);
    if (o.margin !== undefined) args.push('--tile-margin', String(o.margin));
    if (o.spacing !== undefined) args.push('--tile-spacing', String(o.spacing));
    if (o.gif_alpha) args.push('--gif-alpha', String(o.gif_alpha));
    if (o.gif_colours) args.push('--gif-colours', String(o.gif_colours));
    if (o.gif_palette) args.push('--gif-palette', o.gif_palette);
    return args;
}

// Runs the tool, writing to a file named `name` (the page's download name,
// whose extension picks the format as the page's choice did).
function run_tool(input, o, name) {
    const dir = fs.mkdtempSync(path.join(scratch, 'tool-'));
    const out = path.join(dir, name);
    const r = spawnSync(TOOL, [...tool_args(o), input, out], { encoding: 'utf8' });
    return { status: r.status, stderr: r.stderr, bytes: fs.existsSync(out) ? fs.readFileSync(out) : null };
}

function tool_output(input, o, name) {
    const r = run_tool(input, o, name);
    assert.equal(r.status, 0, `lq2x ${tool_args(o).join(' ')} ${input} ${name}: ${r.stderr}`);
    return r.bytes;
}

// The reason the tool gives for a file, without its "lq2x: NAME: " prefix.
function tool_reason(input, o, name) {
    const r = run_tool(input, o, name);
    assert.notEqual(r.status, 0, `the tool scaled ${input}`);
    const line = r.stderr.trim().split('\n').pop();
    return line.slice(line.indexOf(`${input}: `) + input.length + 2);
}

// The library's reason for a file in the page's words (its controls' names
// where the tool has its options'): the C interface asked for the page's door.
function page_reason(input, o, name) {
    const out = path.join(fs.mkdtempSync(path.join(scratch, 'doors-')), name);
    const r = spawnSync(DOORS, ['c', input, out, ...tool_args(o), '--door', '3'], { encoding: 'utf8' });
    assert.equal(r.status, 1, `the library scaled ${input}: ${r.stderr}`);
    return r.stdout.trim().replace(/^status \d+: /, '');
}

// without_webgl2: as a browser that gives the page no WebGL 2 context; url:
// the page's address (the local server's index.html by default).
async function open_page({ without_webgl2 = false, url = `${origin}/index.html` } = {}) {
    const page = await context.newPage();
    if (without_webgl2)
        await page.addInitScript(() => {
            const get = HTMLCanvasElement.prototype.getContext;
            HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
                return kind === 'webgl2' ? null : get.call(this, kind, ...rest);
            };
        });
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
    await page.goto(url);
    return { page, errors };
}

async function set_options(page, o) {
    await page.selectOption('#scale', String(o.scale ?? 2));
    await page.selectOption('#rotate', ROTATE[o.rotate ?? 'none']);
    await page.selectOption('#format', FORMAT[o.format ?? 'same']);
    const [ex, ey = ex] = (o.edge ?? 'clamp').split(',');
    await page.selectOption('#edge-x', EDGE[ex]);
    await page.selectOption('#edge-y', EDGE[ey]);
    const [tw, th] = (o.tile ?? '0x0').split('x');
    await page.fill('#tile-width', tw);
    await page.fill('#tile-height', th);
    await page.fill('#tile-margin', String(o.margin ?? 0));
    await page.fill('#tile-spacing', String(o.spacing ?? 0));
    await page.fill('#gif-alpha', String(o.gif_alpha ?? 0));
    await page.fill('#gif-colours', String(o.gif_colours ?? 0));
    await page.selectOption('#gif-palette', o.gif_palette === 'per-frame' ? '1' : '0');
    // A number field reports its change when it loses focus: let it now, not
    // when the download button is clicked (which would start the batch again).
    await page.locator('#gif-colours').blur();
}

const finished = 'body[data-state="done"], body[data-state="error"], body[data-state="invalid"]';

// Opens the page, sets its controls, feeds the files and waits for the batch.
async function scale_in_page(files, o, state = 'done', how = {}) {
    const { page, errors } = await open_page(how);
    await set_options(page, o);
    await page.setInputFiles('#files', files);
    await page.waitForSelector(finished, { timeout: 120_000 });
    assert.equal(await page.getAttribute('body', 'data-state'), state,
                 `${await page.textContent('#status')} ${await page.textContent('#list')}`);
    assert.deepEqual(errors, []);
    return page;
}

async function download(page, button) {
    const [d] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
    return { name: d.suggestedFilename(), bytes: fs.readFileSync(await d.path()) };
}

function assert_same_bytes(got, expected, what) {
    assert.ok(Buffer.from(got).equals(Buffer.from(expected)),
              `${what}: the page's ${got.length} bytes differ from the tool's ${expected.length}`);
}

// One file through the page and the tool: the same bytes, and the download
// named as the format chosen says; and what the preview shows, every frame,
// is the download's pixels.
async function check_one(file, o, extension, how = {}) {
    const page = await scale_in_page([file], o, 'done', how);
    const got = await download(page, '#download');
    const stem = path.basename(file).replace(/\.[^.]*$/, '');
    const what = `${path.basename(file)} ${tool_args(o).join(' ')}`;
    assert.equal(got.name, `${stem}-lq2x-${o.scale ?? 2}x.${extension}`);
    assert_same_bytes(got.bytes, tool_output(file, o, got.name), what);
    await expect_preview_is(page, got.bytes, how.by ?? (how.without_webgl2 ? 'wasm' : 'webgl2'), what);
    if (!how.warned) assert.equal(await page.isVisible('#result-note'), false, `${what}: a note with nothing to warn of`);
    return { page, bytes: got.bytes };
}

const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
const preview_frames_checked = { webgl2: 0, wasm: 0 };

// Reads what the result shows at every frame the page draws, until each of
// the download's frames has been seen (the animation plays on its delays),
// and requires each to be that frame of the download, byte for byte: from
// the shader's integer target in WebGL 2 (`by` 'webgl2'), or from the 2D
// canvas without it ('wasm').
async function expect_preview_is(page, bytes, by, what) {
    const expected = read_frames(bytes);
    const size = expected.width * expected.height * 4;
    const hashes = Array.from({ length: expected.count }, (_, k) => sha256(expected.pixels.subarray(k * size, (k + 1) * size)));
    await page.waitForSelector(`#result[data-by="${by}"]`, { timeout: 30_000 });
    const seen = await page.evaluate(async ({ hashes }) => {
        const c = document.getElementById('result');
        const hex = async (b) => Array.from(new Uint8Array(await crypto.subtle.digest('SHA-256', b)), (x) => x.toString(16).padStart(2, '0')).join('');
        const frames = new Map();
        const t0 = performance.now();
        await new Promise((done) => {
            const tick = () => {
                const k = Number(c.dataset.frame);
                if (!frames.has(k)) frames.set(k, { size: [c.width, c.height], ...window.lq2x_test_read_result() });
                if (frames.size >= hashes.length || performance.now() - t0 > 20_000) done();
                else requestAnimationFrame(tick);
            };
            tick();
        });
        const out = [];
        for (const [k, f] of frames) {
            const h = await hex(f.pixels);
            // The pixels themselves only for a frame that differs, to say where.
            out.push({ k, by: f.by, integer: f.integer, error: f.error, size: f.size, hash: h,
                       pixels: h === hashes[k] ? null : Array.from(f.pixels),
                       text: document.getElementById('preview-by').textContent });
        }
        return out;
    }, { hashes });
    assert.equal(seen.length, expected.count, `${what}: frames seen ${seen.map((f) => f.k).join(', ')}`);
    for (const f of seen) {
        assert.equal(f.by, by, `${what}: the preview is ${f.by}`);
        assert.deepEqual(f.size, [expected.width, expected.height], `${what}: frame ${f.k}'s size`);
        if (by === 'webgl2') {
            assert.equal(f.integer, true, `${what}: the result's target is not an integer one`);
            assert.equal(f.error, 0, `${what}: readPixels failed`);
            assert.match(f.text, /^Drawn on the GPU, /);
        } else {
            assert.match(f.text, /^Drawn without the GPU, from the download's own pixels: /);
        }
        if (f.hash !== hashes[f.k]) {
            const want = expected.pixels.subarray(f.k * size, (f.k + 1) * size);
            const at = f.pixels.findIndex((v, i) => v !== want[i]) >> 2;
            const px = (a) => Array.from(a.slice(4 * at, 4 * at + 4)).join(', ');
            assert.fail(`${what}: frame ${f.k} of ${expected.count} shown by ${by} differs from the download's, first at ` +
                        `(${at % expected.width}, ${Math.floor(at / expected.width)}): shown ${px(f.pixels)}, download ${px(want)}`);
        }
        preview_frames_checked[by]++;
    }
}

// The frames of a file as the library reads them: RGBA, delays in ms.
function read_frames(bytes) {
    const p = lq2x._malloc(bytes.length);
    lq2x.HEAPU8.set(bytes, p);
    const r = lq2x._lq2x_web_read_file(p, bytes.length, 2, 1);
    lq2x._free(p);
    try {
        assert.equal(lq2x._lq2x_web_frames_status(r), 0, lq2x.UTF8ToString(lq2x._lq2x_web_frames_message(r)));
        const width = lq2x._lq2x_web_frames_width(r), height = lq2x._lq2x_web_frames_height(r);
        const count = lq2x._lq2x_web_frames_count(r), at = lq2x._lq2x_web_frames_pixels(r);
        const d = lq2x._lq2x_web_frames_delays(r) >>> 2;
        const delays = Array.from({ length: count }, (_, i) => (1000 * lq2x.HEAPU32[d + 2 * i]) / lq2x.HEAPU32[d + 2 * i + 1]);
        return { width, height, count, delays, pixels: lq2x.HEAPU8.slice(at, at + width * height * 4 * count) };
    } finally {
        lq2x._lq2x_web_frames_free(r);
    }
}

test('the sample, 2x; the page names the library\'s version as the tool does, and the kernel it runs', TIMEOUT, async () => {
    const { page } = await check_one(SAMPLE, { scale: 2 }, 'png');
    const version = spawnSync(TOOL, ['--version'], { encoding: 'utf8' }).stdout.trim();
    assert.match(version, /^lq2x \d+\.\d+\.\d+$/);
    // The kernel the page's module runs: WebAssembly's vector one, never
    // quietly the portable walk.
    assert.equal(await page.textContent('#version'), `${version}, running in WebAssembly on this computer (scaling kernel: simd128).`);
    await page.close();
});

test('an animated GIF plays in the preview, each frame for its delay and with the download\'s pixels', TIMEOUT, async () => {
    const file = path.join(inputs, 'flat.gif');
    const { page, bytes } = await check_one(file, { scale: 2 }, 'gif');
    const expected = read_frames(bytes);
    assert.equal(expected.count, 6);
    assert.deepEqual(expected.delays, [80, 120, 60, 200, 100, 40]);
    // Every animation frame of the browser for three cycles: the frame shown
    // and, at each change, the canvas's pixels (opaque, so exact).
    const ticks = await page.evaluate(async (ms) => {
        const c = document.getElementById('result');
        const seen = [];
        let last = null;
        const t0 = performance.now();
        await new Promise((done) => {
            const tick = (now) => {
                const frame = Number(c.dataset.frame);
                seen.push({ t: now, frame, pixels: frame !== last ? Array.from(window.lq2x_test_read_result().pixels) : null });
                last = frame;
                if (now - t0 < ms) requestAnimationFrame(tick);
                else done();
            };
            requestAnimationFrame(tick);
        });
        return seen;
    }, 3 * 600 + 200);
    const n = expected.count, size = expected.width * expected.height * 4;
    let timed = 0;
    for (let i = 1; i < ticks.length; ++i) {
        if (ticks[i].pixels === null) continue;
        const k = ticks[i].frame;
        assert.ok(Buffer.from(ticks[i].pixels).equals(Buffer.from(expected.pixels.subarray(k * size, (k + 1) * size))),
                  `frame ${k} shown differs from the download's`);
        // A whole showing of frame k between its neighbours: as long as its
        // delay, give or take the browser's frames around its two ends.
        const next = ticks.findIndex((x, j) => j > i && x.frame !== k);
        if (next < 0 || ticks[i - 1].frame !== (k + n - 1) % n || ticks[next].frame !== (k + 1) % n) continue;
        const slack = Math.max(ticks[i].t - ticks[i - 1].t, ticks[next].t - ticks[next - 1].t) + 2;
        const shown = ticks[next].t - ticks[i].t;
        assert.ok(Math.abs(shown - expected.delays[k]) <= slack,
                  `frame ${k} shown ${shown.toFixed(1)} ms for a delay of ${expected.delays[k]} ms (give or take ${slack.toFixed(1)})`);
        timed++;
    }
    assert.ok(timed >= n, `whole showings timed: ${timed}`);
    assert.match(await page.textContent('#frame-caption'), /^Frame \d of 6 \(\d+ ms\)$/);
    await page.close();
});

test('an animated PNG, 4x turned clockwise, stays an animated PNG; shown with its comparison (the screenshot)', TIMEOUT, async () => {
    const { page, bytes } = await check_one(path.join(inputs, 'walk.png'), { scale: 4, rotate: 'cw' }, 'png');
    assert.equal(read_frames(bytes).count, 6);
    assert.match(await page.textContent('#list'), /walk\.png: 128 × 128, 6 frames/);
    await page.selectOption('#zoom', '2');
    // The original laid over the result covers it exactly, turned as it is.
    const over = await page.locator('#compare-original').boundingBox(), under = await page.locator('#compare').boundingBox();
    for (const k of ['x', 'y', 'width', 'height']) assert.ok(Math.abs(over[k] - under[k]) < 0.5, `overlay ${k}: ${over[k]} against ${under[k]}`);
    assert.deepEqual([under.width, under.height], [256, 256]);
    const box = await page.locator('#compare').boundingBox();
    await page.mouse.move(box.x + box.width * 0.5, box.y + 10);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.4, box.y + 20, { steps: 4 });
    await page.mouse.up();
    assert.ok(Math.abs(Number(await page.inputValue('#split')) - 40) <= 1, await page.inputValue('#split'));
    await page.evaluate(() => window.scrollTo(0, 0));
    if (process.env.LQ2X_SCREENSHOT) await page.screenshot({ path: process.env.LQ2X_SCREENSHOT, fullPage: true });
    // The preview alone while it plays, at a frame after the first.
    if (process.env.LQ2X_PREVIEW_SCREENSHOT) {
        await page.waitForFunction(() => Number(document.getElementById('result').dataset.frame) >= 2);
        await page.locator('#view').screenshot({ path: process.env.LQ2X_PREVIEW_SCREENSHOT });
    }
    await page.close();
});

test('an animated WebP stays one; a GIF saved as WebP; a lossy WebP saved as PNG', TIMEOUT, async () => {
    (await check_one(path.join(inputs, 'walk.webp'), { scale: 2, edge: 'transparent' }, 'webp')).page.close();
    (await check_one(path.join(inputs, 'walk.gif'), { scale: 2, format: 'webp' }, 'webp')).page.close();
    (await check_one(path.join(inputs, 'lossy.webp'), { scale: 4, format: 'png', rotate: 'ccw' }, 'png')).page.close();
});

test('PPM, PGM and PAM in; PNM and PAM out', TIMEOUT, async () => {
    (await check_one(path.join(inputs, 'sprite.ppm'), { scale: 2 }, 'ppm')).page.close();
    (await check_one(path.join(inputs, 'sprite.pgm'), { scale: 4, format: 'pnm' }, 'pnm')).page.close();
    (await check_one(path.join(inputs, 'sprite.pam'), { scale: 2, rotate: 'cw' }, 'pam')).page.close();
    (await check_one(tile('icons.png'), { scale: 2, format: 'pam' }, 'pam')).page.close();
});

test('what the file could not keep is noted under the result in the tool\'s words', TIMEOUT, async () => {
    const file = path.join(inputs, 'flat-odd.png');
    const { page } = await check_one(file, { scale: 2, format: 'gif' }, 'gif', { warned: true });
    const line = run_tool(file, { scale: 2 }, 'flat-odd-lq2x-2x.gif').stderr.trim();
    const words = line.slice(line.indexOf(': warning: ') + ': warning: '.length);
    assert.match(words, /delays that GIF cannot hold/);
    assert.equal(await page.textContent('#result-note'), `Note: ${words}`);
    await page.close();
});

test('the same GIF made to fit by the page\'s GIF settings is the tool\'s bytes, noted as not exact', TIMEOUT, async () => {
    const file = path.join(inputs, 'walk.gif');
    const { page } = await check_one(file, { scale: 2, gif_alpha: 128, gif_colours: 64 }, 'gif',
                                     { warned: true, by: 'wasm' });
    assert.match(await page.textContent('#result-note'), /not exact: GIF (alpha threshold 128|colours 64) /);
    assert.match(await page.textContent('#preview-by'), /from the download's own pixels.*a GIF made to fit/);
    await page.close();
});

// What a 2D canvas on the page holds, as RGBA.
// and the frame it shows (the one its player `frame_of` last drew).
const canvas_pixels = (page, id, frame_of) => page.evaluate(({ id, frame_of }) => {
    const c = document.getElementById(id);
    return { width: c.width, height: c.height, frame: Number(document.getElementById(frame_of).dataset.frame ?? 0),
             pixels: Array.from(c.getContext('2d').getImageData(0, 0, c.width, c.height).data) };
}, { id, frame_of });

// Frame k of `frames` turned as the library turns (1: a quarter-turn
// counter-clockwise, 2: clockwise).
function turned(frames, orientation, k) {
    const { width: w, height: h } = frames;
    const pixels = frames.pixels.subarray(k * w * h * 4, (k + 1) * w * h * 4);
    if (!orientation) return { width: w, height: h, pixels };
    const out = new Uint8Array(w * h * 4);
    for (let y = 0; y < h; ++y)
        for (let x = 0; x < w; ++x) {
            const [tx, ty] = orientation === 1 ? [y, w - 1 - x] : [h - 1 - y, x];
            out.set(pixels.subarray(4 * (y * w + x), 4 * (y * w + x) + 4), 4 * (ty * h + tx));
        }
    return { width: h, height: w, pixels: out };
}

// The canvas shows the file's frame its player drew (turned): every alpha,
// and the colour of every opaque pixel (a 2D canvas keeps no colour under alpha 0).
async function expect_canvas_shows(page, id, file, orientation, what, frame_of = id) {
    const got = await canvas_pixels(page, id, frame_of);
    const want = turned(read_frames(fs.readFileSync(file)), orientation, got.frame);
    assert.deepEqual([got.width, got.height], [want.width, want.height], `${what}: #${id}'s size`);
    for (let i = 0; i < got.pixels.length; i += 4) {
        const same = got.pixels[i + 3] === want.pixels[i + 3] &&
                     (want.pixels[i + 3] !== 255 || [0, 1, 2].every((c) => got.pixels[i + c] === want.pixels[i + c]));
        if (!same) assert.fail(`${what}: #${id} differs at pixel ${i / 4}: ${got.pixels.slice(i, i + 4)} against ${want.pixels.slice(i, i + 4)}`);
    }
}

test('every state shown: the original drawn when only the result fails or is too large to preview; no caption left waiting', TIMEOUT, async () => {
    // A strip whose 8x result is wider than WebGL 2's textures and this
    // browser's canvases (opaque, from real art's colours).
    const art = read_frames(fs.readFileSync(tile('main.png')));
    const width = 8194;
    const data = new Uint8Array(width * 3);
    for (let i = 0; i < width; ++i) data.set(art.pixels.subarray(4 * ((i * 13) % (art.width * art.height))).subarray(0, 3), 3 * i);
    const strip = path.join(scratch, 'strip.png');
    fs.writeFileSync(strip, encode_png({ width, height: 1, depth: 8, channels: 3, data }));
    const walk = path.join(inputs, 'walk.gif');
    const cases = [
        // Only the result fails: a GIF asked for that cannot hold it.
        { file: walk, o: { scale: 2, format: 'gif' }, state: 'error', caption: 'Result',
          reason: page_reason(walk, { scale: 2 }, 'walk-lq2x-2x.gif') },
        // Made, but too large to preview: said beside its Download button.
        { file: strip, o: { scale: 8 }, state: 'done', caption: `Result: ${8 * width} × 8 (8×)`, name: 'strip-lq2x-8x.png' },
    ];
    for (const c of cases) {
        const page = await scale_in_page([c.file], c.o, c.state);
        const what = `${path.basename(c.file)} ${tool_args(c.o).join(' ')}`;
        assert.equal(await page.textContent('#result-caption'), c.caption, what);
        assert.equal(await page.isVisible('#original'), true, `${what}: the original is not shown`);
        await expect_canvas_shows(page, 'original', c.file, 0, what);
        assert.equal(await page.isVisible('#result'), false, what);
        assert.equal(await page.isVisible('#comparison'), false, what);
        if (c.reason) {
            assert.equal(await page.textContent('#result-reason'), `Not scaled: ${c.reason}`);
            assert.equal(await page.isDisabled('#download'), true);
        } else {
            assert.match(await page.textContent('#download-note'),
                         new RegExp(`^The result, ${8 * width} × 8, is too large to preview here \\(.*\\); download it to see it\\.$`));
            assert.match(await page.textContent('#preview-by'), /^Not drawn: too large to preview here/);
            const got = await download(page, '#download');
            assert.equal(got.name, c.name);
            assert_same_bytes(got.bytes, tool_output(c.file, c.o, got.name), what);
        }
        await page.close();
    }
});

test('a picture over the limits: the library\'s words without the tool\'s option, and the page\'s own hint', TIMEOUT, async () => {
    // A GIF of a 1 x 1 screen whose frame says 16384 x 16385, refused from the frame's header.
    const gif = Buffer.from([0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                             0x2c, 0, 0, 0, 0, 0x00, 0x40, 0x01, 0x40, 0, 2, 2, 0x4c, 0x01, 0, 0x3b]);
    const file = path.join(scratch, 'tall-frame.gif');
    fs.writeFileSync(file, gif);
    const tool = run_tool(file, {}, 'out.gif');
    assert.match(tool.stderr, /is over the limit of 268435456 output pixels \(--max-pixels raises it\)/);
    const reason = page_reason(file, {}, 'out.gif');
    assert.doesNotMatch(reason, /max-pixels|max_pixels/);
    const page = await scale_in_page([file], {}, 'error');
    assert.equal(await page.textContent('#result-reason'), `Not scaled: ${reason}`);
    assert.equal(await page.isVisible('#result-hint'), true);
    assert.match(await page.textContent('#result-hint'), /lq2x command-line tool can be given larger ones/);
    assert.doesNotMatch(await page.textContent('#view'), /--/);
    await page.close();
});

test('a transparent sprite GIF: a lossless animation by default, said in one line; a GIF all the same in one click', TIMEOUT, async () => {
    const file = path.join(inputs, 'walk.gif');
    const page = await scale_in_page([file], { scale: 2 });
    const got = await download(page, '#download');
    assert.equal(got.name, 'walk-lq2x-2x.png');
    assert_same_bytes(got.bytes, tool_output(file, { scale: 2 }, got.name), 'walk.gif by default');
    assert.equal(read_frames(got.bytes).count, 6);
    await expect_preview_is(page, got.bytes, 'webgl2', 'walk.gif saved losslessly');
    const words = await page.textContent('#way-out-words');
    assert.match(words, /^Save as “the input's format” gave PNG, animated, for this picture, which its own format cannot hold exactly \(frame 0 has partly transparent pixels .*\)\.$/);
    assert.doesNotMatch(words, /\n|\.png|\.webp/);
    // One click: Save as GIF with the library's settings that make it fit, noted as not exact.
    await page.click('#gif-anyway');
    await page.waitForSelector('body[data-state="done"]', { timeout: 60_000 });
    assert.equal(await page.inputValue('#format'), FORMAT.gif);
    const gif = await download(page, '#download');
    assert.equal(gif.name, 'walk-lq2x-2x.gif');
    assert_same_bytes(gif.bytes, tool_output(file, { scale: 2, gif_alpha: 128, gif_colours: 256 }, gif.name), 'walk.gif all the same');
    assert.match(await page.textContent('#result-note'), /^Note: not exact: /);
    assert.equal(await page.isVisible('#way-out'), false);
    await page.close();
});

test('the comparison lays the original over the result in the result\'s orientation', TIMEOUT, async () => {
    // The sample is wider than it is high, so that a turn shows in the sizes too.
    const page = await scale_in_page([SAMPLE], { scale: 2 });
    for (const rotate of ['ccw', 'cw', 'none']) {
        await page.selectOption('#rotate', ROTATE[rotate]);
        await page.waitForSelector('body[data-state="done"]', { timeout: 60_000 });
        await page.waitForSelector('#comparison:not([hidden])');
        await expect_canvas_shows(page, 'compare-original', SAMPLE, Number(ROTATE[rotate]), `the comparison, ${rotate}`, 'result');
        const over = await page.locator('#compare-original').boundingBox(), under = await page.locator('#compare').boundingBox();
        for (const k of ['x', 'y', 'width', 'height']) assert.ok(Math.abs(over[k] - under[k]) < 0.5, `${rotate}: overlay ${k}: ${over[k]} against ${under[k]}`);
    }
    await page.close();
});

test('play, pause and step through an animation, with each frame\'s delay', TIMEOUT, async () => {
    const { page } = await check_one(path.join(inputs, 'flat.gif'), { scale: 2 }, 'gif');
    const delays = [80, 120, 60, 200, 100, 40];
    await page.click('#play');
    assert.equal(await page.textContent('#play'), 'Play');
    const at = Number(await page.getAttribute('#result', 'data-frame'));
    await page.waitForTimeout(400);
    assert.equal(Number(await page.getAttribute('#result', 'data-frame')), at, 'paused, yet it played on');
    for (const [button, by] of [['#next-frame', 1], ['#next-frame', 1], ['#previous-frame', -1]]) {
        const k = (Number(await page.getAttribute('#result', 'data-frame')) + by + 6) % 6;
        await page.click(button);
        assert.equal(Number(await page.getAttribute('#result', 'data-frame')), k);
        assert.equal(await page.textContent('#frame-caption'), `Frame ${k + 1} of 6 (${delays[k]} ms)`);
    }
    await page.click('#play');
    await page.waitForFunction((k) => Number(document.getElementById('result').dataset.frame) !== k,
                               Number(await page.getAttribute('#result', 'data-frame')), { timeout: 5_000 });
    await page.close();
});

test('the file list: a new file shown, the same file once, pasted pictures, remove and clear', TIMEOUT, async () => {
    const [a, b, c] = [SAMPLE, tile('logosmall.png'), tile('stone_soup_icon-32x32.png')];
    const { page, errors } = await open_page();
    const names = () => page.$$eval('#list li button:first-child', (l) => l.map((x) => x.textContent.split(':')[0]));
    const pressed = () => page.$eval('#list button[aria-pressed="true"]', (x) => x.textContent.split(':')[0]);
    const settle = () => page.waitForSelector('body[data-state="done"]', { timeout: 60_000 });
    const steps = [
        ['pick', [a], ['sample.png'], 'sample.png'],
        ['pick', [b], ['sample.png', 'logosmall.png'], 'logosmall.png'],
        ['pick', [a], ['sample.png', 'logosmall.png'], 'sample.png'], // the same file again
        ['paste', c, ['sample.png', 'logosmall.png', 'image.png'], 'image.png'],
        ['remove', 'logosmall.png', ['sample.png', 'image.png'], 'image.png'],
        ['remove', 'image.png', ['sample.png'], 'sample.png'],
    ];
    for (const [act, arg, list, shown] of steps) {
        if (act === 'pick') await page.setInputFiles('#files', arg);
        if (act === 'paste')
            await page.evaluate((bytes) => {
                const d = new DataTransfer();
                d.items.add(new File([new Uint8Array(bytes)], 'image.png', { type: 'image/png' }));
                document.dispatchEvent(new ClipboardEvent('paste', { clipboardData: d, bubbles: true }));
            }, [...fs.readFileSync(arg)]);
        if (act === 'remove') await page.click(`#list button[aria-label="Remove ${arg}"]`);
        await settle();
        assert.deepEqual(await names(), list, `after ${act} ${arg}`);
        assert.equal(await pressed(), shown, `after ${act} ${arg}`);
        assert.equal(await page.textContent('#original-caption'), `Original: ${shown}`);
        if (act === 'paste') {
            const got = await download(page, '#download');
            assert.equal(got.name, 'image-lq2x-2x.png');
            assert_same_bytes(got.bytes, tool_output(c, {}, got.name), 'pasted');
        }
    }
    await page.click('#clear');
    assert.deepEqual(await names(), []);
    assert.equal(await page.isVisible('#view'), false);
    assert.equal(await page.textContent('#status'), 'Pick or drop pictures to start.');
    assert.equal(await page.isDisabled('#download'), true);
    assert.deepEqual(errors, []);
    await page.close();
});

test('a phone\'s width: no sideways scrolling, the result first, controls a finger can hit (the screenshot)', TIMEOUT, async () => {
    const { page } = await open_page();
    for (const width of [320, 375, 400]) {
        await page.setViewportSize({ width, height: 740 });
        if (width === 320) {
            await set_options(page, { scale: 4, rotate: 'cw' });
            await page.setInputFiles('#files', [path.join(inputs, 'walk.png')]);
            await page.waitForSelector('body[data-state="done"]', { timeout: 60_000 });
        }
        const m = await page.evaluate(() => {
            const box = (id) => document.getElementById(id).getBoundingClientRect();
            const small = [...document.querySelectorAll('button, select, input')]
                .filter((e) => e.offsetParent && e.type !== 'range' && e.getBoundingClientRect().height < 44)
                .map((e) => `${e.id || e.textContent} ${e.getBoundingClientRect().height}`);
            return { document: document.documentElement.scrollWidth, body: document.body.scrollWidth,
                     view: box('view').top, options: box('options').top, small };
        });
        assert.equal(m.document, width, `at ${width} px the document is ${m.document} px wide`);
        assert.ok(m.body <= width, `at ${width} px the body is ${m.body} px wide`);
        assert.ok(m.view < m.options, `at ${width} px the result is below the options`);
        assert.deepEqual(m.small, [], `at ${width} px, controls under 44 px high`);
    }
    await page.setViewportSize({ width: 375, height: 740 });
    await page.evaluate(() => window.scrollTo(0, 0));
    if (process.env.LQ2X_PHONE_SCREENSHOT) await page.screenshot({ path: process.env.LQ2X_PHONE_SCREENSHOT });
    await page.close();
});

test('opened from a file: the page in one file and the hosted one scale PNG and GIF to the tool\'s bytes', TIMEOUT, async () => {
    const cases = [
        ['lq2x.html', SAMPLE, { scale: 2 }, 'png'],
        ['lq2x.html', path.join(inputs, 'flat.gif'), { scale: 4, rotate: 'ccw' }, 'gif'],
        ['index.html', path.join(inputs, 'walk.png'), { scale: 2 }, 'png'],
    ];
    for (const [name, file, o, extension] of cases) {
        const { page, errors } = await open_page({ url: pathToFileURL(path.join(SITE, name)).href });
        await page.waitForFunction(() => document.getElementById('version').textContent.startsWith('lq2x '), null, { timeout: 30_000 });
        await set_options(page, o);
        await page.setInputFiles('#files', [file]);
        await page.waitForSelector('body[data-state="done"]', { timeout: 60_000 });
        const got = await download(page, '#download');
        assert.equal(got.name, `${path.basename(file).replace(/\.[^.]*$/, '')}-lq2x-${o.scale}x.${extension}`);
        assert_same_bytes(got.bytes, tool_output(file, o, got.name), `${name} from a file: ${path.basename(file)}`);
        assert.deepEqual(errors, [], name);
        await page.close();
    }
});

test('a browser that will not start the scaler is told how to open the page', TIMEOUT, async () => {
    const page = await context.newPage();
    await page.addInitScript(() => { window.Worker = function () { throw new Error('refused here'); }; });
    await page.goto(pathToFileURL(path.join(SITE, 'index.html')).href);
    await page.waitForFunction(() => document.getElementById('version').textContent.startsWith('The scaler could not start'));
    assert.match(await page.textContent('#version'), /\(refused here\)\. Open lq2x\.html, the page in one file, .* serve this folder/);
    assert.equal(await page.$('#stuck'), null);
    await page.close();
    // With no script run at all (the page's script refused, from a copy of
    // the page the service worker does not keep), its own words show after a while.
    const bare = await context.newPage();
    await bare.route('**/copy/page.js', (r) => r.abort());
    await bare.goto(`${origin}/copy/index.html`);
    assert.equal(await bare.isVisible('#stuck'), false);
    await bare.waitForSelector('#stuck', { state: 'visible', timeout: 15_000 });
    assert.match(await bare.textContent('#stuck'), /Open lq2x\.html, the page in one file/);
    await bare.close();
});

test('hosted, reloaded with the network off, it still opens and scales (its service worker)', TIMEOUT, async () => {
    const { page } = await open_page();
    const ready = await page.evaluate(() => Promise.race([navigator.serviceWorker.ready.then(() => true),
                                                         new Promise((resolve) => setTimeout(() => resolve(false), 30_000))]));
    assert.ok(ready, 'no service worker became ready');
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null, null, { timeout: 30_000 }).catch(() => page.reload());
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null, null, { timeout: 30_000 });
    offline = true;
    await context.setOffline(true);
    try {
        await page.reload();
        await page.waitForFunction(() => document.getElementById('version').textContent.startsWith('lq2x '), null, { timeout: 30_000 });
        await page.setInputFiles('#files', [SAMPLE]);
        await page.waitForSelector('body[data-state="done"]', { timeout: 60_000 });
        const got = await download(page, '#download');
        assert_same_bytes(got.bytes, tool_output(SAMPLE, {}, got.name), 'offline');
    } finally {
        offline = false;
        await context.setOffline(false);
    }
    await page.close();
});

// The top-left `width` × `height` of a still picture, as an RGBA PNG: a
// part of a sheet, whose grid a test keeps, costs the browser's read-back
// far less than the whole.
function top_left(file, width, height, name) {
    const art = read_frames(fs.readFileSync(file));
    const data = new Uint8Array(width * height * 4);
    for (let y = 0; y < height; ++y)
        data.set(art.pixels.subarray(y * art.width * 4, (y * art.width + width) * 4), y * width * 4);
    const out = path.join(scratch, name);
    fs.writeFileSync(out, encode_png({ width, height, depth: 8, channels: 4, data }));
    return out;
}

// A PNG cut short: its first `keep` bytes.
function cut(file, keep, name) {
    const out = path.join(scratch, name);
    fs.writeFileSync(out, fs.readFileSync(file).subarray(0, keep));
    return out;
}

// Where a PNG's chunk of type `type` starts, and its data's length.
function chunk(png, type) {
    for (let at = 8; at + 8 <= png.length; at += 12 + png.readUInt32BE(at))
        if (png.toString('latin1', at + 4, at + 8) === type) return { at, length: png.readUInt32BE(at) };
    throw new Error(`no ${type}`);
}

test('bad files say the tool\'s reason in place of the preview, and leave nothing broken', TIMEOUT, async () => {
    const good = tile('stone_soup_icon-32x32.png');
    const png = fs.readFileSync(good);
    const idat = chunk(png, 'IDAT'), iend = chunk(png, 'IEND');
    const notes = path.join(scratch, 'notes.png');
    fs.writeFileSync(notes, 'Shopping: bread, milk, a 32 x 32 sprite of a cat.\n');
    const bad = [notes, cut(good, idat.at, 'at-chunk-boundary.png'), cut(good, iend.at, 'no-iend.png'),
                 cut(good, idat.at + 8 + (idat.length >> 1), 'cut-in-idat.png')];
    const reasons = bad.map((f) => tool_reason(f, { scale: 2 }, 'out.png'));
    const page = await scale_in_page([...bad, good], { scale: 2 }, 'error');
    const list = await page.textContent('#list');
    for (const [i, f] of bad.entries()) {
        assert.match(list, new RegExp(`${path.basename(f).replace('.', '\\.')}: failed: ${reasons[i].replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}`));
        // Each in place of its preview: a line of words, no canvas, no comparison.
        await page.click(`#list li:nth-child(${i + 1}) button`);
        assert.equal(await page.textContent('#result-reason'), `Not scaled: ${reasons[i]}`);
        assert.equal(await page.textContent('#original-reason'), reasons[i]);
        for (const id of ['#original', '#result', '#comparison']) assert.equal(await page.isVisible(id), false, `${id} for ${f}`);
        assert.equal(await page.isDisabled('#download'), true);
    }
    console.log(`reasons: ${bad.map((f, i) => `${path.basename(f)}: "${reasons[i]}"`).join('; ')}`);
    // The good file in the same batch is scaled all the same.
    assert.match(list, /stone_soup_icon-32x32\.png: 64 × 64/);
    assert.match(await page.textContent('#status'), /1 of 5 scaled .*4 could not be scaled/);
    await page.close();
});

test('a tile margin as wide as the picture is refused in the library\'s words, as the tool refuses it', TIMEOUT, async () => {
    // 40 x 24 cut from real art, a 16 x 16 grid whose margin is the width.
    const art = tile('stone_soup_icon-48x48.png');
    const o = { tile: '16x16', margin: 40 };
    const file = path.join(scratch, 'strip.pam');
    const f = read_frames(fs.readFileSync(art));
    const rows = [];
    for (let y = 0; y < 24; ++y) rows.push(f.pixels.subarray(y * 48 * 4, (y * 48 + 40) * 4));
    fs.writeFileSync(file, Buffer.concat([Buffer.from('P7\nWIDTH 40\nHEIGHT 24\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n'), ...rows]));
    const r = run_tool(file, o, 'out.pam');
    assert.equal(r.status, 2, `the tool refuses it as a usage error: ${r.stderr}`);
    const page = await scale_in_page([file, art], o, 'error');
    const list = await page.textContent('#list');
    // The same words, each naming the setting as its user knows it.
    const words = 'a margin of 40 leaves no cell in a picture of 40 x 24';
    assert.match(list, new RegExp(`strip\\.pam: failed: Tile margin: ${words}`));
    assert.match(r.stderr, new RegExp(`--tile-margin: ${words}`));
    assert.match(list, /stone_soup_icon-48x48\.png: 96 × 96/);
    await page.close();
});

test('a picture too large to scale is refused from its header, with the tool\'s reason', TIMEOUT, async () => {
    // 32769 x 32768 scaled 2x is just over what even a picture scaled by
    // rows may make (16 times the default 2^28 output pixels).
    const file = path.join(scratch, 'huge.png');
    const png = Buffer.from(encode_png({ width: 1, height: 1, depth: 8, channels: 4, data: new Uint8Array(4) }));
    png.writeUInt32BE(32769, 16);
    png.writeUInt32BE(32768, 20);
    png.writeUInt32BE(zlib.crc32(png.subarray(12, 29)), 29);
    fs.writeFileSync(file, png);
    const reason = page_reason(file, {}, 'out.png');
    assert.equal(reason, 'image too large: 32769 x 32768 pixels scale to 4295098368, over the limit of 268435456');
    const page = await scale_in_page([file], {}, 'error');
    assert.equal(await page.textContent('#result-reason'), `Not scaled: ${reason}`);
    assert.equal(await page.isVisible('#result-hint'), true);
    await page.close();
});

// A tRNS chunk naming one grey or RGB colour transparent, put before IDAT.
function with_key(png, samples) {
    const body = Buffer.alloc(4 + 2 * samples.length);
    body.write('tRNS', 0, 'latin1');
    samples.forEach((v, i) => body.writeUInt16BE(v, 4 + 2 * i));
    const c = Buffer.alloc(12 + 2 * samples.length);
    c.writeUInt32BE(2 * samples.length, 0);
    body.copy(c, 4);
    c.writeUInt32BE(zlib.crc32(body), 8 + 2 * samples.length);
    const at = chunk(Buffer.from(png), 'IDAT').at;
    return Buffer.concat([Buffer.from(png).subarray(0, at), c, Buffer.from(png).subarray(at)]);
}

// Packs one sample a pixel into rows of `depth`-bit samples.
function pack(values, width, height, depth) {
    const row = Math.ceil((width * depth) / 8), out = new Uint8Array(row * height);
    for (let y = 0; y < height; ++y)
        for (let x = 0; x < width; ++x)
            out[y * row + Math.floor((x * depth) / 8)] |= values[y * width + x] << (8 - depth - ((x * depth) % 8));
    return out;
}

// A grey PNG of `depth`-bit samples, interlaced (Adam7): what the PNG
// encoder at hand cannot write, made here from its parts.
function interlaced_grey(values, width, height, depth) {
    const passes = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];
    const data = [];
    for (const [x0, y0, dx, dy] of passes) {
        const w = Math.ceil((width - x0) / dx), h = Math.ceil((height - y0) / dy);
        if (w <= 0 || h <= 0) continue;
        for (let y = 0; y < h; ++y) {
            const row = Array.from({ length: w }, (_, x) => values[(y0 + y * dy) * width + x0 + x * dx]);
            data.push(Buffer.from([0]), Buffer.from(pack(row, w, 1, depth)));
        }
    }
    const part = (type, body) => {
        const typed = Buffer.concat([Buffer.from(type, 'latin1'), body]);
        const c = Buffer.alloc(12 + body.length);
        c.writeUInt32BE(body.length, 0);
        typed.copy(c, 4);
        c.writeUInt32BE(zlib.crc32(typed), 8 + body.length);
        return c;
    };
    const ihdr = Buffer.alloc(13);
    ihdr.writeUInt32BE(width, 0);
    ihdr.writeUInt32BE(height, 4);
    ihdr.set([depth, 0, 0, 0, 1], 8);
    return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), part('IHDR', ihdr),
                          part('IDAT', zlib.deflateSync(Buffer.concat(data))), part('IEND', Buffer.alloc(0))]);
}

test('PNG kinds made from real art, downloaded as one zip: palettes, low-bit, 16-bit, tRNS keys, interlacing', TIMEOUT, async () => {
    const art = read_frames(fs.readFileSync(tile('stone_soup_icon-48x48.png')));
    const scene = read_frames(fs.readFileSync(SAMPLE));
    const { width: W, height: H } = scene;
    const rgb = Array.from({ length: W * H }, (_, i) => [...scene.pixels.subarray(4 * i, 4 * i + 3)]);
    const grey = rgb.map(([r, g, b]) => (r * 3 + g * 6 + b) / 10 | 0);
    const n = art.width * art.height;
    const level = (i) => art.pixels[4 * i + 1] >> 4; // 16 levels of the sprite's green
    const adam7 = { interlace: 'Adam7' };
    const kinds = {
        'palette4-trns': encode_png({ width: art.width, height: art.height, depth: 4, channels: 1,
                                      data: pack(Array.from({ length: n }, (_, i) => (art.pixels[4 * i + 3] ? level(i) : 0)), art.width, art.height, 4),
                                      palette: Array.from({ length: 16 }, (_, k) => [k * 17, 255 - k * 9, k * 5, k ? 120 + k * 9 : 0]) }),
        'grey1': encode_png({ width: W, height: H, depth: 1, channels: 1, data: pack(grey.map((g) => +(g > 110)), W, H, 1) }),
        'grey2-adam7': interlaced_grey(grey.map((g) => g >> 6), W, H, 2),
        'grey8-key': with_key(encode_png({ width: W, height: H, depth: 8, channels: 1, data: Uint8Array.from(grey) }), [grey[0]]),
        'grey16-alpha': encode_png({ width: art.width, height: art.height, depth: 16, channels: 2,
                                     data: Uint16Array.from({ length: 2 * n }, (_, j) => (j & 1 ? art.pixels[4 * (j >> 1) + 3] * 257 - (j % 200) : art.pixels[4 * (j >> 1) + 1] * 257 + (j % 251))) }),
        'rgb16-key': with_key(encode_png({ width: W, height: H, depth: 16, channels: 3,
                                           data: Uint16Array.from(rgb.flat().map((v, i) => v * 257 + (i % 7) * (v > 128 ? -1 : 1))) }),
                              rgb[0].map((v, i) => v * 257 + (i % 7) * (v > 128 ? -1 : 1))),
        'rgb8-adam7': encode_png({ width: W, height: H, depth: 8, channels: 3, data: Uint8Array.from(rgb.flat()) }, adam7),
    };
    const files = Object.entries(kinds).map(([name, bytes]) => {
        const file = path.join(scratch, `${name}.png`);
        fs.writeFileSync(file, bytes);
        return file;
    });
    const o = { scale: 2, rotate: 'ccw' };
    const page = await scale_in_page(files, o);
    const zip = await download(page, '#download-zip');
    assert.equal(zip.name, 'lq2x.zip');
    const entries = unzipSync(new Uint8Array(zip.bytes));
    assert.equal(Object.keys(entries).length, files.length);
    for (const f of files) {
        const name = `${path.basename(f, '.png')}-lq2x-2x.png`;
        assert.ok(entries[name], `${name} in the zip`);
        assert_same_bytes(entries[name], tool_output(f, o, name), name);
    }
    await page.close();
});

test('a batch of every format, downloaded as one zip', TIMEOUT, async () => {
    const files = [SAMPLE, tile('logosmall.png'), ...['walk.png', 'flat.gif', 'walk.webp', 'sprite.pgm', 'sprite.pam'].map((f) => path.join(inputs, f))];
    const o = { scale: 4, rotate: 'cw' };
    const page = await scale_in_page(files, o);
    assert.equal(await page.getAttribute('#progress', 'value'), String(files.length));
    const entries = unzipSync(new Uint8Array((await download(page, '#download-zip')).bytes));
    assert.equal(Object.keys(entries).length, files.length);
    for (const f of files) {
        const name = `${path.basename(f).replace(/\.[^.]*$/, '')}-lq2x-4x${path.extname(f)}`;
        assert.ok(entries[name], `${name} in the zip (${Object.keys(entries).join(', ')})`);
        assert_same_bytes(entries[name], tool_output(f, o, name), name);
    }
    await page.close();
});

test('a picture dropped on the page', TIMEOUT, async () => {
    const file = tile('stone_soup_icon-win32.png');
    const { page } = await open_page();
    const transfer = await page.evaluateHandle((b) => {
        const d = new DataTransfer();
        d.items.add(new File([new Uint8Array(b)], 'dropped.png', { type: 'image/png' }));
        return d;
    }, [...fs.readFileSync(file)]);
    await page.dispatchEvent('#drop', 'drop', { dataTransfer: transfer });
    await page.waitForSelector('body[data-state="done"]');
    const got = await download(page, '#download');
    assert.equal(got.name, 'dropped-lq2x-2x.png');
    assert_same_bytes(got.bytes, tool_output(file, {}, got.name), 'dropped');
    await page.close();
});

test('keyboard: every control reached with Tab, labelled, focus shown; an option changed by keys scales again', TIMEOUT, async () => {
    const { page } = await check_one(SAMPLE, { scale: 2 }, 'png');
    const controls = ['files', 'scale', 'rotate', 'format', 'edge-x', 'edge-y', 'tile-width', 'tile-height',
                      'tile-margin', 'tile-spacing', 'zoom', 'download', 'split'];
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
    assert_same_bytes(got.bytes, tool_output(SAMPLE, { scale: 4 }, got.name), 'sample 4x after the change');
    await page.close();
});

// Edge modes and the tile grid, as the tool's --edge and --tile take them.
test('edge modes and tile grids with margin and spacing, cut-short cells at 4x turned', TIMEOUT, async () => {
    const cases = [
        [SAMPLE, { edge: 'wrap' }],
        [tile('stone_soup_icon-48x48.png'), { scale: 4, rotate: 'cw', edge: 'wrap,transparent' }],
        [tile('title_denzi_dragon.png'), { edge: 'transparent' }],
        [top_left(tile('feat.png'), 320, 192, 'feat-part.png'), { scale: 4, rotate: 'ccw', tile: '32x32' }],
        [tile('icons.png'), { tile: '30x30', margin: 1, spacing: 2, edge: 'transparent' }],
        [tile('icons.png'), { scale: 4, rotate: 'ccw', tile: '30x30', margin: 1, spacing: 2 }],
    ];
    for (const [file, o] of cases) (await check_one(file, o, 'png')).page.close();
});

test('colour under alpha 0, as files may hold it: the shader reads it as the download\'s scaling does', TIMEOUT, async () => {
    // Crawl's logo hides colour under its clear pixels; the sprite made here
    // hides more, of many colours, and has pixels of alpha 1, whose blends
    // with a clear neighbour leave colour under alpha 0 for the next pass.
    const art = read_frames(fs.readFileSync(tile('stone_soup_icon-48x48.png')));
    const data = Uint8Array.from(art.pixels);
    for (let i = 0; i < data.length; i += 4) {
        const x = (i >> 2) % art.width, y = Math.floor((i >> 2) / art.width);
        if (data[i + 3] === 0) data.set([x * 5, y * 5, (x * y) & 255], i);
        else if ((x + y) % 7 === 0) data[i + 3] = 1;
    }
    const hidden = path.join(scratch, 'hidden.png');
    fs.writeFileSync(hidden, encode_png({ width: art.width, height: art.height, depth: 8, channels: 4, data }));
    const cases = [
        [tile('logosmall.png'), { scale: 2 }],
        [tile('logosmall.png'), { scale: 4, rotate: 'ccw', edge: 'transparent,wrap' }],
        [hidden, { scale: 8, edge: 'wrap' }],
        [hidden, { scale: 4, rotate: 'cw', tile: '16x16', margin: 1, spacing: 1 }],
    ];
    for (const [file, o] of cases) (await check_one(file, o, 'png')).page.close();
});

test('options changed: the shader shows the new result before the download is made, and it is the download\'s', TIMEOUT, async () => {
    const file = tile('main.png');
    const page = await scale_in_page([file], {});
    await expect_preview_is(page, (await download(page, '#download')).bytes, 'webgl2', 'main.png 2x');
    // What the body's state was when the caption first named the new size.
    await page.evaluate(() => {
        window.lq2x_test_state_at_caption = null;
        new MutationObserver(() => {
            if (window.lq2x_test_state_at_caption === null &&
                document.getElementById('result-caption').textContent === 'Result: 2000 × 2048 (2×)')
                window.lq2x_test_state_at_caption = document.body.dataset.state;
        }).observe(document.getElementById('result-caption'), { childList: true, characterData: true, subtree: true });
    });
    await page.selectOption('#rotate', ROTATE.cw);
    await page.waitForSelector('body[data-state="done"]', { timeout: 60_000 });
    assert.equal(await page.evaluate(() => window.lq2x_test_state_at_caption), 'busy',
                 'the new result was not shown while the download was being made');
    const got = await download(page, '#download');
    assert_same_bytes(got.bytes, tool_output(file, { rotate: 'cw' }, got.name), 'main.png turned');
    await expect_preview_is(page, got.bytes, 'webgl2', 'main.png 2x turned clockwise');
    await page.close();
});

test('without WebGL 2 the page shows the download\'s own frames, and says so', TIMEOUT, async () => {
    const how = { without_webgl2: true };
    const { page } = await check_one(path.join(inputs, 'flat.gif'), { scale: 2 }, 'gif', how);
    assert.equal(await page.getAttribute('body', 'data-preview'), 'wasm');
    assert.match(await page.textContent('#preview-by'), /own pixels: this browser gives no WebGL 2\.$/);
    await page.close();
    // (Opaque pictures: a 2D canvas keeps no colour under partial alpha.)
    (await check_one(SAMPLE, { scale: 4, rotate: 'ccw', edge: 'wrap' }, 'png', how)).page.close();
});

test('WebGL 2 lost while an animation plays: the download\'s own frames take its place, and the page says why', TIMEOUT, async () => {
    // (Opaque frames, as above: a 2D canvas keeps no colour under partial alpha.)
    const { page, bytes } = await check_one(path.join(inputs, 'flat.gif'), { scale: 2 }, 'gif');
    await page.evaluate(() => document.getElementById('result').getContext('webgl2')
        .getExtension('WEBGL_lose_context').loseContext());
    await expect_preview_is(page, bytes, 'wasm', 'flat.gif once WebGL 2 was lost');
    assert.match(await page.textContent('#preview-by'), /own pixels: WebGL 2 failed to draw it here\.$/);
    await page.close();
});

test('a result larger than WebGL 2\'s textures here is shown from the download\'s own frames, and says why', TIMEOUT, async () => {
    const probe = await context.newPage();
    const max = await probe.evaluate(() => {
        const gl = document.createElement('canvas').getContext('webgl2');
        return Math.min(gl.getParameter(gl.MAX_TEXTURE_SIZE), ...gl.getParameter(gl.MAX_VIEWPORT_DIMS));
    });
    await probe.close();
    // One pixel wider than 8x fits, opaque (as a 2D canvas keeps it), from
    // a real tile's colours.
    const art = read_frames(fs.readFileSync(tile('main.png')));
    const width = Math.floor(max / 8) + 1, height = 3;
    const data = new Uint8Array(width * height * 3);
    for (let i = 0; i < width * height; ++i) data.set(art.pixels.subarray(4 * (i * 7 % (art.width * art.height))).subarray(0, 3), 3 * i);
    const wide = path.join(scratch, 'wide.png');
    fs.writeFileSync(wide, encode_png({ width, height, depth: 8, channels: 3, data }));
    const { page } = await check_one(wide, { scale: 8 }, 'png', { by: 'wasm' });
    assert.equal(await page.getAttribute('body', 'data-preview'), 'webgl2');
    assert.equal(await page.textContent('#preview-by'), 'Drawn without the GPU, from the download\'s own pixels: ' +
                 `the result, ${8 * width} × ${8 * height}, is larger than this browser's WebGL 2 textures (${max}).`);
    // The next picture, small enough, is the shader's again.
    await page.setInputFiles('#files', [tile('logosmall.png')]);
    await page.waitForFunction(() => document.body.dataset.state === 'done' &&
                               /logosmall\.png: \d+ × \d+/.test(document.getElementById('list').textContent),
                               null, { timeout: 120_000 });
    await page.click('#list button:has-text("logosmall.png")');
    await expect_preview_is(page, (await download(page, '#download')).bytes, 'webgl2', 'logosmall.png after wide.png');
    await page.close();
});

test('the page\'s shaders are the native build\'s, byte for byte: the generator\'s lq2x.frag and lq2x.vert', TIMEOUT, async () => {
    const native = (name) => fs.readFileSync(path.join(NATIVE_SHADERS, name), 'utf8');
    // The page's build ran the same generator (in WebAssembly, under Node.js).
    for (const name of ['lq2x.frag', 'lq2x.vert'])
        assert.equal(fs.readFileSync(path.join(PAGE_SHADERS, name), 'utf8'), native(name), `${PAGE_SHADERS}/${name}`);
    // And what the page gave WebGL is that text.
    const { page } = await open_page();
    await page.waitForFunction(() => document.body.dataset.preview);
    assert.equal(await page.getAttribute('body', 'data-preview'), 'webgl2');
    const given = await page.evaluate(() => window.lq2x_test_shaders);
    assert.ok(given.includes(native('lq2x.frag')), 'the page\'s fragment shader is not the native lq2x.frag');
    assert.ok(given.includes(native('lq2x.vert')), 'the page\'s vertex shader is not the native lq2x.vert');
    assert.match(native('lq2x.frag'), /const uint CODES\[256\]/);
    await page.close();
});

test('no request leaves the worker: the page\'s policy holds in it and refuses every connection', TIMEOUT, async () => {
    const { page } = await open_page();
    await page.waitForFunction(() => document.getElementById('version').textContent.startsWith('lq2x '));
    const workers = page.workers();
    assert.equal(workers.length, 1);
    assert.match(workers[0].url(), /^blob:/);
    const before_hits = elsewhere_hits.length;
    const tried = await workers[0].evaluate(async ({ elsewhere, home }) => {
        const violations = [];
        self.addEventListener('securitypolicyviolation', (e) => violations.push(`${e.effectiveDirective} ${e.blockedURI}`));
        const attempt = async (f) => { try { await f(); return 'went out'; } catch (e) { return `refused (${e.name})`; } };
        const out = {
            fetch_elsewhere: await attempt(() => fetch(`${elsewhere}/from-worker-fetch`)),
            fetch_home: await attempt(() => fetch(`${home}/from-worker-fetch`)),
            xhr: await attempt(() => new Promise((resolve, reject) => {
                const x = new XMLHttpRequest();
                x.onload = resolve;
                x.onerror = () => reject(new TypeError('xhr error'));
                x.open('GET', `${elsewhere}/from-worker-xhr`);
                x.send();
            })),
            import_scripts: await attempt(async () => importScripts(`${elsewhere}/from-worker-import.js`)),
            beacon: typeof navigator.sendBeacon,
        };
        await new Promise((r) => setTimeout(r, 300));
        return { ...out, violations };
    }, { elsewhere: elsewhere_origin, home: origin });
    assert.equal(tried.fetch_elsewhere, 'refused (TypeError)');
    assert.equal(tried.fetch_home, 'refused (TypeError)');
    assert.equal(tried.xhr, 'refused (TypeError)');
    assert.match(tried.import_scripts, /^refused/);
    assert.ok(tried.violations.some((v) => v.startsWith('connect-src')), tried.violations.join('; '));
    assert.equal(elsewhere_hits.length, before_hits, `requests that reached the other origin: ${elsewhere_hits.join(', ')}`);
    // The control: the same request from a page without the policy does
    // reach the other origin, so a request that went out would be seen.
    const control = await context.newPage();
    await control.goto(`${origin}/bench/`);
    assert.equal(await control.evaluate((u) => fetch(u).then((r) => r.status), `${elsewhere_origin}/control`), 200);
    assert.deepEqual(elsewhere_hits.slice(before_hits), ['/control']);
    await control.close();
    await page.close();
});

test('main.png, 1024 x 1000, 2x: picked to a ready download beside the tool\'s wall time; the scaling step beside the native one', TIMEOUT, async (t) => {
    const file = tile('main.png');
    const expected = tool_output(file, {}, 'main-lq2x-2x.png');
    // The tool as a user runs it, three times.
    const tool_ms = [];
    for (let i = 0; i < 3; ++i) {
        const out = path.join(scratch, 'main-tool.png');
        const t0 = process.hrtime.bigint();
        const r = spawnSync(TOOL, [file, out]);
        tool_ms.push(Number(process.hrtime.bigint() - t0) / 1e6);
        assert.equal(r.status, 0);
    }
    // The page, three times, each in a fresh page once its worker has
    // started and warmed up (as it does while a visitor looks for a file):
    // from the file input's change to the bytes ready for download.
    const page_ms = [];
    for (let i = 0; i < 3; ++i) {
        const { page } = await open_page();
        await page.waitForSelector('body[data-scaler="warm"]', { timeout: 60_000 });
        await page.setInputFiles('#files', [file]);
        await page.waitForSelector('#list li[data-ready-ms]', { timeout: 120_000 });
        page_ms.push(Number(await page.getAttribute('#list li', 'data-ready-ms')));
        await page.waitForSelector(finished);
        assert_same_bytes((await download(page, '#download')).bytes, expected, 'main.png');
        await page.close();
    }
    // The scaling step alone: the page's module in a worker against the
    // library natively on one thread, on the same frame.
    const frame = read_frames(fs.readFileSync(file));
    const raw = path.join(scratch, 'main.rgba'), native_out = path.join(scratch, 'main-native.rgba');
    fs.writeFileSync(raw, frame.pixels);
    const native = spawnSync(SCALE_TIME, [raw, '1024', '1000', '7', native_out], { encoding: 'utf8' });
    assert.equal(native.status, 0, `${SCALE_TIME}: ${native.stderr}`);
    const [native_kernel, ...native_runs] = native.stdout.trim().split(' ');
    const native_ms = native_runs.map(Number);
    // Natively again with SSE4.1, where there is one: the vector width SIMD128 has.
    const narrow = spawnSync(SCALE_TIME, [raw, '1024', '1000', '7', path.join(scratch, 'main-sse41.rgba')],
                             { encoding: 'utf8', env: { ...process.env, LQ2X_KERNEL: 'sse41' } });
    const [narrow_kernel, ...narrow_runs] = narrow.status === 0 ? narrow.stdout.trim().split(' ') : ['none'];
    const narrow_ms = narrow_runs.map(Number);
    const bench = await context.newPage();
    await bench.goto(`${origin}/bench/`);
    const wasm = await bench.evaluate(async () => {
        const rgba = await (await fetch('/data/main.rgba')).arrayBuffer();
        const w = new Worker('/bench/bench_worker.js');
        const reply = await new Promise((resolve) => {
            w.onmessage = (e) => resolve(e.data);
            w.postMessage({ rgba: new Uint8Array(rgba), width: 1024, height: 1000, runs: 7 });
        });
        w.terminate();
        return { times: reply.times, status: reply.status, kernel: reply.kernel,
                 digest: Array.from(new Uint8Array(await crypto.subtle.digest('SHA-256', reply.result))) };
    });
    await bench.close();
    assert.equal(wasm.status, 0);
    assert.equal(wasm.kernel, 'simd128');
    const digest = (await import('node:crypto')).createHash('sha256').update(fs.readFileSync(native_out)).digest();
    assert.deepEqual(Buffer.from(wasm.digest), digest, 'the WebAssembly scaling step gives the native bytes');
    const ms = (v) => v.map((x) => x.toFixed(1)).join(', ');
    const min = (v) => Math.min(...v).toFixed(1);
    const line = `picked to ready ${ms(page_ms)} ms (best ${min(page_ms)}); the tool's wall time ${ms(tool_ms)} ms (best ${min(tool_ms)}); ` +
                 `scaling step in WebAssembly (${wasm.kernel}) ${ms(wasm.times)} ms (best ${min(wasm.times)}), natively on one thread (${native_kernel}) ${ms(native_ms)} ms (best ${min(native_ms)})` +
                 (narrow_kernel === 'sse41' ? `, and with ${narrow_kernel} ${ms(narrow_ms)} ms (best ${min(narrow_ms)})` : '') +
                 // (CI builds the fuzzers beside these tests: the figures say what else the machine was doing)
                 `; load average after timing ${os.loadavg().map((x) => x.toFixed(2)).join(' ')} on ${os.cpus().length} processors`;
    t.diagnostic(`main.png: ${line}`);
    console.log(`timing: main.png 1024x1000 2x: ${line}`);
});

test('no request left the machine', () => {
    assert.deepEqual(stray_requests, []);
    const { webgl2, wasm } = preview_frames_checked;
    console.log(`preview: frames shown equal to the download's, read back from the page: ${webgl2} from WebGL 2, ${wasm} from the 2D canvas`);
});
