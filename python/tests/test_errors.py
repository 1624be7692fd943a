"""Every refusal: the exception's type and message, and nothing written."""

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


@pytest.mark.parametrize("options, error, message", [
    # What the package itself refuses: names it does not know, types, and
    # values no C field can hold (ctypes would wrap them: 2**32 + 2 acting as 2).
    ({"rotate": "left"}, ValueError, "rotate must be one of 'none', 'ccw', 'cw', not 'left'"),
    ({"rotate": 1}, TypeError, "rotate must be a string"),
    ({"scale": 2.0}, TypeError, "scale must be an integer, not float"),
    ({"scale": "2"}, TypeError, "scale must be an integer, not str"),
    ({"scale": True}, TypeError, "scale must be an integer, not bool"),
    ({"scale": 2**32 + 2}, ValueError, "scale must be from -2147483648 to 2147483647 for the library, not 4294967298"),
    ({"edge": "mirror"}, ValueError, "edge must be one of 'clamp', 'wrap', 'transparent', not 'mirror'"),
    ({"edge": ("wrap", "mirror")}, ValueError, "not 'mirror'"),
    ({"edge": ("wrap",)}, TypeError, "edge must be a mode or a \\(horizontal, vertical\\) pair"),
    ({"edge": ("wrap", "wrap", "wrap")}, TypeError, "pair of modes"),
    ({"edge": None}, TypeError, "pair of modes"),
    ({"edge": ("wrap", 1)}, TypeError, "edge must be a string"),
    ({"tile": 4}, TypeError, "tile must be a \\(width, height\\) pair, not 4"),
    ({"tile": (4, 4, 4)}, TypeError, "tile must be a \\(width, height\\) pair"),
    ({"tile": "4x4"}, TypeError, "tile must be a \\(width, height\\) pair"),
    ({"tile": (4.0, 4)}, TypeError, "tile width must be an integer"),
    ({"tile": (2**32 + 2, 2**32 + 2)}, ValueError, "tile width must be from .* not 4294967298"),
    ({"tile": (2, 2**31)}, ValueError, "tile height must be from -2147483648 to 2147483647 .* not 2147483648"),
    ({"tile": (2, 2), "tile_margin": 2**32}, ValueError, "tile_margin must be from .* not 4294967296"),
    ({"tile": (2, 2), "tile_spacing": -(2**31) - 1}, ValueError, "tile_spacing must be from .* not -2147483649"),
    ({"tile": (2, 2), "tile_margin": 0.5}, TypeError, "tile_margin must be an integer"),
    ({"tile": (2, 2), "tile_spacing": None}, TypeError, "tile_spacing must be an integer"),
    ({"threads": 2**31}, ValueError, "threads must be from"),
    ({"threads": 1.5}, TypeError, "threads must be an integer"),
    ({"max_pixels": -1}, ValueError, "max_pixels must be from 0 to 18446744073709551615 for the library, not -1"),
    ({"max_pixels": 2**64}, ValueError, "max_pixels must be from 0 to"),
    ({"rgb565": 1}, TypeError, "rgb565 must be True or False, not int"),
])
def test_wrong_options(options, error, message):
    before = RGBA.copy()
    with pytest.raises(error, match=message):
        lq2x.scale(RGBA, **options)
    assert np.array_equal(RGBA, before)


def test_options_made_once_never_pass_for_their_lookalikes():
    # The package keeps options it has made, by their keywords; 4.0 == 4 and
    # True == 1 as keys of a dict, so the kept ones must not answer for them.
    for good, twin in (({"scale": 4}, {"scale": 4.0}), ({"threads": 1}, {"threads": True}),
                       ({"rgb565": False}, {"rgb565": 0}), ({"max_pixels": 0}, {"max_pixels": 0.0})):
        lq2x.scale(RGBA, **good)
        with pytest.raises(TypeError):
            lq2x.scale(RGBA, **twin)


# What the library refuses, as it says it: Python judges none of these itself.
@pytest.mark.parametrize("options, status", [
    ({"scale": 3}, 6), ({"scale": 1}, 6), ({"scale": 16}, 6),
    ({"tile": (0, 4)}, 8), ({"tile": (4, -1)}, 8), ({"tile_margin": 1}, 8), ({"tile_spacing": 2}, 8),
    ({"tile": (2, 2), "tile_margin": -1}, 8), ({"tile": (2, 2), "tile_spacing": -1}, 8),
    ({"tile": (2, 2), "tile_margin": 5}, 9), ({"tile": (2, 2), "tile_margin": 6}, 9),
    ({"max_pixels": 5 * 6 * 4 - 1}, 10),
])
def test_library_refusals_carry_its_status_and_words(options, status):
    before = RGBA.copy()
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(RGBA, **options)
    assert caught.value.status == status
    assert str(caught.value) == library_message(status)
    assert np.array_equal(RGBA, before)


@pytest.mark.parametrize("options, shape", [
    ({"max_pixels": 5 * 6 * 4}, (10, 12, 4)), ({"max_pixels": 0}, (10, 12, 4)), ({"threads": -1}, (10, 12, 4)),
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


@pytest.mark.parametrize("shape, factor, status", [
    ((1, 2**30), 2, 1), ((2**28, 1), 8, 1), ((1, 2**29), 4, 1), ((2**14, 2**13 + 1), 2, 10),
])
def test_too_large_is_refused_before_any_copy(shape, factor, status):
    # A broadcast array (not readable in place): the size without the memory,
    # so a copy made before the library's answer would take gigabytes.
    huge = np.broadcast_to(np.zeros((1, 1, 3), np.uint8), shape + (3,))
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(huge, scale=factor, max_pixels=None if status == 10 else 0)
    assert caught.value.status == status
    assert str(caught.value) == library_message(status)
    assert isinstance(caught.value, ValueError)


def test_a_side_no_int32_holds_is_a_value_error():
    huge = np.broadcast_to(np.zeros((1, 1), np.uint8), (1, 2**31))
    with pytest.raises(ValueError, match="width must be below 2\\^31 pixels"):
        lq2x.scale(huge)


def test_every_library_status_has_its_message():
    # What lq2x.Error carries for each status the library may return.
    for status in range(1, 16):
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
