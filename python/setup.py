"""Builds qlx._qlx, the extension, against the static libqlx of this tree.

CMake builds libqlx from ../ (position-independent, so that it goes into a
shared module), and the extension links it: the package needs nothing of
this tree, nor any shared libqlx, once installed. Everything comes from
Debian: python3-dev, python3-numpy, python3-setuptools, cmake and g++.
"""

import os
import re
import subprocess
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
VERSION = re.search(r'#define QLX_VERSION_STRING "([^"]+)"', (ROOT / "include" / "qlx.h").read_text()).group(1)


class BuildWithLibqlx(build_ext):
    """Builds the static libqlx with CMake before the extension links it."""

    def run(self):
        build = Path(self.build_temp).resolve() / "libqlx"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DPAL_BUILD_TESTS=OFF", "-DPAL_BUILD_QLX=OFF", "-DCMAKE_POSITION_INDEPENDENT_CODE=ON",
                        "-DPAL_WARNINGS_AS_ERRORS=" + os.environ.get("PAL_WERROR", "OFF")],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(build), "--target", "qlx_static", "-j", str(os.cpu_count() or 1)],
                       check=True)
        for extension in self.extensions:
            extension.extra_objects = [str(build / "core" / "libqlx_static.a")]
        super().run()


setup(
    version=VERSION,
    ext_modules=[Extension(
        "qlx._qlx", sources=["qlx/_qlx.c"], include_dirs=[str(ROOT / "include")],
        libraries=["stdc++", "m"],
        extra_compile_args=["-std=c99", "-Wall", "-Wextra"] + (["-Werror"] if os.environ.get("PAL_WERROR") == "1" else []),
        extra_link_args=["-pthread"])],
    cmdclass={"build_ext": BuildWithLibqlx},
)
