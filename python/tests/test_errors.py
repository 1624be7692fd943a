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
    ({"rotate": "left"}, ValueError, "rotate must be one of 'none', 'ccw', 'cw', not 'left'"),
    ({"rotate": 1}, TypeError, "rotate must be a string"),
    ({"scale": 3}, ValueError, "scale must be 2, 4 or 8, not 3"),
    ({"scale": 1}, ValueError, "scale must be 2, 4 or 8"),
    ({"scale": 2.0}, TypeError, "scale must be an integer, not float"),
    ({"scale": "2"}, TypeError, "scale must be an integer, not str"),
    ({"scale": True}, TypeError, "scale must be an integer, not bool"),
    ({"edge": "mirror"}, ValueError, "edge must be one of 'clamp', 'wrap', 'transparent', not 'mirror'"),
    ({"edge": ("wrap", "mirror")}, ValueError, "not 'mirror'"),
    ({"edge": ("wrap",)}, TypeError, "edge must be a mode or a \\(horizontal, vertical\\) pair"),
    ({"edge": ("wrap", "wrap", "wrap")}, TypeError, "pair of modes"),
    ({"edge": None}, TypeError, "pair of modes"),
    ({"edge": ("wrap", 1)}, TypeError, "edge must be a string"),
    ({"tile": (0, 4)}, ValueError, "tile cells must be at least 1 x 1 pixels, not 0 x 4"),
    ({"tile": (4, -1)}, ValueError, "at least 1 x 1 pixels, not 4 x -1"),
    ({"tile": 4}, TypeError, "tile must be a \\(width, height\\) pair, not 4"),
    ({"tile": (4, 4, 4)}, TypeError, "tile must be a \\(width, height\\) pair"),
    ({"tile": "4x4"}, TypeError, "tile must be a \\(width, height\\) pair"),
    ({"tile": (4.0, 4)}, TypeError, "tile width must be an integer"),
    ({"tile_margin": 1}, ValueError, "tile_margin and tile_spacing need a tile grid"),
    ({"tile_spacing": 2}, ValueError, "need a tile grid"),
    ({"tile": (2, 2), "tile_margin": 0.5}, TypeError, "tile_margin must be an integer"),
    ({"tile": (2, 2), "tile_spacing": None}, TypeError, "tile_spacing must be an integer"),
    ({"threads": -1}, ValueError, "threads must be 0 \\(one per hardware thread\\) or more, not -1"),
    ({"threads": 1.5}, TypeError, "threads must be an integer"),
])
def test_wrong_options(options, error, message):
    before = RGBA.copy()
    with pytest.raises(error, match=message):
        lq2x.scale(RGBA, **options)
    assert np.array_equal(RGBA, before)


def test_unknown_keyword_is_a_type_error():
    with pytest.raises(TypeError):
        lq2x.scale(RGBA, rotation="ccw")
    with pytest.raises(TypeError):
        lq2x.scale(RGBA, "ccw")  # options are keywords only


def test_numpy_integers_are_integers():
    assert lq2x.scale(RGBA, scale=np.int64(4), threads=np.int32(1)).shape == (20, 24, 4)


@pytest.mark.parametrize("shape, factor", [((1, 2**30), 2), ((2**28, 1), 8), ((1, 2**29), 4)])
def test_too_large_is_the_library_bad_size(shape, factor):
    # A broadcast array: the size without the memory.
    huge = np.broadcast_to(np.zeros((1, 1), np.uint16), shape)
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(huge, scale=factor)
    assert caught.value.status == 1
    assert str(caught.value) == library_message(1) == "image size is negative or too large"
    assert isinstance(caught.value, ValueError)


def test_every_library_status_has_its_message():
    # What lq2x.Error carries for each status the library may return.
    for status in range(1, 9):
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
