#!/usr/bin/env bash
# The Python package as a user gets it, from a clean clone of this repository's
# committed state: installed from source with pip, and made into an sdist and a
# wheel with `python3 -m build`, the wheel installed into a fresh virtual
# environment; the tests run against each installed package (never the source
# tree), with the lq2x tool of $LQ2X_BUILD_DIR (default build/release, which
# must be built); the wheel's contents, tags and libraries checked; mypy on
# the documented Python examples (docs/python.md's and the README's). Needs
# Debian's python3-venv, python3-pip,
# python3-setuptools, python3-wheel, python3-build, python3-numpy,
# python3-pil, python3-pytest and mypy, and what the library builds with;
# python3-distributed for lq2x.batch's tests (skipped, saying so, without it).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
tool_build=$(realpath "${LQ2X_BUILD_DIR:-$repo/build/release}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PYTHONDONTWRITEBYTECODE=1 CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
py=/usr/bin/python3  # Debian's, whose numpy and Pillow the environments see
git clone -q "$repo" "$work/src"

# The package in environment $1 is the one imported, with its own library,
# and its tests pass against it from another folder.
installed_tests() {
    (cd "$work" && "$1/bin/python" - "$1" <<'PY'
import sys, lq2x
for path in (lq2x.__file__, lq2x._native.lib._name):
    assert path.startswith(sys.argv[1] + "/"), f"{path} is not in {sys.argv[1]}"
print("lq2x", lq2x.__version__, "and its library from", sys.argv[1])
PY
    )
    (cd "$work" && LQ2X_BUILD_DIR="$tool_build" "$1/bin/python" -m pytest -q -rsP -p no:cacheprovider \
        --ignore=src/python/tests/test_batch.py src/python/tests)
}

# lq2x.batch on a local Dask cluster, once (against the wheel), its time said:
# a skip (no python3-distributed) is said with its reason.
batch_tests() {
    local t0=$SECONDS
    (cd "$work" && LQ2X_BUILD_DIR="$tool_build" "$1/bin/python" -m pytest -q -rsP -p no:cacheprovider \
        src/python/tests/test_batch.py)
    echo "lq2x.batch's tests took $((SECONDS - t0)) s"
}

echo "== pip install from source"
$py -m venv --system-site-packages "$work/source-env"
"$work/source-env/bin/pip" install --no-build-isolation "$work/src" 2>&1 | tail -n 1
installed_tests "$work/source-env"

echo "== sdist and wheel"
(cd "$work/src" && $py -m build --no-isolation --outdir "$work/dist" . 2>&1 | tail -n 1)
wheel=$(echo "$work"/dist/lq2x-*.whl)
case "$(basename "$wheel")" in
    lq2x-*-py3-none-linux_$(uname -m).whl) ;;
    *) echo "wheel $wheel is not tagged py3-none-linux_$(uname -m)" >&2; exit 1 ;;
esac
unzip -l "$wheel"
libraries=$(unzip -Z1 "$wheel" | grep -E '^lq2x/liblq2x[a-z_]*\.so\.[0-9]+\.[0-9]+$' || true)
if [ -z "$libraries" ]; then
    echo "the wheel carries no library" >&2
    exit 1
fi
rm -rf "$work/src/build"  # nothing the build left may serve the installed wheel

echo "== the wheel in a fresh environment"
$py -m venv --system-site-packages "$work/wheel-env"
"$work/wheel-env/bin/pip" install --no-index "$wheel" 2>&1 | tail -n 1
site=$("$work/wheel-env/bin/python" -c "import lq2x, os; print(os.path.dirname(lq2x.__file__))")
for lib in $libraries; do
    runpath=$(readelf -d "$site/$(basename "$lib")" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    if [ -n "$runpath" ] && [ "$runpath" != '$ORIGIN' ]; then
        echo "$lib has the run path $runpath" >&2
        exit 1
    fi
    if ldd "$site/$(basename "$lib")" | grep -q 'not found'; then
        ldd "$site/$(basename "$lib")" >&2
        exit 1
    fi
done
installed_tests "$work/wheel-env"
echo "== lq2x.batch on a Dask cluster of 2 worker processes"
batch_tests "$work/wheel-env"

echo "== mypy on the installed package and the documented Python examples"
mkdir "$work/examples"
$py - "$work/src" "$work/examples" <<'PY'
import re, sys
page = open(f"{sys.argv[1]}/docs/python.md").read().split("\n## Examples\n", 1)[1].split("\n## ", 1)[0]
readme = open(f"{sys.argv[1]}/README.md").read()
for where, text in (("docs/python.md's Examples", page), ("the README", readme)):
    assert re.search(r"```python\n", text), f"{where} has no Python examples"
blocks = re.findall(r"```python\n(.*?)```", page + readme, re.S)
for i, block in enumerate(blocks):
    open(f"{sys.argv[2]}/example_{i}.py", "w").write(block)
print(len(blocks), "examples")
PY
(cd "$work/src" && mypy --strict --python-executable "$work/wheel-env/bin/python" -p lq2x &&
    mypy --strict --python-executable "$work/wheel-env/bin/python" "$work/examples" examples/scale_folder.py)
