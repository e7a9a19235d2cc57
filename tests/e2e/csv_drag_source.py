"""python csv_drag_source.py FILE X Y INFO_JSON: drags FILE out of a window at (X, Y)."""
# A press starts the demo's own file drag (URL only, no Qt parent), as a file
# manager's is.  INFO_JSON receives the window's screen rectangle once it is
# shown.
import json
import os
import sys

from PySide6 import QtCore, QtWidgets

from zentrope.demo.filedrag import drag_file


class FileSource(QtWidgets.QLabel):
    def report(self):
        corner = self.mapToGlobal(QtCore.QPoint(0, 0))
        with open(INFO + ".tmp", "w", encoding="utf-8") as f:
            json.dump([corner.x(), corner.y(), self.width(), self.height()], f)
        os.replace(INFO + ".tmp", INFO)  # whole, so a reader never sees half of it

    def mousePressEvent(self, event):
        drag_file(self, PATH)


if __name__ == "__main__":
    PATH, INFO = os.path.abspath(sys.argv[1]), sys.argv[4]
    app = QtWidgets.QApplication(sys.argv[:1])
    source = FileSource(f"drag me: {os.path.basename(PATH)}")
    source.setGeometry(int(sys.argv[2]), int(sys.argv[3]), 260, 120)
    source.show()
    QtCore.QTimer.singleShot(200, source.report)
    sys.exit(app.exec())
