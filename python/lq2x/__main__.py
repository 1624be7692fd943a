"""The lq2x command-line tool, as `python -m lq2x` and as the `lq2x` command
pip installs: the package carries the tool's own program, built with its
libraries, and this only starts it, so every option, word and byte is the
tool's. A distribution's package carries none: there the tool is the one
installed beside Python (the distribution's lq2x package)."""

import os
import sys
from pathlib import Path

TOOL = Path(__file__).resolve().parent / "lq2x"
INSTALLED = Path(sys.prefix) / "bin" / "lq2x"


def _program(path: Path) -> bool:
    """An executable program, not a script: pip's `lq2x` command is a script
    that starts this module, and must not be started by it."""
    try:
        with open(path, "rb") as f:
            return os.access(path, os.X_OK) and f.read(4) == b"\x7fELF"
    except OSError:
        return False


def main() -> None:
    tool = next((t for t in (TOOL, INSTALLED) if _program(t)), None)
    if tool is None:
        sys.exit(f"lq2x: this copy of the Python package carries no command-line tool ({TOOL} is missing), "
                 f"nor is one installed at {INSTALLED}; install the package with pip, which builds it, "
                 "or the lq2x command (Debian: apt install lq2x)")
    os.execv(tool, ["lq2x", *sys.argv[1:]])


if __name__ == "__main__":
    main()
