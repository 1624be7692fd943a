"""The documented Python examples (docs/python.md's and the README's), run
as they are in a folder holding the files they name, and what they claim
checked against the programs."""

import re
import shutil

import numpy as np
from PIL import Image

from conftest import ROOT, SAMPLE, art, palette_frames, run


def blocks(text: str) -> list:
    return re.findall(r"```python\n(.*?)```", text, re.S)


def examples() -> list:
    page = (ROOT / "docs" / "python.md").read_text()
    return blocks(page.split("\n## Examples\n", 1)[1].split("\n## ", 1)[0])


def readme_examples() -> list:
    return blocks((ROOT / "README.md").read_text())


def frames(path) -> list:
    out = []
    with Image.open(path) as image:
        for i in range(getattr(image, "n_frames", 1)):
            image.seek(i)
            out.append(np.asarray(image.convert("RGBA")))
    return out


def test_the_examples_run_and_do_what_they_say(tool, testbench, tmp_path, rng, monkeypatch):
    Image.fromarray(art(rng, 64, 64, 4), "RGBA").save(tmp_path / "sheet.png")
    Image.fromarray(art(rng, 12, 10, 3), "RGB").save(tmp_path / "sprite.png")
    walk = palette_frames(rng, 3, 12, 16, transparent=False)
    walk[0].save(tmp_path / "walk.gif", save_all=True, append_images=walk[1:], duration=[60, 120, 90], loop=0)
    shutil.copy(SAMPLE, tmp_path / "test.raw")
    monkeypatch.chdir(tmp_path)
    found = examples()
    assert len(found) == 3
    results: dict = {}
    for block in found:
        exec(compile(block, "docs/python.md", "exec"), results)

    run([testbench])  # LQ2x.raw beside test.raw
    assert results["bench"].tobytes() == (tmp_path / "LQ2x.raw").read_bytes()
    assert results["big"].n_frames == 3 and results["big"].durations == [60, 120, 90]
    assert results["anim"].durations == [100, 100, 200] and results["anim"].frames[0].shape == (32, 32, 4)
    for made, args, kind in (("sprite4x.png", ["--scale", "4", "sprite.png"], "png"),
                             ("walk4x.png", ["--scale", "4", "walk.gif"], "png"),
                             ("walk2x.webp", ["--rotate", "cw", "walk.gif"], "webp"),
                             (None, ["--gif-alpha", "128", "sprite.png"], "gif")):
        run([tool, *args, f"tool.{kind}"])
        if made is None:
            assert results["gif"] == (tmp_path / "tool.gif").read_bytes()
        elif made.endswith(".webp"):  # lq2x.scale_file: the tool's bytes
            assert (tmp_path / made).read_bytes() == (tmp_path / "tool.webp").read_bytes()
        else:  # saved by Pillow: the tool's pixels
            got, want = frames(made), frames(f"tool.{kind}")
            assert len(got) == len(want) and all(np.array_equal(a, b) for a, b in zip(got, want)), made


def test_the_readme_example_gives_the_tools_bytes(tool, tmp_path, rng, monkeypatch):
    Image.fromarray(art(rng, 12, 10, 4), "RGBA").save(tmp_path / "sprite.png")
    monkeypatch.chdir(tmp_path)
    found = readme_examples()
    assert len(found) == 1
    results: dict = {}
    exec(compile(found[0], "README.md", "exec"), results)

    run([tool, "sprite.png", "tool.png"])
    run([tool, "--scale", "4", "sprite.png", "tool.webp"])
    assert (tmp_path / "sprite-2x.png").read_bytes() == (tmp_path / "tool.png").read_bytes()
    assert results["webp"] == (tmp_path / "tool.webp").read_bytes()
