"""pip installs the package into a virtual environment of Debian's
interpreter, with nothing downloaded, and the installed package reports the
project's version."""

import os
import re
import subprocess

from conftest import REPOSITORY


def test_pip_installs_the_package_into_a_virtual_environment(tmp_path):
    env_folder = tmp_path / "env"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(env_folder)],
                   check=True)
    # The installed package, not the build tree's.
    clean = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    subprocess.run([str(env_folder / "bin" / "pip"), "install", "--no-build-isolation",
                    "--no-index", "--quiet", "."], cwd=REPOSITORY, env=clean, check=True)
    shown = subprocess.run(
        [str(env_folder / "bin" / "python"), "-c",
         "import importlib.metadata, zantrix, zantrix.paper, zantrix.plugins.telegram.bot; "
         "print(zantrix.__version__, importlib.metadata.version('zantrix'), zantrix.__file__)"],
        cwd=tmp_path, env=clean, capture_output=True, text=True, check=True).stdout.split()
    project = re.search(r"project\(zantrix VERSION ([0-9.]+)",
                        (REPOSITORY / "CMakeLists.txt").read_text()).group(1)
    assert shown[:2] == [project, project]
    assert shown[2].startswith(str(env_folder))
