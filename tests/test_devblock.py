"""The developer-block launcher: flag set through ctypes, run headless."""
import os
import subprocess
import sys

import numpy as np
import pytest
from PySide6 import QtGui

from zentrope.devblock import has_display


@pytest.mark.parametrize("env, expected", [
    ({}, False),
    ({"DISPLAY": ":0"}, True),
    ({"WAYLAND_DISPLAY": "wayland-0"}, True),
    ({"DISPLAY": ":0", "QT_QPA_PLATFORM": "offscreen"}, False),
    ({"QT_QPA_PLATFORM": "minimal"}, False),
    ({"QT_QPA_PLATFORM": "xcb"}, True),
])
def test_has_display(env, expected):
    assert has_display(env) is expected


@pytest.mark.parametrize("explicit", [True, False])
def test_devblock_runs_headless_and_saves_picture(tmp_path, explicit):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    args = [sys.executable, "-I", "-m", "zentrope.devblock"]
    shot = tmp_path / "out" / "devblock.png"
    if explicit:
        shot = tmp_path / "pictures" / "block.png"
        args += ["--screenshot", str(shot)]
    result = subprocess.run(args, cwd=tmp_path, env=env, capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert str(shot) in result.stdout

    image = QtGui.QImage(str(shot)).convertToFormat(QtGui.QImage.Format.Format_RGB888)
    assert image.width() > 100 and image.height() > 100
    pixels = np.frombuffer(image.constBits(), np.uint8).reshape(
        image.height(), image.bytesPerLine())[:, :image.width() * 3].reshape(
        image.height(), image.width(), 3).astype(int)
    # matplotlib's first line colour, #1f77b4: the six-point line is drawn
    blue = np.abs(pixels - (0x1f, 0x77, 0xb4)).sum(axis=2) < 40
    assert blue.sum() > 50
