"""Type stub of the native module zentrope.widgets.models.gmodel.mpl.

At run time both classes derive from matplotlib's FigureCanvasQTAgg.  That
class takes its Qt widget base from whichever binding matplotlib picks when
it is imported, which type checkers cannot follow: they see an unknown base
and then accept any attribute, misspelt methods included.  The stub names the
two typed halves of FigureCanvasQTAgg instead, matplotlib's Agg canvas and
PySide6's QWidget, so that every method a client uses is checked.
"""
from collections.abc import Sequence
from typing import Any, ClassVar, Protocol, type_check_only

import numpy as np
from matplotlib.axes import Axes
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure
from matplotlib.lines import Line2D
from matplotlib.typing import ColorType
from PySide6 import QtCore, QtGui, QtWidgets

from zentrope.widgets._basic.mpl import _SavableFigure

@type_check_only
class GeometryElement(Protocol):
    """What ``GeometryModelFigure.add_element`` needs of an element."""

    def plot(self, ax: Axes, /, *, color: str) -> Sequence[Line2D]:
        """Draw the element into ``ax`` with lines of the given colour and
        return those lines."""

class _MPLDragWidget(FigureCanvasAgg, QtWidgets.QWidget):
    staticMetaObject: ClassVar[QtCore.QMetaObject]
    fig: Figure
    ax: Axes
    geom_only: bool
    _axcolor0: tuple[float, float, float]
    _axcolor1: tuple[float, float, float]

    def __init__(self, parent: QtWidgets.QWidget | None = None, geom_only: bool = False) -> None: ...
    def dragEnterEvent(self, e: QtGui.QDragEnterEvent) -> None: ...
    def dragLeaveEvent(self, e: QtGui.QDragLeaveEvent) -> None: ...
    def draw(self) -> None: ...
    def set_bgcolor(self, c: ColorType) -> None: ...
    def set_fontcolor(self, c: ColorType) -> None: ...

class GeometryModelFigure(_MPLDragWidget, _SavableFigure):
    staticMetaObject: ClassVar[QtCore.QMetaObject]
    geom_dropped: ClassVar[QtCore.Signal]
    """Emitted with (name, isgeom) when a library label is dropped."""
    csv_dropped: ClassVar[QtCore.Signal]
    """Emitted with the local path when a file is dropped."""
    artists: list[Sequence[Line2D]]

    def __init__(self, parent: QtWidgets.QWidget | None, gcontrols: object, geom_only: bool = False) -> None: ...
    def add_element(self, g: GeometryElement) -> None: ...
    def clear(self) -> None: ...
    def dropEvent(self, e: QtGui.QDropEvent) -> None: ...
    def remove_element(self, ind: int, ind_new: int) -> None: ...
    def set_artist_value(self, ind: int, y: np.ndarray[Any, Any]) -> None: ...
    def set_selection(self, i: int) -> None: ...
