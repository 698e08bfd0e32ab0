"""A build backend that needs nothing but the standard library.

pip builds a package in an isolated environment into which it first installs the backend the
package names; with the usual backends that means a download. This one lives in the source tree
and asks for nothing, so ``pip install ./python`` works without a network. It builds a pure
Python wheel of the packages next to pyproject.toml, from the [project] table: name, version,
description, readme (a Markdown file, the long description), requires-python, dependencies and
entry points.
"""

import base64
import hashlib
import io
import os
import tarfile
import zipfile

try:
    import tomllib
except ImportError:  # Python before 3.11
    import tomli as tomllib  # type: ignore[no-redef]

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGES = ("can_j2534",)


def _project():
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as file:
        return tomllib.load(file)["project"]


def _dist_name(project):
    return project["name"].replace("-", "_")


def _metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project.get('description', '')}",
    ]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Requires-Dist: {dependency}" for dependency in project.get("dependencies", [])]
    if "readme" in project:
        # The long description: the metadata's body, after a blank line.
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(ROOT, project["readme"]), encoding="utf-8") as file:
            return "\n".join(lines) + "\n\n" + file.read()
    return "\n".join(lines) + "\n"


def _entry_points(project):
    sections = []
    for group, entries in project.get("entry-points", {}).items():
        body = "".join(f"{name} = {target}\n" for name, target in entries.items())
        sections.append(f"[{group}]\n{body}")
    return "\n".join(sections)


def _package_files():
    """(path in the wheel, path on disk) of every Python file of the packages."""
    for package in PACKAGES:
        for folder, subfolders, files in os.walk(os.path.join(ROOT, package)):
            subfolders[:] = [name for name in subfolders if name != "__pycache__"]
            for name in sorted(files):
                if name.endswith(".py"):
                    disk = os.path.join(folder, name)
                    yield os.path.relpath(disk, ROOT).replace(os.sep, "/"), disk


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}\n"


def _dist_info_files(project):
    """(path, bytes) of the .dist-info folder but its RECORD."""
    info = f"{_dist_name(project)}-{project['version']}.dist-info"
    wheel = "Wheel-Version: 1.0\nGenerator: j2534_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    files = [(f"{info}/METADATA", _metadata(project)), (f"{info}/WHEEL", wheel)]
    entry_points = _entry_points(project)
    if entry_points:
        files.append((f"{info}/entry_points.txt", entry_points))
    return info, [(path, text.encode()) for path, text in files]


def get_requires_for_build_wheel(config_settings=None):  # pylint: disable=unused-argument
    return []


def get_requires_for_build_sdist(config_settings=None):  # pylint: disable=unused-argument
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    # pylint: disable=unused-argument
    info, files = _dist_info_files(_project())
    for path, data in files:
        target = os.path.join(metadata_directory, *path.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as file:
            file.write(data)
    return info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    # pylint: disable=unused-argument
    project = _project()
    name = f"{_dist_name(project)}-{project['version']}-py3-none-any.whl"
    info, info_files = _dist_info_files(project)
    record = ""
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as whl:
        for path, disk in _package_files():
            with open(disk, "rb") as file:
                data = file.read()
            whl.writestr(path, data)
            record += _record_line(path, data)
        for path, data in info_files:
            whl.writestr(path, data)
            record += _record_line(path, data)
        whl.writestr(f"{info}/RECORD", record + f"{info}/RECORD,,\n")
    return name


def build_sdist(sdist_directory, config_settings=None):  # pylint: disable=unused-argument
    project = _project()
    base = f"{_dist_name(project)}-{project['version']}"
    sources = ["pyproject.toml", "README.md", "build_backend/j2534_build.py"]
    sources += [path for path, _ in _package_files()]
    with tarfile.open(os.path.join(sdist_directory, base + ".tar.gz"), "w:gz") as sdist:
        for path in sources:
            sdist.add(os.path.join(ROOT, *path.split("/")), arcname=f"{base}/{path}")
        pkg_info = _metadata(project).encode()
        entry = tarfile.TarInfo(f"{base}/PKG-INFO")
        entry.size = len(pkg_info)
        sdist.addfile(entry, io.BytesIO(pkg_info))
    return base + ".tar.gz"
