"""The installed package's types as a host application's type checker sees them."""
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy")

CLIENT = Path(__file__).with_name("typing_client.py")
MPL_TYPED = Path(__import__("matplotlib").__file__).with_name("py.typed").exists()

pytestmark = [
    pytest.mark.skipif(bool(os.environ.get("ZENTROPE_SANITIZED")),
                       reason="reads source text only; nothing native to sanitize"),
    pytest.mark.skipif(not MPL_TYPED, reason="this matplotlib ships no type information"),
]


def test_client_mistakes_are_reported(tmp_path):
    # Checked from a directory of its own against the environment's installed
    # package: that finds the package only through its py.typed marker and the
    # stub shipped beside the native module.
    client = tmp_path / CLIENT.name
    client.write_text(CLIENT.read_text())
    expected = {(n, m.group(1)) for n, line in enumerate(client.read_text().splitlines(), 1)
                if (m := re.search(r"# E: ([\w-]+)$", line))}
    # (in a child: mypy's compiled build, run in-process under pytest on CPython 3.15, trips
    # over the interpreter's lazily imported names)
    proc = subprocess.run([
        sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--show-error-codes",
        "--python-executable", sys.executable, "--cache-dir", str(tmp_path / "cache"), client.name],
        capture_output=True, text=True, cwd=tmp_path, timeout=300)
    out, err, status = proc.stdout, proc.stderr, proc.returncode
    reported = {(int(n), code) for n, code in re.findall(r"^typing_client\.py:(\d+): error: .*\[([\w-]+)\]$",
                                                        out, re.M)}
    assert status == 1 and not err, out + err
    assert reported == expected, out
