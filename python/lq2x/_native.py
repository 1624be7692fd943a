"""The library's C interfaces (lq2x/lq2x.h, lq2x/lq2x_files.h) through ctypes.

ctypes lets go of the interpreter lock for every call into a library loaded
with CDLL, so scaling runs while other Python threads work. The structs below
are checked field by field against the C compiler's layout by the tests
(tests/test_c_layout.py), so they cannot drift from the headers unnoticed.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from pathlib import Path
from typing import Any, Optional, Tuple

HERE = Path(__file__).resolve().parent


class Options(ctypes.Structure):
    """lq2x_options."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("orientation", ctypes.c_int32),
        ("threads", ctypes.c_int32),
        ("edge_x", ctypes.c_int32),
        ("edge_y", ctypes.c_int32),
        ("tile_width", ctypes.c_int32),
        ("tile_height", ctypes.c_int32),
        ("tile_margin", ctypes.c_int32),
        ("tile_spacing", ctypes.c_int32),
        ("scale", ctypes.c_int32),
        ("rgb565", ctypes.c_int32),
        ("kernel", ctypes.c_int32),
        ("max_pixels", ctypes.c_uint64),
        ("band_pixels", ctypes.c_uint64),
        ("alpha_hides", ctypes.c_int32),
    ]


class Picture(ctypes.Structure):
    """lq2x_picture."""

    _fields_ = [
        ("pixels", ctypes.c_void_p),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("pitch", ctypes.c_ssize_t),
        ("layout", ctypes.c_int32),
    ]


class FileOptions(ctypes.Structure):
    """lq2x_file_options."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("format", ctypes.c_int32),
        ("frame", ctypes.c_int64),
        ("png_level", ctypes.c_int32),
        ("raw_width", ctypes.c_int32),
        ("raw_height", ctypes.c_int32),
        ("gif_alpha", ctypes.c_int32),
        ("gif_colours", ctypes.c_int32),
        ("gif_palette", ctypes.c_int32),
        ("door", ctypes.c_int32),
        ("keep_existing", ctypes.c_int32),
        ("max_input_bytes", ctypes.c_uint64),
        ("max_frames", ctypes.c_uint64),
    ]


class Report(ctypes.Structure):
    """lq2x_report."""

    _fields_ = [
        ("output", ctypes.c_int32),
        ("bytes_in", ctypes.c_uint64),
        ("bytes_out", ctypes.c_uint64),
        ("message", ctypes.c_char * 320),
    ]


class Limits(ctypes.Structure):
    """lq2x_limits."""

    _fields_ = [
        ("max_pixels", ctypes.c_uint64),
        ("max_input_bytes", ctypes.c_uint64),
        ("max_frames", ctypes.c_uint64),
    ]


class File(ctypes.Structure):
    """lq2x_file."""

    _fields_ = [
        ("bytes", ctypes.POINTER(ctypes.c_uint8)),
        ("size", ctypes.c_size_t),
        ("message", ctypes.c_char * 320),
    ]


class Frames(ctypes.Structure):
    """lq2x_frames."""

    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("count", ctypes.c_int32),
        ("layout", ctypes.c_int32),
        ("animated", ctypes.c_int32),
        ("loops", ctypes.c_uint32),
        ("pixels", ctypes.POINTER(ctypes.c_uint8)),
        ("delays", ctypes.POINTER(ctypes.c_uint32)),
        ("message", ctypes.c_char * 320),
    ]


# Enum values, by their C names less the prefix (checked against the headers by the tests).
OK = 0
ERROR_BAD_SIZE = 1
ERROR_OUTPUT_EXISTS = 20
LAYOUT_GREY, LAYOUT_GREY_ALPHA, LAYOUT_RGB, LAYOUT_RGBA, LAYOUT_RGB565 = 1, 2, 3, 4, 5
UPRIGHT, CCW, CW = 0, 1, 2
EDGE_CLAMP, EDGE_WRAP, EDGE_TRANSPARENT = 0, 1, 2
KERNEL_AUTO, KERNEL_PORTABLE, KERNEL_SSE41, KERNEL_AVX2, KERNEL_AVX512, KERNEL_NEON, KERNEL_SIMD128 = range(7)
FORMAT_SAME = 0
DOOR_TOOL, DOOR_PYTHON = 1, 2
SETTINGS_SCALING, SETTINGS_FILE = 1, 2
MESSAGE_BYTES = 320  # what a message of the library's takes, as lq2x_file's holds it


def _bundled(stem: str) -> Optional[Path]:
    """The package's own copy of a library (named as its SONAME says), if it carries one."""
    found = sorted(HERE.glob(stem + ".so*"))
    return found[0] if found else None


def _installed(stem: str) -> str:
    """An installed copy (a distribution's package), by the SONAME the system's
    library cache knows it by: the development link (liblq2x.so) comes only
    with the development package."""
    return ctypes.util.find_library(stem[len("lib"):]) or stem + ".so"


def _load(stem: str, variable: str) -> ctypes.CDLL:
    """A library: $variable if set, else the package's copy, else an installed one."""
    path = os.environ.get(variable) or str(_bundled(stem) or _installed(stem))
    try:
        # RTLD_GLOBAL: the files library finds the core library's symbols
        # already loaded from the same copy.
        return ctypes.CDLL(path, mode=ctypes.RTLD_GLOBAL)
    except OSError as e:
        raise ImportError(f"lq2x: cannot load the shared library {path!r} ({e}); install the package with "
                          f"`pip install .` from the repository, or set {variable} to its path") from e


lib = _load("liblq2x", "LQ2X_LIBRARY")

lib.lq2x_default_options.argtypes = []
lib.lq2x_default_options.restype = Options
lib.lq2x_picture_size.argtypes = [ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(Options),
                                  ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_int32)]
lib.lq2x_picture_size.restype = ctypes.c_int
lib.lq2x_scale_picture.argtypes = [ctypes.POINTER(Picture), ctypes.POINTER(Picture), ctypes.POINTER(Options)]
lib.lq2x_scale_picture.restype = ctypes.c_int
lib.lq2x_describe.argtypes = [ctypes.c_int]
lib.lq2x_describe.restype = ctypes.c_char_p
lib.lq2x_version.argtypes = []
lib.lq2x_version.restype = ctypes.c_uint32
lib.lq2x_version_string.argtypes = []
lib.lq2x_version_string.restype = ctypes.c_char_p
lib.lq2x_picture_layout.argtypes = [ctypes.c_int32, ctypes.POINTER(Options), ctypes.POINTER(ctypes.c_int32)]
lib.lq2x_picture_layout.restype = ctypes.c_int
lib.lq2x_picture_check.argtypes = [ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(Options), ctypes.c_int32,
                                   ctypes.c_char_p, ctypes.c_size_t]
lib.lq2x_picture_check.restype = ctypes.c_int
lib.lq2x_set_option.argtypes = [ctypes.POINTER(Options), ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32,
                                ctypes.c_char_p, ctypes.c_size_t]
lib.lq2x_set_option.restype = ctypes.c_int
lib.lq2x_words.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p, ctypes.c_size_t]
lib.lq2x_words.restype = ctypes.c_size_t
lib.lq2x_setting_named.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(ctypes.c_int32),
                                   ctypes.c_char_p, ctypes.c_size_t]
lib.lq2x_setting_named.restype = ctypes.c_int

_files: Optional[ctypes.CDLL] = None


def files() -> ctypes.CDLL:
    """The files library, loaded at its first use (arrays need only the core one)."""
    global _files
    if _files is None:
        f = _load("liblq2x_files", "LQ2X_FILES_LIBRARY")
        f.lq2x_default_file_options.argtypes = []
        f.lq2x_default_file_options.restype = FileOptions
        f.lq2x_scale_file.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.POINTER(Options),
                                      ctypes.POINTER(FileOptions), ctypes.POINTER(File)]
        f.lq2x_scale_file.restype = ctypes.c_int
        f.lq2x_read_file.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.POINTER(Options),
                                     ctypes.POINTER(FileOptions), ctypes.POINTER(Frames)]
        f.lq2x_read_file.restype = ctypes.c_int
        f.lq2x_write_file.argtypes = [ctypes.POINTER(Frames), ctypes.POINTER(FileOptions), ctypes.POINTER(File)]
        f.lq2x_write_file.restype = ctypes.c_int
        f.lq2x_file_free.argtypes = [ctypes.POINTER(File)]
        f.lq2x_file_free.restype = None
        f.lq2x_frames_free.argtypes = [ctypes.POINTER(Frames)]
        f.lq2x_frames_free.restype = None
        f.lq2x_format_of_name.argtypes = [ctypes.c_char_p]
        f.lq2x_format_of_name.restype = ctypes.c_int32
        f.lq2x_format_of_bytes.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
        f.lq2x_format_of_bytes.restype = ctypes.c_int32
        f.lq2x_format_name.argtypes = [ctypes.c_int32]
        f.lq2x_format_name.restype = ctypes.c_char_p
        f.lq2x_format_writes.argtypes = [ctypes.c_int32]
        f.lq2x_format_writes.restype = ctypes.c_int32
        f.lq2x_set_file_option.argtypes = [ctypes.POINTER(FileOptions), ctypes.c_char_p, ctypes.c_char_p,
                                           ctypes.c_int32, ctypes.c_char_p, ctypes.c_size_t]
        f.lq2x_set_file_option.restype = ctypes.c_int
        f.lq2x_scale_path.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(Options),
                                      ctypes.POINTER(FileOptions), ctypes.POINTER(Report)]
        f.lq2x_scale_path.restype = ctypes.c_int
        f.lq2x_file_limits.argtypes = [ctypes.POINTER(Options), ctypes.POINTER(FileOptions), ctypes.POINTER(Limits)]
        f.lq2x_file_limits.restype = ctypes.c_int
        f.lq2x_batch_output.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p,
                                        ctypes.POINTER(FileOptions), ctypes.c_char_p, ctypes.c_size_t]
        f.lq2x_batch_output.restype = ctypes.c_size_t
        f.lq2x_batch_takes.argtypes = [ctypes.c_char_p, ctypes.POINTER(FileOptions)]
        f.lq2x_batch_takes.restype = ctypes.c_int32
        _files = f
    return _files


def describe(status: int) -> str:
    """The library's one line of English for a status."""
    return str(lib.lq2x_describe(status).decode())


def message(call: Any, *args: Any) -> Tuple[int, str]:
    """A call of the library's that writes a message into a buffer it is given
    (the last two arguments): its status and the message."""
    buffer = ctypes.create_string_buffer(MESSAGE_BYTES)
    status = call(*args, buffer, MESSAGE_BYTES)
    return int(status), buffer.value.decode(errors="replace")


def default_options() -> Options:
    """The library's defaults, sized as this package knows the struct."""
    o: Options = lib.lq2x_default_options()
    o.size = ctypes.sizeof(Options)
    return o


def default_file_options() -> FileOptions:
    """The files library's defaults, sized as this package knows the struct,
    its messages in this package's words."""
    o: FileOptions = files().lq2x_default_file_options()
    o.size = ctypes.sizeof(FileOptions)
    o.door = DOOR_PYTHON
    return o
