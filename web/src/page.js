// The page: picks up image files, has the worker scale them with the chosen
// options, plays the original beside the result (animations with their own
// delays) and keeps the results for download, one file or all in one zip.
// The result on screen is scaled by the shader in WebGL 2 from the
// original's frames, at once when an option changes; where the browser has
// no WebGL 2, or the result is larger than its textures, it is the
// download's own frames, read back in WebAssembly.
import { zipSync } from 'fflate';
import worker_source from 'lq2x-worker';
import { gpu_preview } from './preview.js';

const $ = (id) => document.getElementById(id);

// Where a browser will not run the page as it was opened (some refuse a
// worker, or any script, in a page opened from a file).
const HOW_TO_OPEN = 'Open lq2x.html, the page in one file, in a current Chromium, Chrome, Edge or Firefox, ' +
                    'or serve this folder (for instance `python3 -m http.server`) and open its address.';

// The worker runs from a blob of its own bundled source, not from a URL: a
// worker from a URL takes its Content-Security-Policy from its own response
// (which a plain static server sends none of), one from a blob takes this
// page's, so the worker may connect nowhere either.
// A browser that refuses it (some do in a page opened from a file) is told
// how to open the page instead.
let worker;
try {
    worker = new Worker(URL.createObjectURL(new Blob([worker_source], { type: 'text/javascript' })));
} catch (e) {
    worker = { postMessage() {} };
    addEventListener('DOMContentLoaded', () => {
        $('version').textContent = `The scaler could not start here (${e.message}). ${HOW_TO_OPEN}`;
        $('stuck')?.remove();
    });
}

// The result is shown on one of two canvases, a 2D one and the preview's
// for WebGL 2 (a canvas keeps the kind of its first context); the one in use
// takes the place, the id and the attributes of the other.
const canvas_2d = $('result');
const gpu = gpu_preview(document.createElement('canvas'));
function use_result_canvas(canvas) {
    const old = $('result');
    if (old === canvas) return;
    for (const name of old.getAttributeNames()) canvas.setAttribute(name, old.getAttribute(name));
    old.replaceWith(canvas);
}
if (gpu.draw) use_result_canvas(gpu.canvas);
document.body.dataset.preview = gpu.draw ? 'webgl2' : 'wasm';

// One entry per file: { name, bytes, file: { bytes, extension, warning, ms } | null, error, preview,
// source: the original's frames (kept while options change), plan: the shader's passes for the options }
let pictures = [];
let selected = -1;
// The library's GIF settings for "a GIF all the same" (lq2x_gif_fit_any), from the worker.
let gif_fit = null;
let batch = 0; // which run of the options the worker's replies belong to
const pending = new Map();
let next_id = 0;

// The controls' values are the library's own numbers (lq2x_orientation,
// lq2x_edge, lq2x_format, lq2x_gif_palette).
function settings() {
    const n = (id) => Number($(id).value);
    return {
        scale: n('scale'), orientation: n('rotate'), edge_x: n('edge-x'), edge_y: n('edge-y'),
        tile_width: n('tile-width'), tile_height: n('tile-height'), tile_margin: n('tile-margin'),
        tile_spacing: n('tile-spacing'), format: n('format'), gif_alpha: n('gif-alpha'),
        gif_colours: n('gif-colours'), gif_palette: n('gif-palette'),
    };
}

// Numbers the fields cannot give the library as they are; what the numbers
// mean together is the library's to judge.
const NUMBER_FIELDS = ['tile-width', 'tile-height', 'tile-margin', 'tile-spacing', 'gif-alpha', 'gif-colours'];
function unreadable_fields() {
    return NUMBER_FIELDS.some((id) => {
        const v = $(id).value;
        return v !== '' && !/^\d+$/.test(v.trim());
    });
}

// Sends a file to the worker; `on_file` hears of the result's bytes as soon
// as they are made, the promise settles once the preview is there too.
function scale_one(picture, s, on_file) {
    const id = next_id++;
    return new Promise((resolve) => {
        pending.set(id, { resolve, on_file });
        // The download's frames are read back only where the shader cannot show them.
        worker.postMessage({ id, bytes: picture.bytes, settings: s, shader_limit: gpu.draw ? gpu.max_size : 0 });
    });
}

// The download's own frames, read back by the library, for a picture the
// shader failed to draw after it was sent without them.
function read_back(p) {
    const id = next_id++, file = p.file;
    new Promise((resolve) => {
        pending.set(id, { resolve, on_file: () => {} });
        worker.postMessage({ id, read_back: { bytes: file.bytes, scale: file.scale } });
    }).then(({ result }) => {
        if (p.file !== file || !p.preview) return; // scaled again meanwhile
        p.preview = { ...p.preview, result };
        if (pictures[selected] === p) show(selected);
    });
}

// The library's passes for the shader on frames of this size, with the options.
function ask_plan(frames, s) {
    const id = next_id++;
    return new Promise((resolve) => {
        pending.set(id, { resolve, on_file: () => {} });
        worker.postMessage({ id, frame: { width: frames.width, height: frames.height }, settings: s });
    });
}
worker.onmessage = ({ data }) => {
    if (data.version) {
        $('version').textContent = `lq2x ${data.version}, running in WebAssembly on this computer (scaling kernel: ${data.kernel}).`;
        $('stuck')?.remove();
        gif_fit = data.gif_fit;
        document.body.dataset.scaler ??= 'started';
        return;
    }
    if (data.warm) {
        document.body.dataset.scaler = 'warm';
        return;
    }
    const job = pending.get(data.id);
    if (!job) return;
    if (data.kind === 'file') {
        job.on_file(data);
        return;
    }
    pending.delete(data.id);
    job.resolve(data);
};
// A browser that cannot start the worker (no WebAssembly, say).
worker.onerror = (e) => {
    e.preventDefault();
    const reason = `this browser cannot run the scaler (${e.message || 'the worker failed'})`;
    $('version').textContent = `The scaler could not start: ${reason}. ${HOW_TO_OPEN}`;
    $('stuck')?.remove();
    for (const [id, job] of pending) {
        job.on_file({ id, kind: 'file', error: reason });
        job.resolve({ id, kind: 'preview', result: null, original: { error: reason } });
    }
    pending.clear();
};

function set_status(text, state) {
    $('status').textContent = text;
    if (state) document.body.dataset.state = state;
}

// Scales every file with the current options, one after the other; a newer
// run (options changed, files added) makes an older one stop.
async function run_batch() {
    const run = ++batch;
    const s = settings();
    // The files of this run: one removed meanwhile is skipped.
    const list = [...pictures];
    for (const p of list) forget_result(p);
    const invalid = unreadable_fields();
    if (invalid) set_status('Tile sizes, margin, spacing and the GIF settings are whole numbers, 0 or more.', 'invalid');
    else set_status(`Scaling ${list.length} file${list.length === 1 ? '' : 's'}…`, 'busy');
    render_list();
    if (selected >= 0) show(selected);
    if (invalid) return;
    // The picture on screen, scaled again by the shader as soon as the
    // worker has planned its passes (ahead of the files it makes next).
    const shown = pictures[selected];
    if (gpu.draw && shown?.source && !shown.source.error)
        ask_plan(shown.source, s).then((reply) => {
            if (run !== batch || !reply.plan || shown.plan) return;
            shown.plan = { ...reply.plan, settings: s };
            if (pictures[selected] === shown) show(selected);
        });
    const progress = $('progress');
    progress.max = list.length;
    progress.value = 0;
    const started = performance.now();
    for (const [i, p] of list.entries()) {
        if (!pictures.includes(p)) continue;
        const reply = await scale_one(p, s, (file) => {
            if (run !== batch || !pictures.includes(p)) return;
            if (file.error) p.error = file.over_limit ? { reason: file.error, over_limit: true } : { reason: file.error };
            else p.file = { bytes: file.bytes, extension: file.extension, warning: file.warning, refused: file.refused,
                            ms: file.ms, ready_ms: performance.now() - (p.picked_at ?? started), scale: s.scale,
                            orientation: s.orientation };
            render_list();
            if (pictures[selected] === p) show(selected);
        });
        if (run !== batch) return;
        p.preview = reply;
        if (reply.original) p.source = reply.original;
        p.plan = reply.plan ? { ...reply.plan, settings: s } : null;
        progress.value = i + 1;
        set_status(`Scaled ${i + 1} of ${list.length}…`);
        render_list();
        if (pictures[selected] === p) show(selected);
    }
    const done = list.filter((p) => pictures.includes(p));
    const failed = done.filter((p) => p.error).length;
    const seconds = ((performance.now() - started) / 1000).toFixed(2);
    set_status(`${done.length - failed} of ${done.length} scaled in ${seconds} s` +
               (failed ? `; ${failed} could not be scaled.` : '.'), failed ? 'error' : 'done');
    // No caption is left waiting for what will not come.
    if (selected >= 0) show(selected);
    update_buttons();
}

function forget_result(p) {
    p.file = null;
    p.error = null;
    p.preview = null;
    p.plan = null;
    p.gpu_failed = '';
    p.picked_at = undefined;
}

function output_name(p) {
    return `${p.name.replace(/\.[^.]*$/, '')}-lq2x-${p.file.scale}x.${p.file.extension}`;
}

function render_list() {
    const list = $('list');
    list.replaceChildren(...pictures.map((p, i) => {
        const li = document.createElement('li');
        const b = document.createElement('button');
        b.type = 'button';
        b.setAttribute('aria-pressed', String(i === selected));
        const r = p.file && view_of(p);
        const state = p.error ? `failed: ${p.error.reason}`
                    : r?.width ? `${r.width} × ${r.height}${r.animated ? `, ${r.count} frames` : ''}`
                    : p.file ? 'scaled' : 'waiting';
        b.textContent = `${p.name}: ${state}`;
        if (p.error) b.classList.add('error');
        if (p.file) {
            li.dataset.scaleFileMs = p.file.ms.toFixed(1);
            li.dataset.readyMs = p.file.ready_ms.toFixed(1);
        }
        b.addEventListener('click', () => show(i));
        const remove = document.createElement('button');
        remove.type = 'button';
        remove.className = 'remove';
        remove.textContent = 'Remove';
        remove.setAttribute('aria-label', `Remove ${p.name}`);
        remove.addEventListener('click', () => remove_picture(i));
        li.append(b, remove);
        return li;
    }));
    $('clear').hidden = pictures.length === 0;
    update_buttons();
}

// Takes a file off the list; the next one (or the one before) is shown.
function remove_picture(i) {
    pictures.splice(i, 1);
    if (selected > i || selected >= pictures.length) selected--;
    after_removal();
}

function clear_pictures() {
    pictures = [];
    selected = -1;
    after_removal();
}

function after_removal() {
    if (pictures.length === 0) {
        ++batch; // the run under way is for nothing now
        stop_player();
        $('view').hidden = true;
        $('progress').value = 0;
        set_status('Pick or drop pictures to start.', 'idle');
        render_list();
        return;
    }
    render_list();
    show(Math.max(selected, 0));
}

function update_buttons() {
    const done = pictures.filter((p) => p.file);
    const p = pictures[selected];
    $('download').disabled = !p?.file;
    $('download').textContent = p?.file ? `Download ${p.file.extension.toUpperCase()}` : 'Download';
    $('download-zip').disabled = done.length < 2 || document.body.dataset.state === 'busy';
    // Why there is no preview, beside the button that saves the result.
    const view = p?.file && view_of(p);
    const note = view?.by === 'none' && view.failed
        ? `The result${view.width ? `, ${view.width} × ${view.height},` : ''} is too large to preview here ` +
          `(${view.why}); download it to see it.`
        : '';
    $('download-note').textContent = note;
    $('download-note').hidden = !note;
}

// The preview: both files' frames drawn at the zoom, the original enlarged
// by the scale so that both have the same size on screen, played together
// on the result's delays (the original alone on its own where there is no
// result to show), with play, pause and a step a frame at a time.
let player = null;

function frame_image(frames, k) {
    const size = frames.width * frames.height * 4;
    return new ImageData(new Uint8ClampedArray(frames.pixels.buffer, k * size, size), frames.width, frames.height);
}

// Frame k of `frames` on a 2D canvas, turned as `orientation` turns a
// picture (the library's numbers: 1 a quarter-turn counter-clockwise, 2
// clockwise): the original for the comparison, in the result's orientation.
const scratch = document.createElement('canvas');
function put_frame(canvas, frames, k, orientation = 0) {
    const image = frame_image(frames, Math.min(k, frames.count - 1));
    const [w, h] = orientation ? [frames.height, frames.width] : [frames.width, frames.height];
    if (canvas.width !== w || canvas.height !== h) Object.assign(canvas, { width: w, height: h });
    const c = canvas.getContext('2d');
    if (!orientation) return c.putImageData(image, 0, 0);
    Object.assign(scratch, { width: frames.width, height: frames.height });
    scratch.getContext('2d').putImageData(image, 0, 0);
    c.save();
    c.clearRect(0, 0, w, h);
    c.imageSmoothingEnabled = false;
    // (x, y) goes to (y, width - 1 - x) counter-clockwise, (height - 1 - y, x) clockwise.
    if (orientation === 1) c.setTransform(0, -1, 1, 0, 0, frames.width);
    else c.setTransform(0, 1, -1, 0, frames.height, 0);
    c.drawImage(scratch, 0, 0);
    c.restore();
}

function stop_player() {
    if (player) cancelAnimationFrame(player.request);
    player = null;
    $('player').hidden = true;
}

// Frame k of an animation whose delays are `delays` (ms) at time t after it
// started, playing `loops` times (0: without end); null once a finite
// animation has played out, as its last frame stays.
function frame_at(delays, loops, t) {
    const total = delays.reduce((a, b) => a + b, 0);
    if (total <= 0) return 0;
    if (loops > 0 && t >= total * loops) return delays.length - 1;
    let rest = t % total;
    for (let k = 0; k < delays.length; ++k) {
        if (rest < delays[k]) return k;
        rest -= delays[k];
    }
    return delays.length - 1;
}

// A GIF download made to fit by the GIF settings may differ from the scaled
// picture the shader draws: the download is what such a result shows.
function fitted(p, s) {
    return p.file?.extension === 'gif' && s && (s.gif_alpha > 0 || s.gif_colours > 0);
}

// What the result shows for a picture: the shader's passes on the original's
// frames where WebGL 2 is here and they fit ('webgl2'), else the download's
// frames read back ('wasm'), else nothing ('none': `failed` when the frames
// could not be had, else they are on their way); `why` says why not the
// shader. Null before there is anything to show.
function view_of(p) {
    if (p.error) return null;
    const source = p.source && !p.source.error ? p.source : null;
    const plan = p.plan && p.plan.status === 0 ? p.plan : null;
    const last = plan?.passes[plan.passes.length - 1];
    const base = last ? { width: last.width, height: last.height, ...plan.settings } : {};
    let why = gpu.reason;
    if (gpu.draw) {
        if (!source || !plan) return null;
        Object.assign(base, { count: source.count, animated: source.animated, delays: source.delays, loops: source.loops });
        why = p.gpu_failed || (fitted(p, plan.settings) && 'a GIF made to fit, whose pixels are its own') ||
              gpu.fits(plan);
        if (!why) return { ...base, by: 'webgl2', draw: (k) => gpu.draw(source, k, plan) };
    }
    const r = p.preview?.result;
    if (!p.file) return null;
    if (r?.error) return { ...base, by: 'none', failed: true, why: `${why}; ${r.error}` };
    if (!r) return gpu.draw ? { ...base, by: 'none', why } : null;
    return { ...r, scale: p.file.scale, orientation: p.file.orientation, by: 'wasm', frames: r, why };
}

// Whether this browser makes a 2D canvas of w x h: past its own limits a
// canvas is made all the same, and draws nothing.
function canvas_holds(w, h) {
    const c = document.createElement('canvas');
    Object.assign(c, { width: w, height: h });
    const g = c.getContext('2d');
    if (!g) return false;
    g.fillStyle = '#fff';
    g.fillRect(w - 1, h - 1, 1, 1);
    return g.getImageData(w - 1, h - 1, 1, 1).data[3] === 255;
}

function play(p, view, original) {
    stop_player();
    // The timeline: the result's frames, or the original's alone.
    const line = view ?? original;
    const canvases = [['original', original]];
    if (view?.by === 'wasm') canvases.push(['result', view], ['compare-result', view]);
    else if (view) canvases.push(['compare-result', view]);
    for (const [id, f] of canvases.filter(([, f]) => f)) Object.assign($(id), { width: f.width, height: f.height });
    const draw = (k) => {
        if (original) {
            put_frame($('original'), original, k);
            if (view) put_frame($('compare-original'), original, k, view.orientation);
        }
        if (view?.by === 'wasm') {
            for (const id of ['result', 'compare-result']) put_frame($(id), view.frames, k);
        } else if (view && view.draw(k)) {
            // The comparison copies the canvas while it still holds this frame.
            const c = $('compare-result').getContext('2d');
            c.clearRect(0, 0, view.width, view.height);
            c.drawImage(gpu.canvas, 0, 0);
        } else if (view) {
            p.gpu_failed = 'WebGL 2 failed to draw it here';
            if (p.file && !p.preview?.result) read_back(p);
            show(selected);
            return false;
        }
        $(view ? 'result' : 'original').dataset.frame = String(k);
        $('frame-caption').textContent = line.count > 1
            ? `Frame ${k + 1} of ${line.count} (${Math.round(line.delays[k])} ms)` : '';
        return true;
    };
    // A result larger than this browser's canvases: said in words.
    if (view?.by === 'wasm' && !canvas_holds(view.width, view.height)) {
        p.preview = { ...p.preview, result: { error: `this browser makes no canvas of ${view.width} × ${view.height}` } };
        return show(selected);
    }
    if (!draw(0)) return;
    if (line.count < 2) return;
    player = { shown: 0, paused: false, start: performance.now(), request: 0, line, draw };
    $('player').hidden = false;
    $('play').textContent = 'Pause';
    const tick = (now) => {
        const k = frame_at(line.delays, line.loops, now - player.start);
        if (k !== player.shown) {
            player.shown = k;
            if (!draw(k)) return;
        }
        player.request = requestAnimationFrame(tick);
    };
    player.tick = tick;
    player.request = requestAnimationFrame(tick);
}

// Pause and play on: play goes on from the frame shown.
function toggle_play() {
    if (!player) return;
    player.paused = !player.paused;
    $('play').textContent = player.paused ? 'Play' : 'Pause';
    if (player.paused) return cancelAnimationFrame(player.request);
    player.start = performance.now() - player.line.delays.slice(0, player.shown).reduce((a, b) => a + b, 0);
    player.request = requestAnimationFrame(player.tick);
}

// One frame on or back, paused there.
function step(by) {
    if (!player) return;
    if (!player.paused) toggle_play();
    const n = player.line.count;
    player.shown = (player.shown + by + n) % n;
    player.draw(player.shown);
}

function show(i) {
    if (i !== selected) {
        selected = i;
        render_list();
    }
    const p = pictures[i];
    if (!p) return;
    $('view').hidden = false;
    const view = view_of(p);
    const result = view && view.by !== 'none' ? view : null;
    const original = p.source && !p.source.error ? p.source : null;
    $('original-caption').textContent = `Original: ${p.name}`;
    const waiting = !p.preview && !p.error && document.body.dataset.state === 'busy';
    $('result-caption').textContent = view?.width ? `Result: ${view.width} × ${view.height} (${view.scale}×)`
                                    : waiting ? 'Result: scaling…' : 'Result';
    // Which preview this is, in words; what drew it in the details.
    $('preview-by').textContent = !view ? ''
        : view.by === 'webgl2' ? 'Drawn on the GPU, from the original\'s frames; the download has these pixels.'
        : view.by === 'wasm' ? `Drawn without the GPU, from the download's own pixels: ${view.why}.`
        : view.failed ? 'Not drawn: too large to preview here; the download has it.'
        : `Drawing it without the GPU: ${view.why}.`;
    $('preview-details').hidden = !view || view.by !== 'webgl2';
    $('renderer').textContent = view?.by === 'webgl2' ? `WebGL 2 on ${gpu.renderer}, running the lq2x shader.` : '';
    if (gpu.draw) use_result_canvas(result?.by === 'wasm' ? canvas_2d : gpu.canvas);
    $('result').dataset.by = result ? result.by : '';
    // A reason in place of what could not be made; no empty frame is left.
    const original_reason = p.source?.error;
    $('original').hidden = !original;
    $('original-reason').hidden = !original_reason;
    $('original-reason').textContent = original_reason ?? '';
    $('result').hidden = !result;
    // What the file could not keep, as the tool warns of it.
    $('result-note').hidden = !p.file?.warning;
    $('result-note').textContent = p.file?.warning ? `Note: ${p.file.warning}` : '';
    // The input's format could not hold it exactly: saved losslessly instead.
    const refused = p.file?.refused;
    $('way-out').hidden = !refused;
    $('way-out-words').textContent = refused
        ? `Save as “the input's format” gave ${p.file.extension.toUpperCase()}${p.source?.animated ? ', animated,' : ''} ` +
          `for this picture, which its own format cannot hold exactly (${refused}).`
        : '';
    $('result-reason').hidden = !p.error;
    $('result-reason').textContent = p.error ? `Not scaled: ${p.error.reason}` : '';
    // The library's words stay; the page's own hint in place of the tool's option.
    $('result-hint').hidden = !p.error?.over_limit;
    $('comparison').hidden = !(result && original);
    if (result || original) play(p, result, original);
    else stop_player();
    lay_out();
    update_buttons();
}

function lay_out() {
    const p = pictures[selected];
    if (!p) return;
    const view = view_of(p), original = p.source;
    const result = view && view.by !== 'none' ? view : null;
    const zoom = Number($('zoom').value);
    const px = (v) => `${v}px`;
    if (original && !original.error) {
        const k = (p.file?.scale ?? p.plan?.settings.scale ?? 1) * zoom;
        Object.assign($('original').style, { width: px(original.width * k), height: px(original.height * k) });
    }
    if (!result || !original || original.error) return;
    // The original laid over the result, turned as the result is, the same size.
    for (const id of ['result', 'compare-result', 'compare', 'compare-original'])
        Object.assign($(id).style, { width: px(result.width * zoom), height: px(result.height * zoom) });
    split();
}

function split() {
    const f = Number($('split').value) / 100;
    const w = $('compare').offsetWidth;
    $('compare-original-clip').style.clipPath = `inset(0 ${100 - 100 * f}% 0 0)`;
    $('divider').style.left = `${Math.round(f * w) - 1}px`;
}

function download(name, bytes) {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60_000);
}

const same_bytes = (a, b) => {
    if (a.byteLength !== b.byteLength) return false;
    const x = new Uint8Array(a), y = new Uint8Array(b);
    return x.every((v, i) => v === y[i]);
};

// Adds files to the list (a file already on it, the same name and bytes,
// stays one entry) and shows the first of them.
async function add_files(files) {
    if (files.length === 0) return;
    const picked_at = performance.now();
    let first = -1, added = 0;
    for (const f of files) {
        const bytes = await f.arrayBuffer();
        const name = f.name || 'pasted.png';
        let at = pictures.findIndex((p) => p.name === name && same_bytes(p.bytes, bytes));
        if (at < 0) {
            pictures.push({ name, bytes, file: null, error: null, preview: null });
            at = pictures.length - 1;
            added++;
        }
        if (first < 0) first = at;
    }
    selected = first;
    render_list();
    show(selected);
    if (!added) return;
    const run = run_batch();
    // From the moment the files were picked, for the first batch they start.
    for (const p of pictures) p.picked_at ??= picked_at;
    await run;
}

$('files').addEventListener('change', (e) => {
    add_files([...e.target.files]);
    e.target.value = ''; // the same file picked again is a change again
});
// A picture pasted anywhere on the page (Ctrl+V), as a file.
document.addEventListener('paste', (e) => {
    const files = [...(e.clipboardData?.files ?? [])].filter((f) => f.type.startsWith('image/') || f.name);
    if (files.length === 0) return;
    e.preventDefault();
    add_files(files);
});
$('clear').addEventListener('click', clear_pictures);
$('play').addEventListener('click', toggle_play);
$('previous-frame').addEventListener('click', () => step(-1));
$('next-frame').addEventListener('click', () => step(1));
// A GIF all the same: Save as GIF with the library's settings that make any
// result fit, noted under it as not exact.
$('gif-anyway').addEventListener('click', () => {
    if (!gif_fit) return;
    $('format').value = '2';
    $('gif-alpha').value = String(gif_fit.alpha);
    $('gif-colours').value = String(gif_fit.colours);
    $('gif-palette').value = String(gif_fit.palette);
    run_batch();
});
for (const id of ['scale', 'rotate', 'edge-x', 'edge-y', 'format', 'gif-palette', ...NUMBER_FIELDS])
    $(id).addEventListener('change', () => pictures.length && run_batch());
$('options').addEventListener('submit', (e) => e.preventDefault());
$('zoom').addEventListener('change', lay_out);
$('split').addEventListener('input', split);
$('download').addEventListener('click', () => {
    const p = pictures[selected];
    if (p?.file) download(output_name(p), p.file.bytes);
});
$('download-zip').addEventListener('click', () => {
    const files = {};
    for (const p of pictures.filter((q) => q.file)) {
        let name = output_name(p);
        for (let n = 2; name in files; ++n) name = output_name(p).replace(/(\.[^.]*)$/, `-${n}$1`);
        files[name] = [p.file.bytes, { level: 0 }]; // the files are compressed already, or small
    }
    download('lq2x.zip', zipSync(files));
});

// Dropping files anywhere on the drop box, and dragging the comparison divider.
const drop = $('drop');
drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    add_files([...e.dataTransfer.files]);
});
const compare = $('compare');
const drag_to = (e) => {
    const box = compare.getBoundingClientRect();
    $('split').value = String(Math.round((100 * (e.clientX - box.left)) / Math.max(1, box.width)));
    split();
};
compare.addEventListener('pointerdown', (e) => {
    e.preventDefault(); // no native drag of the pictures
    compare.setPointerCapture(e.pointerId);
    drag_to(e);
});
compare.addEventListener('pointermove', (e) => { if (compare.hasPointerCapture(e.pointerId)) drag_to(e); });

// Hosted, the page keeps its own files for use without the network (sw.js,
// which asks for nothing beyond this folder); opened from a file it has them
// already, and a browser allows no service worker there.
// (The manifest, which makes it installable, likewise: a page opened from a
// file may not read it. The page in one file, lq2x.html, is for use from
// disk, and its policy allows neither.)
if (location.protocol !== 'file:' && !('oneFile' in document.documentElement.dataset)) {
    const manifest = document.createElement('link');
    Object.assign(manifest, { rel: 'manifest', href: 'manifest.webmanifest' });
    document.head.append(manifest);
    if ('serviceWorker' in navigator)
        navigator.serviceWorker.register('sw.js').catch(() => { /* it works online all the same */ });
}
