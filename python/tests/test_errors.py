"""Every refusal: the exception's type and message, and nothing written.
Types are Python's to judge; every value is the library's, in its words with
this package's keywords in them."""

import ctypes

import numpy as np
import pytest

import lq2x
from lq2x import _native

RGBA = np.arange(5 * 6 * 4, dtype=np.uint8).reshape(5, 6, 4)


def library_message(status: int) -> str:
    """lq2x_describe, called here on its own."""
    describe = _native.lib.lq2x_describe
    return ctypes.cast(describe(status), ctypes.c_char_p).value.decode()


@pytest.mark.parametrize("array", [
    np.zeros((4, 4), np.float32), np.zeros((4, 4, 4), np.int8), np.zeros((4, 4), np.int16),
    np.zeros((4, 4), np.uint32), np.zeros((4, 4), bool), np.zeros((4, 4, 4), np.float64),
    [[1, 2], [3, 4]],
])
def test_wrong_dtype_is_a_type_error(array):
    with pytest.raises(TypeError, match="uint8 arrays .* uint16 \\(RGB565\\)"):
        lq2x.scale(array)


@pytest.mark.parametrize("array", [
    np.zeros(5, np.uint8), np.zeros((2, 3, 4, 4), np.uint8), np.zeros((4, 4, 5), np.uint8),
    np.zeros((4, 4, 1), np.uint8), np.zeros(5, np.uint16), np.zeros((4, 4, 3), np.uint16), np.uint8(7),
])
def test_wrong_shape_is_a_value_error(array):
    with pytest.raises(ValueError, match="must be H x W"):
        lq2x.scale(array)


@pytest.mark.parametrize("options, message", [
    ({"rotate": 1}, "rotate must be a string"),
    ({"scale": 2.0}, "scale must be an integer, not float"),
    ({"scale": "2"}, "scale must be an integer, not str"),
    ({"scale": True}, "scale must be an integer, not bool"),
    ({"edge": ("wrap",)}, "edge must be a mode or a \\(horizontal, vertical\\) pair"),
    ({"edge": None}, "pair, not None"),
    ({"edge": ("wrap", 1)}, "edge must be a string"),
    ({"tile": 4}, "tile must be a \\(width, height\\) pair, not 4"),
    ({"tile": "4x4"}, "tile must be a \\(width, height\\) pair"),
    ({"tile": (4.0, 4)}, "tile width must be an integer"),
    ({"tile": (2, 2), "tile_spacing": None}, "tile_spacing must be an integer"),
    ({"threads": 1.5}, "threads must be an integer"),
    ({"rgb565": 1}, "rgb565 must be True or False, not int"),
])
def test_wrong_types_are_pythons(options, message):
    with pytest.raises(TypeError, match=message):
        lq2x.scale(RGBA, **options)


# What the library refuses, as it says it, with this package's names for
# the keywords: the values no C field could hold among them (ctypes would
# wrap 2**32 + 2 to 2), which the library reads from their text.
@pytest.mark.parametrize("options, status, words", [
    ({"rotate": "left"}, 6, "rotate: wants none, ccw or cw, not 'left'"),
    ({"scale": 3}, 6, "scale: wants 2, 4 or 8, not 3"),
    ({"scale": 2**32 + 2}, 6, "scale: wants 2, 4 or 8, not 4294967298"),
    ({"edge": "mirror"}, 6, "edge: wants clamp, wrap or transparent, or two of them as H,V, not 'mirror'"),
    ({"edge": ("wrap", "mirror")}, 6, "edge: wants clamp, wrap or transparent, not 'mirror'"),
    ({"tile": (0, 4)}, 8, "tile: wants cells of WIDTHxHEIGHT, each from 1 to 2147483647 (0x0: none), not '0x4'"),
    ({"tile": (2, 2**31)}, 8, "tile: wants cells of WIDTHxHEIGHT, each from 1 to 2147483647 (0x0: none), "
                              "not '2x2147483648'"),
    ({"tile_margin": 1}, 8, "tile_margin: needs a tile grid (tile)"),
    ({"tile_spacing": 2}, 8, "tile_spacing: needs a tile grid (tile)"),
    ({"tile": (2, 2), "tile_margin": -1}, 8, "tile_margin: wants a whole number from 0 to 2147483647, not -1"),
    ({"tile": (2, 2), "tile_spacing": 2**32}, 8, "tile_spacing: wants a whole number from 0 to 2147483647, "
                                                 "not 4294967296"),
    ({"tile": (2, 2), "tile_margin": 5}, 9, "tile_margin: a margin of 5 leaves no cell in a picture of 6 x 5"),
    ({"threads": 1025}, 6, "threads: wants a whole number from 0 to 1024, not 1025"),
    ({"max_pixels": -1}, 6, "max_pixels: wants a whole number of pixels (0: no limit), not -1"),
    ({"max_pixels": 5 * 6 * 4 - 1}, 10, "image too large: the result, 12 x 10 pixels, is over the limit of 119 "
                                        "pixels (max_pixels raises it)"),
])
def test_library_refusals_carry_its_status_and_words(options, status, words):
    before = RGBA.copy()
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(RGBA, **options)
    assert (caught.value.status, str(caught.value)) == (status, words)
    assert np.array_equal(RGBA, before)


def test_options_made_once_never_pass_for_their_lookalikes():
    # The package keeps options it has made, by their keywords; 4.0 == 4 and
    # True == 1 as keys of a dict, so the kept ones must not answer for them.
    for good, twin in (({"scale": 4}, {"scale": 4.0}), ({"threads": 1}, {"threads": True}),
                       ({"rgb565": False}, {"rgb565": 0}), ({"max_pixels": 0}, {"max_pixels": 0.0})):
        lq2x.scale(RGBA, **good)
        with pytest.raises(TypeError):
            lq2x.scale(RGBA, **twin)


@pytest.mark.parametrize("options, shape", [
    ({"max_pixels": 5 * 6 * 4}, (10, 12, 4)), ({"max_pixels": 0}, (10, 12, 4)), ({"threads": 1024}, (10, 12, 4)),
    ({"tile": (0, 0)}, (10, 12, 4)), ({"tile": (2, 2), "tile_margin": 4}, (10, 12, 4)),
])
def test_what_the_library_takes(options, shape):
    assert lq2x.scale(RGBA, **options).shape == shape


def test_unknown_keyword_is_a_type_error():
    with pytest.raises(TypeError):
        lq2x.scale(RGBA, rotation="ccw")
    with pytest.raises(TypeError):
        lq2x.scale(RGBA, "ccw")  # options are keywords only


def test_numpy_integers_are_integers():
    assert lq2x.scale(RGBA, scale=np.int64(4), threads=np.int32(1)).shape == (20, 24, 4)


@pytest.mark.parametrize("shape, factor, status, words", [
    ((1, 2**30), 2, 1, "image too large: the result, 2147483648 x 2 pixels, is longer on a side than 2147483647"),
    ((2**28, 1), 8, 1, "image too large: the result, 8 x 2147483648 pixels, is longer on a side than 2147483647"),
    ((2**14, 2**13 + 1), 2, 10, "image too large: the result, 16386 x 32768 pixels, is over the limit of "
                                "268435456 pixels (max_pixels raises it)"),
])
def test_too_large_is_refused_before_any_copy(shape, factor, status, words):
    # A broadcast array (not readable in place): the size without the memory,
    # so a copy made before the library's answer would take gigabytes.
    huge = np.broadcast_to(np.zeros((1, 1, 3), np.uint8), shape + (3,))
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(huge, scale=factor, max_pixels=None if status == 10 else 0)
    assert (caught.value.status, str(caught.value)) == (status, words)
    assert isinstance(caught.value, ValueError)


def test_a_side_no_int32_holds_is_a_value_error():
    huge = np.broadcast_to(np.zeros((1, 1), np.uint8), (1, 2**31))
    with pytest.raises(ValueError, match="width must be below 2\\^31 pixels"):
        lq2x.scale(huge)


def test_every_library_status_has_its_message():
    # What lq2x.Error carries for each status the library may return.
    for status in range(1, 21):
        error = lq2x.Error(status)
        assert str(error) == library_message(status) != "unknown error"
        assert error.status == status


def test_the_library_refuses_options_it_cannot_read(monkeypatch):
    # A caller's struct larger than the library's, with a setting the library
    # does not know, is refused by the library itself (LQ2X_ERROR_BAD_OPTIONS).
    class Longer(ctypes.Structure):
        _fields_ = [("known", _native.Options), ("unknown", ctypes.c_int32)]

    real = _native.default_options

    def longer():
        o = Longer(real(), 1)
        o.known.size = ctypes.sizeof(Longer)
        return o.known  # shares the buffer: the unknown field follows it

    monkeypatch.setattr(_native, "default_options", longer)
    with pytest.raises(lq2x.Error, match="options are not valid for this version of the library"):
        lq2x.scale(RGBA)
