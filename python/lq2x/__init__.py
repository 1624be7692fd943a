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
import os
import warnings
from fractions import Fraction
from pathlib import Path
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Literal, Optional, Tuple, Type, Union

import numpy as np
from numpy.typing import NDArray

from . import _native

if TYPE_CHECKING:
    from PIL import Image

__all__ = ["scale", "scale_image", "scale_file", "scale_bytes", "Error", "Rotate", "EdgeMode", "Edge", "Format",
           "__version__"]

__version__: str = _native.lib.lq2x_version_string().decode()

Rotate = Literal["none", "ccw", "cw"]
EdgeMode = Literal["clamp", "wrap", "transparent"]
Edge = Union[EdgeMode, Tuple[EdgeMode, EdgeMode]]
# What lq2x_format_name calls the files library's formats (lq2x.formats() lists them).
Format = Literal["same", "png", "gif", "webp", "ppm", "pgm", "pam", "pnm", "raw"]
PathLike = Union[str, "os.PathLike[str]"]

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


def _ranges(struct: Type[ctypes.Structure]) -> Dict[str, Tuple[int, int]]:
    """What each integer field of a C struct can hold, by name."""
    kinds = {field[0]: field[1] for field in struct._fields_}
    return {name: _native.FIELD_RANGES[kind] for name, kind in kinds.items() if kind in _native.FIELD_RANGES}


_OPTION_RANGES = _ranges(_native.Options)


def _integer(name: str, value: Any, field: str, ranges: Dict[str, Tuple[int, int]] = _OPTION_RANGES) -> int:
    """`value` as the C field `field` holds it: TypeError for a non-integer,
    ValueError for one the field cannot hold (ctypes would wrap it silently)."""
    if type(value) is not int:
        if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
            raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
        value = operator.index(value)
    low, high = ranges[field]
    if not low <= value <= high:
        raise ValueError(f"{name} must be from {low} to {high} for the library, not {value}")
    return int(value)


def _choice(name: str, value: Any, choices: Dict[str, int]) -> int:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a string, not {type(value).__name__}")
    if value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, not {value!r}")
    return choices[value]


# Options already made, by their keywords: a program that scales many small
# frames passes the same ones each time, and making them costs about a
# thirtieth of scaling a 256 x 224 frame. The key holds each value's type
# beside it (2.0 and True must not pass for 2) and the maker of the defaults;
# calls with a grid or a pair of edge modes, whose parts' types the key would
# not hold, are made afresh. The library only reads options, so they are shared.
_MADE: Dict[Tuple[Any, ...], _native.Options] = {}
_MADE_MAX = 64


def _options(rotate: Any = "none", scale: Any = 2, edge: Any = "clamp", tile: Any = None, tile_margin: Any = 0,
             tile_spacing: Any = 0, threads: Any = 0, rgb565: Any = False,
             max_pixels: Any = None) -> _native.Options:
    """The keyword options as lq2x_options, each value as given: the library judges them."""
    given = (rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    if tile is not None or type(edge) is not str:
        return _made(*given)
    key = (_native.default_options,) + given + tuple(map(type, given))
    try:
        o = _MADE.get(key)
    except TypeError:  # an unhashable value, refused by _made
        return _made(*given)
    if o is None:
        o = _made(*given)
        if len(_MADE) >= _MADE_MAX:
            _MADE.clear()
        _MADE[key] = o
    return o


def _made(rotate: Any, scale: Any, edge: Any, tile: Any, tile_margin: Any, tile_spacing: Any, threads: Any,
          rgb565: Any, max_pixels: Any) -> _native.Options:
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


def _readable(array: NDArray[Any], pixel_bytes: int) -> bool:
    """Whether the library can read the array where it lies: pixels packed
    within a row (channels too), rows any whole number of bytes apart."""
    height, width = array.shape[:2]
    if array.ndim == 3 and array.strides[2] != 1:
        return False
    if width > 1 and array.strides[1] != pixel_bytes:
        return False
    row = width * pixel_bytes
    return height <= 1 or row <= array.strides[0] <= _PITCH_MAX


def _described(array: Any) -> Tuple[NDArray[Any], int, int]:
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


def _address(array: NDArray[Any]) -> int:
    """Where an array's first pixel lies: through the buffer protocol where
    the array allows it (writable and in one piece; a third of the cost of
    numpy's `ctypes.data`, which is the rest's way)."""
    try:
        # (Debian's numpy declares no buffer protocol to type checkers.)
        return ctypes.addressof(ctypes.c_char.from_buffer(array))  # type: ignore[arg-type]
    except (TypeError, ValueError, BufferError):
        return int(array.ctypes.data)


def _side(name: str, value: int) -> int:
    if value > 2**31 - 1:
        raise ValueError(f"the image's {name} must be below 2^31 pixels for the library, not {value}")
    return value


def _scaled(width: int, height: int, source: Callable[[], Tuple[Any, _native.Picture]], out_layout: int,
            out_shape: Tuple[int, ...], dtype: Any, options: _native.Options) -> NDArray[Any]:
    """A picture scaled into a new array of `dtype`, laid out as `out_layout`
    with `out_shape` per pixel. The library is asked the result's size before
    `source()` gives the picture (and whatever owns its pixels), so that a
    picture it refuses costs no copy and no result."""
    out_w, out_h = ctypes.c_int32(), ctypes.c_int32()
    status = _native.lib.lq2x_picture_size(width, height, options, out_w, out_h)
    if status != _native.OK:
        raise Error(status)
    owner, picture = source()
    out = np.empty((out_h.value, out_w.value) + out_shape, dtype)
    row = out.nbytes // out_h.value if out_h.value else 0
    status = _native.lib.lq2x_scale_picture(picture, _native.Picture(_address(out), out_w.value, out_h.value, row,
                                                                     out_layout), options)
    del owner
    if status != _native.OK:
        raise Error(status)
    return out


def scale(array: NDArray[Any], *, rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
          tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
          threads: int = 0, rgb565: bool = False, max_pixels: Optional[int] = None) -> NDArray[Any]:
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
    return _scale_array(array, options)


def _scale_array(array: Any, options: _native.Options) -> NDArray[Any]:
    array, layout, pixel_bytes = _described(array)
    height, width = _side("height", array.shape[0]), _side("width", array.shape[1])
    native = array.dtype.newbyteorder("=")  # the library reads native words

    def source() -> "Tuple[Any, _native.Picture]":  # a string: not evaluated at every call
        pixels = array if array.dtype.isnative and _readable(array, pixel_bytes) else \
            np.ascontiguousarray(array, dtype=native)
        pitch = pixels.strides[0] if height > 1 else width * pixel_bytes  # one row: whatever stride numpy gives it
        return pixels, _native.Picture(_address(pixels), width, height, pitch, layout)

    return _scaled(width, height, source, layout, array.shape[2:], native, options)

# Pillow modes by the layout a file's frames carried, and the layout of each
# mode an image is scaled in.
_MODES = {_native.LAYOUT_GREY: "L", _native.LAYOUT_GREY_ALPHA: "LA", _native.LAYOUT_RGB: "RGB",
          _native.LAYOUT_RGBA: "RGBA"}
_MODE_CHANNELS: Dict[str, Tuple[int, ...]] = {"L": (), "LA": (2,), "RGB": (3,), "RGBA": (4,)}


def scale_image(image: "Image.Image", *, rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
                tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
                threads: int = 0, rgb565: bool = False, max_pixels: Optional[int] = None) -> "Image.Image":
    """Scale a Pillow image with the options of lq2x.scale and return a new image.

    A still keeps its kind: grey stays grey ("1" becomes "L"), grey with
    alpha stays "LA", RGB stays RGB, RGBA stays RGBA; palette images ("P",
    "PA") come back as RGBA when they have transparency and as RGB when not.
    Other modes (16-bit, float, CMYK, ...) raise ValueError: convert them first.

    An animation (an image whose `is_animated` is true, as Pillow opens
    animated GIF, PNG and WebP files) is read again from its file
    (`image.filename`, or `image.fp`) by the lq2x library, exactly as the
    lq2x tool reads it, and every frame is scaled. The result is a
    multi-frame image that Pillow saves whole with its frame durations and
    loop count, in any animated format:

        lq2x.scale_image(animation, scale=4).save("big.webp", save_all=True)

    Its frames are also `result.frames` (Pillow images), `result.durations`
    (milliseconds) and `result.loop` (times played, 0: without end).
    """
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    from PIL import Image

    if getattr(image, "is_animated", False):
        return _scale_animation(image, options)
    mode = image.mode
    target = {"1": "L", "L": "L", "LA": "LA", "RGB": "RGB", "RGBA": "RGBA", "PA": "RGBA",
              "P": "RGBA" if "transparency" in image.info else "RGB"}.get(mode)
    if target is None:
        raise ValueError(f"lq2x.scale_image takes grey, RGB, RGBA and palette images, not mode {mode!r}; "
                         "convert it first, e.g. image.convert('RGBA')")
    if mode != target:
        image = image.convert(target)
    return Image.fromarray(_scale_array(np.asarray(image), options), target)


def _file_bytes(image: "Image.Image") -> bytes:
    """The bytes of the file an image was opened from."""
    name = getattr(image, "filename", "")
    if name:
        return Path(name).read_bytes()
    fp = getattr(image, "fp", None)
    if fp is None:
        raise ValueError("lq2x.scale_image reads an animation from its file, and this image has none "
                         "(neither image.filename nor image.fp): scale its frames one by one")
    at = fp.tell()
    try:
        fp.seek(0)
        return bytes(fp.read())
    finally:
        fp.seek(at)


def _scale_animation(image: "Image.Image", options: _native.Options) -> "Image.Image":
    from PIL import Image

    data = np.frombuffer(_file_bytes(image), np.uint8)
    files = _native.files()
    file_options = _native.default_file_options()
    frames = _native.Frames()
    try:
        status = files.lq2x_read_file(data.ctypes.data, data.size, options, file_options, frames)
        if status != _native.OK:
            raise Error(status, frames.message.decode(errors="replace"))
        if frames.message:
            warnings.warn(frames.message.decode(errors="replace"), stacklevel=3)
        mode = _MODES[frames.layout]
        width, height, frame_bytes = frames.width, frames.height, 4 * frames.width * frames.height
        base = ctypes.cast(frames.pixels, ctypes.c_void_p).value or 0
        scaled = []
        for i in range(frames.count):
            picture = _native.Picture(base + i * frame_bytes, width, height, 4 * width, _native.LAYOUT_RGBA)
            pixels = _scaled(width, height, lambda: (None, picture), frames.layout, _MODE_CHANNELS[mode],
                             np.uint8, options)
            scaled.append(Image.fromarray(pixels, mode))
        durations = [_milliseconds(frames.delays[2 * i], frames.delays[2 * i + 1]) for i in range(frames.count)]
        loop = frames.loops
    finally:
        files.lq2x_frames_free(frames)
    return _animation(scaled, durations, loop)


def _milliseconds(numerator: int, denominator: int) -> Union[int, float]:
    """A delay of numerator / denominator seconds in milliseconds, whole where it is."""
    ms = Fraction(1000 * numerator, denominator)
    return int(ms) if ms.denominator == 1 else float(ms)


def _animation(frames: List["Image.Image"], durations: List[Union[int, float]], loop: int) -> "Image.Image":
    """Frames as one Pillow image that seeks among them and saves them all."""
    from PIL import Image

    class Animation(Image.Image):  # type: ignore[misc]  # Pillow has no type information
        """Scaled frames, as a multi-frame Pillow image."""

        def __init__(self) -> None:
            super().__init__()
            self.frames, self.durations, self.loop = frames, durations, loop
            self.n_frames, self.is_animated = len(frames), True
            self.info["loop"] = loop
            self._at = 0
            self.seek(0)

        def seek(self, frame: int) -> None:
            if not 0 <= frame < self.n_frames:
                raise EOFError("no more frames")
            self._at, shown = frame, self.frames[frame]
            self.im, self._size = shown.im, shown.size
            if isinstance(getattr(Image.Image, "mode", None), property):
                self._mode = shown.mode
            else:
                self.mode = shown.mode
            self.info["duration"] = self.durations[frame]

        def tell(self) -> int:
            return self._at

        def save(self, fp: Any, format: Optional[str] = None, **params: Any) -> None:
            # Every frame's own duration and the loop count, unless the caller
            # says otherwise. Pillow's GIF writer counts repeats after the first
            # play (loop=N plays N + 1 times; none: once), its others plays.
            if params.get("save_all"):
                params.setdefault("duration", [round(d) for d in self.durations])  # Pillow takes whole ms
                name = fp if isinstance(fp, (str, os.PathLike)) else getattr(fp, "name", "")
                kind = (format or Image.registered_extensions().get(Path(str(name)).suffix.lower(), "")).upper()
                if kind != "GIF":
                    params.setdefault("loop", self.loop)
                elif self.loop != 1:
                    params.setdefault("loop", max(self.loop - 1, 0))
            at = self._at
            try:
                super().save(fp, format, **params)
            finally:
                self.seek(at)

    return Animation()


def formats() -> List[str]:
    """The names of the file formats the files library writes, as `format=` takes them."""
    return [name for name in _format_names() if name]


def _file_options(format: Optional[str], frame: Optional[int], png_level: Optional[int],
                  size: Optional[Tuple[int, int]]) -> _native.FileOptions:
    o = _native.default_file_options()
    ranges = _ranges(_native.FileOptions)
    if format is not None:
        if not isinstance(format, str):
            raise TypeError(f"format must be a string, not {type(format).__name__}")
        codes = {name: code for code, name in enumerate(_format_names())}
        if format not in codes:
            raise ValueError(f"format must be one of {', '.join(map(repr, codes))}, not {format!r}")
        o.format = codes[format]
    if frame is not None:
        o.frame = _integer("frame", frame, "frame", ranges)
    if png_level is not None:
        o.png_level = _integer("png_level", png_level, "png_level", ranges)
    if size is not None:
        if not isinstance(size, (tuple, list)) or len(size) != 2:
            raise TypeError(f"size must be a (width, height) pair, not {size!r}")
        o.raw_width = _integer("raw width", size[0], "raw_width", ranges)
        o.raw_height = _integer("raw height", size[1], "raw_height", ranges)
    return o


def _format_names() -> List[Optional[str]]:
    """Each format code's name, None where the library names none."""
    files = _native.files()
    names: List[Optional[str]] = []
    for code in range(64):
        name = files.lq2x_format_name(code)
        names.append(name.decode() if name else None)
    return names


def scale_bytes(data: Union[bytes, bytearray, memoryview], *, format: Optional[Format] = None,
                frame: Optional[int] = None, png_level: Optional[int] = None, size: Optional[Tuple[int, int]] = None,
                rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp", tile: Optional[Tuple[int, int]] = None,
                tile_margin: int = 0, tile_spacing: int = 0, threads: int = 0, rgb565: bool = False,
                max_pixels: Optional[int] = None) -> bytes:
    """Scale a whole image file held in memory and return the file the lq2x
    tool would write: the same bytes for the same bytes and options.

    Reads PNG (animated too), GIF, WebP, binary PGM, PPM and PAM, and raw
    24-bit RGB given its `size=(width, height)`. Besides lq2x.scale's
    options (keywords only):
        format     the output's format, a name of lq2x.formats() ("png",
                   "gif", "webp", ...); None or "same": the input's own.
        frame      one frame of an animation alone, as a still; None: all.
        png_level  deflate level of PNG output, 0 to 12; None: the library's default.

    A value the output format cannot hold exactly is written as the nearest
    it can with a warning (warnings.warn) in the library's words.
    Raises lq2x.Error with the library's status and its one-line reason
    (the tool's message) for a file it cannot read or write.
    """
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    return _scale_bytes(data, options, _file_options(format, frame, png_level, size))


def _scale_bytes(data: Union[bytes, bytearray, memoryview], options: _native.Options,
                 file_options: _native.FileOptions) -> bytes:
    source = np.frombuffer(data, np.uint8)
    files = _native.files()
    out = _native.File()
    try:
        status = files.lq2x_scale_file(source.ctypes.data, source.size, options, file_options, out)
        message = out.message.decode(errors="replace")
        if status != _native.OK:
            raise Error(status, message)
        result = ctypes.string_at(out.bytes, out.size)
    finally:
        files.lq2x_file_free(out)
    if message:
        warnings.warn(message, stacklevel=3)
    return result


def scale_file(src: PathLike, dst: PathLike, *, format: Optional[Format] = None, frame: Optional[int] = None,
               png_level: Optional[int] = None, size: Optional[Tuple[int, int]] = None, rotate: Rotate = "none",
               scale: int = 2, edge: Edge = "clamp", tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0,
               tile_spacing: int = 0, threads: int = 0, rgb565: bool = False,
               max_pixels: Optional[int] = None) -> None:
    """Scale the image file `src` into the file `dst`, as `lq2x src dst` with
    the same options does: the same bytes. The output's format is `format`
    when given, else the one dst's extension names (as the tool decides it),
    else the input's own; the other options are scale_bytes's. dst is opened
    only once the whole result is made."""
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    file_options = _file_options(format, frame, png_level, size)
    if format is None:
        file_options.format = _native.files().lq2x_format_of_name(os.fsencode(dst))
    Path(dst).write_bytes(_scale_bytes(Path(src).read_bytes(), options, file_options))
