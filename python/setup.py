"""Build of the quorvex package. Two facts come from the checkout rather than
from copies: the version (the project's CMakeLists.txt) and the status table
(include/quorvex_status.h, which goes into the package beside its modules)."""

import re
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

ROOT = Path(__file__).resolve().parent.parent
HEADER = ROOT / "include" / "quorvex_status.h"


def project_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*quorvex\s+VERSION\s+([0-9.]+)", text).group(1)


class BuildWithStatusTable(build_py):
    """Adds the status table and the checkout's location (for its build
    tree's library) to the package."""

    def run(self):
        super().run()
        target = Path(self.build_lib, "quorvex")
        self.copy_file(str(HEADER), str(target / HEADER.name))
        (target / "_origin.py").write_text(f"SOURCE_TREE = {str(ROOT)!r}\n")


setup(version=project_version(), cmdclass={"build_py": BuildWithStatusTable})
