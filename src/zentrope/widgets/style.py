"""Light/dark style detection from the Qt palette."""
from __future__ import annotations

from typing import TYPE_CHECKING

from PySide6 import QtCore, QtGui

if TYPE_CHECKING:
    from PySide6.QtWidgets import QWidget


def _palette(parent: QWidget | None) -> QtGui.QPalette | None:
    if parent is not None:
        # QWidget.palette() is valid for any widget whose C++ object exists,
        # even one that has not been shown yet.
        try:
            return parent.palette()
        except (AttributeError, RuntimeError):
            pass
    # A bare QCoreApplication has no palette.
    if not isinstance(QtCore.QCoreApplication.instance(), QtGui.QGuiApplication):
        return None
    return QtGui.QGuiApplication.palette()


def is_dark(parent: QWidget | None = None) -> bool:
    """Return True when the application (or ``parent``) shows a dark style.

    The style counts as dark when the window background is darker than the
    window text.  Without a running QApplication the style is light.
    """
    palette = _palette(parent)
    if palette is None:
        return False
    window = palette.color(QtGui.QPalette.ColorRole.Window)
    text = palette.color(QtGui.QPalette.ColorRole.WindowText)
    return window.lightness() < text.lightness()
