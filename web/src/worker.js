// Scales pictures off the page's thread: decodes a PNG, scales it with the
// library in WebAssembly pass by pass, and encodes the result. Each message
// is one picture; the reply carries the PNG and the times taken.
import create_lq2x from 'lq2x-module';
import { decode, encode } from './png.js';
import { plan_passes, scaled_size } from './passes.js';

const lq2x = create_lq2x();
const MAX_PIXELS = 2 ** 28;
// The first word from a worker that has started: the library's version.
lq2x.then((m) => postMessage({ version: m.UTF8ToString(m._lq2x_version_string()) }));

// The library's buffers live in the module's memory; this side takes and
// frees them, and copies the result out before freeing it.
function scale_pixels(m, width, height, rgba, passes) {
    const take = (bytes) => {
        const p = m._malloc(bytes);
        if (p === 0) throw new Error('not enough memory for a picture this large');
        return p;
    };
    let src = take(rgba.length);
    m.HEAPU8.set(rgba, src);
    try {
        for (const p of passes) {
            const [w, h] = scaled_size(width, height, p.orientation);
            const dst = take(w * h * 4);
            const status = m._lq2x_web_scale(src, width, height, dst, w, h, p.orientation, p.edge_x, p.edge_y,
                                             p.tile_width, p.tile_height, p.tile_margin, p.tile_spacing);
            m._free(src);
            src = dst;
            if (status !== 0) throw new Error(m.UTF8ToString(m._lq2x_web_describe(status)));
            [width, height] = [w, h];
        }
        return { width, height, rgba: m.HEAPU8.slice(src, src + width * height * 4) };
    } finally {
        m._free(src);
    }
}

const has_alpha = (kind) => kind === 'grey_alpha' || kind === 'rgba';

function opaque(rgba) {
    for (let i = 3; i < rgba.length; i += 4) if (rgba[i] !== 255) return false;
    return true;
}

onmessage = async ({ data: { id, bytes, settings } }) => {
    try {
        const m = await lq2x;
        const t0 = performance.now();
        const file = new Uint8Array(bytes);
        // The tool's default limit on output pixels, checked from the header
        // before any pixel memory is taken.
        if (file.length >= 24) {
            const header = new DataView(bytes);
            const width = header.getUint32(16), height = header.getUint32(20);
            if (width * height * settings.factor ** 2 > MAX_PIXELS)
                throw new Error(`${width} × ${height} scaled ${settings.factor}× is more than ${MAX_PIXELS.toLocaleString('en')} pixels`);
        }
        const picture = decode(file);
        // Pixels nobody can see are equal whatever their colour bits.
        if (has_alpha(picture.kind)) {
            const words = new Uint32Array(picture.rgba.buffer, picture.rgba.byteOffset, picture.rgba.length / 4);
            for (let i = 0; i < words.length; ++i) if (picture.rgba[4 * i + 3] === 0) words[i] = 0;
        }
        const t1 = performance.now();
        // As the tool says of a grid whose margin leaves no room for a cell.
        if (settings.tile_width > 0 && (settings.tile_margin > picture.width || settings.tile_margin > picture.height))
            throw new Error(`the tile margin (${settings.tile_margin}) is larger than the picture (${picture.width} × ${picture.height})`);
        const out = scale_pixels(m, picture.width, picture.height, picture.rgba, plan_passes(settings));
        const t2 = performance.now();
        // Transparent edges can give an opaque picture alpha: keep it then.
        let kind = picture.kind;
        if (!has_alpha(kind) && !opaque(out.rgba))
            kind = kind === 'grey' ? 'grey_alpha' : 'rgba';
        const png = encode({ ...out, kind });
        const t3 = performance.now();
        postMessage(
            { id, width: out.width, height: out.height, source_width: picture.width, source_height: picture.height,
              png, times: { decode: t1 - t0, scale: t2 - t1, encode: t3 - t2 } },
            [png.buffer]);
    } catch (e) {
        postMessage({ id, error: String(e && e.message ? e.message : e) });
    }
};
