"""Builds the lq2x Python package: the project's own CMake build of the shared
libraries, installed into a staging folder and copied into the package under
their SONAMEs, with $ORIGIN as their run path so that they find each other
there, and the lq2x tool beside them (the `lq2x` command and `python -m lq2x`
start it). The project is built as another project embeds it
(add_subdirectory), which makes the libraries and the tool alone: no tests,
test bench or shaders, whose sources the sdist does not carry. Configured by
pyproject.toml; see docs/python.md.

Environment: CMAKE_BUILD_PARALLEL_LEVEL (jobs, default all cores), CMAKE_GENERATOR.
"""

import os
import re
import shutil
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py
from wheel.bdist_wheel import bdist_wheel

ROOT = Path(__file__).resolve().parent
VERSION = re.search(r"project\(lq2x VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)


class build_with_cmake(build_py):
    """The package's Python files, then the libraries beside them."""

    def run(self) -> None:
        super().run()
        temp = Path(self.get_finalized_command("build").build_temp).resolve()
        build, stage, embedder = temp / "cmake", temp / "stage", temp / "embedder"
        shutil.rmtree(stage, ignore_errors=True)
        embedder.mkdir(parents=True, exist_ok=True)
        (embedder / "CMakeLists.txt").write_text(
            "cmake_minimum_required(VERSION 3.25)\nproject(lq2x_python LANGUAGES C CXX)\n"
            f'add_subdirectory("{ROOT.as_posix()}" lq2x)\n')
        configure = ["cmake", "-S", str(embedder), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DBUILD_SHARED_LIBS=ON", "-DCMAKE_INSTALL_LIBDIR=lib", "-DCMAKE_INSTALL_RPATH=$ORIGIN",
                     "-DLQ2X_BUILD_TOOL=ON"]
        if not (build / "CMakeCache.txt").exists() and "CMAKE_GENERATOR" not in os.environ and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        self.spawn(configure)
        self.spawn(["cmake", "--build", str(build), "--parallel", jobs])
        self.spawn(["cmake", "--install", str(build), "--prefix", str(stage)])
        package = Path(self.build_lib) / "lq2x"
        links = sorted((stage / "lib").glob("liblq2x*.so"))
        if (ROOT / "files").is_dir() and "liblq2x_files.so" not in [link.name for link in links]:
            raise RuntimeError("CMake built no files library (lq2x_files): install libpng-dev zlib1g-dev "
                               "libdeflate-dev libgif-dev libwebp-dev libleptonica-dev pkg-config, "
                               "as its configure line says")
        if (ROOT / "tool").is_dir() and not (stage / "bin" / "lq2x").is_file():
            raise RuntimeError("CMake built no lq2x tool: install libcli11-dev, as its configure line says")
        for link in links:
            soname = os.readlink(link)  # liblq2x.so -> liblq2x.so.MAJOR.MINOR, the name it is loaded by
            shutil.copyfile(link.resolve(), package / soname)
            (package / soname).chmod(0o755)
        # The tool beside the libraries, which its run path ($ORIGIN) finds there.
        shutil.copyfile(stage / "bin" / "lq2x", package / "lq2x")
        (package / "lq2x").chmod(0o755)


class with_libraries(Distribution):
    """A package that carries machine code, built and installed as such."""

    def has_ext_modules(self) -> bool:
        return True


class platform_wheel(bdist_wheel):
    """A wheel for this platform that any Python 3 loads: the libraries are
    machine code, but the package reaches them through ctypes, not the
    interpreter's C API."""

    def get_tag(self):
        return ("py3", "none", super().get_tag()[2])


setup(version=VERSION, distclass=with_libraries,
      cmdclass={"build_py": build_with_cmake, "bdist_wheel": platform_wheel})
