"""liblq2x's C interface (lq2x/lq2x.h) through ctypes.

ctypes releases the interpreter lock for the length of every call into a
library loaded with CDLL, so scaling runs while other Python threads work.
"""

from __future__ import annotations

import ctypes
import os
from pathlib import Path

# The shared library's name as installed (its SONAME); the package also
# carries a copy of its own beside this file.
SONAME = "liblq2x.so.0.3"
BUNDLED = Path(__file__).with_name("liblq2x.so")


class Options(ctypes.Structure):
    """lq2x_options, field for field."""

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
    ]


# lq2x_status values this package names.
OK = 0
ERROR_BAD_SIZE = 1


def _load() -> ctypes.CDLL:
    """The library: $LQ2X_LIBRARY if set, else the package's copy, else the installed one."""
    path = os.environ.get("LQ2X_LIBRARY") or (str(BUNDLED) if BUNDLED.exists() else SONAME)
    try:
        return ctypes.CDLL(path)
    except OSError as e:
        raise ImportError(
            f"lq2x: cannot load the shared library {path!r} ({e}); build the package with "
            "`cmake --workflow --preset python` or set LQ2X_LIBRARY to liblq2x.so"
        ) from e


lib = _load()

_SCALE_ARGS = [
    ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_ssize_t,  # source
    ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_ssize_t,  # output
]
for _name in ("lq2x_scale565", "lq2x_scale8888"):
    getattr(lib, _name).argtypes = _SCALE_ARGS + [ctypes.POINTER(Options)]
    getattr(lib, _name).restype = ctypes.c_int
for _name in ("lq2x_scale565_rows", "lq2x_scale8888_rows"):
    getattr(lib, _name).argtypes = _SCALE_ARGS + [ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(Options)]
    getattr(lib, _name).restype = ctypes.c_int
lib.lq2x_default_options.argtypes = []
lib.lq2x_default_options.restype = Options
lib.lq2x_describe.argtypes = [ctypes.c_int]
lib.lq2x_describe.restype = ctypes.c_char_p
lib.lq2x_version.argtypes = []
lib.lq2x_version.restype = ctypes.c_uint32
lib.lq2x_version_string.argtypes = []
lib.lq2x_version_string.restype = ctypes.c_char_p

SCALE = {"565": lib.lq2x_scale565, "8888": lib.lq2x_scale8888}


def describe(status: int) -> str:
    """The library's one line of English for a status."""
    return lib.lq2x_describe(status).decode()


def default_options() -> Options:
    """The library's defaults, sized as this package knows the struct."""
    o = lib.lq2x_default_options()
    o.size = ctypes.sizeof(Options)
    return o
