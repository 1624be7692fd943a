"""Animations: animated GIF, PNG and WebP files through lq2x.scale_image
against the tool (every frame, its duration and the loop count, each file
read back by Pillow, a codec of its own, and the result saved by Pillow
straight away); frames changed in memory; lists of frames through
lq2x.scale_frames."""

import numpy as np
import pytest
from PIL import Image

import lq2x
from conftest import art, run


def read_back(path):
    """Every frame as RGBA (what alpha 0 hides zero: writers may leave any
    colour there), each frame's duration in ms, and the loop count, as Pillow
    reads them."""
    with Image.open(path) as image:
        frames, durations = [], []
        for i in range(getattr(image, "n_frames", 1)):
            image.seek(i)
            rgba = np.array(image.convert("RGBA"))
            rgba[rgba[..., 3] == 0] = 0
            frames.append(rgba)
            durations.append(image.info.get("duration"))
        return frames, durations, image.info.get("loop")


@pytest.mark.parametrize("name", ["walk.gif", "walk.png", "walk.webp"])
@pytest.mark.parametrize("rotate, factor", [("none", 2), ("cw", 4)])
def test_scale_image_keeps_every_frame_as_the_tool_does(tool, inputs, tmp_path, name, rotate, factor):
    suffix = name[name.index("."):]
    run([tool, "--rotate", rotate, "--scale", factor, inputs[name], tmp_path / ("tool" + suffix)])
    frames, durations, loop = read_back(tmp_path / ("tool" + suffix))
    assert len(frames) > 2 and len(set(durations)) > 1

    with Image.open(inputs[name]) as animation:
        scaled = lq2x.scale_image(animation, rotate=rotate, scale=factor)
    assert scaled.n_frames == len(frames) and scaled.is_animated
    for got, want in zip(scaled.frames, frames):
        assert np.array_equal(np.asarray(got.convert("RGBA")), want)
    assert scaled.durations == durations

    # Saved by Pillow as it is, in the same format (WebP lossless, as the
    # tool writes it; Pillow's default is lossy): the same frames, durations
    # and loop count.
    scaled.save(tmp_path / ("pillow" + suffix), save_all=True, lossless=True)
    again, again_durations, again_loop = read_back(tmp_path / ("pillow" + suffix))
    assert len(again) == len(frames) and all(np.array_equal(a, b) for a, b in zip(again, frames))
    assert (again_durations, again_loop) == (durations, loop)


def test_the_frames_as_they_are_in_memory_are_scaled(inputs):
    # A rectangle painted on the frame Pillow holds is in the result: the
    # file is never read again. The other frames are Pillow's.
    with Image.open(inputs["walk.png"]) as animation:
        untouched = lq2x.scale_image(animation)
        animation.seek(0)
        animation.load()
        animation.im.paste((255, 0, 255, 255), (2, 3, 9, 7))
        painted = np.asarray(animation.convert("RGBA")).copy()
        scaled = lq2x.scale_image(animation)
    assert np.array_equal(np.asarray(scaled.frames[0]), lq2x.scale(painted))
    assert not np.array_equal(np.asarray(scaled.frames[0]), np.asarray(untouched.frames[0]))
    for got, want in zip(scaled.frames[1:], untouched.frames[1:]):
        assert np.array_equal(np.asarray(got), np.asarray(want))


@pytest.mark.parametrize("kind", ["arrays", "images"])
def test_scale_frames_keeps_the_frames_kind_durations_and_loop(rng, tmp_path, kind):
    arrays = [art(rng, 6, 7, 4) for _ in range(3)]
    frames = arrays if kind == "arrays" else [Image.fromarray(a, "RGBA") for a in arrays]
    anim = lq2x.scale_frames(frames, [40, 70, 100], loop=2, rotate="ccw")
    assert (len(anim), anim.durations, anim.loop) == (3, [40, 70, 100], 2)
    for got, source in zip(anim.frames, arrays):
        assert isinstance(got, np.ndarray if kind == "arrays" else Image.Image)
        assert np.array_equal(np.asarray(got), lq2x.scale(source, rotate="ccw"))
    # As one Pillow image, saved whole.
    anim.image().save(tmp_path / "out.png", save_all=True)
    again, durations, loop = read_back(tmp_path / "out.png")
    assert (durations, loop) == ([40, 70, 100], 2)
    assert all(np.array_equal(a, b) for a, b in zip(again, [lq2x.scale(s, rotate="ccw") for s in arrays]))


@pytest.mark.parametrize("frames, durations, loop, error", [
    ([], None, 0, TypeError), ("abc", None, 0, TypeError),
    ([np.zeros((2, 2), np.uint8)] * 2, [10], 0, ValueError),
    ([np.zeros((2, 2), np.uint8)], None, -1, ValueError),
])
def test_scale_frames_refuses_what_is_no_animation(frames, durations, loop, error):
    with pytest.raises(error):
        lq2x.scale_frames(frames, durations, loop=loop)
