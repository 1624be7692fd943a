"""Many image files scaled on a Dask cluster: `lq2x.batch.scale_files`, and
`python -m lq2x.batch SRC... -o DIR [--scheduler ADDRESS]`.

    from lq2x.batch import scale_files
    report = scale_files(["art/", "title.png"], "big/", scale=4)   # a local cluster
    print(report)

Each file goes through the files library as lq2x.scale_file sends it (the
same options, warnings, refusals and bytes), and is named under the output
folder by the library as the tool's `lq2x -r -o DIR` names it, so a batch
here and one of the tool write the same tree. Outputs are put in place
whole by the library, so a task run again after its worker died leaves one
complete output and no temporary file; a rerun skips outputs newer than
their sources, so an interrupted batch is finished by running it again.

Dask (`distributed`) is needed only here, and imported only when a batch
runs: the rest of the package works without it.
"""

import argparse
import ctypes
import os
import sys
import time
import warnings
from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple

from . import Error, PathLike, _file_options, _native, _options, _scale_path

# Tasks by size: a file of fewer bytes than SMALL_BYTES is a sprite and shares
# its task with others, up to TASK_FILES of them or TASK_BYTES together, so
# that the scheduler's cost of a task is spread over many files, yet one
# task stays short enough to hold back no worker's share. A larger file is
# a task of its own.
SMALL_BYTES = 256 * 1024
TASK_BYTES = 1024 * 1024
TASK_FILES = 64

# The keywords that are scaling options and file options, as lq2x.scale_file takes them.
_SCALING = ("rotate", "scale", "edge", "tile", "tile_margin", "tile_spacing", "threads", "rgb565", "max_pixels")
_FILE = ("format", "frame", "png_level", "size", "gif_alpha", "gif_colours", "gif_palette", "keep_existing")



@dataclass
class Refusal:
    """A file the library refused: the input (or the output, when it was at
    fault), its lq2x_status and its words."""

    name: str
    status: int
    words: str


@dataclass
class Report:
    """What a batch came to. Every input is in one of done, kept and refused."""

    done: List[str] = field(default_factory=list)       # outputs written
    kept: List[str] = field(default_factory=list)       # outputs left as they were (newer than their source)
    refused: List[Refusal] = field(default_factory=list)
    warnings: List[Tuple[str, str]] = field(default_factory=list)  # (input, the library's warning)
    bytes_in: int = 0
    bytes_out: int = 0
    seconds: float = 0.0

    def __str__(self) -> str:
        files = len(self.done) + len(self.kept) + len(self.refused)
        return (f"{files} files: {len(self.done)} done, {len(self.kept)} kept, {len(self.refused)} refused; "
                f"{self.bytes_in:,} bytes in, {self.bytes_out:,} bytes out, {self.seconds:.2f} s")


def _output(relative: str, out_dir: str, suffix: str, file_options: _native.FileOptions) -> str:
    """Where the result of an input goes, as the library names it for every door's batch."""
    files = _native.files()
    args = (os.fsencode(relative), os.fsencode(out_dir), suffix.encode(), file_options)
    size = 4096
    while True:
        buffer = ctypes.create_string_buffer(size)
        length = files.lq2x_batch_output(*args, buffer, size)
        if length < size:
            return os.fsdecode(buffer.raw[:length])
        size = length + 1


def plan(sources: Iterable[PathLike], out_dir: PathLike, file_options: _native.FileOptions,
         suffix: str = "") -> Tuple[List[Tuple[str, str]], int]:
    """Each input and its output: a file as itself, a folder walked with its
    tree kept under out_dir (the files whose names say no image format the
    library reads left out and counted, as the tool's -r does). Two inputs
    that would write the same output are refused (ValueError) before
    anything is written, as the tool refuses them."""
    jobs: List[Tuple[str, str]] = []
    skipped = 0
    files = _native.files()
    out = os.fsdecode(out_dir)
    for source in map(os.fsdecode, sources):
        if not os.path.isdir(source):
            jobs.append((source, _output(os.path.basename(source), out, suffix, file_options)))
            continue
        for folder, names, found in os.walk(source):
            names.sort()
            for name in sorted(found):
                path = os.path.join(folder, name)
                if not os.path.isfile(path):
                    continue
                if not files.lq2x_batch_takes(os.fsencode(path), file_options):
                    skipped += 1
                    continue
                jobs.append((path, _output(os.path.relpath(path, source), out, suffix, file_options)))
    taken: Dict[str, str] = {}
    for source, output in jobs:
        first = taken.setdefault(os.path.normpath(output), source)
        if first != source:
            raise ValueError(f"{first} and {source} would both be written to {output}")
    return jobs, skipped


def groups(jobs: Sequence[Tuple[str, str]]) -> List[List[Tuple[str, str]]]:
    """The jobs as tasks: sprites together, each large picture alone."""
    tasks: List[List[Tuple[str, str]]] = []
    small: List[Tuple[str, str]] = []
    small_bytes = 0
    for job in jobs:
        try:
            size = os.stat(job[0]).st_size
        except OSError:
            size = 0  # the library says what is wrong with it
        if size >= SMALL_BYTES:
            tasks.append([job])
            continue
        if small and (len(small) >= TASK_FILES or small_bytes + size > TASK_BYTES):
            tasks.append(small)
            small, small_bytes = [], 0
        small.append(job)
        small_bytes += size
    if small:
        tasks.append(small)
    return tasks


def _newer(output: str, source: str) -> bool:
    """Whether the output exists and is no older than its source."""
    try:
        return os.stat(output).st_mtime_ns >= os.stat(source).st_mtime_ns
    except OSError:
        return False


# One file's outcome, as a task hands it back: what, the file, bytes in and
# out, the status and the library's words (a warning for one done).
Outcome = Tuple[str, str, int, int, int, str]


def scale_group(jobs: List[Tuple[str, str]], options: bytes, file_options: bytes, skip_existing: bool) -> List[Outcome]:
    """A task, run by a worker: each file of it through the library. A
    refusal is an outcome, never an exception, so a bad file stops nothing."""
    o = _native.Options.from_buffer_copy(options)
    f = _native.FileOptions.from_buffer_copy(file_options)
    made = set()
    outcomes: List[Outcome] = []
    for source, output in jobs:
        if skip_existing and _newer(output, source):
            outcomes.append(("kept", output, 0, 0, 0, ""))
            continue
        try:
            folder = os.path.dirname(output)
            if folder and folder not in made:
                os.makedirs(folder, exist_ok=True)
                made.add(folder)
            report, message = _scale_path(source, output, o, f)
            outcomes.append(("done", output, report.bytes_in, report.bytes_out, 0, message))
        except Error as e:
            kind = "kept" if e.status == _native.ERROR_OUTPUT_EXISTS else "refused"
            outcomes.append((kind, e.filename or source, 0, 0, e.status, str(e)))
        except OSError as e:  # an output folder that cannot be made
            outcomes.append(("refused", output, 0, 0, 0, e.strerror or str(e)))
    return outcomes


def _distributed() -> Any:
    try:
        import distributed
    except ImportError as e:
        raise ImportError("lq2x.batch runs on Dask's distributed scheduler: install it (Debian: apt install "
                          "python3-distributed; pip: pip install distributed)") from e
    return distributed


def run(jobs: Sequence[Tuple[str, str]], options: _native.Options, file_options: _native.FileOptions, *,
        client: Any = None, skip_existing: bool = True, progress: bool = True) -> Report:
    """Jobs already planned, with options already made, on `client`'s cluster
    (None: a local cluster of one worker process per core, for this batch)."""
    distributed = _distributed()
    started = time.monotonic()
    report = Report()
    cluster = None
    if client is None:
        cluster = distributed.LocalCluster(n_workers=os.cpu_count() or 1, threads_per_worker=1, processes=True,
                                           dashboard_address=":0")
        client = distributed.Client(cluster)
    try:
        tasks = groups(jobs)
        futures = client.map(scale_group, tasks, options=bytes(options), file_options=bytes(file_options),
                             skip_existing=skip_existing, pure=False)
        if progress and sys.stdout.isatty():
            distributed.progress(futures)
        count, shown = 0, 0
        # Results fetched by one call at a time: Debian 12's Dask and tornado
        # fail an assertion in tornado when many fetches share a connection
        # at once (as_completed's with_results does one for each task).
        for finished in distributed.as_completed(futures).batches():
            for outcomes in client.gather(finished):
                count += _count(report, outcomes)
            if progress and not sys.stdout.isatty() and (count - shown >= max(len(jobs) // 10, 1) or
                                                         count == len(jobs)):
                print(f"lq2x.batch: {count} of {len(jobs)} files", file=sys.stderr, flush=True)
                shown = count
    finally:
        if cluster is not None:
            client.close()
            cluster.close()
    report.seconds = time.monotonic() - started
    return report


def _count(report: Report, outcomes: List[Outcome]) -> int:
    """A task's outcomes into the report; how many files they were."""
    for kind, name, bytes_in, bytes_out, status, words in outcomes:
        if kind == "done":
            report.done.append(name)
            report.bytes_in += bytes_in
            report.bytes_out += bytes_out
            if words:
                report.warnings.append((name, words))
        elif kind == "kept":
            report.kept.append(name)
        else:
            report.refused.append(Refusal(name, status, words))
    return len(outcomes)


def scale_files(sources: Iterable[PathLike], out_dir: PathLike, *, client: Any = None, skip_existing: bool = True,
                suffix: str = "", progress: bool = True, **options: Any) -> Report:
    """Scale many image files on a Dask cluster into out_dir, and report.

    sources   files, and folders walked with their tree kept under out_dir
              (files whose names say no image format are left out), on a
              filesystem every worker sees at the same paths.
    client    a distributed.Client; None: a local cluster of one worker
              process per core, started and stopped for this batch.
    skip_existing
              leave an output that exists and is no older than its source,
              so a batch interrupted by anything is finished by running it
              again; False: every output written anew.
    suffix    put after each output's name (as the tool's --suffix).
    progress  Dask's progress bar on a terminal, else a line on standard
              error at each tenth of the files.
    options   lq2x.scale_file's keywords, judged by the library before any
              file is sent; threads is 1 unless given (the workers are the
              parallelism).

    Each file is scaled as lq2x.scale_file scales it; a file the library
    refuses is named in the report with its words and stops nothing, and
    each warning is given by warnings.warn as scale_file gives it.
    """
    unknown = set(options) - set(_SCALING) - set(_FILE)
    if unknown:
        raise TypeError(f"scale_files() got an unexpected keyword argument {sorted(unknown)[0]!r}")
    options.setdefault("threads", 1)
    o = _options(**{k: v for k, v in options.items() if k in _SCALING})
    file_keywords: Dict[str, Any] = {"format": None, "frame": None, "png_level": None, "size": None}
    file_keywords.update((k, v) for k, v in options.items() if k in _FILE)
    f = _file_options(**file_keywords)
    jobs, _ = plan(sources, out_dir, f, suffix)
    report = run(jobs, o, f, client=client, skip_existing=skip_existing, progress=progress)
    for name, words in report.warnings:
        warnings.warn(f"{name}: {words}", stacklevel=2)
    return report


# The command: the tool's words for each setting, read by the library.
_SETTINGS = ("orientation", "scale", "edge", "tile", "tile_margin", "tile_spacing", "threads", "max_pixels",
             "raw_size", "format", "frame", "png_level", "gif_alpha", "gif_colours", "gif_palette")


def _flag(setting: str) -> str:
    out = ctypes.create_string_buffer(_native.MESSAGE_BYTES)
    _native.lib.lq2x_words(("{" + setting + "}").encode(), _native.DOOR_TOOL, out, _native.MESSAGE_BYTES)
    return out.value.decode()


def _settings(given: List[Tuple[str, str]]) -> Tuple[_native.Options, _native.FileOptions]:
    """The command's settings (the tool's name, the text) as the library reads them."""
    o = _native.default_options()
    f = _native.default_file_options()
    f.door = _native.DOOR_TOOL
    _native.lib.lq2x_set_option(o, b"threads", b"1", _native.DOOR_TOOL, None, 0)
    for flag, text in given:
        kind = ctypes.c_int32()
        name = ctypes.create_string_buffer(_native.MESSAGE_BYTES)
        status = _native.lib.lq2x_setting_named(flag.encode(), _native.DOOR_TOOL,
                                                _native.SETTINGS_SCALING | _native.SETTINGS_FILE, kind, name,
                                                _native.MESSAGE_BYTES)
        if status != _native.OK:
            raise Error(status, name.value.decode(errors="replace"))
        if kind.value == _native.SETTINGS_SCALING:
            status, why = _native.message(_native.lib.lq2x_set_option, o, name.value, text.encode(),
                                          _native.DOOR_TOOL)
        else:
            status, why = _native.message(_native.files().lq2x_set_file_option, f, name.value, text.encode(),
                                          _native.DOOR_TOOL)
        if status != _native.OK:
            raise Error(status, why)
    status, why = _native.message(_native.lib.lq2x_picture_check, 0, 0, o, _native.DOOR_TOOL)
    if status != _native.OK:
        raise Error(status, why)
    return o, f


class _Setting(argparse.Action):
    """Keeps each setting with the name it was given by, in order."""

    def __call__(self, parser: Any, namespace: Any, values: Any, option_string: Optional[str] = None) -> None:
        given = getattr(namespace, "settings", None) or []
        given.append((self.dest, "1" if self.nargs == 0 else values))
        namespace.settings = given


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m lq2x.batch",
        description="Scale many image files on a Dask cluster, as `lq2x -r -o DIR` would on one machine: "
                    "the same outputs, byte for byte, under the same names.",
        epilog="Exit status: 0 all done or kept, 1 some file refused (each named), 2 usage.")
    parser.add_argument("sources", nargs="+", metavar="SRC", help="image files, and folders walked")
    parser.add_argument("-o", "--output-dir", required=True, metavar="DIR", help="where the outputs go")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a Dask scheduler (tcp://host:8786); without it, a local cluster")
    parser.add_argument("--suffix", default="", metavar="TEXT", help="put after each output's name")
    parser.add_argument("--overwrite", action="store_true",
                        help="write every output anew (default: keep those no older than their source)")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress")
    parser.set_defaults(settings=[])
    for setting in _SETTINGS:
        flag = _flag(setting)
        parser.add_argument(flag, dest=flag, action=_Setting, metavar="VALUE",
                            help=f"as lq2x {flag} (lq2x --help)")
    rgb565 = _flag("rgb565")
    parser.add_argument(rgb565, dest=rgb565, action=_Setting, nargs=0, help=f"as lq2x {rgb565}")
    args = parser.parse_args(argv)
    try:
        options, file_options = _settings(args.settings)
        jobs, skipped = plan(args.sources, args.output_dir, file_options, args.suffix)
    except (Error, ValueError) as e:
        parser.exit(2, f"lq2x.batch: {e}\n")
    client = None
    try:
        if args.scheduler:
            client = _distributed().Client(args.scheduler)
        report = run(jobs, options, file_options, client=client, skip_existing=not args.overwrite,
                     progress=not args.quiet)
    except ImportError as e:
        parser.exit(1, f"lq2x.batch: {e}\n")
    finally:
        if client is not None:
            client.close()
    for name, words in report.warnings:
        print(f"lq2x.batch: {name}: warning: {words}", file=sys.stderr)
    for refusal in report.refused:
        print(f"lq2x.batch: {refusal.name}: {refusal.words}", file=sys.stderr)
    if skipped:
        print(f"lq2x.batch: skipped {skipped} file{'s' if skipped != 1 else ''} whose names say no image format",
              file=sys.stderr)
    print(f"lq2x.batch: {report}")
    return 1 if report.refused else 0


if __name__ == "__main__":
    # The command's tasks are this module's functions by their importable
    # name (lq2x.batch), which workers find, not __main__'s.
    from lq2x.batch import main as _main

    sys.exit(_main())
