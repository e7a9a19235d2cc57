"""Dragging a file out of a widget the way a file manager does."""
import os

from PySide6 import QtCore, QtGui


def drag_file(source, path):
    """Run a copy drag of the local file ``path``, started from widget ``source``.

    The mime data carries the file's URL and has no Qt parent, so a drop
    target finds no drag source object in it, as with a file manager's drag.
    Returns the drop action (IgnoreAction when nobody took the drop).
    """
    # The drag must outlive exec(): a drop target in another process asks
    # for the data only after the drop, and Qt answers from this object.  So
    # it is not deleted here; the previous one of this source goes instead.
    for old in source.findChildren(QtGui.QDrag):
        old.deleteLater()
    drag = QtGui.QDrag(source)
    mime = QtCore.QMimeData()
    mime.setUrls([QtCore.QUrl.fromLocalFile(os.path.abspath(os.fspath(path)))])
    drag.setMimeData(mime)
    return drag.exec(QtCore.Qt.DropAction.CopyAction)
