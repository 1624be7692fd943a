"""lq2x.scale (the picture entry) against the library's frame functions,
lq2x_scale*_rows in bands of rows, on plain byte buffers, one 2x pass: the
test does the RGB565 and alpha work itself. Passes beyond the first are the
cross-door test's (test_doors.py), against the tool."""

import ctypes

import numpy as np
import pytest

import lq2x
from lq2x import _native
from conftest import art, to565

TURNS = {"none": 0, "ccw": 1, "cw": 2}
FRAME = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_ssize_t]  # pixels, width, height, pitch
for _name in ("lq2x_scale565_rows", "lq2x_scale8888_rows"):
    getattr(_native.lib, _name).argtypes = FRAME + FRAME + [ctypes.c_int32, ctypes.c_int32,
                                                            ctypes.POINTER(_native.Options)]
    getattr(_native.lib, _name).restype = ctypes.c_int


def by_bands(pixels: np.ndarray, turn: str, bands: int) -> np.ndarray:
    """One 2x pass through the row-range entry points, on ctypes buffers."""
    wide = pixels.dtype == np.uint32
    h, w = pixels.shape
    size = ctypes.sizeof(ctypes.c_uint32 if wide else ctypes.c_uint16)
    src = ctypes.create_string_buffer(pixels.tobytes(), pixels.nbytes)
    out_w, out_h = (2 * h, 2 * w) if turn != "none" else (2 * w, 2 * h)
    dst = ctypes.create_string_buffer(out_w * out_h * size)
    options = _native.lib.lq2x_default_options()
    options.orientation = TURNS[turn]
    call = _native.lib.lq2x_scale8888_rows if wide else _native.lib.lq2x_scale565_rows
    edges = np.linspace(0, h, bands + 1).astype(int)
    for y0, y1 in zip(edges[:-1], edges[1:]):
        status = call(ctypes.addressof(src), w, h, w * size, ctypes.addressof(dst), out_w, out_h, out_w * size,
                      int(y0), int(y1), ctypes.byref(options))
        assert status == 0
    return np.frombuffer(dst.raw, pixels.dtype).reshape(out_h, out_w)


def rgba_words(rgba: np.ndarray) -> np.ndarray:
    """R, G, B, A bytes as 32-bit words, invisible pixels zero, written out by hand."""
    r, g, b, a = (rgba[..., i].astype(np.uint32) for i in range(4))
    words = r | g << 8 | b << 16 | a << 24  # little-endian memory order
    return np.where(a == 0, 0, words).astype(np.uint32)


def words_rgba(words: np.ndarray) -> np.ndarray:
    return np.stack([(words >> s) & 0xFF for s in (0, 8, 16, 24)], axis=-1).astype(np.uint8)


@pytest.mark.skipif(np.little_endian is False, reason="the hand-written packing is little-endian")
@pytest.mark.parametrize("turn", ["none", "ccw", "cw"])
def test_rgba_equals_row_bands(rng, turn):
    rgba = art(rng, 27, 31, 4)
    expected = words_rgba(by_bands(rgba_words(rgba), turn, bands=3))
    assert np.array_equal(lq2x.scale(rgba, rotate=turn), expected)


@pytest.mark.parametrize("turn", ["none", "ccw", "cw"])
def test_rgb565_equals_row_bands(rng, turn):
    words = to565(art(rng, 33, 20, 3, colours=5))
    assert np.array_equal(lq2x.scale(words, rotate=turn), by_bands(words, turn, bands=4))


@pytest.mark.parametrize("channels", [1, 3])
def test_grey_and_rgb_are_opaque_rgba(rng, channels):
    pixels = art(rng, 16, 21, channels)
    rgb = np.repeat(pixels[..., None], 3, axis=2) if channels == 1 else pixels
    rgba = np.concatenate([rgb, np.full(rgb.shape[:2] + (1,), 255, np.uint8)], axis=2)
    expected = words_rgba(by_bands(rgba_words(rgba), "cw", bands=2))
    got = lq2x.scale(pixels, rotate="cw")
    assert np.array_equal(got, expected[..., 0] if channels == 1 else expected[..., :3])
    if channels == 1:
        assert np.array_equal(expected[..., 0], expected[..., 2]) and (expected[..., 3] == 255).all()
