"""Exact LQ2x pixel-art scaling for numpy arrays, Pillow images and files.

    >>> import numpy as np, lq2x
    >>> sprite = np.zeros((16, 16, 4), np.uint8)      # RGBA
    >>> lq2x.scale(sprite, rotate="ccw").shape
    (32, 32, 4)

`scale` takes and returns numpy arrays, `scale_image` Pillow images,
`scale_frames` an animation held in memory, `scale_file` and `scale_bytes`
whole files. Each hands its picture to the lq2x library as it lies in memory
and takes its answer: the passes, the turn, the grid, what alpha 0 hides,
the layout of the result, how files are read and written, and every refusal
in its words are the library's, so results are bit for bit those of the
`lq2x` command-line tool with the same options. The interpreter lock is free
while the library works.
"""

import ctypes
import os
import warnings
from fractions import Fraction
from pathlib import Path
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Literal, Optional, Sequence, Tuple, Union

import numpy as np
from numpy.typing import NDArray

from . import _native

if TYPE_CHECKING:
    from PIL import Image

__all__ = ["scale", "scale_image", "scale_frames", "scale_file", "scale_bytes", "formats", "Animation", "Error",
           "Rotate", "EdgeMode", "Edge", "Format", "__version__"]

__version__: str = _native.lib.lq2x_version_string().decode()

Rotate = Literal["none", "ccw", "cw"]
EdgeMode = Literal["clamp", "wrap", "transparent"]
Edge = Union[EdgeMode, Tuple[EdgeMode, EdgeMode]]
# What lq2x_format_name calls the files library's formats (lq2x.formats() lists those it writes).
Format = Literal["same", "png", "gif", "webp", "ppm", "pgm", "pam", "pnm", "raw"]
PathLike = Union[str, "os.PathLike[str]"]

# uint8 arrays by their channel count (0: H x W), and back.
_LAYOUTS = {0: _native.LAYOUT_GREY, 2: _native.LAYOUT_GREY_ALPHA, 3: _native.LAYOUT_RGB, 4: _native.LAYOUT_RGBA}
_CHANNELS = {layout: (channels,) if channels else () for channels, layout in _LAYOUTS.items()}
_PITCH_MAX = 2**31 - 1  # what a C ptrdiff_t pitch may be, as lq2x.h says


class Error(ValueError):
    """A call the library refused: `status` is its lq2x_status code, the
    message its own words (naming the keyword at fault as this package
    names it, or lq2x_describe's line), and for files on disk `filename`
    the one it is about."""

    def __init__(self, status: int, message: Optional[str] = None, filename: Optional[str] = None) -> None:
        super().__init__(message or _native.describe(status))
        self.status = status
        self.filename = filename


def _words(text: str) -> str:
    """The library's words with its settings named as this package's keywords."""
    out = ctypes.create_string_buffer(_native.MESSAGE_BYTES)
    _native.lib.lq2x_words(text.encode(), _native.DOOR_PYTHON, out, _native.MESSAGE_BYTES)
    return out.value.decode(errors="replace")


def _integer(name: str, value: Any) -> str:
    """An integer keyword as the library reads it (its text); TypeError for
    anything else. The library judges the value itself."""
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    return str(int(value))


def _word(name: str, value: Any) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a string, not {type(value).__name__}")
    return value


def _pair(name: str, value: Any, what: str) -> Sequence[Any]:
    if not isinstance(value, (tuple, list)) or len(value) != 2:
        raise TypeError(f"{name} must be a {what} pair, not {value!r}")
    return value


def _set(o: _native.Options, name: str, text: str) -> None:
    """One setting, read by the library from its text, refused in its words."""
    status, why = _native.message(_native.lib.lq2x_set_option, o, name.encode(), text.encode(), _native.DOOR_PYTHON)
    if status != _native.OK:
        raise Error(status, why)


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
    _set(o, "orientation", _word("rotate", rotate))
    if isinstance(edge, str):
        _set(o, "edge", edge)
    else:
        horizontal, vertical = _pair("edge", edge, "mode or a (horizontal, vertical)")
        _set(o, "edge_x", _word("edge", horizontal))
        _set(o, "edge_y", _word("edge", vertical))
    if tile is not None:
        width, height = _pair("tile", tile, "(width, height)")
        _set(o, "tile", _integer("tile width", width) + "x" + _integer("tile height", height))
    _set(o, "tile_margin", _integer("tile_margin", tile_margin))
    _set(o, "tile_spacing", _integer("tile_spacing", tile_spacing))
    _set(o, "scale", _integer("scale", scale))
    _set(o, "threads", _integer("threads", threads))
    if not isinstance(rgb565, (bool, np.bool_)):
        raise TypeError(f"rgb565 must be True or False, not {type(rgb565).__name__}")
    _set(o, "rgb565", "1" if rgb565 else "0")
    if max_pixels is not None:
        _set(o, "max_pixels", _integer("max_pixels", max_pixels))
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


def _result_layout(layout: int, options: _native.Options) -> int:
    """The layout the library's result comes out in (lq2x_picture_layout)."""
    out = ctypes.c_int32()
    status = _native.lib.lq2x_picture_layout(layout, options, out)
    if status != _native.OK:
        raise Error(status)
    return out.value


def _scaled(width: int, height: int, source: Callable[[], Tuple[Any, _native.Picture]], layout: int,
            options: _native.Options) -> NDArray[Any]:
    """A picture of `layout` scaled into a new array laid out as the library
    says the result is. The library is asked the result's size before
    `source()` gives the picture (and whatever owns its pixels), so that a
    picture it refuses costs no copy and no result."""
    out_w, out_h = ctypes.c_int32(), ctypes.c_int32()
    status = _native.lib.lq2x_picture_size(width, height, options, out_w, out_h)
    if status != _native.OK:
        status, why = _native.message(_native.lib.lq2x_picture_check, width, height, options, _native.DOOR_PYTHON)
        raise Error(status, why)
    out_layout = _result_layout(layout, options)
    dtype = np.dtype(np.uint16) if out_layout == _native.LAYOUT_RGB565 else np.dtype(np.uint8)
    owner, picture = source()
    out = np.empty((out_h.value, out_w.value) + _CHANNELS.get(out_layout, ()), dtype)
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
                           colour, as in the lq2x tool.
        uint16, H x W      RGB565 words (red in the top 5 bits), scaled with
                           16-bit arithmetic, as the test bench.
    The result has the layout the library gives it, as the tool writes it:
    the same, except that an array without alpha gains it under a
    transparent edge (grey becomes H x W x 2, RGB H x W x 4), and a uint8
    array scaled with rgb565 comes out RGB (H x W x 3).

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
        threads  bands of rows scaled at once, 0 to 1024; 0 (the default): one
                 per hardware thread.
        rgb565   scale a uint8 array with the 16-bit rule, as the tool's
                 --rgb565 (low bits and alpha dropped).
        max_pixels
                 refuse a result of more pixels; 0: no limit; None: the
                 library's default, 2^28 (1 GiB of RGBA).

    Memory: an array whose pixels lie packed within each row (any row
    stride, e.g. a slice of a bigger array) is read where it lies; any other
    layout is copied once first. The input is never written.

    Raises:
        TypeError   a wrong dtype or option type.
        ValueError  a wrong shape; lq2x.Error (a ValueError) with the
                    library's status and words for any value it refuses (a
                    scale other than 2, 4 or 8, a grid that leaves no cell,
                    a result above max_pixels, ...).
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

    return _scaled(width, height, source, layout, options)


# Pillow modes by layout, and the mode each image mode is scaled in.
_MODES = {_native.LAYOUT_GREY: "L", _native.LAYOUT_GREY_ALPHA: "LA", _native.LAYOUT_RGB: "RGB",
          _native.LAYOUT_RGBA: "RGBA"}


def _image_array(image: "Image.Image") -> NDArray[Any]:
    """A Pillow image's pixels in one of the library's layouts."""
    mode = image.mode
    target = {"1": "L", "L": "L", "LA": "LA", "RGB": "RGB", "RGBA": "RGBA", "PA": "RGBA",
              "P": "RGBA" if "transparency" in image.info else "RGB"}.get(mode)
    if target is None:
        raise ValueError(f"lq2x.scale_image takes grey, RGB, RGBA and palette images, not mode {mode!r}; "
                         "convert it first, e.g. image.convert('RGBA')")
    return np.asarray(image if mode == target else image.convert(target))


def _scale_still(image: "Image.Image", options: _native.Options) -> "Image.Image":
    from PIL import Image

    pixels = _scale_array(_image_array(image), options)
    return Image.fromarray(pixels, _MODES[_LAYOUTS[pixels.shape[2] if pixels.ndim == 3 else 0]])


def scale_image(image: "Image.Image", *, rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
                tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
                threads: int = 0, rgb565: bool = False, max_pixels: Optional[int] = None) -> "Image.Image":
    """Scale a Pillow image with the options of lq2x.scale and return a new image.

    A still keeps its kind, as lq2x.scale keeps an array's: grey stays grey
    ("1" becomes "L"), grey with alpha stays "LA", RGB stays RGB, RGBA stays
    RGBA; palette images ("P", "PA") are scaled as RGBA when they have
    transparency and as RGB when not; and the result gains alpha under a
    transparent edge, as the library says. Other modes (16-bit, float,
    CMYK, ...) raise ValueError: convert them first.

    An animation (an image whose `is_animated` is true, as Pillow opens
    animated GIF, PNG and WebP files) has every frame scaled as Pillow gives
    it, with any changes made to it in memory: the file is never read
    again. The result is a multi-frame image that Pillow saves whole with
    its frame durations and loop count, in any animated format:

        lq2x.scale_image(animation, scale=4).save("big.webp", save_all=True)

    Its frames are also `result.frames` (Pillow images), `result.durations`
    (milliseconds) and `result.loop` (times played, 0: without end).
    """
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    if not getattr(image, "is_animated", False):
        return _scale_still(image, options)
    at = image.tell()
    frames: List["Image.Image"] = []
    durations: List[Union[int, float]] = []
    try:
        for i in range(image.n_frames):
            image.seek(i)
            frames.append(_scale_still(image, options))
            durations.append(image.info.get("duration", 0))
    finally:
        image.seek(at)
    # Pillow's loop count for GIF is the plays after the first; the library's
    # (and the other formats') the plays in all.
    loop = image.info.get("loop", 1 if image.format == "GIF" else 0)
    if image.format == "GIF" and "loop" in image.info:
        loop = 0 if loop == 0 else loop + 1
    return Animation(frames, durations, loop).image()


class Animation:
    """Frames scaled together, with each one's time on screen and the times
    the whole plays: what lq2x.scale_frames returns.

    frames      numpy arrays or Pillow images, as they were given
    durations   each frame's time on screen in milliseconds
    loop        times the animation plays; 0: without end
    """

    def __init__(self, frames: List[Any], durations: List[Union[int, float]], loop: int = 0) -> None:
        self.frames, self.durations, self.loop = frames, durations, loop

    def __len__(self) -> int:
        return len(self.frames)

    def __repr__(self) -> str:
        return f"lq2x.Animation({len(self.frames)} frames, loop={self.loop})"

    def image(self) -> "Image.Image":
        """The frames as one multi-frame Pillow image that seeks among them
        and saves them all with their durations and loop count."""
        from PIL import Image

        shown = [f if isinstance(f, Image.Image) else
                 Image.fromarray(f, _MODES[_LAYOUTS[f.shape[2] if f.ndim == 3 else 0]]) for f in self.frames]
        return _pillow_animation(shown, list(self.durations), self.loop)


def scale_frames(frames: Sequence[Any], durations: Optional[Sequence[Union[int, float]]] = None, *, loop: int = 0,
                 rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
                 tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
                 threads: int = 0, rgb565: bool = False, max_pixels: Optional[int] = None) -> Animation:
    """Scale an animation held in memory: a list of frames (numpy arrays as
    lq2x.scale takes them, or Pillow images as lq2x.scale_image takes them),
    each frame's duration in milliseconds (None: 0 each) and the times it
    plays (`loop`, 0: without end). Every frame is scaled with the same
    options, as the tool scales an animation's frames; the result is an
    lq2x.Animation of frames of the same kind.

        anim = lq2x.scale_frames([a, b, c], [100, 100, 200], loop=0, scale=4)
        anim.image().save("walk4x.gif", save_all=True)
    """
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    if isinstance(frames, (str, bytes)) or not isinstance(frames, Sequence) or not frames:
        raise TypeError("frames must be a list of numpy arrays or Pillow images, at least one")
    times = list(durations) if durations is not None else [0] * len(frames)
    if len(times) != len(frames):
        raise ValueError(f"{len(frames)} frames but {len(times)} durations")
    if isinstance(loop, bool) or not isinstance(loop, int) or loop < 0:
        raise ValueError(f"loop must be a whole number of plays (0: without end), not {loop!r}")
    from_pillow = type(frames[0]).__module__.startswith("PIL.")
    scaled = [_scale_still(f, options) if from_pillow else _scale_array(f, options) for f in frames]
    return Animation(scaled, times, loop)


def _pillow_animation(frames: List["Image.Image"], durations: List[Union[int, float]], loop: int) -> "Image.Image":
    """Frames as one Pillow image that seeks among them and saves them all."""
    from PIL import Image

    class _Frames(Image.Image):  # type: ignore[misc]  # Pillow has no type information
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

    return _Frames()


def _milliseconds(numerator: int, denominator: int) -> Union[int, float]:
    """A delay of numerator / denominator seconds in milliseconds, whole where it is."""
    ms = Fraction(1000 * numerator, denominator)
    return int(ms) if ms.denominator == 1 else float(ms)


def formats() -> List[str]:
    """The names of the file formats the files library writes, as `format=` takes them."""
    files = _native.files()
    return [name for code, name in enumerate(_format_names()) if name and files.lq2x_format_writes(code)]


def _format_names() -> List[Optional[str]]:
    """Each format code's name, None where the library names none."""
    files = _native.files()
    names: List[Optional[str]] = []
    for code in range(64):
        name = files.lq2x_format_name(code)
        names.append(name.decode() if name else None)
    return names


def _file_options(format: Optional[str], frame: Optional[int], png_level: Optional[int],
                  size: Optional[Tuple[int, int]], gif_alpha: Optional[int] = None,
                  gif_colours: Optional[int] = None, gif_palette: Optional[str] = None,
                  keep_existing: bool = False) -> _native.FileOptions:
    """The file keywords as lq2x_file_options, each read by the library from its text."""
    o = _native.default_file_options()
    files = _native.files()

    def put(name: str, text: str) -> None:
        status, why = _native.message(files.lq2x_set_file_option, o, name.encode(), text.encode(), _native.DOOR_PYTHON)
        if status != _native.OK:
            raise Error(status, why)

    if format is not None:
        put("format", _word("format", format))
    if frame is not None:
        put("frame", _integer("frame", frame))
    if png_level is not None:
        put("png_level", _integer("png_level", png_level))
    if size is not None:
        width, height = _pair("size", size, "(width, height)")
        put("raw_size", _integer("size width", width) + "x" + _integer("size height", height))
    if gif_alpha is not None:
        put("gif_alpha", _integer("gif_alpha", gif_alpha))
    if gif_colours is not None:
        put("gif_colours", _integer("gif_colours", gif_colours))
    if gif_palette is not None:
        put("gif_palette", _word("gif_palette", gif_palette))
    if not isinstance(keep_existing, (bool, np.bool_)):
        raise TypeError(f"keep_existing must be True or False, not {type(keep_existing).__name__}")
    put("keep_existing", "1" if keep_existing else "0")
    return o


def scale_bytes(data: Union[bytes, bytearray, memoryview], *, format: Optional[Format] = None,
                frame: Optional[int] = None, png_level: Optional[int] = None, size: Optional[Tuple[int, int]] = None,
                gif_alpha: Optional[int] = None, gif_colours: Optional[int] = None,
                gif_palette: Optional[str] = None, rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
                tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
                threads: int = 0, rgb565: bool = False, max_pixels: Optional[int] = None) -> bytes:
    """Scale a whole image file held in memory and return the file the lq2x
    tool would write: the same bytes for the same bytes and options.

    Reads PNG (animated too), GIF, WebP, PGM, PPM and PAM (plain too), BMP,
    TGA, ICO/CUR, PCX, and raw 24-bit RGB given its `size=(width, height)`.
    Besides lq2x.scale's options (keywords only):
        format     the output's format, a name of lq2x.formats() ("png",
                   "gif", "webp", ...); None or "same": the input's own (PNG
                   for a format the library only reads).
        frame      one frame of an animation alone, as a still (an icon's
                   image number); None: all.
        png_level  deflate level of PNG output, 0 to 12; None: the library's default.
        gif_alpha, gif_colours, gif_palette
                   GIF output of what a GIF cannot hold exactly, made to fit:
                   alpha below gif_alpha made transparent and the rest
                   opaque; frames reduced to gif_colours colours with a
                   "shared" or "per-frame" palette. Warned as not exact.

    A value the output cannot hold exactly is written as the nearest it can
    with a warning (warnings.warn) in the library's words.
    Raises lq2x.Error with the library's status and its one-line reason
    (the tool's message, naming this package's keywords) for a file it
    cannot read or write.
    """
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    file_options = _file_options(format, frame, png_level, size, gif_alpha, gif_colours, gif_palette)
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
        warnings.warn(message, stacklevel=2)
    return result


def scale_file(src: PathLike, dst: PathLike, *, format: Optional[Format] = None, frame: Optional[int] = None,
               png_level: Optional[int] = None, size: Optional[Tuple[int, int]] = None,
               gif_alpha: Optional[int] = None, gif_colours: Optional[int] = None, gif_palette: Optional[str] = None,
               keep_existing: bool = False, rotate: Rotate = "none", scale: int = 2, edge: Edge = "clamp",
               tile: Optional[Tuple[int, int]] = None, tile_margin: int = 0, tile_spacing: int = 0,
               threads: int = 0, rgb565: bool = False, max_pixels: Optional[int] = None) -> None:
    """Scale the image file `src` into the file `dst`, as `lq2x src dst` with
    the same options does: the same bytes, by the library's rules for files
    on disk. The output's format is `format` when given, else the one dst's
    extension names (a name without one takes the input's format), as the
    tool decides it; the other options are scale_bytes's.

    The input is read no further than the limits allow (a pipe or device
    too), and refused from its first bytes when they are no image; dst is
    made beside its place and put there whole, so a failure, a full disk or
    a signal leaves an older dst as it was and nothing else; dst is never
    src itself or a link to it. With keep_existing, a dst that exists is
    kept (lq2x.Error with status LQ2X_ERROR_OUTPUT_EXISTS).
    """
    options = _options(rotate, scale, edge, tile, tile_margin, tile_spacing, threads, rgb565, max_pixels)
    file_options = _file_options(format, frame, png_level, size, gif_alpha, gif_colours, gif_palette, keep_existing)
    message = _scale_path(src, dst, options, file_options)[1]
    if message:
        warnings.warn(message, stacklevel=2)


def _scale_path(src: PathLike, dst: PathLike, options: _native.Options,
                file_options: _native.FileOptions) -> Tuple[_native.Report, str]:
    """One file on disk through the library (lq2x_scale_path): its report and
    warning, or lq2x.Error naming the file at fault. scale_file and the
    batches of lq2x.batch both come through here."""
    report = _native.Report()
    status = _native.files().lq2x_scale_path(os.fsencode(src), os.fsencode(dst), options, file_options, report)
    message = report.message.decode(errors="replace")
    if status != _native.OK:
        raise Error(status, message, os.fsdecode(dst) if report.output else os.fsdecode(src))
    return report, message
