"""The structs and constants the package hands to C, against the C compiler's
own answer for the headers: every field's offset, size and signedness, every
struct's size, every named value. A program written from the package's ctypes
declarations is compiled with $CC (cc) against include/ and run."""

import ctypes
import os
import subprocess

import pytest

from lq2x import _native
from conftest import BUILD, ROOT

STRUCTS = {"lq2x_options": _native.Options, "lq2x_picture": _native.Picture,
           "lq2x_file_options": _native.FileOptions, "lq2x_file": _native.File, "lq2x_frames": _native.Frames,
           "lq2x_report": _native.Report, "lq2x_limits": _native.Limits}
INTEGERS = (ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64, ctypes.c_uint64, ctypes.c_ssize_t, ctypes.c_size_t)
# The package's own sizes are not the headers' names.
CONSTANTS = {name: value for name, value in vars(_native).items()
             if name.isupper() and isinstance(value, int) and not name.startswith("_") and name != "MESSAGE_BYTES"}


def python_answer() -> set:
    lines = set()
    for c_name, struct in STRUCTS.items():
        lines.add(f"{c_name} {ctypes.sizeof(struct)}")
        for field, kind in struct._fields_:
            description = getattr(struct, field)
            line = f"{c_name}.{field} {description.offset} {description.size}"
            if kind in INTEGERS:
                line += f" {int(kind(-1).value < 0)}"
            lines.add(line)
    lines.update(f"LQ2X_{name} {value}" for name, value in CONSTANTS.items())
    return lines


def c_program() -> str:
    body = []
    for c_name, struct in STRUCTS.items():
        body.append(f'printf("{c_name} %zu\\n", sizeof({c_name}));')
        for field, kind in struct._fields_:
            member = f"(({c_name}*)0)->{field}"
            if kind in INTEGERS:
                body.append(f'printf("{c_name}.{field} %zu %zu %d\\n", offsetof({c_name}, {field}), '
                            f'sizeof({member}), (__typeof__({member}))-1 < 0);')
            else:
                body.append(f'printf("{c_name}.{field} %zu %zu\\n", offsetof({c_name}, {field}), sizeof({member}));')
    body += [f'printf("LQ2X_{name} %lld\\n", (long long)LQ2X_{name});' for name in CONSTANTS]
    return "#include <stddef.h>\n#include <stdio.h>\n#include <lq2x/lq2x_files.h>\nint main(void)\n{\n    " + \
        "\n    ".join(body) + "\n    return 0;\n}\n"


@pytest.fixture(scope="module")
def c_answer(tmp_path_factory) -> set:
    folder = tmp_path_factory.mktemp("layout")
    (folder / "layout.c").write_text(c_program())
    version_header = BUILD / "include"  # lq2x/version.h, written by configuring
    subprocess.run([os.environ.get("CC", "cc"), "-std=gnu99", "-Wall", "-Werror", "-I", str(ROOT / "include"),
                    "-I", str(version_header), "layout.c", "-o", "layout"], cwd=folder, check=True, timeout=60)
    out = subprocess.run([str(folder / "layout")], capture_output=True, text=True, check=True, timeout=60).stdout
    return set(out.splitlines())


def test_structs_and_constants_are_the_compilers(c_answer):
    python = python_answer()
    assert len(python) > 60  # every struct's fields, and the constants
    assert python - c_answer == set(), "what the package says that the compiler does not"
    assert c_answer - python == set()

