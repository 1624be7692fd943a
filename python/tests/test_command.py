"""The lq2x command the package installs, and `python -m lq2x`: the tool's
own program, so the same bytes, words and exit statuses as the tool built
beside the tests."""

import sys
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

from conftest import art, palette_frames, run

# The command pip puts beside the environment's interpreter, and the module.
STARTS = {"command": [Path(sys.executable).parent / "lq2x"], "module": [sys.executable, "-m", "lq2x"]}


@pytest.fixture(scope="module")
def files(tmp_path_factory, rng):
    folder = tmp_path_factory.mktemp("command")
    Image.fromarray(art(rng, 17, 23, 4), "RGBA").save(folder / "sprite.png")
    walk = palette_frames(rng, 3, 12, 16, transparent=False)
    walk[0].save(folder / "walk.gif", save_all=True, append_images=walk[1:], duration=[60, 120, 90], loop=0)
    (folder / "bad.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(20))
    return folder


@pytest.fixture(scope="module")
def rng():
    return np.random.default_rng(40)


@pytest.mark.parametrize("start", STARTS)
@pytest.mark.parametrize("args", [["sprite.png", "{}.png"], ["--rotate", "cw", "--scale", "4", "walk.gif", "{}.gif"],
                                  ["walk.gif", "{}.webp"], ["--gif-alpha", "128", "sprite.png", "{}.gif"]])
def test_same_bytes_as_the_tool(tool, files, start, args):
    ours = [a.format(f"{start}-{len(args)}") for a in args]
    theirs = [a.format(f"tool-{len(args)}") for a in args]
    run([*STARTS[start], *ours], cwd=files)
    run([tool, *theirs], cwd=files)
    assert (files / ours[-1]).read_bytes() == (files / theirs[-1]).read_bytes()


@pytest.mark.parametrize("start", STARTS)
@pytest.mark.parametrize("args", [["--version"], ["--scale", "3", "sprite.png", "x.png"], ["bad.png", "x.png"], []])
def test_same_words_and_status_as_the_tool(tool, files, start, args):
    ours, theirs = run([*STARTS[start], *args], cwd=files, status=None), run([tool, *args], cwd=files, status=None)
    assert (ours.returncode, ours.stdout, ours.stderr) == (theirs.returncode, theirs.stdout, theirs.stderr)


def test_no_tool_is_said_and_a_script_is_not_started(tmp_path, monkeypatch):
    """Without the tool beside it, the module starts an installed program only:
    pip's `lq2x` script (which starts the module) would start it again for ever."""
    import lq2x.__main__ as entry
    script = tmp_path / "lq2x"
    script.write_text("#!/bin/sh\nexit 0\n")
    script.chmod(0o755)
    monkeypatch.setattr(entry, "TOOL", tmp_path / "missing")
    monkeypatch.setattr(entry, "INSTALLED", script)

    def started(path, args):
        raise AssertionError(f"started {path}")
    monkeypatch.setattr(entry.os, "execv", started)
    with pytest.raises(SystemExit, match="carries no command-line tool"):
        entry.main()
