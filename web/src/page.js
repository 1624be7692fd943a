// The page: picks up PNG files, sends them to the worker with the chosen
// options, shows the original beside the result and keeps the results for
// download, one PNG or all of them in one zip.
import { zipSync } from 'fflate';
import { FACTORS } from './passes.js';

const $ = (id) => document.getElementById(id);
const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });

// One entry per picture: { name, bytes, original_url, result: { png, url, width, height, times } | null, error }
let pictures = [];
let selected = -1;
let batch = 0; // which run of the options the worker's replies belong to
const pending = new Map();
let next_id = 0;

function settings() {
    const n = (id) => Number($(id).value);
    return {
        factor: n('scale'), rotate: $('rotate').value, edge_x: $('edge-x').value, edge_y: $('edge-y').value,
        tile_width: n('tile-width'), tile_height: n('tile-height'), tile_margin: n('tile-margin'),
        tile_spacing: n('tile-spacing'),
    };
}

// Options that make no sense together (the tool refuses them as usage
// errors), said before anything is scaled.
function grid_problem(s) {
    const whole = (v) => Number.isInteger(v) && v >= 0;
    if (![s.tile_width, s.tile_height, s.tile_margin, s.tile_spacing].every(whole))
        return 'Tile sizes, margin and spacing are whole numbers, 0 or more.';
    if ((s.tile_width === 0) !== (s.tile_height === 0)) return 'Give the tile cell both a width and a height (or neither).';
    if (s.tile_width === 0 && (s.tile_margin > 0 || s.tile_spacing > 0)) return 'A margin or spacing needs a tile cell size.';
    if (!FACTORS.includes(s.factor)) return 'Unknown scale.';
    return null;
}

function scale_one(picture, s) {
    const id = next_id++;
    return new Promise((resolve) => {
        pending.set(id, resolve);
        worker.postMessage({ id, bytes: picture.bytes, settings: s });
    });
}
worker.onmessage = ({ data }) => {
    if (data.version) {
        $('version').textContent = `lq2x ${data.version}, running in WebAssembly on this computer.`;
        return;
    }
    const resolve = pending.get(data.id);
    pending.delete(data.id);
    resolve(data);
};
// A browser that cannot start the worker (no module workers, no WebAssembly).
worker.onerror = (e) => {
    e.preventDefault();
    for (const [id, resolve] of pending) resolve({ id, error: `this browser cannot run the scaler (${e.message || 'worker failed'})` });
    pending.clear();
};

function set_status(text, state) {
    $('status').textContent = text;
    if (state) document.body.dataset.state = state;
}

// Scales every picture with the current options, one after the other; a
// newer run (options changed, files added) makes an older one stop.
async function run_batch() {
    const run = ++batch;
    const s = settings();
    for (const p of pictures) forget_result(p);
    render_list();
    if (selected >= 0) show(selected);
    const problem = grid_problem(s);
    if (problem) return set_status(problem, 'invalid');
    const progress = $('progress');
    progress.max = pictures.length;
    progress.value = 0;
    set_status(`Scaling ${pictures.length} picture${pictures.length === 1 ? '' : 's'}…`, 'busy');
    const started = performance.now();
    for (const [i, p] of pictures.entries()) {
        const reply = await scale_one(p, s);
        if (run !== batch) return;
        if (reply.error) p.error = reply.error;
        else {
            const blob = new Blob([reply.png], { type: 'image/png' });
            p.result = { ...reply, url: URL.createObjectURL(blob), factor: s.factor, rotate: s.rotate };
        }
        progress.value = i + 1;
        set_status(`Scaled ${i + 1} of ${pictures.length}…`);
        render_list();
        if (i === Math.max(selected, 0)) show(i);
    }
    const failed = pictures.filter((p) => p.error).length;
    const seconds = ((performance.now() - started) / 1000).toFixed(2);
    set_status(`${pictures.length - failed} of ${pictures.length} scaled in ${seconds} s` +
               (failed ? `; ${failed} could not be read or scaled.` : '.'), failed ? 'error' : 'done');
    update_buttons();
}

function forget_result(p) {
    if (p.result) URL.revokeObjectURL(p.result.url);
    p.result = null;
    p.error = null;
}

function output_name(p) {
    return `${p.name.replace(/\.png$/i, '')}-lq2x-${p.result.factor}x.png`;
}

function render_list() {
    const list = $('list');
    list.replaceChildren(...pictures.map((p, i) => {
        const li = document.createElement('li');
        const b = document.createElement('button');
        b.type = 'button';
        b.setAttribute('aria-pressed', String(i === selected));
        const state = p.error ? `failed: ${p.error}` : p.result ? `${p.result.width} × ${p.result.height}` : 'waiting';
        b.textContent = `${p.name}: ${state}`;
        if (p.error) b.classList.add('error');
        if (p.result) {
            li.dataset.decodeMs = p.result.times.decode.toFixed(1);
            li.dataset.scaleMs = p.result.times.scale.toFixed(1);
            li.dataset.encodeMs = p.result.times.encode.toFixed(1);
            li.dataset.totalMs = (p.result.times.decode + p.result.times.scale + p.result.times.encode).toFixed(1);
        }
        b.addEventListener('click', () => show(i));
        li.append(b);
        return li;
    }));
    update_buttons();
}

function update_buttons() {
    const done = pictures.filter((p) => p.result);
    $('download').disabled = !(selected >= 0 && pictures[selected]?.result);
    $('download-zip').disabled = done.length < 2 || document.body.dataset.state === 'busy';
}

// Shows picture i: original and result at the zoom, the original enlarged by
// the scale so that both have the same size on screen.
function show(i) {
    if (i !== selected) {
        selected = i;
        render_list();
    }
    const p = pictures[i];
    $('view').hidden = false;
    $('original').src = p.original_url;
    $('compare-original').src = p.original_url;
    const r = p.result;
    $('original-caption').textContent = `Original: ${p.name}`;
    $('result-caption').textContent = r ? `Result: ${r.width} × ${r.height} (${r.factor}×)` : p.error ? `Failed: ${p.error}` : 'Result: scaling…';
    for (const id of ['result', 'compare-result']) {
        if (r) $(id).src = r.url;
        else $(id).removeAttribute('src');
    }
    lay_out();
    update_buttons();
}

function lay_out() {
    const p = pictures[selected];
    if (!p || !p.result) return;
    const zoom = Number($('zoom').value), r = p.result, k = r.factor * zoom;
    const px = (v) => `${v}px`;
    Object.assign($('result').style, { width: px(r.width * zoom), height: px(r.height * zoom) });
    Object.assign($('compare-result').style, { width: px(r.width * zoom), height: px(r.height * zoom) });
    Object.assign($('original').style, { width: px(r.source_width * k), height: px(r.source_height * k) });
    Object.assign($('compare').style, { width: px(r.width * zoom), height: px(r.height * zoom) });
    // The original laid over the result, turned as the result is.
    const turn = { none: '', cw: ' rotate(90deg)', ccw: ' rotate(-90deg)' }[r.rotate];
    Object.assign($('compare-original').style, {
        width: px(r.source_width * k), height: px(r.source_height * k), transform: `translate(-50%, -50%)${turn}`,
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
    a.href = URL.createObjectURL(new Blob([bytes], { type: name.endsWith('.zip') ? 'application/zip' : 'image/png' }));
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60_000);
}

async function add_files(files) {
    const pngs = [...files].filter((f) => f.type === 'image/png' || /\.png$/i.test(f.name));
    if (pngs.length === 0) return set_status('No PNG files among those.', 'invalid');
    for (const f of pngs) {
        const bytes = await f.arrayBuffer();
        pictures.push({ name: f.name, bytes, original_url: URL.createObjectURL(f), result: null, error: null });
    }
    if (selected < 0) selected = 0;
    render_list();
    show(selected);
    await run_batch();
}

$('files').addEventListener('change', (e) => add_files(e.target.files));
for (const id of ['scale', 'rotate', 'edge-x', 'edge-y', 'tile-width', 'tile-height', 'tile-margin', 'tile-spacing'])
    $(id).addEventListener('change', () => pictures.length && run_batch());
$('options').addEventListener('submit', (e) => e.preventDefault());
$('zoom').addEventListener('change', lay_out);
$('split').addEventListener('input', split);
$('download').addEventListener('click', () => {
    const p = pictures[selected];
    if (p?.result) download(output_name(p), p.result.png);
});
$('download-zip').addEventListener('click', () => {
    const files = {};
    for (const p of pictures.filter((q) => q.result)) {
        let name = output_name(p);
        for (let n = 2; name in files; ++n) name = output_name(p).replace(/\.png$/, `-${n}.png`);
        files[name] = [new Uint8Array(p.result.png), { level: 0 }]; // PNGs are compressed already
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
    add_files(e.dataTransfer.files);
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
