"""matplotlib helpers: a figure-saving mixin and a simple plot widget."""
from __future__ import annotations

import os
from typing import Any

from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.figure import Figure
from PySide6 import QtWidgets


class _SavableFigure:
    """Mixin for matplotlib canvases: saves the canvas's figure to a file.

    It defines no initialiser, so it never interferes with the cooperative
    initialisation of the Qt canvas classes it is mixed with.
    """

    #: the figure of the canvas this is mixed into
    figure: Figure

    def save_figure(self, path: str | os.PathLike[str], dpi: float | None = None,
                    **kwargs: Any) -> str:
        """Write the figure to ``path``; the format follows the file suffix."""
        path = os.fspath(path)
        directory = os.path.dirname(path)
        if directory:
            os.makedirs(directory, exist_ok=True)
        self.figure.savefig(path, dpi=dpi, **kwargs)
        return path


class MPLWidget(QtWidgets.QWidget):
    """A plain widget showing one matplotlib figure with one axes (``ax``)."""

    def __init__(self, parent: QtWidgets.QWidget | None = None) -> None:
        super().__init__(parent)
        self.figure = Figure()
        self.canvas = FigureCanvasQTAgg(self.figure)
        self.ax = self.figure.add_subplot(111)
        layout = QtWidgets.QVBoxLayout(self)
        layout.setContentsMargins(0, 0, 0, 0)
        layout.addWidget(self.canvas)

    def draw(self) -> None:
        self.canvas.draw()
