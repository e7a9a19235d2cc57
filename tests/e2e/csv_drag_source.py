"""A separate little application that drags one file out of its window.

    python csv_drag_source.py FILE X Y INFO_JSON

It shows a window at (X, Y); a left mouse press on it starts a QDrag whose
mime data carries FILE's URL and has no Qt parent, as a file manager's drag
does.  INFO_JSON receives the window's screen rectangle once it is shown,
"dragging": true while a drag runs, and the drop action of every finished
drag.
"""
import json
import os
import sys

from PySide6 import QtCore, QtGui, QtWidgets


class FileSource(QtWidgets.QLabel):
    def __init__(self, path, info_path):
        super().__init__(f"drag me: {os.path.basename(path)}")
        self.path = path
        self.info_path = info_path
        self.dragging = False
        self.results = []
        self.setAlignment(QtCore.Qt.AlignmentFlag.AlignCenter)
        self.setStyleSheet("background: #d8f0d8; border: 2px solid #4a4;")

    def report(self):
        top_left = self.mapToGlobal(QtCore.QPoint(0, 0))
        info = {"rect": [top_left.x(), top_left.y(), self.width(), self.height()],
                "dragging": self.dragging, "results": self.results}
        tmp = self.info_path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(info, f)
        os.replace(tmp, self.info_path)

    def showEvent(self, event):
        super().showEvent(event)
        QtCore.QTimer.singleShot(100, self.report)

    def mousePressEvent(self, event):
        if event.button() != QtCore.Qt.MouseButton.LeftButton:
            return
        drag = QtGui.QDrag(self)
        mime = QtCore.QMimeData()
        mime.setUrls([QtCore.QUrl.fromLocalFile(self.path)])
        drag.setMimeData(mime)
        self.dragging = True
        self.report()
        action = drag.exec(QtCore.Qt.DropAction.CopyAction)
        self.dragging = False
        self.results.append(action.name)
        self.report()


def main(argv):
    path, x, y, info_path = argv[1], int(argv[2]), int(argv[3]), argv[4]
    app = QtWidgets.QApplication(argv[:1])
    source = FileSource(os.path.abspath(path), info_path)
    source.setWindowTitle("file drag source")
    source.setGeometry(x, y, 260, 120)
    source.show()
    return app.exec()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
