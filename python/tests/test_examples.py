"""examples/scale_folder.py run as a reader runs it, with the installed
package: each PNG of a folder written as the lq2x tool writes it, byte for
byte, and a file the library refuses named with the library's own words."""

import sys

import pytest
from PIL import Image

import lq2x
from conftest import ROOT, art, run

EXAMPLE = ROOT / "examples" / "scale_folder.py"


def test_scale_folder_writes_what_the_tool_writes(tool, tmp_path, rng):
    folder, out = tmp_path / "art", tmp_path / "out"
    folder.mkdir()
    for name, channels in [("sprite.png", 4), ("tiles.png", 3), ("grey.png", 1)]:
        pixels = art(rng, 19, 26, channels)
        Image.fromarray(pixels, {1: "L", 3: "RGB", 4: "RGBA"}[channels]).save(folder / name)
    (folder / "broken.png").write_bytes(b"not an image\n")
    (folder / "notes.txt").write_text("not a PNG, so not looked at\n")

    done = run([sys.executable, EXAMPLE, folder, out], status=1)  # one refused
    assert sorted(p.name for p in out.iterdir()) == ["grey.png", "sprite.png", "tiles.png"]
    for name in ["grey.png", "sprite.png", "tiles.png"]:
        run([tool, folder / name, tmp_path / "tool.png"])
        assert (out / name).read_bytes() == (tmp_path / "tool.png").read_bytes(), name
    assert done.stdout.decode().count(" -> ") == 3

    with pytest.raises(lq2x.Error) as refusal:
        lq2x.scale_file(folder / "broken.png", tmp_path / "broken.png")
    assert done.stderr.decode() == f"scale_folder: {folder / 'broken.png'}: {refusal.value}\n"
