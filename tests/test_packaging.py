"""The installed distribution: declared ranges that CI tests, a shared object
free of build paths, a clear message without the build."""
import importlib.metadata
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from packaging.requirements import Requirement

import zentrope

ROOT = Path(__file__).resolve().parents[1]
MODNAME = "zentrope.widgets.models.gmodel.mpl"
META = importlib.metadata.metadata("zentrope-widgets")


def test_declared_interpreters_and_lower_bounds_are_what_ci_tests():
    supported = re.search(r"^SUPPORTED_VERSIONS=\(([^)]*)\)", (ROOT / "scripts/_common.sh").read_text(),
                          re.M).group(1).split()
    classified = [c.rsplit(" :: ", 1)[1] for c in META.get_all("Classifier")
                  if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)]
    lo = int(supported[0].split(".")[1])
    assert META["Requires-Python"] == f">={supported[0]}"
    assert classified == supported == [f"3.{m}" for m in range(lo, lo + len(supported))]
    newest = re.search(r"^set\(ZENTROPE_NEWEST_TESTED_PYTHON ([\d.]+)\)", (ROOT / "CMakeLists.txt").read_text(), re.M)
    assert newest.group(1) == supported[-1]  # the build refuses what is newer
    # the lowest set is the ranges' lower bounds, marker for marker
    pins = [Requirement(line) for line in (ROOT / ".ci/lowest-deps.txt").read_text().splitlines()
            if line and not line.startswith("#")]
    ranges = [Requirement(r) for r in META.get_all("Requires-Dist") if "extra ==" not in r]
    lower = {(r.name, str(r.marker)): {s.version for s in r.specifier if s.operator == ">="} for r in ranges}
    assert {(p.name, str(p.marker)): {s.version for s in p.specifier} for p in pins} == lower
    # on every supported CPython, and on a newer one, exactly one range of each dependency applies
    for v in [*supported, f"3.{lo + len(supported)}"]:
        applying = sorted(r.name for r in ranges if r.marker is None or r.marker.evaluate({"python_version": v}))
        assert applying == ["PySide6-Essentials", "matplotlib", "numpy"], v


@pytest.mark.skipif(bool(os.environ.get("ZENTROPE_SANITIZED")),
                    reason="the sanitizers' tables keep absolute source paths; that build is never shipped")
def test_shared_object_embeds_no_build_path(mod):
    data = Path(mod.__file__).read_bytes()
    assert str(ROOT).encode() not in data
    assert re.search(rb"\0src/[\w/]+\.cpp\0", data)  # traceback entries still name the sources


@pytest.mark.parametrize("build, message", [
    pytest.param(None, "is not built: the zentrope package at", id="source-tree"),
    pytest.param("mpl.cpython-399-x86_64-linux-gnu.so", "is built here only for another Python "
                 "(mpl.cpython-399-x86_64-linux-gnu.so), not for this CPython", id="other-python"),
])
def test_import_without_the_extension_says_so_in_one_line(tmp_path, build, message):
    # a copy of the installed package without its build (or with another one's)
    shutil.copytree(Path(zentrope.__file__).parent, tmp_path / "zentrope",
                    ignore=shutil.ignore_patterns("*.so", "__pycache__"))
    if build:
        (tmp_path / "zentrope/widgets/models/gmodel" / build).write_bytes(b"")
    code = f"""if 1:
        import sys
        sys.path.insert(0, {str(tmp_path)!r})
        import zentrope.widgets  # the plain-Python package imports without the build
        try:
            import {MODNAME}
        except ModuleNotFoundError as e:
            print(e.name, e, sep="\\n")
        """
    proc = subprocess.run([sys.executable, "-I", "-c", code], capture_output=True, text=True,
                          timeout=60, cwd=tmp_path)
    assert proc.returncode == 0 and not proc.stderr, proc.stderr
    name, line = proc.stdout.splitlines()
    assert name == MODNAME and line.startswith(MODNAME) and message in line
