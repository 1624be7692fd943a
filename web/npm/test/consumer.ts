// A program that uses the package's declarations as a TypeScript user
// would; each @ts-expect-error line must be refused by them.
import { scale, scaleFile, version, type FileOptions, type LQ2xError, type ScaledPixels } from 'lq2x';

export async function use(bytes: Uint8Array, image: { width: number; height: number; data: Uint8ClampedArray }) {
    const options: FileOptions = { scale: 4, rotate: 'ccw', edge: ['wrap', 'clamp'], tile: [16, 16], tileMargin: 2,
                                   format: 'gif', gifAlpha: 128, gifColours: 64, gifPalette: 'per-frame',
                                   maxPixels: 1n << 30n };
    const file = await scaleFile(bytes, options);
    const kept: Uint8Array = file.bytes;
    const note: string = file.warning + file.extension;
    const pixels: ScaledPixels = await scale(image, { edgeX: 'transparent', tile: '8x8' });
    const data: Uint8ClampedArray = pixels.data;
    const v: string = await version();
    try {
        await scaleFile(new ArrayBuffer(8));
    } catch (e) {
        const status: number = (e as LQ2xError).status;
        return [kept, note, data, v, status];
    }
    // @ts-expect-error: a scale the declarations do not have
    await scale(image, { scale: 3 });
    // @ts-expect-error: a turn they do not name
    await scaleFile(bytes, { rotate: 'left' });
    // @ts-expect-error: a file's option, which scale() does not take
    await scale(image, { format: 'png' });
    // @ts-expect-error: no such option
    await scaleFile(bytes, { colour: 'red' });
    // @ts-expect-error: pixels need a size
    await scale({ data: new Uint8Array(4) });
    return [];
}
