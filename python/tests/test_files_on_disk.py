"""lq2x.scale_file by the library's rules for files on disk, as the tool
keeps them: never over its input, inputs read no further than the limits
allow, outputs whole or not at all (a full disk, a file-size limit, a
signal), warnings passed on. Each hostile case runs in a process of its own,
so that its memory and its ending are its own."""

import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import lq2x
from conftest import program, run

SAME_FILE, OUTPUT_EXISTS, CANNOT_SAVE, TOO_LARGE = 19, 20, 18, 10


def python(code: str, **kwargs) -> subprocess.Popen:
    """A Python process that runs `code` with lq2x imported."""
    return subprocess.Popen([sys.executable, "-c", "import lq2x, resource, sys\n" + code],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def peak_kb(code: str) -> int:
    """The peak memory of a process that runs `code`, in KiB."""
    child = python(code + "\nprint(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)")
    out, err = child.communicate(timeout=60)
    assert child.returncode == 0, err.decode()
    return int(out.split()[-1])


@pytest.fixture
def picture(tmp_path) -> Path:
    Image.fromarray(np.arange(48, dtype=np.uint8).reshape(6, 8), "L").save(tmp_path / "in.png")
    return tmp_path / "in.png"


def test_never_over_its_input(picture, tmp_path):
    before = picture.read_bytes()
    (tmp_path / "link.png").symlink_to(picture)
    os.link(picture, tmp_path / "hard.png")
    for target in (picture, tmp_path / "link.png", tmp_path / "hard.png", tmp_path / "." / "in.png"):
        with pytest.raises(lq2x.Error) as caught:
            lq2x.scale_file(picture, target)
        assert (caught.value.status, str(caught.value)) == (SAME_FILE, "is the input file; refusing to write over it")
        assert caught.value.filename == str(target)
        assert picture.read_bytes() == before


def test_outputs_kept_or_replaced_whole(picture, tmp_path):
    out = tmp_path / "out.png"
    out.write_bytes(b"old")
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale_file(picture, out, keep_existing=True)
    assert caught.value.status == OUTPUT_EXISTS and out.read_bytes() == b"old"
    lq2x.scale_file(picture, out)
    assert Image.open(out).size == (16, 12)
    # A name without an extension takes the input's format; one the library
    # does not write is refused.
    lq2x.scale_file(picture, tmp_path / "plain")
    assert (tmp_path / "plain").read_bytes()[:4] == b"\x89PNG"
    with pytest.raises(lq2x.Error, match="cannot tell the output format from .*out.jpg"):
        lq2x.scale_file(picture, tmp_path / "out.jpg")


def test_endless_and_huge_inputs_are_refused_within_a_few_mb(tmp_path):
    sparse = tmp_path / "sparse.png"
    with open(sparse, "wb") as f:  # 1 GiB that begins like a PNG, taking no disk
        f.write(b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x02\0\0\0")
        f.truncate(1 << 30)
    base = peak_kb("pass")
    for source, words in (("/dev/zero", "not a PNG, GIF, WebP"), (str(sparse), "input too large: over")):
        started = time.monotonic()
        kb = peak_kb(f"""
try:
    lq2x.scale_file({source!r}, {str(tmp_path / 'out.png')!r})
    sys.exit('not refused')
except lq2x.Error as e:
    assert {words!r} in str(e), str(e)""")
        assert kb - base < 8 * 1024, (source, kb, base)
        assert time.monotonic() - started < 20
    assert not (tmp_path / "out.png").exists()


def unnamed_output(pid: int, folder: Path) -> bool:
    """Whether the process holds an output of no name open in `folder`."""
    for fd in Path(f"/proc/{pid}/fd").iterdir():
        try:
            target = os.readlink(fd)
        except OSError:
            continue
        if target.startswith(str(folder) + "/#") and target.endswith(" (deleted)"):
            return True
    return False


def test_a_signal_or_a_size_limit_mid_write_leaves_the_old_output(tmp_path):
    grey = (np.arange(1000 * 1000) // 7 % 3 * 60).astype(np.uint8).reshape(1000, 1000)
    Image.fromarray(grey, "L").save(tmp_path / "in.png")
    out = tmp_path / "out.ppm"  # 48 MB at 4x: far from written the moment its writing starts
    call = f"lq2x.scale_file({str(tmp_path / 'in.png')!r}, {str(out)!r}, scale=4)"
    caught = 0
    for _ in range(5):
        out.write_bytes(b"old")
        child = python(call)
        deadline = time.monotonic() + 60
        while child.poll() is None and not unnamed_output(child.pid, tmp_path) and time.monotonic() < deadline:
            time.sleep(0.0002)
        if child.poll() is not None:  # done before it could be caught: it must have written the whole
            assert child.returncode == 0 and out.stat().st_size == 17 + 4000 * 4000 * 3
            continue
        child.send_signal(signal.SIGTERM)
        child.communicate(timeout=60)
        assert child.returncode in (-signal.SIGTERM, 0)
        if child.returncode == 0:
            continue  # the signal came after its output was in place
        caught += 1
        assert out.read_bytes() == b"old"
        assert sorted(p.name for p in tmp_path.iterdir()) == ["in.png", "out.ppm"]
        break
    assert caught == 1, "never caught writing"

    # A file-size limit: the write fails as any other, the old output stays.
    out.write_bytes(b"old")
    limited = python(f"""
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
try:
    {call}
    sys.exit('not refused')
except lq2x.Error as e:
    assert e.status == {CANNOT_SAVE} and str(e) == 'cannot write: File too large', (e.status, str(e))""")
    _, err = limited.communicate(timeout=60)
    assert limited.returncode == 0, err.decode()
    assert out.read_bytes() == b"old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.png", "out.ppm"]


def test_the_librarys_warnings_are_passed_on(tmp_path):
    # Delays of 5 and 15 ms, which a GIF holds only as whole hundredths.
    frames = [Image.new("RGB", (4, 3), (i * 60, 0, 0)) for i in range(2)]
    frames[0].save(tmp_path / "in.png", save_all=True, append_images=frames[1:], duration=[5, 15], loop=0)
    data = (tmp_path / "in.png").read_bytes()
    for door in (lambda: lq2x.scale_bytes(data, format="gif"),
                 lambda: lq2x.scale_file(tmp_path / "in.png", tmp_path / "out.gif")):
        with pytest.warns(UserWarning) as caught:
            door()
        assert len(caught) == 1 and "GIF" in str(caught[0].message) and "webp" in str(caught[0].message).lower()
        assert caught[0].filename == __file__  # said where the caller called


@pytest.mark.parametrize("limit, refused", [(64000, False), (63999, True), (1000, True)])
def test_too_large_is_refused_alike_from_every_format_and_door(tool, tmp_path, limit, refused):
    # 16000 x 1 at 2x is 64000 pixels: at the limit, one over it and far over
    # it, the same status and words (each door's name for the limit) from
    # the header on, whatever the format, from the tool, C and Python.
    doors = program("tests/doors")
    wide = Image.new("RGB", (16000, 1), (9, 9, 9))
    words = f"image too large: 16000 x 1 pixels scale to 64000, over the limit of {limit} ({{}} raises it)"
    for kind in ("png", "gif", "webp", "ppm"):
        source = tmp_path / f"wide.{kind}"
        wide.save(source, **({"lossless": True} if kind == "webp" else {}))
        tool_run = run([tool, "--max-pixels", limit, source, tmp_path / "t.png"], status=None)
        c_run = run([doors, "c", source, tmp_path / "c.png", "--max-pixels", limit, "--door", "1"], status=None)
        try:
            lq2x.scale_file(source, tmp_path / "p.png", max_pixels=limit)
            python_words = None
        except lq2x.Error as e:
            assert e.status == TOO_LARGE
            python_words = str(e)
        if not refused:
            assert (tool_run.returncode, c_run.returncode, python_words) == (0, 0, None), kind
            assert (tmp_path / "t.png").read_bytes() == (tmp_path / "c.png").read_bytes() == \
                (tmp_path / "p.png").read_bytes()
            continue
        assert tool_run.stderr.decode() == f"lq2x: {source}: " + words.format("--max-pixels") + "\n", kind
        assert c_run.stdout.decode() == f"status {TOO_LARGE}: " + words.format("--max-pixels") + "\n", kind
        assert python_words == words.format("max_pixels"), kind
