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

// The worker runs from a blob of its own bundled source, not from a URL: a
// worker from a URL takes its Content-Security-Policy from its own response
// (which a plain static server sends none of), one from a blob takes this
// page's, so the worker may connect nowhere either.
const worker = new Worker(URL.createObjectURL(new Blob([worker_source], { type: 'text/javascript' })));

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
    for (const p of pictures) forget_result(p);
    render_list();
    if (selected >= 0) show(selected);
    if (unreadable_fields()) return set_status('Tile sizes, margin and spacing are whole numbers, 0 or more.', 'invalid');
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
    progress.max = pictures.length;
    progress.value = 0;
    set_status(`Scaling ${pictures.length} file${pictures.length === 1 ? '' : 's'}…`, 'busy');
    const started = performance.now();
    for (const [i, p] of pictures.entries()) {
        const reply = await scale_one(p, s, (file) => {
            if (run !== batch) return;
            if (file.error) p.error = file.error;
            else p.file = { bytes: file.bytes, extension: file.extension, warning: file.warning, ms: file.ms,
                            ready_ms: performance.now() - (p.picked_at ?? started), scale: s.scale,
                            orientation: s.orientation };
            render_list();
            if (i === Math.max(selected, 0)) show(i);
        });
        if (run !== batch) return;
        p.preview = reply;
        if (reply.original) p.source = reply.original;
        p.plan = reply.plan ? { ...reply.plan, settings: s } : null;
        progress.value = i + 1;
        set_status(`Scaled ${i + 1} of ${pictures.length}…`);
        render_list();
        if (i === Math.max(selected, 0)) show(i);
    }
    const failed = pictures.filter((p) => p.error).length;
    const seconds = ((performance.now() - started) / 1000).toFixed(2);
    set_status(`${pictures.length - failed} of ${pictures.length} scaled in ${seconds} s` +
               (failed ? `; ${failed} could not be scaled.` : '.'), failed ? 'error' : 'done');
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
        const state = p.error ? `failed: ${p.error}`
                    : r?.width ? `${r.width} × ${r.height}${r.animated ? `, ${r.count} frames` : ''}`
                    : p.file ? 'scaled' : 'waiting';
        b.textContent = `${p.name}: ${state}`;
        if (p.error) b.classList.add('error');
        if (p.file) {
            li.dataset.scaleFileMs = p.file.ms.toFixed(1);
            li.dataset.readyMs = p.file.ready_ms.toFixed(1);
        }
        b.addEventListener('click', () => show(i));
        li.append(b);
        return li;
    }));
    update_buttons();
}

function update_buttons() {
    const done = pictures.filter((p) => p.file);
    const p = pictures[selected];
    $('download').disabled = !p?.file;
    $('download').textContent = p?.file ? `Download ${p.file.extension.toUpperCase()}` : 'Download';
    $('download-zip').disabled = done.length < 2 || document.body.dataset.state === 'busy';
}

// The preview: both files' frames drawn at the zoom, the original enlarged
// by the scale so that both have the same size on screen, played together
// on the result's delays.
let player = null;

function frame_image(frames, k) {
    const size = frames.width * frames.height * 4;
    return new ImageData(new Uint8ClampedArray(frames.pixels.buffer, k * size, size), frames.width, frames.height);
}

function stop_player() {
    if (player) cancelAnimationFrame(player.request);
    player = null;
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
// frames where WebGL 2 is here and they fit, else the download's frames read
// back, else nothing; `why` says why not the shader.
function view_of(p) {
    if (p.error) return null;
    const source = p.source && !p.source.error ? p.source : null;
    const plan = p.plan && p.plan.status === 0 ? p.plan : null;
    let why = gpu.reason;
    if (gpu.draw) {
        if (!source || !plan) return null;
        const last = plan.passes[plan.passes.length - 1];
        const base = { width: last.width, height: last.height, count: source.count, animated: source.animated,
                       delays: source.delays, loops: source.loops, ...plan.settings };
        why = p.gpu_failed || (fitted(p, plan.settings) && 'a GIF made to fit, whose pixels are its own') ||
              gpu.fits(plan);
        if (!why) return { ...base, by: 'webgl2', draw: (k) => gpu.draw(source, k, plan) };
        if (!p.preview?.result) return { ...base, by: 'none', why };
    }
    const r = p.preview?.result;
    if (!r || r.error || !p.file) return null;
    return { ...r, scale: p.file.scale, orientation: p.file.orientation, by: 'wasm', frames: r, why };
}

function play(p, view, original) {
    stop_player();
    const canvases = [['compare-result', view], ['original', original], ['compare-original', original]];
    if (view.by === 'wasm') canvases.push(['result', view]);
    for (const [id, f] of canvases.filter(([, f]) => f)) Object.assign($(id), { width: f.width, height: f.height });
    const put = (id, f, k) => $(id).getContext('2d').putImageData(frame_image(f, Math.min(k, f.count - 1)), 0, 0);
    const draw = (k) => {
        if (original) for (const id of ['original', 'compare-original']) put(id, original, k);
        if (view.by === 'wasm') {
            for (const id of ['result', 'compare-result']) put(id, view.frames, k);
        } else if (view.draw(k)) {
            // The comparison copies the canvas while it still holds this frame.
            const c = $('compare-result').getContext('2d');
            c.clearRect(0, 0, view.width, view.height);
            c.drawImage(gpu.canvas, 0, 0);
        } else {
            p.gpu_failed = 'WebGL 2 failed to draw it here';
            if (p.file && !p.preview?.result) read_back(p);
            return show(selected);
        }
        $('result').dataset.frame = String(k);
        $('frame-caption').textContent = view.count > 1
            ? `Frame ${k + 1} of ${view.count} (${Math.round(view.delays[k])} ms)` : '';
    };
    draw(0);
    if (view.count < 2) return;
    player = { shown: 0, start: performance.now(), request: 0 };
    const tick = (now) => {
        const k = frame_at(view.delays, view.loops, now - player.start);
        if (k !== player.shown) {
            player.shown = k;
            draw(k);
        }
        player.request = requestAnimationFrame(tick);
    };
    player.request = requestAnimationFrame(tick);
}

function show(i) {
    if (i !== selected) {
        selected = i;
        render_list();
    }
    const p = pictures[i];
    $('view').hidden = false;
    const view = view_of(p);
    const result = view && view.by !== 'none' ? view : null;
    const original = p.source && !p.source.error ? p.source : null;
    $('original-caption').textContent = `Original: ${p.name}`;
    $('result-caption').textContent = view ? `Result: ${view.width} × ${view.height} (${view.scale}×)`
                                    : p.error ? 'Result' : 'Result: scaling…';
    // Which preview this is, in words.
    $('preview-by').textContent = !view ? ''
        : view.by === 'webgl2' ? `Shown by the lq2x shader in WebGL 2 (${gpu.renderer}), from the original's frames; ` +
                                 'the download, made in WebAssembly, has these pixels.'
        : view.by === 'wasm' ? `Shown from the download's own pixels, read back in WebAssembly: ${view.why}.`
        : `Not shown: ${view.why}; the download has it.`;
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
    $('result-reason').hidden = !p.error;
    $('result-reason').textContent = p.error ? `Not scaled: ${p.error}` : '';
    $('comparison').hidden = !(result && original);
    if (result) play(p, result, original);
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
        const k = (view ? view.scale : 1) * zoom;
        Object.assign($('original').style, { width: px(original.width * k), height: px(original.height * k) });
    }
    if (!result || !original || original.error) return;
    const k = result.scale * zoom;
    for (const id of ['result', 'compare-result', 'compare'])
        Object.assign($(id).style, { width: px(result.width * zoom), height: px(result.height * zoom) });
    // The original laid over the result, turned as the result is.
    const turn = ['', ' rotate(-90deg)', ' rotate(90deg)'][result.orientation];
    Object.assign($('compare-original').style, {
        width: px(original.width * k), height: px(original.height * k), transform: `translate(-50%, -50%)${turn}`,
    });
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

async function add_files(files) {
    if (files.length === 0) return;
    const picked_at = performance.now();
    for (const f of files) {
        const bytes = await f.arrayBuffer();
        pictures.push({ name: f.name, bytes, file: null, error: null, preview: null });
    }
    if (selected < 0) selected = 0;
    render_list();
    show(selected);
    const run = run_batch();
    // From the moment the files were picked, for the first batch they start.
    for (const p of pictures) p.picked_at ??= picked_at;
    await run;
}

$('files').addEventListener('change', (e) => add_files([...e.target.files]));
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
