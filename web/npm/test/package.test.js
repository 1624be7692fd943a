// The npm package as a user installs it (test.sh installs the tarball into a
// fresh folder and runs this file there): under Node.js, each file it
// scales is the native tool's file byte for byte, with the tool's warning;
// each refusal is the tool's line and the library's status; an option's
// mistake names the package's option; and pixels scale to the pixels of
// the tool's PNG. The declarations type-check a small consumer.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';

import { scale, scaleFile, version } from 'lq2x';

const PROJECT = process.env.LQ2X_PROJECT;
const TOOL = process.env.LQ2X_TOOL;
const INPUTS = process.env.LQ2X_INPUTS; // web/test/make_inputs.py's, and docs/sample.png
const SCRATCH = process.env.LQ2X_SCRATCH;
const TIMEOUT = { timeout: 60_000 };
for (const [name, value] of Object.entries({ PROJECT, TOOL, INPUTS, SCRATCH }))
    assert.ok(value, `LQ2X_${name} is not set: run web/npm/test.sh`);

// The library's status numbers, by name, from its header.
const STATUS = Object.fromEntries(
    [...fs.readFileSync(path.join(PROJECT, 'include/lq2x/lq2x.h'), 'utf8').matchAll(/\bLQ2X_(\w+) = (\d+)/g)]
        .map(([, name, n]) => [name, Number(n)]));
// A PNG decoder that is not this project's (the page's fast-png).
const { decode, convertIndexedToRgb } =
    await import(pathToFileURL(createRequire(path.join(PROJECT, 'web/package.json')).resolve('fast-png')));
// The tool's names for the settings, and the package's, which the
// library's words use instead.
const NAMES = [['--gif-alpha', 'gifAlpha'], ['--gif-colours', 'gifColours'], ['--gif-palette', 'gifPalette'],
               ['--max-pixels', 'maxPixels'], ['--tile-margin', 'tileMargin'], ['--tile-spacing', 'tileSpacing'],
               ['--png-level', 'pngLevel'], ['--scale', 'scale'], ['--rotate', 'rotate'], ['--edge', 'edge'],
               ['--tile', 'tile'], ['--format', 'format'], ['--frame', 'frame'], ['--size', 'size']];
const in_package_words = (line) => NAMES.reduce((l, [tool, own]) => l.replaceAll(tool, own), line);

const input = (name) => path.join(INPUTS, name);
let made = 0;
// The tool on one input: its exit status, its lines on standard error
// without its "lq2x: ", the input's name and "warning: ", with the settings
// named as the package names them, and its output's bytes.
function tool(args, name, ext) {
    const out = path.join(SCRATCH, `tool-${made++}.${ext}`);
    const r = spawnSync(TOOL, [...args, input(name), out], { encoding: 'utf8', timeout: 60_000 });
    const lines = r.stderr.split('\n').filter(Boolean).map((l) => in_package_words(
        l.replace(/^lq2x: /, '').replace(`${input(name)}: `, '').replace(/^warning: /, '')));
    return { status: r.status, lines, bytes: r.status === 0 ? fs.readFileSync(out) : null };
}

test('each file is the tool\'s file, byte for byte, with its warning', TIMEOUT, async () => {
    // input, the package's options, the tool's, and the format written
    const cases = [
        ['sample.png', {}, [], 'png'],
        ['sample.png', { rotate: 'ccw' }, ['--rotate', 'ccw'], 'png'],
        ['sample.png', { scale: 4, format: 'webp' }, ['--scale', '4', '--format', 'webp'], 'webp'],
        ['flat.gif', {}, [], 'gif'],
        ['walk.gif', { gifAlpha: 128, gifColours: 64, gifPalette: 'per-frame' },
         ['--gif-alpha', '128', '--gif-colours', '64', '--gif-palette', 'per-frame'], 'gif'],
        ['walk.gif', { frame: 2, format: 'png', pngLevel: 9 }, ['--frame', '2', '--format', 'png', '--png-level', '9'],
         'png'],
        ['walk.png', { scale: 4, rotate: 'cw' }, ['--scale', '4', '--rotate', 'cw'], 'png'],
        ['flat-odd.png', { format: 'gif' }, ['--format', 'gif'], 'gif'], // delays a GIF cannot hold: a warning
        ['walk.webp', { edge: 'wrap' }, ['--edge', 'wrap'], 'webp'],
        ['lossy.webp', { format: 'png', maxPixels: 1 << 20 }, ['--format', 'png', '--max-pixels', '1048576'], 'png'],
        ['sprite.ppm', { tile: [16, 16], tileMargin: 4, tileSpacing: 2 },
         ['--tile', '16x16', '--tile-margin', '4', '--tile-spacing', '2'], 'ppm'],
        ['sprite.pgm', { edge: ['wrap', 'transparent'], format: 'pam' }, ['--edge', 'wrap,transparent', '--format', 'pam'],
         'pam'],
        ['sprite.pam', { scale: 8, edgeX: 'transparent', edgeY: 'wrap' }, ['--scale', '8', '--edge', 'transparent,wrap'],
         'pam'],
        ['sprite.pam', { rgb565: true, format: 'ppm' }, ['--rgb565', '--format', 'ppm'], 'ppm'],
    ];
    let warned = 0;
    for (const [name, options, args, ext] of cases) {
        const what = `${name} ${args.join(' ')}`;
        const got = await scaleFile(fs.readFileSync(input(name)), options);
        const want = tool(args, name, ext);
        assert.equal(want.status, 0, `the tool on ${what}: ${want.lines}`);
        assert.equal(got.extension, ext, what);
        assert.ok(Buffer.from(got.bytes).equals(want.bytes),
                  `${what}: ${got.bytes.length} bytes against the tool's ${want.bytes.length}`);
        assert.deepEqual(got.warning ? [got.warning] : [], want.lines, `${what}: the warning`);
        warned += got.warning ? 1 : 0;
    }
    assert.ok(warned >= 2, 'the cases that the tool warns of were warned of');
});

test('a refusal is the tool\'s line, with the library\'s status', TIMEOUT, async () => {
    const sample = fs.readFileSync(input('sample.png'));
    fs.writeFileSync(input('notes.png'), 'not a picture at all\n');
    fs.writeFileSync(input('half.png'), sample.subarray(0, sample.length >> 1));
    // input, the package's options, the tool's, the format, the status
    const cases = [
        ['notes.png', {}, [], 'png', 'ERROR_BAD_FILE'],
        ['half.png', {}, [], 'png', 'ERROR_BAD_FILE'],
        ['walk.gif', {}, [], 'gif', 'ERROR_CANNOT_WRITE'], // blends a GIF cannot hold, and no fitting asked for
        ['walk.gif', { frame: 6 }, ['--frame', '6'], 'gif', 'ERROR_BAD_OPTIONS'], // six frames: 0 to 5
        ['sprite.ppm', { size: '4x4' }, ['--size', '4x4'], 'ppm', 'ERROR_BAD_FILE'], // raw input of other bytes
    ];
    for (const [name, options, args, ext, status] of cases) {
        const want = tool(args, name, ext);
        assert.equal(want.status, 1, `the tool fails on ${name} for the input alone`);
        await assert.rejects(scaleFile(fs.readFileSync(input(name)), options), (e) => {
            assert.ok(e instanceof Error);
            assert.deepEqual([e.message], want.lines, name);
            assert.equal(e.status, STATUS[status], `${name}: ${e.message}`);
            return true;
        });
    }
});

test('an option\'s mistake is the library\'s words, naming the package\'s option', TIMEOUT, async () => {
    const sprite = fs.readFileSync(input('sprite.pam'));
    // the package's options, the tool's, the package's name for the setting at fault, the status
    const cases = [
        [{ scale: 3 }, ['--scale', '3'], 'scale', 'ERROR_BAD_OPTIONS'],
        [{ scale: '4.0' }, ['--scale', '4.0'], 'scale', 'ERROR_BAD_OPTIONS'],
        [{ rotate: 'left' }, ['--rotate', 'left'], 'rotate', 'ERROR_BAD_OPTIONS'],
        [{ edge: ['wrap', 'mirror'] }, ['--edge', 'wrap,mirror'], 'edge', 'ERROR_BAD_OPTIONS'],
        [{ tile: [0, 4] }, ['--tile', '0x4'], 'tile', 'ERROR_BAD_GRID'],
        [{ tileSpacing: -1 }, ['--tile-spacing', '-1'], 'tileSpacing', 'ERROR_BAD_GRID'],
        [{ tile: '16x16', tileMargin: 48 }, ['--tile', '16x16', '--tile-margin', '48'], 'tileMargin', 'ERROR_NO_CELL'],
        [{ maxPixels: 100 }, ['--max-pixels', '100'], 'maxPixels', 'ERROR_TOO_LARGE'],
        [{ format: 'jpeg' }, ['--format', 'jpeg'], 'format', 'ERROR_BAD_OPTIONS'],
        [{ gifColours: 1 }, ['--gif-colours', '1'], 'gifColours', 'ERROR_BAD_OPTIONS'],
        [{ gifPalette: 'own' }, ['--gif-palette', 'own'], 'gifPalette', 'ERROR_BAD_OPTIONS'],
        [{ pngLevel: 13 }, ['--png-level', '13'], 'pngLevel', 'ERROR_BAD_OPTIONS'],
    ];
    for (const [options, args, name, status] of cases) {
        const want = tool(args, 'sprite.pam', 'pam');
        assert.notEqual(want.status, 0, args.join(' '));
        await assert.rejects(scaleFile(sprite, options), (e) => {
            assert.match(e.message, new RegExp(`(^|\\()${name}[: ]`), 'the words name the package\'s option');
            assert.equal(e.message, want.lines.at(-1));
            assert.equal(e.status, STATUS[status], e.message);
            return true;
        });
    }
    // The tool's --rgb565 is a flag, with no value to refuse.
    await assert.rejects(scaleFile(sprite, { rgb565: 'yes' }),
                         { status: STATUS.ERROR_BAD_OPTIONS, message: "rgb565: wants 0 or 1, not 'yes'" });
    // A name the package has none of: refused, the names it has listed;
    // scale() takes no file's options.
    const listed = 'rotate, edge, edgeX, edgeY, tile, tileMargin, tileSpacing, scale, rgb565';
    await assert.rejects(scaleFile(sprite, { colour: 'red' }),
                         { status: STATUS.ERROR_BAD_OPTIONS, message: `no setting named 'colour' (${listed}, maxPixels, ` +
                           'format, frame, pngLevel, size, gifAlpha, gifColours, gifPalette, maxInputBytes or maxFrames)' });
    const pixels = { width: 1, height: 1, data: new Uint8Array(4) };
    await assert.rejects(scale(pixels, { format: 'png' }),
                         { status: STATUS.ERROR_BAD_OPTIONS, message: `no setting named 'format' (${listed} or maxPixels)` });
    await assert.rejects(scale(pixels, { threads: 2 }), /^Error: no setting named 'threads'/);
});

// A PAM's RGBA pixels.
function pam_pixels(bytes) {
    const end = bytes.indexOf('ENDHDR\n') + 'ENDHDR\n'.length;
    const header = bytes.subarray(0, end).toString();
    const [width, height] = ['WIDTH', 'HEIGHT'].map((k) => Number(header.match(new RegExp(`${k} (\\d+)`))[1]));
    return { width, height, data: new Uint8Array(bytes.subarray(end)) };
}

// A decoded PNG's pixels as RGBA: palette, grey (and alpha) or colour (and
// alpha), 8 bits a sample, as the tool writes them for 8-bit pixels.
function png_rgba(bytes) {
    const png = decode(bytes);
    const count = png.width * png.height;
    const data = png.palette ? convertIndexedToRgb(png) : png.data;
    const channels = data.length / count;
    assert.ok(png.palette || png.depth === 8, `a PNG of ${png.depth}-bit samples`);
    const out = new Uint8ClampedArray(count * 4);
    for (let i = 0; i < count; ++i) {
        const p = data.subarray(channels * i, channels * i + channels);
        const [r, g, b] = channels < 3 ? [p[0], p[0], p[0]] : p;
        out.set([r, g, b, channels % 2 === 0 ? p[channels - 1] : 255], 4 * i);
    }
    return { width: png.width, height: png.height, data: out };
}

// Pixels that are the same, or the first difference.
function assert_same_pixels(got, want, what) {
    assert.deepEqual([got.width, got.height], [want.width, want.height], `${what}: the size`);
    const at = got.data.findIndex((v, i) => v !== want.data[i]);
    assert.equal(at, -1, `${what}: pixel ${at >> 2} is ${got.data.subarray(at & ~3, (at & ~3) + 4)}, ` +
                         `the tool's ${want.data.subarray(at & ~3, (at & ~3) + 4)}`);
}

test('pixels scale to the pixels of the tool\'s PNG of them', TIMEOUT, async () => {
    const sprite = pam_pixels(fs.readFileSync(input('sprite.pam')));
    assert.equal(sprite.data.length, sprite.width * sprite.height * 4);
    const cases = [
        [{}, []],
        [{ scale: 4, rotate: 'ccw' }, ['--scale', '4', '--rotate', 'ccw']],
        [{ edge: 'wrap', tile: '16x16', tileMargin: 8 }, ['--edge', 'wrap', '--tile', '16x16', '--tile-margin', '8']],
        [{ rgb565: true }, ['--rgb565']], // the tool writes RGB: alpha 255 here
    ];
    for (const [options, args] of cases) {
        const want = tool([...args, '--format', 'png'], 'sprite.pam', 'png');
        assert.equal(want.status, 0, want.lines.join('\n'));
        const got = await scale(sprite, options);
        assert.ok(got.data instanceof Uint8ClampedArray);
        assert_same_pixels(got, png_rgba(want.bytes), args.join(' '));
    }
    // An ImageData's own array, and data that does not fit its size.
    const clamped = { ...sprite, data: new Uint8ClampedArray(sprite.data) };
    assert_same_pixels(await scale(clamped), await scale(sprite), 'Uint8ClampedArray');
    await assert.rejects(scale({ width: 2, height: 2, data: new Uint8Array(15) }), TypeError);
    await assert.rejects(scale({ width: 1.5, height: 2, data: new Uint8Array(12) }), TypeError);
});

// The names a refusal lists: the options the library's table gives the package.
async function names_listed(call) {
    const e = await call().then(() => null, (e) => e);
    return e.message.match(/\((.*)\)$/)[1].split(/, | or /).sort();
}

test('the package is the library\'s version, and its declarations type-check a consumer', TIMEOUT, async () => {
    const own = JSON.parse(fs.readFileSync('node_modules/lq2x/package.json', 'utf8'));
    assert.equal(await version(), own.version);
    // The declarations name the options the library's table has, no more.
    const declared = fs.readFileSync('node_modules/lq2x/index.d.ts', 'utf8');
    const options = (name) => [...declared.match(new RegExp(`interface ${name}\\b[^{]*\\{\\n(.*?)\\n\\}`, 's'))[1]
        .matchAll(/^ {4}(\w+)\?:/gm)].map((m) => m[1]);
    const scaling = options('ScaleOptions').sort();
    assert.deepEqual(scaling, await names_listed(() => scale({ width: 0, height: 0, data: new Uint8Array(0) }, { x: 1 })));
    assert.deepEqual([...scaling, ...options('FileOptions')].sort(),
                     await names_listed(() => scaleFile(new Uint8Array(1), { x: 1 })));
    // consumer.ts uses the declarations and expects errors where they must
    // refuse (@ts-expect-error), so declarations that allowed too much fail.
    const tsc = path.join(PROJECT, 'web/node_modules/typescript/bin/tsc');
    const r = spawnSync(process.execPath, [tsc, '--noEmit', '-p', 'tsconfig.json'], { encoding: 'utf8', timeout: 50_000 });
    assert.equal(r.status, 0, `tsc: ${r.stdout}${r.stderr}`);
});
