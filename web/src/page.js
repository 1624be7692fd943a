// The page: picks up image files, has the worker scale them with the chosen
// options, plays the original beside the result (animations with their own
// delays) and keeps the results for download, one file or all in one zip.
import { zipSync } from 'fflate';
import worker_source from 'lq2x-worker';

const $ = (id) => document.getElementById(id);

// The worker runs from a blob of its own bundled source, not from a URL: a
// worker from a URL takes its Content-Security-Policy from its own response
// (which a plain static server sends none of), one from a blob takes this
// page's, so the worker may connect nowhere either.
const worker = new Worker(URL.createObjectURL(new Blob([worker_source], { type: 'text/javascript' })));

// One entry per file: { name, bytes, file: { bytes, extension, warning, ms } | null, error, preview }
let pictures = [];
let selected = -1;
let batch = 0; // which run of the options the worker's replies belong to
const pending = new Map();
let next_id = 0;

// The controls' values are the library's own numbers (lq2x_orientation,
// lq2x_edge, lq2x_format).
function settings() {
    const n = (id) => Number($(id).value);
    return {
        scale: n('scale'), orientation: n('rotate'), edge_x: n('edge-x'), edge_y: n('edge-y'),
        tile_width: n('tile-width'), tile_height: n('tile-height'), tile_margin: n('tile-margin'),
        tile_spacing: n('tile-spacing'), format: n('format'),
    };
}

// Numbers the fields cannot give the library as they are; what the numbers
// mean together is the library's to judge.
function unreadable_fields() {
    return ['tile-width', 'tile-height', 'tile-margin', 'tile-spacing'].some((id) => {
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
        worker.postMessage({ id, bytes: picture.bytes, settings: s });
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
        const r = p.preview?.result;
        const state = p.error ? `failed: ${p.error}`
                    : r && !r.error ? `${r.width} × ${r.height}${r.animated ? `, ${r.count} frames` : ''}`
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

function play(result, original) {
    stop_player();
    const canvases = [['result', result], ['compare-result', result], ['original', original],
                      ['compare-original', original]].filter(([, f]) => f);
    for (const [id, f] of canvases) Object.assign($(id), { width: f.width, height: f.height });
    const contexts = canvases.map(([id, f]) => [$(id).getContext('2d'), f]);
    const draw = (k) => {
        for (const [c, f] of contexts) c.putImageData(frame_image(f, Math.min(k, f.count - 1)), 0, 0);
        $('result').dataset.frame = String(k);
        $('frame-caption').textContent = result.count > 1
            ? `Frame ${k + 1} of ${result.count} (${Math.round(result.delays[k])} ms)` : '';
    };
    draw(0);
    if (result.count < 2) return;
    player = { shown: 0, start: performance.now(), request: 0 };
    const tick = (now) => {
        const k = frame_at(result.delays, result.loops, now - player.start);
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
    const result = p.preview?.result && !p.preview.result.error ? p.preview.result : null;
    const original = p.preview?.original && !p.preview.original.error ? p.preview.original : null;
    $('original-caption').textContent = `Original: ${p.name}`;
    $('result-caption').textContent = result ? `Result: ${result.width} × ${result.height} (${p.file.scale}×)`
                                    : p.error ? 'Result' : 'Result: scaling…';
    // A reason in place of what could not be made; no empty frame is left.
    const original_reason = p.preview?.original?.error;
    $('original').hidden = !original;
    $('original-reason').hidden = !original_reason;
    $('original-reason').textContent = original_reason ?? '';
    $('result').hidden = !result;
    $('result-reason').hidden = !p.error;
    $('result-reason').textContent = p.error ? `Not scaled: ${p.error}` : '';
    $('comparison').hidden = !(result && original);
    if (result) play(result, original);
    else stop_player();
    lay_out();
    update_buttons();
}

function lay_out() {
    const p = pictures[selected];
    const result = p?.preview?.result, original = p?.preview?.original;
    const zoom = Number($('zoom').value);
    const px = (v) => `${v}px`;
    if (original && !original.error) {
        const k = (p.file ? p.file.scale : 1) * zoom;
        Object.assign($('original').style, { width: px(original.width * k), height: px(original.height * k) });
    }
    if (!result || result.error || !original || original.error) return;
    const k = p.file.scale * zoom;
    for (const id of ['result', 'compare-result', 'compare'])
        Object.assign($(id).style, { width: px(result.width * zoom), height: px(result.height * zoom) });
    // The original laid over the result, turned as the result is.
    const turn = ['', ' rotate(-90deg)', ' rotate(90deg)'][p.file.orientation];
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
for (const id of ['scale', 'rotate', 'edge-x', 'edge-y', 'tile-width', 'tile-height', 'tile-margin', 'tile-spacing',
                  'format'])
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
