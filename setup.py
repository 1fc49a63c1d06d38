"""The zantrix Python package for pip:

    /usr/bin/python3 -m venv --system-site-packages env
    env/bin/pip install --no-build-isolation .

build_ext configures and builds the project with CMake (tests and benchmarks
left out) for the interpreter that runs pip, installs it into a staging
folder with the libraries inside the package (zantrix/_libs, found through
the compiled module's run path) and copies that package into the wheel. The
version is the project's, read from project() in CMakeLists.txt.
setuptools' own files go to build/pip of the source tree (ignored by git),
and so does the CMake build folder, kept between installs; ZANTRIX_BUILD_DIR
names another.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, find_packages, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent
WORK = SOURCE / "build" / "pip"


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(zantrix VERSION ([0-9][0-9.]*)", text).group(1)


class CMakeBuild(build_ext):
    """Builds the package's compiled part with CMake."""

    def build_extension(self, ext):
        build = pathlib.Path(os.environ.get("ZANTRIX_BUILD_DIR") or WORK / "cmake")
        stage = build / "stage"
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DZANTRIX_BUILD_TESTS=OFF",
                        "-DZANTRIX_BUILD_BENCH=OFF", f"-DPython3_EXECUTABLE={sys.executable}",
                        f"-DCMAKE_INSTALL_PREFIX={stage}", "-DZANTRIX_PYTHON_INSTALL_DIR=python",
                        "-DCMAKE_INSTALL_LIBDIR=python/zantrix/_libs"], check=True)
        subprocess.run(["cmake", "--build", str(build)], check=True)
        shutil.rmtree(stage, ignore_errors=True)
        subprocess.run(["cmake", "--install", str(build)], check=True, stdout=subprocess.DEVNULL)
        package = stage / "python" / "zantrix"
        # What a C++ project links against stays out of the Python package.
        shutil.rmtree(package / "_libs" / "cmake", ignore_errors=True)
        for archive in (package / "_libs").glob("*.a"):
            archive.unlink()
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        shutil.copytree(package, target, dirs_exist_ok=True)


WORK.mkdir(parents=True, exist_ok=True)
setup(
    name="zantrix",
    version=project_version(),
    description="The zantrix trading modules from Python: history, records, the CQG gateway, "
                "paper trading, the Telegram bot, metrics and the record store.",
    python_requires=">=3.9",
    install_requires=["numpy", "pandas"],
    package_dir={"": "python"},
    packages=find_packages("python"),
    package_data={"zantrix": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("zantrix._zantrix", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
    options={"build": {"build_base": str(WORK)}, "egg_info": {"egg_base": str(WORK)}},
)
