"""Exact LQ2x pixel-art scaling for numpy arrays and Pillow images.

    >>> import numpy as np, lq2x
    >>> sprite = np.zeros((16, 16, 4), np.uint8)      # RGBA
    >>> lq2x.scale(sprite, rotate="ccw").shape
    (32, 32, 4)

`scale` takes and returns numpy arrays, `scale_image` Pillow images. Both run
the lq2x library (liblq2x) without holding the interpreter lock, so Python
threads scale images in parallel. Results are bit for bit those of the `lq2x`
command-line tool with the same options.
"""

import ctypes
import operator
import sys
from typing import TYPE_CHECKING, Any, List, Literal, Optional, Tuple, Union

import numpy as np

from . import _native

if TYPE_CHECKING:
    from PIL import Image

__all__ = ["scale", "scale_image", "Error", "Rotate", "EdgeMode", "Edge", "__version__"]

__version__: str = _native.lib.lq2x_version_string().decode()

Rotate = Literal["none", "ccw", "cw"]
EdgeMode = Literal["clamp", "wrap", "transparent"]
Edge = Union[EdgeMode, Tuple[EdgeMode, EdgeMode]]

_TURNS = {"none": 0, "ccw": 1, "cw": 2}
_EDGES = {"clamp": 0, "wrap": 1, "transparent": 2}
_PASSES = {2: 1, 4: 2, 8: 3}
_MAX_32 = 2**31 - 1
# A 32-bit pixel is the four bytes R, G, B, A in memory; these are its alpha bits as a native word.
_ALPHA_BITS = np.uint32(0xFF000000 if sys.byteorder == "little" else 0x000000FF)


class Error(ValueError):
    """A call the library refused. The message is the library's own (lq2x_describe);
    `status` is its lq2x_status code."""

    def __init__(self, status: int) -> None:
        super().__init__(_native.describe(status))
        self.status = status


def _integer(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    return operator.index(value)


def _choice(name: str, value: Any, choices: dict) -> int:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a string, not {type(value).__name__}")
    if value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, not {value!r}")
    return choices[value]


def _edge_modes(edge: Any) -> Tuple[int, int]:
    pair = (edge, edge) if isinstance(edge, str) else edge
    if not isinstance(pair, (tuple, list)) or len(pair) != 2:
        raise TypeError(f"edge must be a mode or a (horizontal, vertical) pair of modes, not {edge!r}")
    return _choice("edge", pair[0], _EDGES), _choice("edge", pair[1], _EDGES)


def _grid(tile: Any, margin: Any, spacing: Any) -> Optional[Tuple[int, int, int, int]]:
    margin = _integer("tile_margin", margin)
    spacing = _integer("tile_spacing", spacing)
    if tile is None:
        if margin or spacing:
            raise ValueError("tile_margin and tile_spacing need a tile grid (tile=(width, height))")
        return None
    if not isinstance(tile, (tuple, list)) or len(tile) != 2:
        raise TypeError(f"tile must be a (width, height) pair, not {tile!r}")
    width, height = _integer("tile width", tile[0]), _integer("tile height", tile[1])
    # 0 x 0 tells the library "no grid", so a cell below 1 x 1 never reaches it.
    if width < 1 or height < 1:
        raise ValueError(f"tile cells must be at least 1 x 1 pixels, not {width} x {height}")
    return width, height, margin, spacing


def _pass_options(turn: int, passes: int, edges: Tuple[int, int], grid: Optional[Tuple[int, int, int, int]],
                  threads: int) -> List[_native.Options]:
    """The library's options for each application of the 2x rule."""
    # A turn commutes with the rule, so one pass does it: the first, on the
    # smallest frame, or the last with a grid, whose cells are laid out from
    # the source's left and top (after a turn they would start elsewhere).
    turn_pass = passes - 1 if grid else 0
    result = []
    for i in range(passes):
        o = _native.default_options()
        o.threads = threads
        o.orientation = turn if i == turn_pass else 0
        turned = turn != 0 and i > turn_pass
        o.edge_x, o.edge_y = (edges[1], edges[0]) if turned else edges
        if grid:
            # Each pass doubles the grid along with the picture.
            o.tile_width, o.tile_height, o.tile_margin, o.tile_spacing = (v << i for v in grid)
        result.append(o)
    return result


def _in_place(words: np.ndarray, row_bytes: int) -> Optional[int]:
    """The row pitch to hand the library `words` (2-D pixels) without a copy, or None."""
    if words.shape[0] <= 1:
        pitch = row_bytes  # one row: its stride is never used
    else:
        pitch = words.strides[0]
    ok = (words.strides[1] == words.itemsize and words.flags.aligned and pitch % words.itemsize == 0
          and row_bytes <= pitch <= _MAX_32)
    return pitch if ok or words.size == 0 else None


def _visible_if_colour_is_hidden(words: np.ndarray) -> Optional[np.ndarray]:
    """Pixels with alpha 0 count as equal, so they are scaled as all zero. None when
    none of them carries colour bits; otherwise the mask of the pixels to keep."""
    if words.size == 0:
        return None
    if sys.byteorder == "little":
        # Alpha is the top byte: invisible words are those below 2^24, and
        # those with colour bits 1 to 2^24 - 1 (less 1, wrapping 0 round to
        # the top, below 2^24 - 1). Minimums are the fastest scans numpy has.
        if int(words.min()) >= 0x01000000 or int((words - np.uint32(1)).min()) >= 0x00FFFFFF:
            return None
        return words >= 0x01000000
    visible = (words & _ALPHA_BITS) != 0
    return visible if (words[~visible] != 0).any() else None


def _check_size(array: np.ndarray, passes: int) -> None:
    """Refuses, before any copy, an image whose result the library could not address."""
    if max(array.shape[:2]) << passes > _MAX_32:
        raise Error(_native.ERROR_BAD_SIZE)


def _source(array: np.ndarray, passes: int = 1) -> Tuple[np.ndarray, int, int]:
    """The pixels the library reads, as 2-D words, with their pitch and the array's channel count
    (0 for RGB565). The array's own memory where it can be; otherwise one copy."""
    if array.dtype == np.uint16 or (array.dtype.kind == "u" and array.dtype.itemsize == 2):
        if array.ndim != 2:
            raise ValueError(f"a uint16 array holds RGB565 words and must be H x W, not shape {array.shape}")
        _check_size(array, passes)
        if array.dtype.isnative:
            pitch = _in_place(array, 2 * array.shape[1])
            if pitch is not None:
                return array, pitch, 0
        words = np.array(array, np.uint16, order="C")  # aligned and native, whatever array was
        return words, 2 * words.shape[1], 0
    if array.dtype != np.uint8:
        raise TypeError(f"lq2x.scale takes uint8 arrays (RGBA, RGB, grey and alpha, grey) or uint16 "
                        f"(RGB565), not {array.dtype}")
    channels = 1 if array.ndim == 2 else array.shape[2] if array.ndim == 3 and array.shape[2] > 1 else 0
    if channels == 0 or channels > 4:
        raise ValueError(f"a uint8 array must be H x W x 4 (RGBA), H x W x 3 (RGB), H x W x 2 (grey and alpha) "
                         f"or H x W (grey), not shape {array.shape}")
    _check_size(array, passes)
    height, width = array.shape[:2]
    if channels == 4 and array.strides[2] == 1 and array.strides[1] == 4:
        words = array.view(np.uint32)[:, :, 0]
        pitch = _in_place(words, 4 * width)
        if pitch is not None:
            visible = _visible_if_colour_is_hidden(words)
            if visible is None:
                return words, pitch, 4
            return np.multiply(words, visible, dtype=np.uint32), 4 * width, 4  # faster than np.where
    # Any other layout, RGB, grey: one copy as R, G, B, A bytes.
    pixels = np.empty((height, width, 4), np.uint8)
    per_pixel = array[:, :, None] if channels == 1 else array
    pixels[:, :, :3] = per_pixel[:, :, :3] if channels >= 3 else per_pixel[:, :, :1]
    pixels[:, :, 3] = per_pixel[:, :, channels - 1] if channels in (2, 4) else 255
    words = pixels.view(np.uint32)[:, :, 0]
    if channels in (2, 4):
        np.multiply(words, (words & _ALPHA_BITS) != 0, out=words, casting="unsafe")  # invisible: all zero
    return words, 4 * width, channels


def _result(words: np.ndarray, channels: int) -> np.ndarray:
    """The scaled words as an array of the input's kind."""
    if channels == 0:
        return words
    pixels = words.view(np.uint8).reshape(words.shape[0], words.shape[1], 4)
    if channels == 4:
        return pixels
    keep = {1: 0, 2: slice(0, 4, 3), 3: slice(0, 3)}[channels]
    return np.ascontiguousarray(pixels[:, :, keep])


def scale(array: np.ndarray, *, rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
          tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
          threads: int = 0) -> np.ndarray:
    """Scale an image array with the LQ2x rule and return a new array.

    Arrays:
        uint8, H x W x 4   RGBA; H x W x 3 RGB; H x W x 2 grey and alpha; H x W grey.
                           Every channel is scaled alike, as 8 bits. Pixels whose
                           alpha is 0 count as equal whatever their colour (they
                           are made all zero first), as in the lq2x tool. The
                           result has the same channels.
        uint16, H x W      RGB565 words (red in the top 5 bits), scaled with
                           16-bit arithmetic, as the test bench.

    Options (keywords only):
        rotate   "none", "ccw" or "cw": turn the result a quarter-turn (the
                 result is then 2W x 2H rather than 2H x 2W).
        scale    2, 4 or 8: the 2x rule applied once, twice or three times.
        edge     what border pixels see beyond the image: "clamp" (the nearest
                 pixel), "wrap" (the opposite border, for seamless textures) or
                 "transparent" (the all-zero pixel); or a (horizontal, vertical)
                 pair of these.
        tile     (width, height) of the cells of a sprite sheet or tile set: each
                 cell is scaled on its own, with `edge` at its borders.
        tile_margin, tile_spacing
                 pixels before the first cell (left and top) and between cells
                 (with `tile` only); they belong to no cell and are each doubled.
        threads  bands of rows scaled at once; 0 (the default): one per
                 hardware thread.

    Memory: an RGBA or RGB565 array whose pixels lie contiguous within each
    row (any row stride, e.g. a slice of a bigger array) is read in place.
    Any other layout, RGB, grey, and RGBA with colour bits under alpha 0 are
    copied once first.

    The interpreter lock is released while the library works.

    Raises:
        TypeError   a wrong dtype or option type.
        ValueError  a wrong shape or option value; lq2x.Error (a ValueError)
                    with the library's own message when the library refuses.
    """
    turn = _choice("rotate", rotate, _TURNS)
    passes = _PASSES.get(_integer("scale", scale))
    if passes is None:
        raise ValueError(f"scale must be 2, 4 or 8, not {scale}")
    edges = _edge_modes(edge)
    grid = _grid(tile, tile_margin, tile_spacing)
    threads = _integer("threads", threads)
    if threads < 0:
        raise ValueError(f"threads must be 0 (one per hardware thread) or more, not {threads}")

    array = np.asarray(array)
    words, pitch, channels = _source(array, passes)
    height, width = words.shape
    call = _native.SCALE["565" if channels == 0 else "8888"]
    for opt in _pass_options(turn, passes, edges, grid, threads):
        out_h, out_w = (2 * width, 2 * height) if opt.orientation else (2 * height, 2 * width)
        out = np.empty((out_h, out_w), words.dtype)
        out_pitch = out_w * out.itemsize
        status = call(words.ctypes.data, width, height, pitch, out.ctypes.data, out_w, out_h, out_pitch,
                      ctypes.byref(opt))
        if status != _native.OK:
            raise Error(status)
        words, pitch, height, width = out, out_pitch, out_h, out_w
    return _result(words, channels)


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
