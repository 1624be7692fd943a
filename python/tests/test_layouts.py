"""Memory layouts: arrays whose pixels lie packed within each row are read
where they lie (whatever their row stride, alignment or alpha), every other
layout is copied once, and the result never depends on the layout; the input
is never written. Copies are seen from outside, in what numpy allocates."""

import tracemalloc

import numpy as np
import pytest

import lq2x
from conftest import art, to565


def scale_and_copied_bytes(array: np.ndarray, **options):
    """lq2x.scale's result, and the bytes numpy held at the call's peak beyond it."""
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        result = lq2x.scale(array, **options)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    return result, peak - before - result.nbytes


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
    yield "unaligned", unaligned, True


def clean(rgba: np.ndarray) -> np.ndarray:
    """Invisible pixels all zero, so that the library reads them in place."""
    out = rgba.copy()
    out[out[..., 3] == 0] = 0
    return out


@pytest.mark.parametrize("kind", ["rgba", "rgb565", "rgb", "grey", "grey_alpha"])
def test_results_do_not_depend_on_layout(rng, kind):
    pixels = {"rgba": lambda: art(rng, 101, 131, 4), "rgb565": lambda: to565(art(rng, 101, 131, 3)),
              "rgb": lambda: art(rng, 101, 131, 3), "grey": lambda: art(rng, 101, 131, 1),
              "grey_alpha": lambda: art(rng, 101, 131, 2)}[kind]()
    expected = {r: lq2x.scale(pixels, rotate=r) for r in ("none", "ccw", "cw")}
    for name, array, in_place in layouts(pixels):
        before = array.copy()
        for rotate, want in expected.items():
            got, copied = scale_and_copied_bytes(array, rotate=rotate)
            assert np.array_equal(got, want), (name, rotate)
            assert (copied < pixels.nbytes // 2) == in_place, (name, copied, pixels.nbytes)
        assert np.array_equal(array, before), name


def test_big_endian_rgb565_words_are_read_as_numbers(rng):
    words = to565(art(rng, 9, 11, 3))
    swapped = words.astype(">u2")
    assert np.array_equal(lq2x.scale(swapped), lq2x.scale(words))


def test_colour_under_alpha_0_changes_nothing_and_is_not_written(rng):
    noisy = art(rng, 45, 60, 4)
    assert (noisy[noisy[..., 3] == 0][:, :3] != 0).any(), "the test needs colour noise under alpha 0"
    before = noisy.copy()
    got = lq2x.scale(noisy, rotate="ccw", scale=4)
    assert np.array_equal(got, lq2x.scale(clean(noisy), rotate="ccw", scale=4))
    assert np.array_equal(noisy, before)
    assert not got[got[..., 3] == 0].any(), "invisible output pixels are all zero"
    # Read where it lies all the same: the library hides the colour as it reads.
    assert scale_and_copied_bytes(noisy)[1] < noisy.nbytes // 2
    # A copy of any other layout keeps the noise, and the result is the same.
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
