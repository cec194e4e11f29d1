"""The package's version: the project's, from one place.

The project's version is the one in the top-level CMakeLists.txt
(project(nadixq VERSION x.y.z)). A wheel built by this package's build
backend carries it in _release.py, written at build time; a source tree
without one reads it from the CMakeLists.txt beside the package.
"""

from __future__ import annotations

import os
import re

_PROJECT = re.compile(r"project\s*\(\s*nadixq\s+VERSION\s+([0-9][0-9A-Za-z.+-]*)", re.I)


def project_version(cmake_lists: str) -> str:
    """The version in the project() call of the CMakeLists.txt at
    `cmake_lists`; ValueError when there is none."""
    with open(cmake_lists, encoding="utf-8") as source:
        found = _PROJECT.search(source.read())
    if not found:
        raise ValueError("%s has no project(nadixq VERSION ...)" % cmake_lists)
    return found.group(1)


def _version() -> str:
    try:
        from ._release import VERSION  # type: ignore[import]
        return str(VERSION)
    except ImportError:
        pass
    tree = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    try:
        return project_version(os.path.join(tree, "CMakeLists.txt"))
    except (OSError, ValueError):
        return "0+unknown"


__version__ = _version()
