"""The same files and options through every door: the lq2x tool, the files
library's C interface and its C++ one (tests/doors.cpp), Python's files
(lq2x.scale_file), arrays (lq2x.scale) and Pillow images
(lq2x.scale_image), requiring the same bytes out, or the same pixels and
layout, or the same refusal: the library's status and words, each door's
naming the setting its own way (the tool exits 2 for a usage fault, 1 for a
file it cannot take). The inputs are conftest's, written by Pillow and by
hand, so no door reads a file it made."""

from pathlib import Path

import numpy as np
import pytest
from PIL import Image

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
        # Grids the library calls bad; the tool refuses them as it reads its
        # command line (exit 2), in the library's words too.
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
        ("noisy.png", {"scale": 3}, 6),
        ("noisy.png", {"rotate": "left"}, 6),
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
    exit status beside its message. C gives its words as the tool's door
    names settings, C++ as Python's, so that each pair must agree word for word."""
    results = {}
    for name, command in (("tool", [tool, *tool_args(options), source, target]),
                          ("c", [doors, "c", source, target, *tool_args(options), "--door", "1"]),
                          ("c++", [doors, "cpp", source, target, *tool_args(options), "--door", "2"])):
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
    print(f"cross-door: {len(refusals())} refusals, the same status from every door, the tool's words those of "
          "C in the tool's names, Python's those of C++ in Python's")
    for name, options, status in refusals():
        got = through_every_door(tool, doors, inputs[name], tmp_path / "out.png", options)
        tool_status, tool_message = got["tool"]
        usage = status in (6, 8, 9) and name != "walk.gif"
        assert tool_status == (2 if usage else 1), (name, options, tool_message)
        for door in ("c", "c++"):
            assert got[door][0] == 1 and got[door][1].startswith(f"status {status}: ".encode()), (door, got[door])
        c_words, cpp_words = (got[door][1].decode().split(": ", 1)[1].rstrip("\n") for door in ("c", "c++"))
        assert tool_message.decode().rstrip("\n").endswith(": " + c_words), (tool_message, c_words)
        python_status, python_words = got["python"]
        assert (python_status, python_words) == (status, cpp_words)


def pam(path: Path) -> np.ndarray:
    """A PAM file's pixels as an array, read here (H x W, or H x W x depth)."""
    data = path.read_bytes()
    header, pixels = data.split(b"ENDHDR\n", 1)
    fields = dict(line.split(b" ", 1) for line in header.splitlines()[1:])
    h, w, depth = (int(fields[k]) for k in (b"HEIGHT", b"WIDTH", b"DEPTH"))
    out = np.frombuffer(pixels, np.uint8).reshape(h, w, depth)
    return out[..., 0] if depth == 1 else out


# The pictures Pillow reads as the library does (8 bits a sample), and the
# option sets the array and image doors take.
PICTURES = ["noisy.png", "rgb.png", "grey.png", "grey_alpha.png", "palette.png", "rgb.ppm", "grey.pgm"]


def picture_cases():
    out = []
    for turn in TURNS:
        out.append({"rotate": turn, "scale": 4 if turn == "cw" else 2})
    for h in EDGES:
        for v in EDGES:
            out.append({"edge": (h, v), "rotate": "ccw"})
    out.append({"tile": (5, 4), "tile_margin": 1, "tile_spacing": 2, "edge": "transparent", "scale": 8})
    out.append({"rgb565": True, "edge": "transparent"})
    return out


def test_arrays_and_images_are_the_tools_pixels_and_layout(tool, inputs, tmp_path):
    # The tool writes PAM, which keeps the layout as it is (grey, grey and
    # alpha, RGB, RGBA); the array and image doors must give it too.
    count = 0
    for name in PICTURES:
        with Image.open(inputs[name]) as image:
            image.load()
        mode = {"P": "RGBA" if "transparency" in image.info else "RGB"}.get(image.mode, image.mode)
        array = np.asarray(image.convert(mode))
        for options in picture_cases():
            run([tool, *tool_args(options), "--format", "pam", inputs[name], tmp_path / "out.pam"])
            want = pam(tmp_path / "out.pam")
            got_array = lq2x.scale(array, **options)
            got_image = np.asarray(lq2x.scale_image(image, **options))
            for door, got in (("array", got_array), ("image", got_image)):
                assert got.shape == want.shape and np.array_equal(got, want), (door, name, options)
            count += 1
    print(f"cross-door: {count} pictures and option sets, the same pixels and layout from the tool, arrays and "
          "Pillow images")
    assert count >= 90


def test_alpha_gained_under_transparent_edges_is_the_same_at_every_door(tool, tmp_path):
    # An 8 x 6 RGB picture, clamped edges but the top and bottom transparent:
    # RGBA out of every door, the same pixels.
    rgb = np.zeros((6, 8, 3), np.uint8)
    rgb[...] = (157, 157, 157)
    rgb[2:4, 3:6] = (40, 90, 200)
    Image.fromarray(rgb, "RGB").save(tmp_path / "in.png")
    run([tool, "--edge", "transparent", "--format", "pam", tmp_path / "in.png", tmp_path / "tool.pam"])
    want = pam(tmp_path / "tool.pam")
    # The corner blends 14:2 with the all-zero pixel beyond: 157 * 14 / 16 and 255 * 14 / 16, floored.
    assert want.shape == (12, 16, 4) and list(want[0, 0]) == [137, 137, 137, 223]
    from_bytes = lq2x.scale_bytes((tmp_path / "in.png").read_bytes(), edge="transparent", format="pam")
    (tmp_path / "bytes.pam").write_bytes(from_bytes)
    for door, got in (("bytes", pam(tmp_path / "bytes.pam")), ("array", lq2x.scale(rgb, edge="transparent")),
                      ("image", np.asarray(lq2x.scale_image(Image.fromarray(rgb), edge="transparent")))):
        assert got.shape == want.shape and np.array_equal(got, want), door


def test_margin_as_wide_as_the_picture_is_refused_by_the_array_door_too():
    # The 40 x 24 picture with a 16 x 16 grid, as an array.
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(np.zeros((24, 40, 4), np.uint8), tile=(16, 16), tile_margin=40)
    assert (caught.value.status, str(caught.value)) == (9, "tile_margin: a margin of 40 leaves no cell in a "
                                                           "picture of 40 x 24")


@pytest.mark.parametrize("options, tool_words, python_words", [
    ({"scale": 3}, "--scale: wants 2, 4 or 8, not 3", "scale: wants 2, 4 or 8, not 3"),
    ({"rotate": "left"}, "--rotate: wants none, ccw or cw, not 'left'", "rotate: wants none, ccw or cw, not 'left'"),
    ({"tile": (0, 4)}, "--tile: wants cells of WIDTHxHEIGHT, each from 1 to 2147483647 (0x0: none), not '0x4'",
     "tile: wants cells of WIDTHxHEIGHT, each from 1 to 2147483647 (0x0: none), not '0x4'"),
    ({"tile_margin": 2}, "--tile-margin: needs a tile grid (--tile)", "tile_margin: needs a tile grid (tile)"),
    ({"gif_colours": 1}, "--gif-colours: wants a whole number from 2 to 256 (0: none), not 1",
     "gif_colours: wants a whole number from 2 to 256 (0: none), not 1"),
    ({"gif_palette": "each"}, "--gif-palette: wants shared or per-frame, not 'each'",
     "gif_palette: wants shared or per-frame, not 'each'"),
])
def test_the_same_mistake_in_the_same_words(tool, inputs, tmp_path, options, tool_words, python_words):
    done = run([tool, *tool_args(options), inputs["noisy.png"], tmp_path / "out.png"], status=2)
    assert done.stderr.decode() == f"lq2x: {tool_words}\n"
    files_only = any(key.startswith("gif_") for key in options)
    for door in ([] if files_only else [lambda: lq2x.scale(np.zeros((4, 4, 4), np.uint8), **options)]) + \
            [lambda: lq2x.scale_bytes(inputs["noisy.png"].read_bytes(), **options)]:
        with pytest.raises(lq2x.Error) as caught:
            door()
        assert str(caught.value) == python_words
