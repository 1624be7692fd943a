"""Time lq2x.scale against the bare library call on one 256 x 224 RGBA frame.

    pip install --no-build-isolation .      # in a virtual environment, or with --break-system-packages
    python3 bench/python_scale.py

Three frames: opaque; with transparent pixels, all zero; with colour bits
under alpha 0. Side by side in one run, interleaved, minimum over rounds (the
machine may be busy): the frame function lq2x_scale8888 through ctypes on
buffers made beforehand, given the frame with its invisible pixels zero (what
a C++ caller with clean pixels pays, plus ctypes' cost of a call, measured on
its own with an empty call and subtracted), and lq2x.scale, which checks its
arguments, asks the library for the result's size, makes the result array and
calls the picture entry (which finds and hides the colour under alpha 0
itself). Between them, the picture entry alone (lq2x_scale_picture into a
result made beforehand, less an empty call): what the library's whole-picture
path costs, so that the package's own share is the difference. One thread each.
"""

import argparse
import ctypes
import time

import numpy as np

import lq2x
from lq2x import _native

WIDTH, HEIGHT = 256, 224


def frame(kind: str) -> np.ndarray:
    """Pixel art: runs of a few colours; `kind` says what its alpha holds."""
    rng = np.random.default_rng(1)
    palette = rng.integers(0, 256, (6, 4), dtype=np.uint8)
    palette[:, 3] = 255
    if kind != "opaque":
        palette[0] = 0  # transparent, all zero
    index = np.repeat(np.repeat(rng.integers(0, 6, (HEIGHT // 4, WIDTH // 4)), 4, 0), 4, 1)
    pixels = palette[index]
    if kind == "colour under alpha 0":
        pixels[index == 0, 0] = 9
    return pixels


def per_call(body, calls: int) -> float:
    start = time.perf_counter()
    for _ in range(calls):
        body()
    return (time.perf_counter() - start) / calls


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=300)
    parser.add_argument("--calls", type=int, default=10)
    args = parser.parse_args()

    options = _native.default_options()
    options.threads = 1
    opt, call = ctypes.byref(options), _native.lib.lq2x_scale8888
    frame_args = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_ssize_t]
    call.argtypes = frame_args + frame_args + [ctypes.POINTER(_native.Options)]
    call.restype = ctypes.c_int
    dst = np.empty((2 * HEIGHT, 2 * WIDTH), np.uint32)
    kinds = ("opaque", "with transparent pixels", "colour under alpha 0")
    cases = {"empty ctypes call": _native.lib.lq2x_version}
    keep = []  # the bare calls hold addresses only
    for kind in kinds:
        pixels = frame(kind)
        # The library's own call gets what a C++ caller would pass: invisible pixels zero.
        clean = pixels.view(np.uint32)[:, :, 0].copy()
        clean[clean < 0x01000000] = 0
        keep.append(clean)

        def bare(src=clean.ctypes.data, dst=dst.ctypes.data):
            call(src, WIDTH, HEIGHT, 4 * WIDTH, dst, 2 * WIDTH, 2 * HEIGHT, 8 * WIDTH, opt)

        bare()
        assert np.array_equal(lq2x.scale(pixels, threads=1).view(np.uint32)[:, :, 0], dst)
        src = _native.Picture(pixels.ctypes.data, WIDTH, HEIGHT, 4 * WIDTH, _native.LAYOUT_RGBA)
        out = _native.Picture(dst.ctypes.data, 2 * WIDTH, 2 * HEIGHT, 8 * WIDTH, _native.LAYOUT_RGBA)
        keep.append(pixels)

        def picture(src=src, out=out):
            _native.lib.lq2x_scale_picture(src, out, options)

        cases[f"library call, {kind}"] = bare
        cases[f"picture entry, {kind}"] = picture
        cases[f"lq2x.scale, {kind}"] = lambda pixels=pixels: lq2x.scale(pixels, threads=1)

    best = {name: float("inf") for name in cases}
    for _ in range(args.rounds):
        for name, body in cases.items():
            best[name] = min(best[name], per_call(body, args.calls))

    print(f"{WIDTH} x {HEIGHT} RGBA, one thread, minimum of {args.rounds} rounds of {args.calls} calls")
    for name, seconds in best.items():
        print(f"  {name:45} {seconds * 1e6:8.1f} us")
    for kind in kinds:
        # What a C++ caller pays: the call less ctypes' own cost of a call.
        library = best[f"library call, {kind}"] - best["empty ctypes call"]
        entry = best[f"picture entry, {kind}"] - best["empty ctypes call"]
        scale = best[f"lq2x.scale, {kind}"]
        print(f"{kind}: library {library * 1e6:.1f} us, picture entry {entry * 1e6:.1f} us, lq2x.scale "
              f"{scale * 1e6:.1f} us: {scale / library:.3f} x the library, {(scale - entry) * 1e6:.1f} us "
              f"more than the picture entry")


if __name__ == "__main__":
    main()
