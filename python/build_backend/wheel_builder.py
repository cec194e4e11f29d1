"""The build backend of the Python package (PEP 517, and PEP 660 for
editable installs), with the standard library only.

pip builds a package in an environment of its own into which it installs the
backend's requirements from a package index; this backend has none, so
`pip install ./python` works without one. It packs the pure-Python package
folder nadixq/ into a py3-none-any wheel whose metadata comes from the
[project] table of pyproject.toml. The version is the project's, from the
top-level CMakeLists.txt (an sdist carries it in PKG-INFO); the wheel carries
it to the installed package as nadixq/_release.py.
"""

import ast
import base64
import hashlib
import io
import os
import re
import runpy
import tarfile
import zipfile

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_PACKAGE = "nadixq"
_TAG = "py3-none-any"


# PEP 517 hooks.

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _write_metadata(metadata_directory)


def prepare_metadata_for_build_editable(metadata_directory, config_settings=None):
    return _write_metadata(metadata_directory)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    files = [(os.path.relpath(path, _ROOT).replace(os.sep, "/"), _read(path))
             for path in _package_files()]
    files.append(_release_file(_project()["version"]))
    return _write_wheel(wheel_directory, files)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # A path file that puts this folder on sys.path: the installed package is
    # the source tree itself.
    return _write_wheel(wheel_directory, [("%s.pth" % _PACKAGE, (_ROOT + "\n").encode())])


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = "%s-%s" % (project["name"], project["version"])
    name = base + ".tar.gz"
    sources = [os.path.join(_ROOT, "pyproject.toml"), os.path.join(_ROOT, "README.md"),
               os.path.abspath(__file__)] + _package_files()
    path = os.path.join(sdist_directory, name)
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as tar:
        for path in sources:
            tar.add(path, arcname=base + "/" + os.path.relpath(path, _ROOT).replace(os.sep, "/"))
        for member, data in (("PKG-INFO", _metadata(project).encode()),
                             _release_file(project["version"])):
            info = tarfile.TarInfo(base + "/" + member)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    return name


# The pieces.

def _package_files():
    found = []
    for folder, subfolders, names in os.walk(os.path.join(_ROOT, _PACKAGE)):
        subfolders[:] = sorted(name for name in subfolders if name != "__pycache__")
        # The web view's page and its plotting library are files of the
        # package too, and so is the table of the board results' texts.
        page = os.path.join(_PACKAGE, "web", "static") in folder
        found += [os.path.join(folder, name) for name in sorted(names)
                  if name.endswith(".py") or name in ("py.typed", "board_results.txt") or page]
    return found


def _release_file(version):
    return ("%s/_release.py" % _PACKAGE,
            ('"""Written by the build: the project\'s version."""\n\nVERSION = %r\n'
             % version).encode())


def _version():
    """The project's version: the top-level CMakeLists.txt's in a source
    tree, PKG-INFO's in an unpacked sdist."""
    cmake_lists = os.path.join(os.path.dirname(_ROOT), "CMakeLists.txt")
    if os.path.isfile(cmake_lists):
        # Run from its file: importing the package would need numpy.
        version = runpy.run_path(os.path.join(_ROOT, _PACKAGE, "_version.py"))
        return version["project_version"](cmake_lists)
    release = os.path.join(_ROOT, _PACKAGE, "_release.py")
    if os.path.isfile(release):
        return re.search(r"^VERSION = '([^']+)'", _read(release).decode("utf-8"), re.M).group(1)
    pkg_info = os.path.join(_ROOT, "PKG-INFO")
    return re.search(r"^Version: (\S+)", _read(pkg_info).decode("utf-8"), re.M).group(1)


def _read(path):
    with open(path, "rb") as source:
        return source.read()


def _write_wheel(wheel_directory, files):
    project = _project()
    dist_info = "%s-%s.dist-info" % (project["name"], project["version"])
    files = list(files) + [
        (dist_info + "/METADATA", _metadata(project).encode()),
        (dist_info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: %s\nRoot-Is-Purelib: true\n"
                                "Tag: %s\n" % (__name__, _TAG)).encode()),
        (dist_info + "/top_level.txt", (_PACKAGE + "\n").encode()),
    ]
    if project.get("scripts"):
        lines = ["[console_scripts]"] + ["%s = %s" % item for item in project["scripts"].items()]
        files.append((dist_info + "/entry_points.txt", ("\n".join(lines) + "\n").encode()))
    record = ["%s,sha256=%s,%d" % (name, _digest(data), len(data)) for name, data in files]
    record.append(dist_info + "/RECORD,,")
    files.append((dist_info + "/RECORD", ("\n".join(record) + "\n").encode()))

    name = "%s-%s-%s.whl" % (project["name"], project["version"], _TAG)
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for member, data in files:
            # A fixed date: the same sources give the same wheel.
            wheel.writestr(zipfile.ZipInfo(member, date_time=(2000, 1, 1, 0, 0, 0)), data,
                           zipfile.ZIP_DEFLATED)
    return name


def _write_metadata(metadata_directory):
    project = _project()
    dist_info = "%s-%s.dist-info" % (project["name"], project["version"])
    os.makedirs(os.path.join(metadata_directory, dist_info), exist_ok=True)
    with open(os.path.join(metadata_directory, dist_info, "METADATA"), "w") as out:
        out.write(_metadata(project))
    return dist_info


def _digest(data):
    return base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def _metadata(project):
    lines = ["Metadata-Version: 2.1", "Name: %s" % project["name"],
             "Version: %s" % project["version"], "Summary: %s" % project.get("description", "")]
    if "requires-python" in project:
        lines.append("Requires-Python: %s" % project["requires-python"])
    lines += ["Requires-Dist: %s" % requirement for requirement in project.get("dependencies", [])]
    for extra, requirements in sorted(project.get("optional-dependencies", {}).items()):
        lines.append("Provides-Extra: %s" % extra)
        lines += ['Requires-Dist: %s; extra == "%s"' % (requirement, extra)
                  for requirement in requirements]
    readme = os.path.join(_ROOT, project.get("readme", "README.md"))
    text = ""
    if os.path.isfile(readme):
        lines.append("Description-Content-Type: text/markdown")
        text = "\n" + _read(readme).decode("utf-8")
    return "\n".join(lines) + "\n" + text


def _project():
    """The [project] table of pyproject.toml, with the version filled in."""
    with open(os.path.join(_ROOT, "pyproject.toml"), "rb") as source:
        content = source.read().decode("utf-8")
    try:
        import tomllib
        tables = tomllib.loads(content)
    except ImportError:  # before Python 3.11
        tables = _simple_toml(content)
    project = dict(tables["project"])
    project["version"] = _version()
    return project


def _simple_toml(content):
    """Enough of TOML for this package's pyproject.toml: tables, and keys
    whose values are strings or arrays of strings (which read as Python
    literals), an array possibly over several lines."""
    tables = {}
    table = tables
    pending = None
    for line in content.splitlines():
        line = line.split(" #", 1)[0].strip() if not line.lstrip().startswith("#") else ""
        if pending is not None:
            pending[1] += " " + line
            if line.endswith("]"):
                table[pending[0]] = ast.literal_eval(pending[1])
                pending = None
            continue
        if not line:
            continue
        if line.startswith("["):
            table = tables
            for part in line.strip("[]").split("."):
                table = table.setdefault(part.strip(), {})
            continue
        key, value = (part.strip() for part in line.split("=", 1))
        key = key.strip('"')
        if value.startswith("[") and not value.endswith("]"):
            pending = [key, value]
        else:
            table[key] = ast.literal_eval(value)
    return tables
