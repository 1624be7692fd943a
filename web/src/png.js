// PNG in and out as the command-line tool reads and writes it, without a
// canvas (a canvas premultiplies alpha, which changes semi-transparent
// colours): any PNG becomes 8-bit RGBA, palettes and low-bit grey expanded,
// 16-bit samples scaled to 8 bits by libpng's rounding, a tRNS chunk made
// alpha; what the file carried (grey or colour, alpha or not) is kept as
// `kind` so that writing keeps it too.
import { decode as decode_png, encode as encode_png } from 'fast-png';

// The tool's layouts, and the channels each one writes.
export const CHANNELS = { grey: 1, grey_alpha: 2, rgb: 3, rgba: 4 };

// libpng's 16-to-8 scaling (png_set_scale_16): round(v * 255 / 65535).
const to_8_bits = (v) => {
    const high = v >> 8;
    return high + ((((v & 0xff) - high + 128) * 65535) >> 24);
};

// Sample i of a row of `depth`-bit samples (1, 2, 4, 8 or 16 bits).
function sample_reader(data, depth, row_length) {
    if (depth >= 8) return (y, i) => data[y * row_length + i];
    const per_byte = 8 / depth, mask = (1 << depth) - 1;
    const row_bytes = Math.ceil(row_length / per_byte);
    return (y, i) => {
        const byte = data[y * row_bytes + Math.floor(i / per_byte)];
        return (byte >> (8 - depth * (1 + (i % per_byte)))) & mask;
    };
}

export function decode(bytes) {
    // The decoder takes interlaced rows of packed samples for whole bytes.
    const ihdr = 8 + 8; // signature, then IHDR's length and type
    if (bytes.length > ihdr + 12 && bytes[ihdr + 8] < 8 && bytes[ihdr + 12] === 1)
        throw new Error('interlaced PNGs of fewer than 8 bits a sample cannot be read here (the command-line tool reads them)');
    const png = decode_png(bytes);
    const { width, height, depth, channels } = png;
    const rgba = new Uint8Array(width * height * 4);
    const palette = png.palette;
    const key = png.transparency; // the tRNS colour of a grey or RGB picture
    const colour = palette !== undefined || channels >= 3;
    const alpha = channels === 2 || channels === 4 || key !== undefined || (palette !== undefined && palette.some((c) => c.length === 4));
    if (depth === 8 && palette === undefined && key === undefined && channels >= 3) {
        // The common cases, at a quicker pace.
        if (channels === 4) rgba.set(png.data);
        else
            for (let i = 0, d = png.data; i < width * height; ++i) {
                rgba[4 * i] = d[3 * i];
                rgba[4 * i + 1] = d[3 * i + 1];
                rgba[4 * i + 2] = d[3 * i + 2];
                rgba[4 * i + 3] = 255;
            }
        return { width, height, kind: channels === 4 ? 'rgba' : 'rgb', rgba };
    }
    const read = sample_reader(png.data, depth, width * channels);
    // Low-bit grey stretches to the full range, as libpng expands it.
    const level = depth === 16 ? to_8_bits : depth === 8 ? (v) => v : (v) => (v * 255) / ((1 << depth) - 1);
    for (let y = 0, o = 0; y < height; ++y) {
        for (let x = 0; x < width; ++x, o += 4) {
            if (palette !== undefined) {
                const c = palette[read(y, x)];
                if (c === undefined) throw new Error('a pixel names a colour the palette does not have');
                rgba.set([c[0], c[1], c[2], c.length === 4 ? c[3] : 255], o);
                continue;
            }
            const s = [];
            for (let c = 0; c < channels; ++c) s.push(read(y, x * channels + c));
            const hidden = key !== undefined && (channels === 1 ? s[0] === key[0] : s[0] === key[0] && s[1] === key[1] && s[2] === key[2]);
            const v = s.map(level);
            if (channels <= 2) rgba.set([v[0], v[0], v[0], channels === 2 ? v[1] : hidden ? 0 : 255], o);
            else rgba.set([v[0], v[1], v[2], channels === 4 ? v[3] : hidden ? 0 : 255], o);
        }
    }
    const kind = colour ? (alpha ? 'rgba' : 'rgb') : alpha ? 'grey_alpha' : 'grey';
    return { width, height, kind, rgba };
}

// Writes 8-bit RGBA pixels as a PNG of the given layout: grey takes the
// first channel, and no alpha drops the fourth.
export function encode({ width, height, kind, rgba }) {
    const channels = CHANNELS[kind];
    if (channels === 4) return encode_png({ width, height, data: rgba, depth: 8, channels });
    const data = new Uint8Array(width * height * channels);
    const grey = channels <= 2, alpha = channels % 2 === 0;
    for (let i = 0, o = 0; i < width * height; ++i) {
        data[o++] = rgba[4 * i];
        if (!grey) {
            data[o++] = rgba[4 * i + 1];
            data[o++] = rgba[4 * i + 2];
        }
        if (alpha) data[o++] = rgba[4 * i + 3];
    }
    return encode_png({ width, height, data, depth: 8, channels });
}
