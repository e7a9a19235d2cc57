"""A host application's use of the native module, for the type checker only.

tests/test_typing.py type-checks this file against the installed package.
The first part must pass; every line marked "# E: <code>" is a mistake the
checker must report with that error code, and nothing else may be reported.
"""
from collections.abc import Sequence

import numpy as np
from matplotlib.axes import Axes
from matplotlib.lines import Line2D
from PySide6 import QtCore, QtWidgets

from zentrope.widgets.models.gmodel.mpl import GeometryModelFigure, _MPLDragWidget


class Beam:
    def plot(self, ax: Axes, *, color: str) -> Sequence[Line2D]:
        return ax.plot([0.0, 100.0], [0.0, 1.0], color=color)


def on_geom(name: str, isgeom: bool) -> None:
    print(name, isgeom)


panel = QtWidgets.QWidget()
canvas = _MPLDragWidget(panel, geom_only=True)
canvas.set_bgcolor((0.1, 0.1, 0.1))
fig = GeometryModelFigure(panel, None, geom_only=True)
fig.add_element(Beam())
fig.set_artist_value(0, np.zeros(2))
fig.set_selection(0)
fig.remove_element(0, -1)
fig.clear()
fig.set_fontcolor("white")
fig.geom_dropped.connect(on_geom)
fig.csv_dropped.emit("/data/a.csv")
signal: QtCore.Signal = GeometryModelFigure.geom_dropped
path: str = fig.save_figure("out.png", dpi=72)
fig.setMinimumSize(10, 10)
fig.ax.set_xlim(0, 100)
lines: list[Sequence[Line2D]] = fig.artists

GeometryModelFigure(None)  # E: call-arg
fig.add_element()  # E: call-arg
fig.set_selection(1, 2, 3)  # E: call-arg
fig.add_elemnt(Beam())  # E: attr-defined
fig.add_element(object())  # E: arg-type
fig.set_artist_value(0, [1.0, 2.0])  # E: arg-type
fig.geom_dropped("beam", True)  # E: operator
fig.csv_dropped.emitt("/data/a.csv")  # E: attr-defined
GeometryModelFigure.csv_dropped.emit("/data/a.csv")  # E: attr-defined
canvas.dragEnterEvent(None)  # E: arg-type
