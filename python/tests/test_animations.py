"""Animated GIF, PNG and WebP files through lq2x.scale_image against the
tool: every frame, its duration and the loop count, each file read back by
Pillow (a codec of its own); and the result saved by Pillow straight away."""

import numpy as np
import pytest
from PIL import Image

import lq2x
from conftest import run


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


def test_an_animation_without_its_file_is_refused():
    frames = [Image.new("RGBA", (3, 2), (i, 0, 0, 255)) for i in range(3)]
    image = frames[0].copy()
    image.is_animated = True  # as a caller's own multi-frame object might say
    with pytest.raises(ValueError, match="reads an animation from its file"):
        lq2x.scale_image(image)
