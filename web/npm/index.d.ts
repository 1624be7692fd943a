// lq2x: exact LQ2x pixel-art scaling in WebAssembly. The library reads every
// option from its text and refuses a value it cannot take with an LQ2xError
// in its own words, naming the option as this package does
// ("scale: wants 2, 4 or 8, not 3").

/** A quarter-turn of the result. */
export type Rotate = 'none' | 'ccw' | 'cw';
/** What border pixels see beyond the picture (or each cell of a tile grid). */
export type EdgeMode = 'clamp' | 'wrap' | 'transparent';
/** The formats the library writes, as `format` takes them ('same': the input's own). */
export type Format = 'same' | 'png' | 'gif' | 'webp' | 'ppm' | 'pgm' | 'pam' | 'pnm' | 'raw';
/** WxH as text ('16x16') or as a pair of numbers ([16, 16]). */
export type Size = `${number}x${number}` | readonly [number, number];

/** The options of `scale` and `scaleFile`: the lq2x tool's, by the same names in camelCase. */
export interface ScaleOptions {
    /** 2, 4 or 8 (4 and 8 apply the 2x rule again to its own result); default 2. */
    scale?: 2 | 4 | 8;
    /** Turn the result a quarter-turn; default 'none'. */
    rotate?: Rotate;
    /** The edge mode of both axes, or 'H,V' or [horizontal, vertical]; default 'clamp'. */
    edge?: EdgeMode | `${EdgeMode},${EdgeMode}` | readonly [EdgeMode, EdgeMode];
    /** The edge mode left and right alone. */
    edgeX?: EdgeMode;
    /** The edge mode top and bottom alone. */
    edgeY?: EdgeMode;
    /** Cells of a sprite sheet or tile set, each scaled on its own ('0x0': none). */
    tile?: Size;
    /** Pixels before the first cell, left and top (with `tile`). */
    tileMargin?: number;
    /** Pixels between cells (with `tile`). */
    tileSpacing?: number;
    /** Scale with the 16-bit rule, as the test bench does: low bits and alpha dropped. */
    rgb565?: boolean;
    /** Refuse a result of more pixels; 0: no limit; default 2^28. */
    maxPixels?: number | bigint | string;
}

/** The options of `scaleFile`: those of `scale` and the file's own. */
export interface FileOptions extends ScaleOptions {
    /** The output's format; default the input's own (PNG for a format the library only reads). */
    format?: Format;
    /** One frame of an animation alone, as a still (an icon's image number); -1: every frame. */
    frame?: number;
    /** Deflate level of PNG output, 0 to 12; default 6. */
    pngLevel?: number;
    /** The width and height of raw 24-bit RGB input (raw has no header). */
    size?: Size;
    /** GIF output: alpha below this becomes transparent, the rest opaque (warned as not exact). */
    gifAlpha?: number;
    /** GIF output: frames of more colours reduced to at most this many, 2 to 256 (warned as not exact). */
    gifColours?: number;
    /** With gifColours: one palette for every frame, or one each. */
    gifPalette?: 'shared' | 'per-frame';
    /** The most bytes an input may hold; 0: what the pixel limit allows. */
    maxInputBytes?: number | bigint | string;
    /** The most frames an animation may have; 0: what the pixel limit allows. */
    maxFrames?: number | bigint | string;
}

/** A file as the lq2x tool writes it. */
export interface ScaledFile {
    /** The file's bytes, the tool's for the same input and options. */
    bytes: Uint8Array;
    /** What the result could not keep, as the tool warns of it; '' for nothing. */
    warning: string;
    /** The extension of the format written ('png', 'gif', ...). */
    extension: string;
}

/** RGBA pixels, as an ImageData holds them. */
export interface Pixels {
    width: number;
    height: number;
    data: Uint8Array | Uint8ClampedArray;
}

/** Pixels scaled: RGBA, ready for `new ImageData(data, width, height)`. */
export interface ScaledPixels {
    width: number;
    height: number;
    data: Uint8ClampedArray;
}

/** What the library refuses: its line, and its status number (lq2x_status). */
export interface LQ2xError extends Error {
    status: number;
}

/**
 * Scales a whole image file (PNG and animated PNG, GIF, WebP, PPM, PGM, PAM;
 * BMP, TGA, ICO/CUR and PCX, written as PNG) and gives the file the lq2x tool
 * writes for it. Rejects with an LQ2xError whose message is the tool's reason.
 */
export function scaleFile(bytes: Uint8Array | ArrayBuffer | ArrayBufferView, options?: FileOptions): Promise<ScaledFile>;

/**
 * Scales RGBA pixels (an ImageData, or any { width, height, data }): the
 * pixels the tool writes for a PNG of them. Rejects with a TypeError for data
 * of the wrong length, and an LQ2xError for what the library refuses.
 */
export function scale(image: Pixels, options?: ScaleOptions): Promise<ScaledPixels>;

/** The library's version ("0.4.0"). */
export function version(): Promise<string>;
