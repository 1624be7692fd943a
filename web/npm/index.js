// lq2x for JavaScript: the files library and the scaler in WebAssembly, the
// same code the lq2x tool runs, so a file scaled here is the tool's file
// byte for byte. Every option is handed to the library as text under its
// name here (the library's table knows these names), and every refusal is
// the library's line naming the option as this package does.
import create_lq2x from './lq2x_module.js';
import { scale_file, scale_pixels, set_setting, with_settings } from './module_calls.js';

// The kinds of setting a call takes (LQ2X_SETTINGS_SCALING, LQ2X_SETTINGS_FILE).
const SCALING = 1, FILE = 2;

let loaded = null;
// The module, compiled once, on the first call (its bytes are in the script).
const lq2x = () => (loaded ??= create_lq2x());

// A refusal: the library's line, and its status number.
function failure({ status, error }) {
    const e = new Error(error);
    e.status = status;
    return e;
}

// An option's value as the library reads it: a word or a number as written,
// true and false as 1 and 0, a pair of numbers as WxH (tile, size) and a
// pair of words as H,V (edge). Whatever else is given goes as its text, for
// the library to refuse.
function text_of(value) {
    if (typeof value === 'boolean') return value ? '1' : '0';
    if (Array.isArray(value))
        return value.map(String).join(value.every((v) => typeof v === 'number') ? 'x' : ',');
    return String(value);
}

// The module's settings for a call, with the options given: `use` runs with
// them, or the first option the library refuses is thrown.
function with_options(m, options, kinds, use) {
    return with_settings(m, m._lq2x_web_script_settings(kinds), (s) => {
        for (const [name, value] of Object.entries(options ?? {})) {
            if (value === undefined) continue;
            const refused = set_setting(m, s, name, text_of(value));
            if (refused) throw failure(refused);
        }
        return use(s);
    });
}

function bytes_of(value, what) {
    if (value instanceof Uint8Array || value instanceof Uint8ClampedArray) return value;
    if (value instanceof ArrayBuffer) return new Uint8Array(value);
    if (ArrayBuffer.isView(value)) return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
    throw new TypeError(`${what} must be a Uint8Array, an ArrayBuffer or a view of one`);
}

export async function scaleFile(bytes, options) {
    const input = bytes_of(bytes, 'scaleFile: the file');
    const m = await lq2x();
    const file = with_options(m, options, SCALING | FILE, (s) => scale_file(m, input, s));
    if (file.error !== undefined) throw failure(file);
    return file;
}

export async function scale(image, options) {
    const { width, height } = image ?? {};
    for (const [name, side] of [['width', width], ['height', height]])
        if (!Number.isInteger(side) || side < 0 || side > 0x7fffffff)
            throw new TypeError(`scale: the image's ${name} must be a whole number from 0 to 2147483647`);
    const data = bytes_of(image.data, 'scale: the image\'s data');
    if (data.length !== width * height * 4)
        throw new TypeError(`scale: the image's data must be ${width} x ${height} x 4 bytes (RGBA), ` +
                            `not ${data.length}`);
    const m = await lq2x();
    const out = with_options(m, options, SCALING, (s) => scale_pixels(m, data, width, height, s));
    if (out.error !== undefined) throw failure(out);
    return { width: out.width, height: out.height,
             data: new Uint8ClampedArray(out.pixels.buffer, out.pixels.byteOffset, out.pixels.length) };
}

export async function version() {
    const m = await lq2x();
    return m.UTF8ToString(m._lq2x_version_string());
}
