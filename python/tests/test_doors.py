"""The same files and options through every door: the lq2x tool, the files
library's C interface and its C++ one (tests/doors.cpp) and Python
(lq2x.scale_file), requiring the same bytes out, or the same refusal: the
library's status and words (the tool exits 2 for a grid that leaves no cell,
1 for a file it cannot take, with the words in its message). The inputs are
conftest's, written by Pillow and by hand, so no door reads a file it made."""

from pathlib import Path

import numpy as np
import pytest

import lq2x
from conftest import program, run

TURNS = ["none", "ccw", "cw"]
EDGES = ["clamp", "wrap", "transparent"]


def cases():
    """(input, output name, options) for every door."""
    out = []
    for turn in TURNS:
        for factor in (2, 4, 8):
            out.append(("noisy.png", "out.png", {"rotate": turn, "scale": factor}))
    for h in EDGES:
        for v in EDGES:
            out.append(("noisy.png", "out.png", {"edge": (h, v), "scale": 4, "rotate": "cw"}))
    grids = [((16, 16), 1, 1), ((8, 5), 0, 2), ((7, 7), 3, 0), ((3, 40), 2, 1)]
    for tile, margin, spacing in grids:
        for turn, factor in (("none", 2), ("ccw", 4), ("cw", 8)):
            out.append(("noisy.png", "out.png", {"tile": tile, "tile_margin": margin, "tile_spacing": spacing,
                                                 "edge": "transparent", "rotate": turn, "scale": factor}))
    for name in ("rgb.png", "grey.png", "grey_alpha.png", "palette.png", "deep.png", "rgb.ppm", "grey.pgm"):
        out.append((name, "out" + Path(name).suffix, {"rotate": "ccw"}))
        out.append((name, "out.png", {"scale": 4, "edge": "wrap"}))
    for kind in ("png", "gif", "webp", "ppm", "pgm", "pam", "pnm", "raw"):
        out.append(("grey.png", "out." + kind, {"rotate": "cw"}))
    out.append(("noisy.png", "out.webp", {"rgb565": True, "rotate": "cw"}))
    out.append(("frame.raw", "out.png", {"size": (12, 10), "rotate": "ccw", "rgb565": True}))
    out.append(("rgb.png", "out.bin", {"format": "ppm", "scale": 4}))
    for name in ("walk.gif", "walk.png", "walk.webp"):
        # Not the partly transparent animations as GIF: refusals() has that.
        for target in ("out.gif", "out.png", "out.webp") if name == "walk.gif" else ("out.png", "out.webp"):
            out.append((name, target, {"scale": 2, "rotate": "ccw"}))
        out.append((name, "out.png", {"frame": 1, "scale": 4}))
    return out


def refusals():
    """(input, options, status) that every door refuses alike."""
    return [
        # Grids the library calls bad; the tool's argument parser refuses them
        # first (exit 2), in words of its own.
        ("noisy.png", {"tile": (0, 4)}, 8),
        ("noisy.png", {"tile": (4, 4), "tile_margin": -1}, 8),
        ("noisy.png", {"tile": (4, 4), "tile_spacing": -1}, 8),
        ("noisy.png", {"tile_spacing": 2}, 8),
        ("noisy.png", {"tile": (16, 16), "tile_margin": 40}, 9),  # the margin as wide as the 40 x 24 picture
        ("noisy.png", {"tile": (16, 16), "tile_margin": 24}, 9),  # as high
        ("noisy.png", {"tile": (4, 4), "tile_margin": 100, "scale": 4}, 9),
        ("noisy.png", {"max_pixels": 2 * 40 * 2 * 24 - 1}, 10),
        ("walk.gif", {"frame": 4}, 6),
        ("walk.png", {"format": "gif"}, 15),  # partly transparent blends, which a GIF cannot hold
        ("rgb.png", {"format": "pgm"}, 15),
    ]


def tool_args(options) -> list:
    args = []
    for key, value in options.items():
        flag = "--" + key.replace("_", "-")
        if key == "edge":
            args += [flag, ",".join(value) if isinstance(value, tuple) else value]
        elif key in ("tile", "size"):
            args += [flag, f"{value[0]}x{value[1]}"]
        elif value is True:
            args.append(flag)
        else:
            args += [flag, str(value)]
    return args


@pytest.fixture(scope="module")
def doors() -> Path:
    return program("tests/doors")


def through_every_door(tool, doors, source: Path, target: Path, options) -> dict:
    """Each door's bytes out, or its (status, words) for a refusal; the tool's
    exit status beside its message."""
    results = {}
    for name, command in (("tool", [tool, *tool_args(options), source, target]),
                          ("c", [doors, "c", source, target, *tool_args(options)]),
                          ("c++", [doors, "cpp", source, target, *tool_args(options)])):
        target.unlink(missing_ok=True)
        done = run(command, status=None)
        results[name] = target.read_bytes() if done.returncode == 0 else (done.returncode, done.stdout + done.stderr)
    target.unlink(missing_ok=True)
    try:
        lq2x.scale_file(source, target, **options)
        results["python"] = target.read_bytes()
    except lq2x.Error as e:
        results["python"] = (e.status, str(e))
    return results


def test_every_door_writes_the_same_bytes(tool, doors, inputs, tmp_path):
    count = 0
    for name, target, options in cases():
        got = through_every_door(tool, doors, inputs[name], tmp_path / target, options)
        assert isinstance(got["tool"], bytes) and got["tool"], (name, target, options, got["tool"])
        for door in ("c", "c++", "python"):
            assert got[door] == got["tool"], (door, name, target, options)
        count += 1
    print(f"cross-door: {count} cases, the same bytes from the tool, C, C++ and Python")
    assert count >= 60  # the table above, not a shrunken one


def test_every_door_refuses_alike(tool, doors, inputs, tmp_path):
    print(f"cross-door: {len(refusals())} refusals, the same status and words from C, C++ and Python, "
          "and the tool's exit status")
    for name, options, status in refusals():
        words = lq2x._native.describe(status)
        got = through_every_door(tool, doors, inputs[name], tmp_path / "out.png", options)
        tool_status, tool_message = got["tool"]
        assert tool_status == (2 if status in (8, 9) else 1), (name, options, tool_message)
        for door in ("c", "c++"):
            assert got[door][0] == 1 and got[door][1].startswith(f"status {status}: ".encode()), (door, got[door])
        python_status, python_words = got["python"]
        assert python_status == status
        # The C interface's reason, and the tool's message, carry the words Python raises.
        assert python_words.encode() in got["c"][1] and python_words.encode() in got["c++"][1]
        if status != 8:
            assert python_words.encode() in tool_message, (python_words, tool_message)
        if status in (8, 9):  # refused on the grid: the words are lq2x_describe's own
            assert python_words == words


def test_margin_as_wide_as_the_picture_is_refused_by_the_array_door_too():
    # The 40 x 24 picture with a 16 x 16 grid, as an array.
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(np.zeros((24, 40, 4), np.uint8), tile=(16, 16), tile_margin=40)
    assert (caught.value.status, str(caught.value)) == (9, "tile margin leaves no cell in the picture")
