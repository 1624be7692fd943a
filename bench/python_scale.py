"""Time lq2x.scale against the bare library call on one 256 x 224 RGBA frame.

    cmake --workflow --preset python
    PYTHONPATH=build/python /usr/bin/python3 bench/python_scale.py

Side by side in one run, interleaved, minimum over rounds (the machine may be
busy): the library call through ctypes on buffers made beforehand (what a
C++ caller pays, plus ctypes' cost of a call, measured on its own with an
empty call and subtracted), and lq2x.scale, which also checks its arguments,
looks for invisible pixels and makes its result array. One thread each.
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
    parser.add_argument("--rounds", type=int, default=40)
    parser.add_argument("--calls", type=int, default=100)
    args = parser.parse_args()

    opaque = frame("opaque")
    src = opaque.view(np.uint32)[:, :, 0]
    dst = np.empty((2 * HEIGHT, 2 * WIDTH), np.uint32)
    options = _native.default_options()
    options.threads = 1
    call, version = _native.lib.lq2x_scale8888, _native.lib.lq2x_version
    src_ptr, dst_ptr, opt = src.ctypes.data, dst.ctypes.data, ctypes.byref(options)

    def bare():
        call(src_ptr, WIDTH, HEIGHT, 4 * WIDTH, dst_ptr, 2 * WIDTH, 2 * HEIGHT, 8 * WIDTH, opt)

    cases = {"library call through ctypes": bare, "empty ctypes call": version}
    for kind in ("opaque", "with transparent pixels", "colour under alpha 0"):
        pixels = frame(kind)
        cases[f"lq2x.scale, {kind}"] = lambda pixels=pixels: lq2x.scale(pixels, threads=1)
    assert np.array_equal(lq2x.scale(opaque, threads=1).view(np.uint32)[:, :, 0], (bare(), dst)[1])

    best = {name: float("inf") for name in cases}
    for _ in range(args.rounds):
        for name, body in cases.items():
            best[name] = min(best[name], per_call(body, args.calls))

    library = best["library call through ctypes"] - best["empty ctypes call"]
    print(f"{WIDTH} x {HEIGHT} RGBA, one thread, minimum of {args.rounds} rounds of {args.calls} calls")
    for name, seconds in best.items():
        print(f"  {name:40} {seconds * 1e6:8.1f} us")
    print(f"  {'library call alone (C++ caller)':40} {library * 1e6:8.1f} us")
    for kind in ("opaque", "with transparent pixels", "colour under alpha 0"):
        scale = best[f"lq2x.scale, {kind}"]
        print(f"lq2x.scale, {kind}: {scale / library:.3f} x the library call; "
              f"{(scale - library) * 1e6:.1f} us more per call")


if __name__ == "__main__":
    main()
