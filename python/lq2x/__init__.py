"""Exact LQ2x pixel-art scaling for numpy arrays and Pillow images.

    >>> import numpy as np, lq2x
    >>> sprite = np.zeros((16, 16, 4), np.uint8)      # RGBA
    >>> lq2x.scale(sprite, rotate="ccw").shape
    (32, 32, 4)

`scale` takes and returns numpy arrays, `scale_image` Pillow images. Both hand
the picture to the lq2x library as it lies in memory and take its answer:
the passes, the turn, the grid, what alpha 0 hides and every refusal are the
library's, so results are bit for bit those of the `lq2x` command-line tool
with the same options. The interpreter lock is free while the library works.
"""

import ctypes
import operator
from typing import TYPE_CHECKING, Any, Literal, Optional, Tuple, Union

import numpy as np

from . import _native

if TYPE_CHECKING:
    from PIL import Image

__all__ = ["scale", "scale_image", "Error", "Rotate", "EdgeMode", "Edge", "__version__"]

__version__: str = _native.lib.lq2x_version_string().decode()

Rotate = Literal["none", "ccw", "cw"]
EdgeMode = Literal["clamp", "wrap", "transparent"]
Edge = Union[EdgeMode, Tuple[EdgeMode, EdgeMode]]

_TURNS = {"none": _native.UPRIGHT, "ccw": _native.CCW, "cw": _native.CW}
_EDGES = {"clamp": _native.EDGE_CLAMP, "wrap": _native.EDGE_WRAP, "transparent": _native.EDGE_TRANSPARENT}
# uint8 arrays by their channel count (0: H x W).
_LAYOUTS = {0: _native.LAYOUT_GREY, 2: _native.LAYOUT_GREY_ALPHA, 3: _native.LAYOUT_RGB, 4: _native.LAYOUT_RGBA}
_PITCH_MAX = 2**31 - 1  # what a C ptrdiff_t pitch may be, as lq2x.h says


class Error(ValueError):
    """A call the library refused: `status` is its lq2x_status code, the
    message its own words (lq2x_describe, or the files library's reason)."""

    def __init__(self, status: int, message: Optional[str] = None) -> None:
        super().__init__(message or _native.describe(status))
        self.status = status


def _integer(name: str, value: Any, field: str, struct: type = _native.Options) -> int:
    """`value` as the C field `field` of `struct` holds it: TypeError for a non-integer,
    ValueError for one the field cannot hold (ctypes would wrap it silently)."""
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    value = operator.index(value)
    low, high = _native.FIELD_RANGES[dict(struct._fields_)[field]]
    if not low <= value <= high:
        raise ValueError(f"{name} must be from {low} to {high} for the library, not {value}")
    return value


def _choice(name: str, value: Any, choices: dict) -> int:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a string, not {type(value).__name__}")
    if value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, not {value!r}")
    return choices[value]


def _options(rotate: Any = "none", scale: Any = 2, edge: Any = "clamp", tile: Any = None, tile_margin: Any = 0,
             tile_spacing: Any = 0, threads: Any = 0, rgb565: Any = False,
             max_pixels: Any = None) -> _native.Options:
    """The keyword options as lq2x_options, each value as given: the library judges them."""
    o = _native.default_options()
    o.orientation = _choice("rotate", rotate, _TURNS)
    pair = (edge, edge) if isinstance(edge, str) else edge
    if not isinstance(pair, (tuple, list)) or len(pair) != 2:
        raise TypeError(f"edge must be a mode or a (horizontal, vertical) pair of modes, not {edge!r}")
    o.edge_x, o.edge_y = _choice("edge", pair[0], _EDGES), _choice("edge", pair[1], _EDGES)
    if tile is not None:
        if not isinstance(tile, (tuple, list)) or len(tile) != 2:
            raise TypeError(f"tile must be a (width, height) pair, not {tile!r}")
        o.tile_width = _integer("tile width", tile[0], "tile_width")
        o.tile_height = _integer("tile height", tile[1], "tile_height")
    o.tile_margin = _integer("tile_margin", tile_margin, "tile_margin")
    o.tile_spacing = _integer("tile_spacing", tile_spacing, "tile_spacing")
    o.scale = _integer("scale", scale, "scale")
    o.threads = _integer("threads", threads, "threads")
    if not isinstance(rgb565, (bool, np.bool_)):
        raise TypeError(f"rgb565 must be True or False, not {type(rgb565).__name__}")
    o.rgb565 = int(rgb565)
    if max_pixels is not None:
        o.max_pixels = _integer("max_pixels", max_pixels, "max_pixels")
    return o


def _picture(array: np.ndarray, layout: int, width: int, height: int, pixel_bytes: int) -> _native.Picture:
    """lq2x_picture for an array whose pixels lie packed within each row."""
    pitch = array.strides[0] if height > 1 else width * pixel_bytes  # one row: any stride numpy gives it
    return _native.Picture(array.ctypes.data, width, height, pitch, layout)


def _readable(array: np.ndarray, pixel_bytes: int) -> bool:
    """Whether the library can read the array where it lies: pixels packed
    within a row (channels too), rows any whole number of bytes apart."""
    height, width = array.shape[:2]
    if array.ndim == 3 and array.strides[2] != 1:
        return False
    if width > 1 and array.strides[1] != pixel_bytes:
        return False
    row = width * pixel_bytes
    return height <= 1 or row <= array.strides[0] <= _PITCH_MAX


def _described(array: Any) -> Tuple[np.ndarray, int, int]:
    """The array, its lq2x_layout and the bytes of a pixel; nothing copied yet."""
    array = np.asarray(array)
    if array.dtype.kind == "u" and array.dtype.itemsize == 2:
        if array.ndim != 2:
            raise ValueError(f"a uint16 array holds RGB565 words and must be H x W, not shape {array.shape}")
        return array, _native.LAYOUT_RGB565, 2
    if array.dtype == np.uint8:
        channels = 0 if array.ndim == 2 else array.shape[2] if array.ndim == 3 else -1
        if channels not in _LAYOUTS:
            raise ValueError(f"a uint8 array must be H x W x 4 (RGBA), H x W x 3 (RGB), H x W x 2 (grey and "
                             f"alpha) or H x W (grey), not shape {array.shape}")
        return array, _LAYOUTS[channels], max(channels, 1)
    raise TypeError(f"lq2x.scale takes uint8 arrays (RGBA, RGB, grey and alpha, grey) or uint16 "
                    f"(RGB565), not {array.dtype}")


def _source(array: np.ndarray, pixel_bytes: int) -> np.ndarray:
    """The array itself when the library can read it where it lies, else one
    packed copy (in native byte order: the library reads native words)."""
    if array.dtype.isnative and _readable(array, pixel_bytes):
        return array
    return np.ascontiguousarray(array, dtype=array.dtype.newbyteorder("="))


def _side(name: str, value: int) -> int:
    if value > 2**31 - 1:
        raise ValueError(f"the image's {name} must be below 2^31 pixels for the library, not {value}")
    return value


def scale(array: np.ndarray, *, rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
          tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
          threads: int = 0, rgb565: bool = False, max_pixels: Optional[int] = None) -> np.ndarray:
    """Scale an image array with the LQ2x rule and return a new array.

    Arrays:
        uint8, H x W x 4   RGBA; H x W x 3 RGB; H x W x 2 grey and alpha; H x W grey.
                           Pixels whose alpha is 0 count as equal whatever their
                           colour, as in the lq2x tool. The result has the same
                           channels.
        uint16, H x W      RGB565 words (red in the top 5 bits), scaled with
                           16-bit arithmetic, as the test bench.

    Options (keywords only), as the lq2x tool's of the same names:
        rotate   "none", "ccw" or "cw": turn the result a quarter-turn (the
                 result is then W x H times the scale rather than H x W).
        scale    2, 4 or 8: the 2x rule applied once, twice or three times.
        edge     what border pixels see beyond the image: "clamp" (the nearest
                 pixel), "wrap" (the opposite border, for seamless textures) or
                 "transparent" (the all-zero pixel); or a (horizontal, vertical)
                 pair of these.
        tile     (width, height) of the cells of a sprite sheet or tile set: each
                 cell is scaled on its own, with `edge` at its borders.
        tile_margin, tile_spacing
                 pixels before the first cell (left and top) and between cells;
                 they belong to no cell and are each scaled as a block of themselves.
        threads  bands of rows scaled at once; 0 (the default): one per
                 hardware thread.
        rgb565   scale a uint8 array with the 16-bit rule, as the tool's
                 --rgb565 (low bits and alpha dropped; the result is opaque).
        max_pixels
                 refuse a result of more pixels; 0: no limit; None: the
                 library's default, 2^28 (1 GiB of RGBA).

    Memory: an array whose pixels lie packed within each row (any row
    stride, e.g. a slice of a bigger array) is read where it lies; any other
    layout is copied once first. The input is never written.

    Raises:
        TypeError   a wrong dtype or option type.
        ValueError  a wrong shape, or an option value no C field can hold;
                    lq2x.Error (a ValueError) with the library's status and
                    words when the library refuses (a grid that leaves no
                    cell, a scale other than 2, 4 or 8, a result above
                    max_pixels, ...).
    """
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    array, layout, pixel_bytes = _described(array)
    height, width = _side("height", array.shape[0]), _side("width", array.shape[1])
    out_w, out_h = ctypes.c_int32(), ctypes.c_int32()
    # Asked first, so that a picture the library refuses costs no copy and no result.
    status = _native.lib.lq2x_picture_size(width, height, options, out_w, out_h)
    if status != _native.OK:
        raise Error(status)
    array = _source(array, pixel_bytes)
    out = np.empty((out_h.value, out_w.value) + array.shape[2:], array.dtype)
    status = _native.lib.lq2x_scale_picture(_picture(array, layout, width, height, pixel_bytes),
                                            _picture(out, layout, out_w.value, out_h.value, pixel_bytes), options)
    if status != _native.OK:
        raise Error(status)
    return out


def scale_image(image: "Image.Image", **options: Any) -> "Image.Image":
    """Scale a Pillow image with lq2x.scale and return a new image.

    Takes the same keyword options as lq2x.scale. Grey stays grey ("1" becomes
    "L"), grey with alpha stays "LA", RGB stays RGB, RGBA stays RGBA; palette
    images ("P", "PA") come back as RGBA when they have transparency and as RGB
    when not.
    Other modes (16-bit, float, CMYK, ...) raise ValueError: convert them first.
    """
    from PIL import Image

    mode = image.mode
    target = {"1": "L", "L": "L", "LA": "LA", "RGB": "RGB", "RGBA": "RGBA", "PA": "RGBA",
              "P": "RGBA" if "transparency" in image.info else "RGB"}.get(mode)
    if target is None:
        raise ValueError(f"lq2x.scale_image takes grey, RGB, RGBA and palette images, not mode {mode!r}; "
                         "convert it first, e.g. image.convert('RGBA')")
    if mode != target:
        image = image.convert(target)
    return Image.fromarray(scale(np.asarray(image), **options), target)
