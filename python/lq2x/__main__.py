"""The lq2x command-line tool, as `python -m lq2x` and as the `lq2x` command
pip installs: the package carries the tool's own program, built with its
libraries, and this only starts it, so every option, word and byte is the
tool's."""

import os
import sys
from pathlib import Path

TOOL = Path(__file__).resolve().parent / "lq2x"


def main() -> None:
    if not os.access(TOOL, os.X_OK):
        sys.exit(f"lq2x: this copy of the Python package carries no command-line tool ({TOOL} is missing); "
                 "install the package with pip, which builds it")
    os.execv(TOOL, ["lq2x", *sys.argv[1:]])


if __name__ == "__main__":
    main()
