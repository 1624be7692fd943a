"""Throughput of lq2x.batch on a local Dask cluster against the tool's own batch.

    pip install --no-build-isolation .      # and Debian's python3-distributed
    python3 bench/batch_throughput.py [--tool build/release/lq2x] [--rounds 3]

The same files for every contender, in one run: SPRITES sprites (16 to 48
pixels a side, PNG) and PICTURES pictures of a megapixel (PNG), scaled 2x to
PNG. Contenders: `lq2x -qq -r -o DIR --threads N` and lq2x.batch.scale_files
on a distributed.LocalCluster of N worker processes (one thread each), for N
= 1 and 2; each writes into an empty folder. The cluster is started before
its rounds are timed (its start is shown apart: a long-lived cluster pays it
once). Files per second and output pixels per second, the median of the
rounds, interleaved so that a busy moment of the machine hits all alike.
The processor is named with the figures.
"""

import argparse
import os
import platform
import shutil
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

import numpy as np
from PIL import Image

import distributed
from lq2x import batch

SPRITES, PICTURES = 3000, 16


def processor() -> str:
    """The processor's name and family (a virtual machine's name may say no more than the maker's)."""
    fields = {}
    try:
        for line in open("/proc/cpuinfo"):
            key, _, value = line.partition(":")
            fields.setdefault(key.strip(), value.strip())
    except OSError:
        pass
    name = fields.get("model name") or platform.processor() or platform.machine()
    family = f" family {fields['cpu family']}" if "cpu family" in fields else ""
    avx512 = ", AVX-512" if "avx512f" in fields.get("flags", "").split() else ""
    return f"{name}{family}{avx512}, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}"


def art(rng: np.random.Generator, height: int, width: int) -> np.ndarray:
    """Pixel art: runs of a few colours, some transparent."""
    palette = rng.integers(0, 256, (6, 4), dtype=np.uint8)
    palette[:, 3] = 255
    palette[0] = 0
    index = np.repeat(np.repeat(rng.integers(0, 6, (height // 2 + 1, width // 3 + 1)), 2, 0), 3, 1)
    return palette[index[:height, :width]]


def corpus(folder: Path) -> int:
    """The files; their output pixels at 2x."""
    rng = np.random.default_rng(45)
    pixels = 0
    for i in range(SPRITES):
        h, w = (int(v) for v in rng.integers(16, 49, 2))
        sub = folder / "sprites" / f"set{i % 10}"
        sub.mkdir(parents=True, exist_ok=True)
        Image.fromarray(art(rng, h, w)).save(sub / f"s{i:04d}.png")
        pixels += 4 * h * w
    for i in range(PICTURES):
        Image.fromarray(art(rng, 1000, 1000)).save(folder / f"picture{i:02d}.png")
        pixels += 4 * 1000 * 1000
    return pixels


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", default="build/release/lq2x")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    tool = str(Path(args.tool).resolve())
    work = Path(tempfile.mkdtemp())
    try:
        src = work / "src"
        pixels = corpus(src)
        files = SPRITES + PICTURES
        clusters, started = {}, {}
        for n in (1, 2):
            t0 = time.perf_counter()
            cluster = distributed.LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                                               dashboard_address=":0")
            clusters[n] = (cluster, distributed.Client(cluster))
            started[n] = time.perf_counter() - t0
        times = {}

        def tool_run(n: int, out: Path) -> None:
            subprocess.run([tool, "-qq", "-r", "-o", str(out), "--threads", str(n), str(src)], check=True, timeout=600)

        def batch_run(n: int, out: Path) -> None:
            report = batch.scale_files([src], out, client=clusters[n][1], skip_existing=False, progress=False)
            assert len(report.done) == files and not report.refused, report

        contenders = [(f"lq2x -o DIR --threads {n}", tool_run, n) for n in (1, 2)] + \
                     [(f"lq2x.batch, {n} worker{'s' if n > 1 else ''}", batch_run, n) for n in (1, 2)]
        for r in range(args.rounds):
            for name, go, n in contenders:
                out = work / "out"
                shutil.rmtree(out, ignore_errors=True)
                t0 = time.perf_counter()
                go(n, out)
                times.setdefault(name, []).append(time.perf_counter() - t0)
        print(f"{processor()}; {SPRITES} sprites of 16 to 48 pixels a side and {PICTURES} of 1000 x 1000, "
              f"{files} PNG files, {pixels / 1e6:.1f} Mpixels out at 2x; median of {args.rounds} rounds")
        print("| contender | seconds | files/s | output Mpixels/s |")
        print("|---|---:|---:|---:|")
        for name, _, _ in contenders:
            t = statistics.median(times[name])
            print(f"| {name} | {t:.2f} | {files / t:,.0f} | {pixels / t / 1e6:,.0f} |")
        print("cluster start (not in the figures): " +
              ", ".join(f"{n} worker{'s' if n > 1 else ''} {s:.1f} s" for n, s in started.items()))
        for cluster, client in clusters.values():
            client.close()
            cluster.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
