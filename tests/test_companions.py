"""The companion Python modules that the native plotting module imports."""
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.figure import Figure
from PySide6 import QtCore, QtGui, QtWidgets

from zentrope.widgets._basic.mpl import MPLWidget, _SavableFigure
from zentrope.widgets.library.labels import GeometryLabelDraggable
from zentrope.widgets.style import is_dark

LIGHT = ("#f0f0f0", "#101010")  # window, window text
DARK = ("#202020", "#e8e8e8")


def palette(window, text):
    pal = QtGui.QPalette()
    pal.setColor(QtGui.QPalette.ColorRole.Window, QtGui.QColor(window))
    pal.setColor(QtGui.QPalette.ColorRole.WindowText, QtGui.QColor(text))
    return pal


def run_python(code, tmp_path, timeout=30):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=tmp_path,
                          env=env, capture_output=True, text=True, timeout=timeout)


@pytest.fixture
def app_palette(qapp):
    saved = QtGui.QPalette(qapp.palette())
    yield lambda colours: qapp.setPalette(palette(*colours))
    qapp.setPalette(saved)


@pytest.mark.parametrize("app_colours, parent_colours, expected", [
    (LIGHT, None, False),
    (DARK, None, True),
    (LIGHT, DARK, True),   # the parent's own palette wins over the application's
    (DARK, LIGHT, False),
    (DARK, "inherit", True),  # a plain widget follows the application
])
def test_is_dark(qtbot, app_palette, app_colours, parent_colours, expected):
    app_palette(app_colours)
    parent = None
    if parent_colours is not None:
        parent = QtWidgets.QWidget()
        qtbot.addWidget(parent)
        if parent_colours != "inherit":
            parent.setPalette(palette(*parent_colours))
    assert is_dark(parent) is expected


def test_is_dark_without_application(tmp_path):
    result = run_python("""
        from zentrope.widgets.style import is_dark
        print(is_dark(None))
        """, tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["False"]


@pytest.mark.parametrize("mixin_first", [False, True])
@pytest.mark.parametrize("dpi", [None, 50])
def test_savable_figure_writes_png(qtbot, tmp_path, mixin_first, dpi):
    bases = (_SavableFigure, FigureCanvasQTAgg) if mixin_first else (FigureCanvasQTAgg, _SavableFigure)
    Canvas = type("Canvas", bases, {})
    fig = Figure(figsize=(3, 2), dpi=80)
    canvas = Canvas(fig)
    qtbot.addWidget(canvas)
    assert canvas.figure is fig
    fig.add_subplot().plot([0, 1, 4])

    path = canvas.save_figure(tmp_path / "sub" / "plot.png", dpi=dpi)

    image = QtGui.QImage(path)
    assert not image.isNull()
    scale = dpi or 80
    assert (image.width(), image.height()) == (3 * scale, 2 * scale)


def test_mplwidget_plots_into_its_canvas(qtbot):
    widget = MPLWidget(None)
    qtbot.addWidget(widget)
    widget.ax.plot([0, 8, 3, 21, 18, 33], color="red")
    assert widget.ax.figure is widget.canvas.figure
    assert widget.canvas.parent() is widget
    assert widget.layout().indexOf(widget.canvas) >= 0
    widget.resize(300, 200)
    widget.show()
    qtbot.waitExposed(widget)
    widget.draw()
    pixels = np.asarray(widget.canvas.buffer_rgba())
    red = (pixels[..., 0] > 200) & (pixels[..., 1] < 60) & (pixels[..., 2] < 60)
    assert red.any(), "the plotted line is not on the canvas"


def _mouse(label, kind, pos, buttons):
    point = QtCore.QPointF(*pos)
    event = QtGui.QMouseEvent(kind, point, label.mapToGlobal(point),
                              QtCore.Qt.MouseButton.LeftButton if kind != QtCore.QEvent.Type.MouseMove
                              else QtCore.Qt.MouseButton.NoButton,
                              buttons, QtCore.Qt.KeyboardModifier.NoModifier)
    QtWidgets.QApplication.sendEvent(label, event)


@pytest.mark.parametrize("distance, pressed, expect_drag", [
    (40, True, True),
    (1, True, False),    # below the drag distance
    (40, False, False),  # moving without the button held
])
def test_label_drag(qtbot, monkeypatch, distance, pressed, expect_drag):
    label = GeometryLabelDraggable("cylinder", 1)
    qtbot.addWidget(label)
    label.resize(120, 30)
    label.show()
    drags = []

    def fake_exec(drag, *args):
        mime = drag.mimeData()
        drags.append((mime.parent(), mime.text(), args))
        return QtCore.Qt.DropAction.CopyAction

    monkeypatch.setattr(QtGui.QDrag, "exec", fake_exec)
    left = QtCore.Qt.MouseButton.LeftButton
    T = QtCore.QEvent.Type
    if pressed:
        _mouse(label, T.MouseButtonPress, (10, 10), left)
    _mouse(label, T.MouseMove, (10 + distance, 10), left if pressed else QtCore.Qt.MouseButton.NoButton)

    assert (label.name, label.isgeom) == ("cylinder", True)
    if not expect_drag:
        assert drags == []
        return
    assert len(drags) == 1
    parent, text, args = drags[0]
    assert parent is label
    assert text == "cylinder"
    assert args == (QtCore.Qt.DropAction.CopyAction,)
    # one press starts one drag
    _mouse(label, T.MouseMove, (10 + 2 * distance, 10), left)
    assert len(drags) == 1


@pytest.mark.parametrize("screenshot", [True, False])
def test_application_exec(tmp_path, screenshot):
    shot = tmp_path / "out" / "shot.png"
    result = run_python(f"""
        import sys
        from PySide6 import QtCore, QtWidgets
        from zentrope._dev import ZentropeApplication
        sys.argv[1:] = ["--marker"]
        if {screenshot}:
            ZentropeApplication.screenshot_path = {str(shot)!r}
        app = ZentropeApplication()
        assert "--marker" in app.arguments()
        w = QtWidgets.QWidget()
        w.setStyleSheet("background: rgb(0, 0, 255)")
        w.setFixedSize(120, 80)
        w.show()
        if not {screenshot}:
            QtCore.QTimer.singleShot(200, lambda: app.exit(7))
        print("exit", app.exec())
        """, tmp_path)
    assert result.returncode == 0, result.stderr
    if not screenshot:
        assert result.stdout.split() == ["exit", "7"]
        assert not shot.exists()
        return
    assert result.stdout.split() == ["exit", "0"]
    image = QtGui.QImage(str(shot))
    assert (image.width(), image.height()) == (120, 80)
    assert QtGui.QColor(image.pixel(60, 40)) == QtGui.QColor(0, 0, 255)
