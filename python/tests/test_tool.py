"""lq2x.scale against the programs, end to end: the lq2x tool on PNG files
written and read back with Pillow (a PNG codec of its own), and the test bench
on the project's sample."""

import shutil

import numpy as np
import pytest
from PIL import Image

import lq2x
from conftest import SAMPLE, SAMPLE_SIZE, art, from565, run, to565

MODES = {1: "L", 2: "LA", 3: "RGB", 4: "RGBA"}
ROTATIONS = ["none", "ccw", "cw"]
SCALES = [2, 4, 8]


def tool_scale(tool, tmp_path, pixels: np.ndarray, *args) -> np.ndarray:
    """The tool's result on a PNG of `pixels`, as an array of the same channels
    (the tool may store it as a palette or with fewer channels when that is exact)."""
    source, target = tmp_path / "in.png", tmp_path / "out.png"
    mode = MODES[1 if pixels.ndim == 2 else pixels.shape[2]]
    Image.fromarray(pixels, mode).save(source)
    run([tool, *args, source, target])
    with Image.open(target) as out:
        return np.asarray(out.convert(mode))


@pytest.mark.parametrize("channels", [1, 2, 3, 4])
@pytest.mark.parametrize("rotate", ROTATIONS)
@pytest.mark.parametrize("factor", SCALES)
def test_equals_the_tool(tool, tmp_path, rng, channels, rotate, factor):
    pixels = art(rng, 23, 37, channels)
    expected = tool_scale(tool, tmp_path, pixels, "--rotate", rotate, "--scale", factor)
    for threads in (1, 2, 0):
        got = lq2x.scale(pixels, rotate=rotate, scale=factor, threads=threads)
        assert got.dtype == np.uint8 and got.shape == expected.shape
        assert np.array_equal(got, expected), f"threads={threads}"


@pytest.mark.parametrize("rotate", ROTATIONS)
@pytest.mark.parametrize("factor", SCALES)
def test_rgb565_equals_the_tool(tool, tmp_path, rng, rotate, factor):
    rgb = art(rng, 19, 26, 3, colours=6)
    expected = tool_scale(tool, tmp_path, rgb, "--rgb565", "--rotate", rotate, "--scale", factor)
    got = lq2x.scale(to565(rgb), rotate=rotate, scale=factor)
    assert got.dtype == np.uint16
    assert np.array_equal(from565(got), expected)


@pytest.mark.parametrize("height, width", [(1, 1), (1, 9), (7, 1), (2, 2), (64, 3)])
def test_small_and_thin_images_equal_the_tool(tool, tmp_path, rng, height, width):
    pixels = art(rng, height, width, 4)
    for rotate in ROTATIONS:
        expected = tool_scale(tool, tmp_path, pixels, "--rotate", rotate)
        assert np.array_equal(lq2x.scale(pixels, rotate=rotate), expected)


def sample_rgb() -> np.ndarray:
    return np.fromfile(SAMPLE, np.uint8, count=3 * SAMPLE_SIZE[0] * SAMPLE_SIZE[1]).reshape(*SAMPLE_SIZE, 3)


def test_sample_through_rgb565_equals_the_test_bench(testbench, tmp_path):
    shutil.copy(SAMPLE, tmp_path / "test.raw")
    run([testbench], cwd=tmp_path)
    expected = (tmp_path / "LQ2x.raw").read_bytes()
    got = from565(lq2x.scale(to565(sample_rgb()), rotate="ccw"))
    assert got.shape == (320, 204, 3)
    assert got.tobytes() == expected


@pytest.mark.parametrize("rotate", ROTATIONS)
def test_sample_equals_the_tool(tool, tmp_path, rotate):
    target = tmp_path / "out.png"
    run([tool, "--size", f"{SAMPLE_SIZE[1]}x{SAMPLE_SIZE[0]}", "--rotate", rotate, SAMPLE, target])
    with Image.open(target) as out:
        expected = np.asarray(out.convert("RGB"))
    assert np.array_equal(lq2x.scale(sample_rgb(), rotate=rotate), expected)


@pytest.mark.parametrize("mode", ["1", "L", "LA", "RGB", "RGBA", "P", "P+transparency"])
def test_pillow_images_equal_the_tool(tool, tmp_path, rng, mode):
    rgba = art(rng, 21, 30, 4)
    if mode.startswith("P"):
        image = Image.fromarray(rgba[..., :3], "RGB").quantize(8)
        if mode == "P+transparency":
            image.info["transparency"] = 0
        kind = "RGBA" if mode == "P+transparency" else "RGB"
    elif mode == "1":
        image, kind = Image.fromarray(rgba[..., 0] > 127), "L"
    else:
        image = Image.fromarray(rgba, "RGBA").convert(mode)
        kind = mode
    source, target = tmp_path / "in.png", tmp_path / "out.png"
    image.save(source)
    run([tool, "--rotate", "cw", source, target])
    with Image.open(source) as reread:
        got = lq2x.scale_image(reread, rotate="cw")
    with Image.open(target) as out:
        expected = np.asarray(out.convert(kind))
    assert got.mode == kind
    assert got.size == (2 * image.height, 2 * image.width)
    assert np.array_equal(np.asarray(got), expected)


@pytest.mark.parametrize("mode", ["I;16", "I", "F", "CMYK"])
def test_pillow_modes_without_8_bit_channels_are_refused(mode):
    image = Image.new(mode, (4, 3))
    with pytest.raises(ValueError, match=f"not mode '{mode}'"):
        lq2x.scale_image(image)


def test_palette_with_alpha_is_rgba(rng):
    rgba = art(rng, 10, 12, 4)
    image = Image.fromarray(rgba, "RGBA").convert("P").convert("PA")
    assert image.mode == "PA"
    got = lq2x.scale_image(image, rotate="ccw")
    assert got.mode == "RGBA"
    assert np.array_equal(np.asarray(got), lq2x.scale(np.asarray(image.convert("RGBA")), rotate="ccw"))


@pytest.mark.parametrize("channels", [1, 2, 3, 4])
def test_slices_of_bigger_arrays_equal_the_tool(tool, tmp_path, rng, channels):
    pixels = art(rng, 30, 41, channels)
    expected = tool_scale(tool, tmp_path, pixels[5:25, 7:33], "--rotate", "ccw", "--scale", 4)
    assert np.array_equal(lq2x.scale(pixels[5:25, 7:33], rotate="ccw", scale=4), expected)
    rgb = pixels[..., :3] if channels >= 3 else None
    if rgb is not None:  # RGB565 words cut out of a bigger frame
        words = to565(rgb)
        expected = tool_scale(tool, tmp_path, np.ascontiguousarray(rgb[3:20, 2:30]), "--rgb565", "--rotate", "cw")
        assert np.array_equal(from565(lq2x.scale(words[3:20, 2:30], rotate="cw")), expected)
