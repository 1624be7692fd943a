// Scales files off the page's thread with the files library in WebAssembly:
// the bytes of a file and the options in, the bytes the tool would write
// out, then for the preview the original's frames and the shader's passes
// on them (and the result's frames, where the page cannot run those passes
// in WebGL 2). Every
// reason a file fails is the library's own line.
import create_lq2x from 'lq2x-module';
import { no_memory, read_file, scale_file, with_settings } from './module_calls.js';

const lq2x = create_lq2x().ready;
// The first word from a worker that has started: the library's version;
// the second once it has warmed up (lq2x_web_warm_up), unless a file came
// first, which then waits for it.
lq2x.then((m) => {
    // With the GIF settings that make any result fit a GIF, for the page's
    // one click to "a GIF all the same" (lq2x_gif_fit_any).
    postMessage({ version: m.UTF8ToString(m._lq2x_version_string()), kernel: m.UTF8ToString(m._lq2x_web_kernel()),
                  gif_fit: { alpha: m._lq2x_web_gif_fit(0), colours: m._lq2x_web_gif_fit(1), palette: m._lq2x_web_gif_fit(2) } });
    setTimeout(() => {
        m._lq2x_web_warm_up();
        postMessage({ warm: true });
    });
});

// The page's settings, its controls' numbers, as the module holds them.
const page_settings = (m, s) => m._lq2x_web_page_settings(s.scale, s.orientation, s.edge_x, s.edge_y, s.tile_width,
                                                         s.tile_height, s.tile_margin, s.tile_spacing, s.format,
                                                         s.gif_alpha, s.gif_colours, s.gif_palette);

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
        const file = with_settings(m, page_settings(m, settings), (s) => scale_file(m, input, s));
        const t1 = performance.now();
        // A refusal over the library's limits, to which the page adds its hint.
        if (file.error) file.over_limit = m._lq2x_web_over_limit(file.status) !== 0;
        postMessage({ id, kind: 'file', ...file, ms: t1 - t0 }); // a copy: the preview reads these bytes next
        // The preview: the original, the shader's passes on it, and the
        // result as its file holds it where the page cannot run them.
        const original = read_file(m, input, settings.scale, false);
        const plan = original.error ? null : shader_plan(m, original.width, original.height, settings);
        // A GIF made to fit by the GIF settings is shown from its own frames.
        const fitted = file.extension === 'gif' && (settings.gif_alpha > 0 || settings.gif_colours > 0);
        const runs = !fitted && plan && plan.passes.every((p) => p.width <= shader_limit && p.height <= shader_limit);
        // A result too large for the module's memory to read back is not
        // shown, and the page says so beside its download.
        let result = null;
        if (file.bytes && !runs) {
            try {
                result = read_file(m, file.bytes, settings.scale, true);
            } catch (e) {
                result = { error: reason(e) };
            }
        }
        postMessage({ id, kind: 'preview', result, original, plan }, transferable(result, original));
    } catch (e) {
        // Only the module's memory running out comes here; the library says
        // everything else in its results.
        const error = reason(e);
        postMessage({ id, kind: 'file', error });
        postMessage({ id, kind: 'preview', result: null, original: { error } });
    }
};
