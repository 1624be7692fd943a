"""Python threads: the same results at once as one after another, and the
interpreter lock free while the library works."""

import sys
import threading

import numpy as np

import lq2x
from conftest import art, to565


def jobs(rng):
    """A mix of kinds, sizes and options."""
    out = []
    for i in range(24):
        channels = [1, 2, 3, 4][i % 4]
        pixels = art(rng, int(rng.integers(1, 60)), int(rng.integers(1, 60)), channels)
        if i % 6 == 5:
            pixels = to565(art(rng, 40, 33, 3))
        options = {"rotate": ["none", "ccw", "cw"][i % 3], "scale": [2, 4, 8][(i // 3) % 3], "threads": i % 3}
        out.append((pixels, options))
    return out


def test_four_threads_at_once_equal_serial_results(rng):
    work = jobs(rng)
    serial = [lq2x.scale(p, **o) for p, o in work]
    results = [[None] * len(work) for _ in range(4)]
    start = threading.Barrier(4)

    def worker(k):
        start.wait()
        for rounds in range(3):
            for i in range(len(work)):
                j = (i + 5 * k) % len(work)  # each thread in its own order
                results[k][j] = lq2x.scale(work[j][0], **work[j][1])

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(4):
        for j, expected in enumerate(serial):
            assert np.array_equal(results[k][j], expected), (k, j)


def test_the_interpreter_lock_is_free_during_the_library_call():
    # With forced switches between threads off, the main thread can run
    # during the worker's scale only if the library call lets go of the lock.
    big = (np.arange(2048 * 1024, dtype=np.uint32).reshape(1024, 2048) % 3 * 0x1234).astype(np.uint16)
    started = threading.Event()
    finished = []

    def worker():
        started.set()
        lq2x.scale(big, scale=4, threads=1)  # about 0.1 s on its own
        finished.append(True)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(100)
    try:
        t = threading.Thread(target=worker)
        t.start()
        started.wait()
        threading.Event().wait(0.005)
        ran_during_the_call = not finished
        t.join()
    finally:
        sys.setswitchinterval(interval)
    assert finished
    assert ran_during_the_call
