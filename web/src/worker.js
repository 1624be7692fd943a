// Scales files off the page's thread with the files library in WebAssembly:
// the bytes of a file and the options in, the bytes the tool would write
// out, then for the preview the original's frames and the shader's passes
// on them (and the result's frames, where the page cannot run those passes
// in WebGL 2). Every
// reason a file fails is the library's own line.
import create_lq2x from 'lq2x-module';

const lq2x = create_lq2x().ready;
// The first word from a worker that has started: the library's version;
// the second once it has warmed up (lq2x_web_warm_up), unless a file came
// first, which then waits for it.
lq2x.then((m) => {
    postMessage({ version: m.UTF8ToString(m._lq2x_version_string()), kernel: m.UTF8ToString(m._lq2x_web_kernel()) });
    setTimeout(() => {
        m._lq2x_web_warm_up();
        postMessage({ warm: true });
    });
});

const no_memory = (m) => m.UTF8ToString(m._lq2x_web_no_memory());

// Copies `bytes` into the module's memory for the length of `use`.
function with_bytes(m, bytes, use) {
    const p = m._malloc(Math.max(1, bytes.length));
    if (p === 0) throw new Error(no_memory(m));
    m.HEAPU8.set(bytes, p);
    try {
        return use(p);
    } finally {
        m._free(p);
    }
}

function scale_file(m, input, s) {
    return with_bytes(m, input, (p) => {
        const r = m._lq2x_web_scale_file(p, input.length, s.scale, s.orientation, s.edge_x, s.edge_y, s.tile_width,
                                         s.tile_height, s.tile_margin, s.tile_spacing, s.format, s.gif_alpha,
                                         s.gif_colours, s.gif_palette);
        if (r === 0) throw new Error(no_memory(m));
        try {
            const message = m.UTF8ToString(m._lq2x_web_file_message(r));
            if (m._lq2x_web_file_status(r) !== 0) return { error: message };
            const at = m._lq2x_web_file_bytes(r), size = m._lq2x_web_file_size(r);
            return { bytes: m.HEAPU8.slice(at, at + size), warning: message,
                     extension: m.UTF8ToString(m._lq2x_web_extension(p, input.length, s.format)) };
        } finally {
            m._lq2x_web_file_free(r);
        }
    });
}

// Frames as the library composites them: RGBA, and each frame's delay in
// milliseconds.
function read_file(m, bytes, scale, scaled) {
    return with_bytes(m, bytes, (p) => {
        const r = m._lq2x_web_read_file(p, bytes.length, scale, scaled ? 1 : 0);
        if (r === 0) throw new Error(no_memory(m));
        try {
            if (m._lq2x_web_frames_status(r) !== 0) return { error: m.UTF8ToString(m._lq2x_web_frames_message(r)) };
            const width = m._lq2x_web_frames_width(r), height = m._lq2x_web_frames_height(r);
            const count = m._lq2x_web_frames_count(r);
            const at = m._lq2x_web_frames_pixels(r), d = m._lq2x_web_frames_delays(r) >>> 2;
            const delays = [];
            for (let i = 0; i < count; ++i)
                delays.push((1000 * m.HEAPU32[d + 2 * i]) / Math.max(1, m.HEAPU32[d + 2 * i + 1]));
            return { width, height, count, delays, loops: m._lq2x_web_frames_loops(r),
                     animated: m._lq2x_web_frames_animated(r) !== 0,
                     pixels: m.HEAPU8.slice(at, at + width * height * 4 * count) };
        } finally {
            m._lq2x_web_frames_free(r);
        }
    });
}

// The library's plan of the shader's passes over frames of this size, the
// uniforms and all (lq2x_web_shader_plan), or null for none.
function shader_plan(m, width, height, s) {
    const text = m._lq2x_web_shader_plan(width, height, s.scale, s.orientation, s.edge_x, s.edge_y, s.tile_width,
                                         s.tile_height, s.tile_margin, s.tile_spacing);
    if (text === 0) throw new Error(no_memory(m));
    try {
        return JSON.parse(m.UTF8ToString(text));
    } finally {
        m._free(text);
    }
}

const transferable = (...frames) => frames.filter((f) => f && f.pixels).map((f) => f.pixels.buffer);
// What a thrown error says, for the page's note.
const reason = (e) => String(e && e.message ? e.message : e);

// shader_limit: the largest texture the page's WebGL 2 takes, 0 without it.
onmessage = async ({ data: { id, bytes, settings, shader_limit, frame, read_back } }) => {
    if (read_back) { // a result's frames, where the shader failed after all
        const m = await lq2x;
        let result;
        try {
            result = read_file(m, new Uint8Array(read_back.bytes), read_back.scale, true);
        } catch (e) { // the module's memory ran out, as below: the page keeps its note
            result = { error: reason(e) };
        }
        postMessage({ id, kind: 'preview', result }, transferable(result));
        return;
    }
    if (frame) {
        const m = await lq2x;
        let plan;
        try {
            plan = shader_plan(m, frame.width, frame.height, settings);
        } catch (e) {
            plan = null;
        }
        postMessage({ id, kind: 'plan', plan });
        return;
    }
    try {
        const m = await lq2x;
        const input = new Uint8Array(bytes);
        const t0 = performance.now();
        const file = scale_file(m, input, settings);
        const t1 = performance.now();
        postMessage({ id, kind: 'file', ...file, ms: t1 - t0 }); // a copy: the preview reads these bytes next
        // The preview: the original, the shader's passes on it, and the
        // result as its file holds it where the page cannot run them.
        const original = read_file(m, input, settings.scale, false);
        const plan = original.error ? null : shader_plan(m, original.width, original.height, settings);
        // A GIF made to fit by the GIF settings is shown from its own frames.
        const fitted = file.extension === 'gif' && (settings.gif_alpha > 0 || settings.gif_colours > 0);
        const runs = !fitted && plan && plan.passes.every((p) => p.width <= shader_limit && p.height <= shader_limit);
        const result = file.bytes && !runs ? read_file(m, file.bytes, settings.scale, true) : null;
        postMessage({ id, kind: 'preview', result, original, plan }, transferable(result, original));
    } catch (e) {
        // Only the module's memory running out comes here; the library says
        // everything else in its results.
        const error = reason(e);
        postMessage({ id, kind: 'file', error });
        postMessage({ id, kind: 'preview', result: null, original: { error } });
    }
};
