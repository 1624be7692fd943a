"""Builds the lq2x Python package: the project's own CMake build of the shared
libraries, installed into a staging folder and copied into the package under
their SONAMEs, with $ORIGIN as their run path so that they find each other
there. Configured by pyproject.toml; see the README's Python section.

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
        build = Path(self.get_finalized_command("build").build_temp).resolve() / "cmake"
        stage = build / "stage"
        shutil.rmtree(stage, ignore_errors=True)
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DBUILD_SHARED_LIBS=ON", "-DLQ2X_BUILD_TOOL=OFF", "-DLQ2X_BUILD_TESTS=OFF",
                     "-DLQ2X_BUILD_BENCH=OFF", "-DCMAKE_INSTALL_LIBDIR=lib", "-DCMAKE_INSTALL_RPATH=$ORIGIN"]
        if not (build / "CMakeCache.txt").exists() and "CMAKE_GENERATOR" not in os.environ and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        self.spawn(configure)
        self.spawn(["cmake", "--build", str(build), "--parallel", jobs])
        self.spawn(["cmake", "--install", str(build), "--prefix", str(stage)])
        package = Path(self.build_lib) / "lq2x"
        for link in sorted((stage / "lib").glob("liblq2x*.so")):
            soname = os.readlink(link)  # liblq2x.so -> liblq2x.so.MAJOR.MINOR, the name it is loaded by
            shutil.copyfile(link.resolve(), package / soname)
            (package / soname).chmod(0o755)


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
