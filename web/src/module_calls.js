// The calls into the WebAssembly module (web/src/exports.cpp) that both the
// page's worker and the npm package make: bytes copied into the module's
// memory and results copied out, the settings made and handed over, and
// every refusal the library's own line. Each function takes the module
// instance, `m`.

// What to say when the module's memory has no room for a call at all.
export const no_memory = (m) => m.UTF8ToString(m._lq2x_web_no_memory());

// Copies `bytes` into the module's memory for the length of `use`.
export function with_bytes(m, bytes, use) {
    const p = m._malloc(Math.max(1, bytes.length));
    if (p === 0) throw new Error(no_memory(m));
    m.HEAPU8.set(bytes, p);
    try {
        return use(p);
    } finally {
        m._free(p);
    }
}

// `made` (a pointer to the module's settings, from one of its makers) for
// the length of `use`.
export function with_settings(m, made, use) {
    if (made === 0) throw new Error(no_memory(m));
    try {
        return use(made);
    } finally {
        m._lq2x_web_settings_free(made);
    }
}

const encoder = new TextEncoder();
const text_bytes = (text) => {
    const bytes = encoder.encode(text);
    const z = new Uint8Array(bytes.length + 1); // and its NUL
    z.set(bytes);
    return z;
};

// One setting by its name at the npm package's door, from its text: null
// when the library takes it, else its refusal, { status, error }.
export function set_setting(m, s, name, text) {
    return with_bytes(m, text_bytes(name), (n) => with_bytes(m, text_bytes(text), (t) => {
        const status = m._lq2x_web_settings_set(s, n, t);
        return status === 0 ? null : { status, error: m.UTF8ToString(m._lq2x_web_settings_message(s)) };
    }));
}

// The file the tool writes for `input` with the settings `s`:
// { bytes, warning, extension }, or { status, error } with the library's line.
export function scale_file(m, input, s) {
    return with_bytes(m, input, (p) => {
        const r = m._lq2x_web_scale_file(p, input.length, s);
        if (r === 0) throw new Error(no_memory(m));
        try {
            const message = m.UTF8ToString(m._lq2x_web_file_message(r));
            const status = m._lq2x_web_file_status(r);
            if (status !== 0) return { status, error: message };
            const at = m._lq2x_web_file_bytes(r), size = m._lq2x_web_file_size(r);
            const file = { bytes: m.HEAPU8.slice(at, at + size), warning: message,
                           extension: m.UTF8ToString(m._lq2x_web_file_extension(r)) };
            // Only the page's settings take the lossless way out (lq2x_web_page_settings).
            const refused = m.UTF8ToString(m._lq2x_web_file_refused(r));
            if (refused) file.refused = refused;
            return file;
        } finally {
            m._lq2x_web_file_free(r);
        }
    });
}

// Frames as the library composites them: RGBA, and each frame's delay in
// milliseconds.
export function read_file(m, bytes, scale, scaled) {
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

// A width x height picture of RGBA bytes scaled with the settings `s`
// (lq2x_scale_picture): { width, height, pixels } of RGBA, or { status, error }.
export function scale_pixels(m, rgba, width, height, s) {
    return with_bytes(m, rgba, (p) => {
        const r = m._lq2x_web_scale_pixels(p, width, height, s);
        if (r === 0) throw new Error(no_memory(m));
        try {
            const status = m._lq2x_web_pixels_status(r);
            if (status !== 0) return { status, error: m.UTF8ToString(m._lq2x_web_pixels_message(r)) };
            const w = m._lq2x_web_pixels_width(r), h = m._lq2x_web_pixels_height(r);
            const at = m._lq2x_web_pixels_data(r);
            return { width: w, height: h, pixels: m.HEAPU8.slice(at, at + w * h * 4) };
        } finally {
            m._lq2x_web_pixels_free(r);
        }
    });
}
