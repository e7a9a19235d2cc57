"""Labels of the label library that can be dragged onto plots."""
from __future__ import annotations

from PySide6 import QtCore, QtGui, QtWidgets


class GeometryLabelDraggable(QtWidgets.QLabel):
    """A label naming a library item; dragging it carries the name.

    ``isgeom`` tells whether the item is a geometry.  The drag's mime data is
    owned by the label (its Qt parent), which is how drop targets recognise
    where the drag came from.
    """

    def __init__(self, name: object, isgeom: object,
                 parent: QtWidgets.QWidget | None = None) -> None:
        super().__init__(str(name), parent)
        self.name = str(name)
        self.isgeom = bool(isgeom)
        self._press_pos: QtCore.QPoint | None = None

    def mousePressEvent(self, event: QtGui.QMouseEvent) -> None:
        if event.button() == QtCore.Qt.MouseButton.LeftButton:
            self._press_pos = event.position().toPoint()
        super().mousePressEvent(event)

    def mouseReleaseEvent(self, event: QtGui.QMouseEvent) -> None:
        self._press_pos = None
        super().mouseReleaseEvent(event)

    def mouseMoveEvent(self, event: QtGui.QMouseEvent) -> None:
        if (self._press_pos is not None
                and event.buttons() & QtCore.Qt.MouseButton.LeftButton):
            moved = event.position().toPoint() - self._press_pos
            if moved.manhattanLength() >= QtWidgets.QApplication.startDragDistance():
                self._press_pos = None
                self.start_drag()
                return
        super().mouseMoveEvent(event)

    def make_mime_data(self) -> QtCore.QMimeData:
        mime = QtCore.QMimeData()
        mime.setParent(self)
        mime.setText(self.name)
        return mime

    def start_drag(self) -> QtCore.Qt.DropAction:
        """Run a copy drag of this label; returns the resulting drop action."""
        # The drag is created before its mime data: both are children of the
        # label, and the drag (which owns the mime data) must go first.
        drag = QtGui.QDrag(self)
        drag.setMimeData(self.make_mime_data())
        drag.setPixmap(self.grab())
        try:
            return drag.exec(QtCore.Qt.DropAction.CopyAction)
        finally:
            drag.deleteLater()
