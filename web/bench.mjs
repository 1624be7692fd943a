// Times pages side by side in one run, on one file: from picking the file
// to a ready download (the download button enabled), in headless Chromium,
// each run in a fresh page that has had two seconds to start (and, one that
// warms up, until it has); the scaling
// step alone; and the command-line tool's wall time on the same file. Any
// built page folder will do, so a page from an older commit can be timed
// beside today's.
//
//     node web/bench.mjs TOOL SCALE_TIME FILE RUNS PAGE_DIR...
//
// SCALE_TIME is web/test/scale_time.cpp built against the native library (as
// web/test.sh builds it). A page folder beside a module/ folder with
// lq2x_web_scale_rgba has its scaling step timed through that module in a
// worker (web/test/bench_worker.js); an older page is asked for the time it
// shows itself (its list's data-scale-ms).
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const [tool, scale_time, file, runs_arg, ...sites] = process.argv.slice(2);
const runs = Number(runs_arg);
const HERE = path.dirname(fileURLToPath(import.meta.url));
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };

function serve(root, module_dir) {
    const server = http.createServer((req, res) => {
        const url = new URL(req.url, 'http://x').pathname;
        if (url === '/bench/') return res.writeHead(200, { 'content-type': 'text/html' }).end('<!doctype html><title>bench</title>');
        const [, first, ...rest] = url.split('/');
        const base = { module: module_dir, bench: path.join(HERE, 'test') }[first] ?? root;
        const f = path.join(base, base === root ? url : rest.join('/'));
        if (!fs.existsSync(f) || !fs.statSync(f).isFile()) return res.writeHead(404).end();
        res.writeHead(200, { 'content-type': TYPES[path.extname(f)] ?? 'application/octet-stream' });
        fs.createReadStream(f).pipe(res);
    });
    return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

const ms = (v) => `${v.map((x) => x.toFixed(1)).join(', ')} (best ${Math.min(...v).toFixed(1)})`;
const rows = [];
const ratios = [];

const tool_ms = [];
for (let i = 0; i < runs; ++i) {
    const out = path.join(os.tmpdir(), `lq2x-bench-${process.pid}.png`);
    const t0 = process.hrtime.bigint();
    if (spawnSync(tool, [file, out]).status !== 0) throw new Error('the tool failed');
    tool_ms.push(Number(process.hrtime.bigint() - t0) / 1e6);
    fs.rmSync(out);
}
rows.push(['the tool (`lq2x FILE OUT.png`, all cores), wall time', ms(tool_ms)]);

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });
for (const site of sites) {
    const module_dir = path.resolve(site, '../module');
    const server = await serve(site, module_dir);
    const origin = `http://127.0.0.1:${server.address().port}`;
    const ready = [], shown_scale = [];
    for (let i = 0; i < runs; ++i) {
        const page = await browser.newPage();
        await page.goto(`${origin}/index.html`);
        await page.waitForFunction(() => document.getElementById('version').textContent.startsWith('lq2x '));
        // Two seconds to settle; a page whose worker warms up (today's) has
        // until it has.
        await page.waitForTimeout(2000);
        if (await page.$('#format')) // the page with a worker that warms up
            await page.waitForSelector('body[data-scaler="warm"]', { timeout: 60_000 });
        await page.evaluate(() => {
            window.picked_to_ready = {};
            const t = window.picked_to_ready;
            window.addEventListener('change', () => { t.picked ??= performance.now(); }, { capture: true });
            const button = document.getElementById('download');
            new MutationObserver(() => { if (t.picked && !button.disabled) t.ready ??= performance.now(); })
                .observe(button, { attributes: true });
        });
        await page.setInputFiles('#files', [file]);
        await page.waitForFunction(() => window.picked_to_ready.ready, null, { timeout: 120_000 });
        ready.push(await page.evaluate(() => window.picked_to_ready.ready - window.picked_to_ready.picked));
        const shown = await page.getAttribute('#list li', 'data-scale-ms').catch(() => null);
        if (shown) shown_scale.push(Number(shown));
        await page.close();
    }
    rows.push([`${site}: picked to a ready download`, ms(ready)]);
    ratios.push(`${site}: picked to ready over the tool's wall time, best against best: ` +
                `${(Math.min(...ready) / Math.min(...tool_ms)).toFixed(2)}`);
    const module_js = path.join(module_dir, 'lq2x_web.js');
    if (fs.existsSync(module_js) && fs.readFileSync(module_js, 'utf8').includes('_lq2x_web_scale_rgba')) {
        // The ES module Node.js loads (lq2x_npm.js), or an older build's lq2x_node.js.
        const npm = path.join(module_dir, 'lq2x_npm.js');
        const m = fs.existsSync(npm) ? await (await import(pathToFileURL(npm))).default()
                                     : await createRequire(import.meta.url)(path.join(module_dir, 'lq2x_node.js'))();
        const bytes = fs.readFileSync(file), p = m._malloc(bytes.length);
        m.HEAPU8.set(bytes, p);
        const r = m._lq2x_web_read_file(p, bytes.length, 2, 0);
        const [w, h, at] = [m._lq2x_web_frames_width(r), m._lq2x_web_frames_height(r), m._lq2x_web_frames_pixels(r)];
        const raw = path.join(os.tmpdir(), `lq2x-bench-${process.pid}.rgba`);
        fs.writeFileSync(raw, m.HEAPU8.subarray(at, at + w * h * 4));
        const page = await browser.newPage();
        await page.goto(`${origin}/bench/`);
        fs.copyFileSync(raw, path.join(site, 'bench-frame.rgba'));
        const times = await page.evaluate(async ({ width, height, runs }) => {
            const rgba = new Uint8Array(await (await fetch('/bench-frame.rgba')).arrayBuffer());
            const worker = new Worker('/bench/bench_worker.js');
            return new Promise((resolve) => {
                worker.onmessage = (e) => resolve(e.data);
                worker.postMessage({ rgba, width, height, runs });
            });
        }, { width: w, height: h, runs: 2 * runs + 1 });
        fs.rmSync(path.join(site, 'bench-frame.rgba'));
        rows.push([`${site}: the scaling step (lq2x_scale_picture in WebAssembly, ${times.kernel})`, ms(times.times)]);
        // Natively on one thread with the fastest kernel here, and with SSE4.1,
        // the vector width of WebAssembly's SIMD128 (LQ2X_KERNEL picks it).
        const native_step = (env) => {
            const r = spawnSync(scale_time, [raw, String(w), String(h), String(2 * runs + 1), `${raw}.out`],
                                { encoding: 'utf8', env: { ...process.env, ...env } });
            const [kernel, ...times] = r.status === 0 ? r.stdout.trim().split(' ') : ['none'];
            return { kernel, times: times.map(Number) };
        };
        const fastest = native_step({}), narrow = native_step({ LQ2X_KERNEL: 'sse41' });
        rows.push([`the scaling step natively, one thread (${fastest.kernel})`, ms(fastest.times)]);
        if (narrow.kernel === 'sse41') {
            rows.push(['the scaling step natively, one thread (sse41)', ms(narrow.times)]);
            ratios.push(`${site}: the scaling step in WebAssembly over native SSE4.1, best against best: ` +
                        `${(Math.min(...times.times) / Math.min(...narrow.times)).toFixed(2)}`);
        }
        fs.rmSync(raw);
        fs.rmSync(`${raw}.out`);
        await page.close();
    } else if (shown_scale.length) {
        rows.push([`${site}: the scaling step (as the page shows it)`, ms(shown_scale)]);
    }
    server.close();
}
await browser.close();
// The processor, as the kernel's figures mean nothing without it.
const cpu = fs.readFileSync('/proc/cpuinfo', 'utf8');
const field = (name) => (cpu.match(new RegExp(`^${name}\\s*: (.*)$`, 'm')) ?? [])[1] ?? '?';
const flags = field('flags').split(' ');
console.log(`${field('model name')}, family ${field('cpu family')} model ${field('model')}, ${os.cpus().length} processors, ` +
            `AVX-512 ${flags.includes('avx512f') ? 'yes' : 'no'}; load average ${os.loadavg().map((x) => x.toFixed(2)).join(' ')}`);
console.log(`${path.basename(file)}, ${runs} runs each, ms:\n`);
console.log('| what | ms |\n|---|---|');
for (const [what, v] of rows) console.log(`| ${what} | ${v} |`);
for (const line of ratios) console.log(line);
