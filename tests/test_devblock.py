"""The developer-block launcher: flag set through ctypes, run headless."""
import os
import subprocess
import sys

import numpy as np
from PySide6 import QtGui

from zentrope._dev import has_display


def test_has_display_follows_the_platform_before_the_display_variables():
    assert has_display({"WAYLAND_DISPLAY": "wayland-0"}) and has_display({"QT_QPA_PLATFORM": "xcb"})
    assert not has_display({"DISPLAY": ":0", "QT_QPA_PLATFORM": "offscreen"})


def test_devblock_headless_leaves_picture_of_the_line(tmp_path):
    # the picture is the application's screenshot, taken from its event loop
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    result = subprocess.run([sys.executable, "-I", "-m", "zentrope.devblock"], cwd=tmp_path,
                            env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    image = QtGui.QImage(str(tmp_path / "out" / "devblock.png")).convertToFormat(
        QtGui.QImage.Format.Format_RGBX8888)
    assert image.width() > 100 and image.height() > 100
    pixels = np.frombuffer(image.constBits(), np.uint8).reshape(image.height(), image.width(), 4)[..., :3]
    # matplotlib's first line colour, #1f77b4: the six-point line is drawn
    assert (np.abs(pixels.astype(int) - (0x1f, 0x77, 0xb4)).sum(axis=2) < 40).sum() > 50
