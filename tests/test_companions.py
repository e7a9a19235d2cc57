"""The companion Python modules that the native plotting module imports."""
import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.figure import Figure
from PySide6 import QtCore, QtGui, QtWidgets

from zentrope.widgets._basic.mpl import _SavableFigure
from zentrope.widgets.library.labels import GeometryLabelDraggable
from zentrope.widgets.style import is_dark


@pytest.mark.parametrize("app_window, parent_window, expected", [
    ("#f0f0f0", None, False), ("#202020", None, True),
    ("#f0f0f0", "#202020", True),   # the parent's own palette wins over the application's
    ("#202020", "#f0f0f0", False),
])
def test_is_dark(qapp, app_window, parent_window, expected):
    # Qt derives a contrasting window text colour: black on light, white on dark
    palette = lambda window: QtGui.QPalette(QtGui.QColor(window), QtGui.QColor(window))  # noqa: E731
    saved = QtGui.QPalette(qapp.palette())
    qapp.setPalette(palette(app_window))
    result = is_dark(parent_window and QtWidgets.QWidget(palette=palette(parent_window)))
    qapp.setPalette(saved)
    assert result is expected


@pytest.mark.parametrize("dpi", [None, 50])
def test_savable_canvas_writes_png(qapp, tmp_path, dpi):
    # the mixin goes first in the bases, where an initialiser of its own would
    # cut the canvas's cooperative initialisation short
    canvas = type("Canvas", (_SavableFigure, FigureCanvasQTAgg), {})(Figure(figsize=(3, 2), dpi=80))
    image = QtGui.QImage(canvas.save_figure(tmp_path / "sub" / "plot.png", dpi=dpi))
    assert (image.width(), image.height()) == (3 * (dpi or 80), 2 * (dpi or 80))


@pytest.mark.parametrize("distance, drags", [(40, 1), (1, 0)])
def test_label_drag_starts_past_the_drag_distance(qtbot, monkeypatch, distance, drags):
    label, started = GeometryLabelDraggable("cylinder", 1), []
    qtbot.addWidget(label)
    monkeypatch.setattr(QtGui.QDrag, "exec", lambda drag, *args: started.append(
        (drag.mimeData().parent(), drag.mimeData().text())))
    Type, left, none = QtCore.QEvent.Type, QtCore.Qt.MouseButton.LeftButton, QtCore.Qt.MouseButton.NoButton
    for kind, x, button in ((Type.MouseButtonPress, 10, left), (Type.MouseMove, 10 + distance, none),
                            (Type.MouseMove, 10 + 2 * distance, none)):
        point = QtCore.QPointF(x, 10)
        QtWidgets.QApplication.sendEvent(label, QtGui.QMouseEvent(
            kind, point, label.mapToGlobal(point), button, left, QtCore.Qt.KeyboardModifier.NoModifier))
    # one press starts at most one drag, owned by the label, and only past the drag distance
    assert started == [(label, "cylinder")] * drags
