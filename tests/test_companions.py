"""The companion Python modules that the native plotting module imports."""
import os
import subprocess
import sys
import textwrap

import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.figure import Figure
from PySide6 import QtCore, QtGui, QtWidgets

from zentrope.widgets._basic.mpl import _SavableFigure
from zentrope.widgets.library.labels import GeometryLabelDraggable
from zentrope.widgets.style import is_dark


def palette(window):
    # Qt derives a contrasting window text colour: black on light, white on dark
    return QtGui.QPalette(QtGui.QColor(window), QtGui.QColor(window))


@pytest.mark.parametrize("app_window, parent_window, expected", [
    ("#f0f0f0", None, False),
    ("#202020", None, True),
    ("#f0f0f0", "#202020", True),   # the parent's own palette wins over the application's
    ("#202020", "#f0f0f0", False),
])
def test_is_dark(qapp, app_window, parent_window, expected):
    saved = QtGui.QPalette(qapp.palette())
    qapp.setPalette(palette(app_window))
    parent = None if parent_window is None else QtWidgets.QWidget(palette=palette(parent_window))
    result = is_dark(parent)
    qapp.setPalette(saved)
    assert result is expected


@pytest.mark.parametrize("dpi", [None, 50])
def test_savable_canvas_writes_png(qtbot, tmp_path, dpi):
    # the mixin goes first in the bases, where an initialiser of its own would
    # cut the canvas's cooperative initialisation short
    canvas = type("Canvas", (_SavableFigure, FigureCanvasQTAgg), {})(Figure(figsize=(3, 2), dpi=80))
    qtbot.addWidget(canvas)
    canvas.figure.add_subplot().plot([0, 1, 4])
    image = QtGui.QImage(canvas.save_figure(tmp_path / "sub" / "plot.png", dpi=dpi))
    assert (image.width(), image.height()) == (3 * (dpi or 80), 2 * (dpi or 80))


@pytest.mark.parametrize("distance, expect_drag", [(40, True), (1, False)])
def test_label_drag_mime_belongs_to_label(qtbot, monkeypatch, distance, expect_drag):
    label = GeometryLabelDraggable("cylinder", 1)
    qtbot.addWidget(label)
    drags = []
    monkeypatch.setattr(QtGui.QDrag, "exec", lambda drag, *args: drags.append(
        (drag.mimeData().parent(), drag.mimeData().text())) or QtCore.Qt.DropAction.CopyAction)
    left, none = QtCore.Qt.MouseButton.LeftButton, QtCore.Qt.MouseButton.NoButton
    for kind, x, button in ((QtCore.QEvent.Type.MouseButtonPress, 10, left),
                            (QtCore.QEvent.Type.MouseMove, 10 + distance, none),
                            (QtCore.QEvent.Type.MouseMove, 10 + 2 * distance, none)):
        point = QtCore.QPointF(x, 10)
        QtWidgets.QApplication.sendEvent(label, QtGui.QMouseEvent(
            kind, point, label.mapToGlobal(point), button, left, QtCore.Qt.KeyboardModifier.NoModifier))
    # one press starts at most one drag, and only past the drag distance
    assert drags == ([(label, "cylinder")] if expect_drag else [])


def test_application_screenshot_exec(tmp_path):
    shot = tmp_path / "out" / "shot.png"
    code = f"""
        from PySide6 import QtWidgets
        from zentrope._dev import ZentropeApplication
        from zentrope.widgets.style import is_dark
        print(is_dark(None))  # no application yet: light
        ZentropeApplication.screenshot_path = {str(shot)!r}
        app = ZentropeApplication()
        w = QtWidgets.QWidget()
        w.setFixedSize(120, 80)
        w.show()
        print(app.exec())
        """
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=tmp_path,
                            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"),
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["False", "0"]
    assert QtGui.QImage(str(shot)).size() == QtCore.QSize(120, 80)
