"""The application object of the entry points, and where their pictures go."""
from __future__ import annotations

import os
import sys
from collections.abc import Mapping, Sequence

from PySide6 import QtCore, QtGui, QtWidgets


def has_display(environ: Mapping[str, str] = os.environ) -> bool:
    platform = environ.get("QT_QPA_PLATFORM", "")
    if platform.startswith(("offscreen", "minimal")):
        return False
    if platform:
        # Any other explicit platform (xcb, wayland, eglfs, ...) is the
        # caller's choice; trust it.
        return True
    return bool(environ.get("DISPLAY") or environ.get("WAYLAND_DISPLAY"))


def screenshot_target(requested: str | None, default: str) -> str | None:
    """Where the picture goes: `requested`, or `default` when there is no display,
    in which case Qt's offscreen platform is chosen too (unless one is set)."""
    if has_display():
        return requested
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    return default if requested is None else requested


class ZentropeApplication(QtWidgets.QApplication):
    """QApplication for the zentrope widgets.

    When ``screenshot_path`` is set (on the class or the instance), ``exec()``
    shows the event loop only long enough to lay out and paint the visible
    top-level widgets, saves them into that PNG file and returns, so that a
    developer run works without a display and still leaves a picture.
    """

    screenshot_path: str | os.PathLike[str] | None = None
    #: milliseconds between entering the event loop and taking the picture
    screenshot_delay_ms = 300

    def __init__(self, argv: Sequence[str] | None = None) -> None:
        # argv[0] names the program to the window system (the X window class).
        super().__init__(list(argv) if argv else sys.argv if sys.argv else ["zentrope"])
        self.setApplicationName("zentrope")

    # PySide6's stubs declare exec() static; on an instance this override runs.
    def exec(self) -> int:  # type: ignore[override]
        if self.screenshot_path:
            QtCore.QTimer.singleShot(self.screenshot_delay_ms, self._screenshot_and_quit)
        return super().exec()

    def _screenshot_and_quit(self) -> None:
        try:
            if self.screenshot_path:
                self.save_screenshot(self.screenshot_path)
        finally:
            self.quit()

    def save_screenshot(self, path: str | os.PathLike[str]) -> int:
        """Grab the visible top-level widgets, side by side, into ``path``."""
        widgets = [w for w in self.topLevelWidgets() if w.isVisible()]
        pixmaps = [w.grab() for w in widgets]
        width = sum(p.width() for p in pixmaps) or 1
        height = max((p.height() for p in pixmaps), default=1)
        image = QtGui.QImage(width, height, QtGui.QImage.Format.Format_ARGB32)
        image.fill(QtGui.QColor("white"))
        painter = QtGui.QPainter(image)
        x = 0
        for pixmap in pixmaps:
            painter.drawPixmap(x, 0, pixmap)
            x += pixmap.width()
        painter.end()
        directory = os.path.dirname(os.fspath(path))
        if directory:
            os.makedirs(directory, exist_ok=True)
        # The format is a str at run time; PySide6's stubs say bytes, which it refuses.
        if not image.save(os.fspath(path), "PNG"):  # type: ignore[call-overload]
            raise OSError(f"could not write screenshot {path!r}")
        return len(widgets)
