"""Memory layouts: row-strided arrays are read in place, every other layout is
copied, and the result never depends on the layout; the input is never written."""

import numpy as np
import pytest

import lq2x
from lq2x import _source
from conftest import art, to565


def layouts(contiguous: np.ndarray):
    """The same pixels in other layouts: (name, array, read in place?)."""
    h, w = contiguous.shape[:2]
    big = np.zeros((h + 5, w + 7) + contiguous.shape[2:], contiguous.dtype)
    big[3:3 + h, 2:2 + w] = contiguous
    yield "slice of a bigger array", big[3:3 + h, 2:2 + w], True
    every_other_row = np.zeros((2 * h,) + contiguous.shape[1:], contiguous.dtype)
    every_other_row[::2] = contiguous
    yield "every other row", every_other_row[::2], True
    yield "Fortran order", np.asfortranarray(contiguous), False
    flipped = np.ascontiguousarray(contiguous[::-1])
    yield "rows upside down", flipped[::-1], False
    mirrored = np.ascontiguousarray(contiguous[:, ::-1])
    yield "columns backwards", mirrored[:, ::-1], False
    spaced = np.zeros((h, 2 * w) + contiguous.shape[2:], contiguous.dtype)
    spaced[:, ::2] = contiguous
    yield "every other pixel", spaced[:, ::2], False
    if contiguous.ndim == 3:
        reversed_channels = np.ascontiguousarray(contiguous[..., ::-1])
        yield "channels backwards", reversed_channels[..., ::-1], False
    # A byte offset that leaves 32-bit and 16-bit words unaligned.
    raw = np.zeros(contiguous.nbytes + 1, np.uint8)
    unaligned = raw[1:].view(contiguous.dtype).reshape(contiguous.shape)
    unaligned[...] = contiguous
    yield "unaligned", unaligned, False


def clean(rgba: np.ndarray) -> np.ndarray:
    """Invisible pixels all zero, so that the library reads them in place."""
    out = rgba.copy()
    out[out[..., 3] == 0] = 0
    return out


@pytest.mark.parametrize("kind", ["rgba", "rgb565", "rgb", "grey"])
def test_results_do_not_depend_on_layout(rng, kind):
    pixels = {"rgba": lambda: clean(art(rng, 13, 17, 4)), "rgb565": lambda: to565(art(rng, 13, 17, 3)),
              "rgb": lambda: art(rng, 13, 17, 3), "grey": lambda: art(rng, 13, 17, 1)}[kind]()
    expected = {r: lq2x.scale(pixels, rotate=r) for r in ("none", "ccw", "cw")}
    for name, array, in_place in layouts(pixels):
        before = array.copy()
        words = _source(array)[0]
        if kind in ("rgba", "rgb565"):
            assert np.shares_memory(words, array) == in_place, name
        else:
            assert not np.shares_memory(words, array), name  # RGB and grey are always expanded
        for rotate, want in expected.items():
            assert np.array_equal(lq2x.scale(array, rotate=rotate), want), (name, rotate)
        assert np.array_equal(array, before), name


def test_big_endian_rgb565_words_are_read_as_numbers(rng):
    words = to565(art(rng, 9, 11, 3))
    swapped = words.astype(">u2")
    assert np.array_equal(lq2x.scale(swapped), lq2x.scale(words))


def test_colour_under_alpha_0_changes_nothing_and_is_not_written(rng):
    noisy = art(rng, 15, 20, 4)
    assert (noisy[noisy[..., 3] == 0][:, :3] != 0).any(), "the test needs colour noise under alpha 0"
    before = noisy.copy()
    got = lq2x.scale(noisy, rotate="ccw", scale=4)
    assert np.array_equal(got, lq2x.scale(clean(noisy), rotate="ccw", scale=4))
    assert np.array_equal(noisy, before)
    assert not got[got[..., 3] == 0].any(), "invisible output pixels are all zero"
    # The noise is what makes the copy: a clean array is read in place.
    assert not np.shares_memory(_source(noisy)[0], noisy)
    cleaned = clean(noisy)
    assert np.shares_memory(_source(cleaned)[0], cleaned)
    # The copy of any other layout is cleaned too.
    for name, array, _ in layouts(noisy):
        assert np.array_equal(lq2x.scale(array, rotate="ccw", scale=4), got), name


def test_grey_alpha_zeroes_invisible_grey(rng):
    grey_alpha = art(rng, 12, 14, 2)
    cleaned = grey_alpha.copy()
    cleaned[cleaned[..., 1] == 0] = 0
    assert not np.array_equal(grey_alpha, cleaned)
    assert np.array_equal(lq2x.scale(grey_alpha), lq2x.scale(cleaned))


@pytest.mark.parametrize("shape", [(0, 5, 4), (5, 0, 4), (0, 0), (0, 3, 3)])
def test_empty_images_give_empty_results(shape):
    got = lq2x.scale(np.zeros(shape, np.uint8), rotate="ccw")
    expected_shape = (2 * shape[1], 2 * shape[0]) + shape[2:]
    assert got.shape == expected_shape and got.dtype == np.uint8


def test_results_are_new_contiguous_arrays(rng):
    for channels in (1, 2, 3, 4):
        pixels = art(rng, 6, 5, channels)
        got = lq2x.scale(pixels)
        assert got.flags.c_contiguous and got.flags.writeable
        assert not np.shares_memory(got, pixels)
        assert got.shape[2:] == pixels.shape[2:]
