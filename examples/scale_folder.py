"""Every PNG in a folder scaled 2x with the lq2x Python package, each into
another folder under its own name. A file the library refuses is reported
in its words, and the others are still done.

    python3 scale_folder.py FOLDER OUT_FOLDER      (OUT_FOLDER is made when missing)

Exit status 0 when every file was done, 1 when one was refused.
"""

import sys
from pathlib import Path

import lq2x


def scale_folder(folder: Path, out_folder: Path) -> int:
    out_folder.mkdir(parents=True, exist_ok=True)
    refused = 0
    for source in sorted(folder.glob("*.png")):
        target = out_folder / source.name
        try:
            lq2x.scale_file(source, target)
        except lq2x.Error as e:
            # e.filename: the input, or the output when it could not be written.
            print(f"scale_folder: {e.filename}: {e}", file=sys.stderr)
            refused += 1
        else:
            print(f"{source} -> {target}")
    return 1 if refused else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: scale_folder.py FOLDER OUT_FOLDER")
    sys.exit(scale_folder(Path(sys.argv[1]), Path(sys.argv[2])))
