"""lq2x.batch on a local Dask cluster of two worker processes: a corpus of
2,000 sprites and 20 larger pictures (some hostile or broken) gives the
tool's `lq2x -r -o DIR` tree byte for byte, with every refusal named in the
library's words; a worker killed mid-batch loses nothing and leaves nothing
behind; a rerun skips what is done. Skipped, saying why, where Dask's
distributed scheduler is not installed."""

import io
import logging
import os
import signal
import struct
import sys
import threading
import time
import zlib
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

try:
    import distributed
except ImportError:
    print("\ntest_batch.py: SKIPPED: Dask's distributed scheduler is not installed "
          "(Debian: apt install python3-distributed)", file=sys.stderr)
    pytest.skip("Dask's distributed scheduler is not installed (Debian: python3-distributed)",
                allow_module_level=True)

import lq2x
from lq2x import batch
from conftest import art, run

SPRITES, LARGE = 2000, 20
logging.getLogger("distributed").setLevel(logging.WARNING)  # its start and stop, line by line, are no news


def chunk(kind: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as c:
        with distributed.Client(c) as cl:
            yield cl


@pytest.fixture(scope="module")
def corpus(tmp_path_factory, tool):
    """The sources, the tool's outputs for them, and the tool's refusals by
    name. Sprites are a few hundred distinct files written many times over,
    in a tree of folders; the larger pictures are PNG and PPM of up to a
    megapixel, a GIF whose scaled edges no GIF holds, and files that are
    broken or lie about their size."""
    root = tmp_path_factory.mktemp("batch")
    src = root / "src"
    rng = np.random.default_rng(45)
    blobs = []
    for i in range(250):
        image = Image.fromarray(art(rng, int(rng.integers(8, 33)), int(rng.integers(8, 33)), (3, 4)[i % 2]))
        data = io.BytesIO()
        image.save(data, "PNG")
        blobs.append(data.getvalue())
    for i in range(SPRITES - 2):
        folder = src / "sprites" / f"set{i % 7}" / ("walk" if i % 3 else "idle")
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"s{i:04d}.png").write_bytes(blobs[i % len(blobs)])
    (src / "sprites" / "empty.png").write_bytes(b"")
    (src / "sprites" / "garbage.png").write_bytes(rng.integers(0, 256, 300, dtype=np.uint8).tobytes())
    (src / "sprites" / "notes.txt").write_text("not an image: the batch and the tool both pass it by\n")
    large = src / "large"
    large.mkdir()
    for i in range(12):
        side = 256 + 64 * (i % 6)
        Image.fromarray(art(rng, side, side + 64, 4, colours=6)).save(large / f"big{i:02d}.png")
    for i in range(4):
        Image.fromarray(art(rng, 384, 512, 3)).save(large / f"scan{i}.ppm")
    good = (large / "big00.png").read_bytes()
    (large / "truncated.png").write_bytes(good[:len(good) // 2])
    # A header that claims 60000 x 60000 pixels: refused before any pixel memory is taken.
    (large / "huge.png").write_bytes(b"\x89PNG\r\n\x1a\n" +
                                     chunk(b"IHDR", struct.pack(">IIBBBBB", 60000, 60000, 8, 6, 0, 0, 0)) +
                                     chunk(b"IDAT", zlib.compress(b"\0" * 1000)) + chunk(b"IEND", b""))
    # Transparency and colour: the scaled edges blend into partial alpha, which GIF output cannot hold.
    sprite = Image.fromarray(art(rng, 64, 64, 4, colours=5))
    sprite.save(large / "blend.gif")
    # A bitmap, read only: written as PNG under the same stem.
    Image.fromarray(art(rng, 200, 300, 3)).save(large / "old.bmp")
    assert len(list(large.iterdir())) == LARGE
    expected = root / "tool"
    done = run([tool, "-r", "-qq", "-o", expected, src], status=1)
    refusals = {}
    for line in done.stderr.decode().splitlines():
        assert line.startswith("lq2x: "), line
        name, _, words = line[len("lq2x: "):].partition(": ")
        refusals[name] = words
    return src, expected, refusals


def tree(folder: Path) -> dict:
    """Every file under a folder (hidden ones too), by its path below it."""
    return {str(p.relative_to(folder)): p for p in folder.rglob("*") if not p.is_dir()}


def assert_tool_tree(out: Path, expected: Path) -> None:
    got, want = tree(out), tree(expected)
    assert sorted(got) == sorted(want), (set(got) ^ set(want))
    differ = [name for name in want if got[name].read_bytes() != want[name].read_bytes()]
    assert differ == [], f"{len(differ)} outputs differ from the tool's: {differ[:5]}"


def test_batch_is_the_tools_tree_and_names_each_refusal(client, corpus, tmp_path):
    src, expected, refusals = corpus
    assert sorted(Path(name).name for name in refusals) == \
        ["blend.gif", "empty.png", "garbage.png", "huge.png", "truncated.png"], refusals
    assert len(tree(expected)) == SPRITES + LARGE - len(refusals)
    out = tmp_path / "out"
    with _no_warning():
        report = batch.scale_files([src], out, client=client, progress=False)
    assert_tool_tree(out, expected)
    assert len(report.done) == len(tree(expected)) and report.kept == []
    # Each refusal by name, in the library's words: those scale_file gives for the same file.
    assert sorted(r.name for r in report.refused) == sorted(str(Path(name)) for name in refusals)
    for r in report.refused:
        with pytest.raises(lq2x.Error) as e:
            lq2x.scale_file(r.name, tmp_path / ("alone" + Path(r.name).suffix))
        assert (r.words, r.status) == (str(e.value), e.value.status)
    assert report.bytes_in == sum(os.path.getsize(s) for s, _ in batch.plan([src], out, _file_options())[0]
                                  if str(Path(s)) not in refusals)
    assert report.bytes_out == sum(p.stat().st_size for p in tree(out).values())
    # Sprites share tasks; each large picture is a task alone.
    tasks = batch.groups(batch.plan([src], out, _file_options())[0])
    large = [t for t in tasks if any(os.path.getsize(s) >= batch.SMALL_BYTES for s, _ in t)]
    assert len(large) >= 4 and all(len(t) == 1 for t in large)
    assert len(tasks) < 60
    print(f"lq2x.batch on 2 worker processes: {report}; {len(report.done)} outputs byte for byte the tool's "
          f"(lq2x -r -o DIR), in {len(tasks)} tasks; refused, each named in the library's words: " +
          "; ".join(f"{Path(r.name).name}: {r.words}" for r in report.refused))


class _no_warning:
    """No warning from a batch whose files all hold their results exactly."""

    def __enter__(self):
        import warnings
        self.caught = warnings.catch_warnings(record=True)
        self.seen = self.caught.__enter__()
        warnings.simplefilter("always")

    def __exit__(self, *exc):
        self.caught.__exit__(*exc)
        assert [str(w.message) for w in self.seen] == []


def _file_options():
    return lq2x._file_options(None, None, None, None)


def test_worker_killed_mid_batch_loses_nothing(client, corpus, tmp_path):
    src, expected, refusals = corpus
    out = tmp_path / "out"
    pids = client.run(os.getpid)
    result = {}
    thread = threading.Thread(target=lambda: result.update(report=batch.scale_files(
        [src], out, client=client, progress=False)))
    thread.start()
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and (not out.exists() or sum(1 for _ in out.rglob("*.png")) < 300):
        time.sleep(0.01)
    written = sum(1 for _ in out.rglob("*.png"))
    assert thread.is_alive() and written < len(tree(expected)), "the batch ended before the kill"
    victim = sorted(pids.values())[0]
    os.kill(victim, signal.SIGKILL)
    thread.join(90)
    assert not thread.is_alive()
    report = result["report"]
    assert victim not in client.run(os.getpid).values()
    assert_tool_tree(out, expected)  # every output once, the tool's bytes, no temporary file
    names = report.done + report.kept
    assert len(names) == len(set(names)) == len(tree(expected))
    assert len(report.refused) == len(refusals)
    print(f"a worker (pid {victim}) killed with SIGKILL after {written} of {len(names)} outputs: the batch "
          f"completed ({report}); every output there once, the tool's bytes, no temporary file")


def test_rerun_skips_outputs_newer_than_their_sources(client, corpus, tmp_path):
    src, expected, refusals = corpus
    out = tmp_path / "out"
    first = batch.scale_files([src / "large"], out, client=client, progress=False)
    outputs = LARGE - 3  # truncated.png, huge.png and blend.gif refused
    assert (len(first.done), len(first.refused)) == (outputs, 3)
    again = batch.scale_files([src / "large"], out, client=client, progress=False)
    assert (again.done, len(again.kept), len(again.refused)) == ([], outputs, 3)
    # A source changed since its output was written is done again; an output
    # older than its source is made anew; the others are left as they are.
    newer, older = src / "large" / "big03.png", out / "big05.png"
    stamps = {p: p.stat().st_mtime_ns for p in tree(out).values()}
    later = time.time() + 5
    try:
        os.utime(newer, (later, later))
        os.utime(older, (1, 1))
        third = batch.scale_files([src / "large"], out, client=client, progress=False)
    finally:
        os.utime(newer, (later - 10, later - 10))
    assert sorted(third.done) == sorted([str(out / "big03.png"), str(out / "big05.png")])
    assert len(third.kept) == outputs - 2
    changed = sorted(str(p) for p, t in stamps.items() if p.stat().st_mtime_ns != t)
    assert changed == sorted(third.done)
    assert_tool_tree(out, expected / "large")
    # skip_existing=False writes every output anew.
    anew = batch.scale_files([src / "large"], out, client=client, progress=False, skip_existing=False)
    assert len(anew.done) == outputs
    print(f"rerun: {len(again.kept)} outputs newer than their sources kept; then a source touched and an output "
          f"aged: those 2 done again, {len(third.kept)} kept")


def test_command_on_a_scheduler(client, corpus, tmp_path, tool):
    src, _, _ = corpus
    inputs = [src / "large" / "big01.png", src / "large" / "old.bmp", src / "large" / "huge.png"]
    out, expected = tmp_path / "out", tmp_path / "tool"
    options = ["--scale", "4", "--rotate", "cw", "--edge", "wrap", "--suffix", "@4x"]
    run([tool, "-qq", "-o", expected, *options, *inputs], status=1)
    done = run([sys.executable, "-m", "lq2x.batch", "-q", "--scheduler", client.scheduler_info()["address"], "-o", out,
                *options, *inputs], status=1)
    assert_tool_tree(out, expected)
    assert sorted(tree(out)) == ["big01@4x.png", "old@4x.png"]
    lines = done.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith(f"lq2x.batch: {inputs[2]}: image too large") and \
        "--max-pixels raises it" in lines[0], lines  # the tool's words for the tool's options
    assert done.stdout.decode().startswith("lq2x.batch: 3 files: 2 done, 0 kept, 1 refused;")
    # Values are read by the library, in its words; a usage error writes nothing.
    bad = run([sys.executable, "-m", "lq2x.batch", "-o", tmp_path / "none", "--scale", "3", *inputs], status=2)
    assert bad.stderr.decode().strip() == "lq2x.batch: --scale: wants 2, 4 or 8, not 3"
    assert not (tmp_path / "none").exists()
    print("python -m lq2x.batch --scheduler: the tool's outputs and words; exit status 1 with a refusal, "
          "2 for a value the library refuses")
