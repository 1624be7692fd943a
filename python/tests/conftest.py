"""Shared fixtures: the project's programs, and images made for the tests.

The package under test is the installed one (`pip install .`, or a wheel),
imported as any user imports it; the tool and the test bench come from
$LQ2X_BUILD_DIR, by default build/release. Every test has a time limit: one
that runs past it (a hang in the library included, where Python's own
signals cannot reach) ends the run with the stacks printed.
"""

import faulthandler
import os
import struct
import subprocess
import zlib
from pathlib import Path
from typing import Optional

import numpy as np
import pytest
from PIL import Image

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("LQ2X_BUILD_DIR", ROOT / "build" / "release")).resolve()  # programs run in other folders
SAMPLE = ROOT / "harness" / "sample" / "test.raw"
SAMPLE_SIZE = (102, 160)  # rows, columns


def program(name: str) -> Path:
    path = BUILD / name
    if not path.is_file():
        pytest.fail(f"{path} is missing: build it with `cmake --preset release && cmake --build --preset release` "
                    "or point LQ2X_BUILD_DIR at a build that has it")
    return path


@pytest.fixture(scope="session")
def tool() -> Path:
    return program("lq2x")


@pytest.fixture(scope="session")
def testbench() -> Path:
    return program("lq2x_testbench")


TEST_SECONDS = 120  # the slowest test takes a few seconds on two busy cores


@pytest.fixture(autouse=True)
def time_limit():
    faulthandler.dump_traceback_later(TEST_SECONDS, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


def pytest_report_header(config):
    import lq2x

    return f"lq2x {lq2x.__version__} from {Path(lq2x.__file__).parent}, tool from {BUILD}"


def run(args, cwd=None, status: Optional[int] = 0) -> subprocess.CompletedProcess:
    """Runs a program to its end (within a minute) and checks its exit status (None: any)."""
    done = subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, timeout=60)
    assert status is None or done.returncode == status, \
        f"{args} exited {done.returncode}: {done.stderr.decode(errors='replace')}"
    return done


def art(rng: np.random.Generator, height: int, width: int, channels: int, colours: int = 4) -> np.ndarray:
    """Pixel art: blocks and runs of a few colours, so that the rule's equalities
    happen everywhere. channels 4 includes fully transparent pixels whose colour
    bits are noise."""
    shape = (height, width) if channels == 1 else (height, width, channels)
    palette = rng.integers(0, 256, (colours,) + shape[2:], dtype=np.uint8)
    if channels in (2, 4):
        palette[0, -1] = 0  # one invisible colour
        palette[1:, -1] = rng.choice([128, 255], colours - 1)
    # Runs of equal pixels along rows and columns.
    index = rng.integers(0, colours, (height // 2 + 1, width // 3 + 1))
    index = np.repeat(np.repeat(index, 2, 0), 3, 1)[:height, :width]
    index = np.where(rng.random((height, width)) < 0.15, rng.integers(0, colours, (height, width)), index)
    pixels = palette[index]
    if channels in (2, 4):
        invisible = pixels[..., -1] == 0
        noise = rng.integers(0, 256, pixels.shape, dtype=np.uint8)
        noise[..., -1] = 0
        pixels[invisible] = noise[invisible]
    return pixels


def to565(rgb: np.ndarray) -> np.ndarray:
    """The test bench's conversion: the top 5, 6 and 5 bits of red, green and blue."""
    r, g, b = (rgb[..., i].astype(np.uint16) for i in range(3))
    return (r >> 3 << 11) | (g >> 2 << 5) | (b >> 3)


def from565(words: np.ndarray) -> np.ndarray:
    """Each channel back at the top of its byte, low bits zero."""
    return np.stack([(words >> 11) << 3, ((words >> 5) & 0x3F) << 2, (words & 0x1F) << 3], axis=-1).astype(np.uint8)


@pytest.fixture
def rng(request) -> np.random.Generator:
    # A fixed seed per test, so a failure repeats.
    return np.random.default_rng(zlib.crc32(request.node.name.encode()))


def png16(path: Path, rgba16: np.ndarray) -> None:
    """A 16-bit RGBA PNG, written by hand."""
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    h, w = rgba16.shape[:2]
    rows = b"".join(b"\0" + rgba16[y].astype(">u2").tobytes() for y in range(h))
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 16, 6, 0, 0, 0)) +
                     chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def palette_frames(rng, count: int, height: int, width: int, transparent: bool = True):
    """Palette frames of blocks, index 0 transparent unless said otherwise."""
    colours = rng.integers(0, 256, (8, 3), dtype=np.uint8)
    frames = []
    for _ in range(count):
        index = np.repeat(np.repeat(rng.integers(0, 8, (height // 3 + 1, width // 2 + 1)), 3, 0), 2, 1)
        image = Image.fromarray(index[:height, :width].astype(np.uint8), "P")
        image.putpalette(colours.tobytes())
        if transparent:
            image.info["transparency"] = 0
        frames.append(image)
    return frames


@pytest.fixture(scope="session")
def inputs(tmp_path_factory):
    """The input files, by name."""
    folder = tmp_path_factory.mktemp("inputs")
    rng = np.random.default_rng(21)
    made = {}

    def save(name, image, **params):
        image.save(folder / name, **params)
        made[name] = folder / name

    noisy = art(rng, 24, 40, 4)  # colour bits under alpha 0
    assert (noisy[noisy[..., 3] == 0][:, :3] != 0).any()
    save("noisy.png", Image.fromarray(noisy, "RGBA"))
    save("rgb.png", Image.fromarray(art(rng, 19, 26, 3), "RGB"))
    save("grey.png", Image.fromarray(art(rng, 17, 21, 1), "L"))
    save("grey_alpha.png", Image.fromarray(art(rng, 17, 21, 2), "LA"))
    save("palette.png", palette_frames(rng, 1, 20, 30)[0], transparency=0)
    save("rgb.ppm", Image.fromarray(art(rng, 13, 18, 3), "RGB"))
    save("grey.pgm", Image.fromarray(art(rng, 13, 18, 1), "L"))
    wide = art(rng, 15, 22, 4).astype(np.uint16) * 257
    wide[..., :3] += rng.integers(0, 2, wide.shape[:2] + (3,), dtype=np.uint16)  # low bytes that differ
    png16(folder / "deep.png", wide)
    made["deep.png"] = folder / "deep.png"
    (folder / "frame.raw").write_bytes(art(rng, 10, 12, 3).tobytes())
    made["frame.raw"] = folder / "frame.raw"
    # Opaque: the rule's blends at the edges of transparency are partly
    # transparent, which a GIF cannot hold.
    gif = palette_frames(rng, 4, 18, 22, transparent=False)
    save("walk.gif", gif[0], save_all=True, append_images=gif[1:], duration=[100, 200, 50, 300], loop=3)
    apng = [Image.fromarray(art(rng, 14, 19, 4), "RGBA") for _ in range(3)]
    save("walk.png", apng[0], save_all=True, append_images=apng[1:], duration=[100, 250, 40], loop=2)
    webp = [Image.fromarray(art(rng, 12, 16, 4), "RGBA") for _ in range(3)]
    save("walk.webp", webp[0], save_all=True, append_images=webp[1:], duration=[80, 120, 200], loop=0,
         lossless=True)
    return made
