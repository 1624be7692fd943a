"""Shared fixtures: the project's programs, and images made for the tests.

The package under test is the installed one (`pip install .`, or a wheel),
imported as any user imports it; the tool and the test bench come from
$LQ2X_BUILD_DIR, by default build/release. Every test has a time limit: one
that runs past it (a hang in the library included, where Python's own
signals cannot reach) ends the run with the stacks printed.
"""

import faulthandler
import os
import subprocess
import zlib
from pathlib import Path

import numpy as np
import pytest

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


def run(args, cwd=None, status: int = 0) -> subprocess.CompletedProcess:
    """Runs a program to its end (within a minute) and checks its exit status."""
    done = subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, timeout=60)
    assert done.returncode == status, f"{args} exited {done.returncode}: {done.stderr.decode(errors='replace')}"
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
