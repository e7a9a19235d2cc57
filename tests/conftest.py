"""Shared fixtures: the module, canvases, render counting, fake and real drag events."""
import os

# offscreen Qt, and PySide6 for matplotlib, before anything imports either
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
os.environ.setdefault("QT_API", "pyside6")

import contextlib  # noqa: E402
import importlib  # noqa: E402
import subprocess  # noqa: E402
import sys  # noqa: E402
from unittest import mock  # noqa: E402

import numpy as np  # noqa: E402
import pytest  # noqa: E402
from matplotlib.colors import to_rgba  # noqa: E402
from PySide6 import QtCore, QtGui, QtWidgets  # noqa: E402

MODNAME = "zentrope.widgets.models.gmodel.mpl"
# The start of a child's code, to be followed by lines indented by four spaces: the tests'
# helpers importable, an application, the module as m.
CHILD_APP = f"""if 1:
    import gc, sys, threading
    sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})
    from PySide6 import QtCore, QtWidgets
    app = QtWidgets.QApplication([])
    import {MODNAME} as m
"""


def raises(exc):  # pytest.raises(exc), or nothing expected when exc is None
    return pytest.raises(exc) if exc else contextlib.nullcontext()


def run_child(code):
    """Runs code in a fresh interpreter with the debug allocator (a read of freed memory then
    misbehaves at once; a sanitizer run keeps its own); it must exit cleanly. Its output."""
    env = {"PYTHONMALLOC": "malloc_debug", **os.environ}
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                          timeout=120, cwd="/")
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr[-3000:]}"
    return proc.stdout


@pytest.fixture(scope="session")
def mod():
    return importlib.import_module(MODNAME)


@pytest.fixture
def make_canvas(mod, qapp):  # builds canvases (or cls) and disposes of them afterwards
    made = []

    def make(*args, cls=None, **kwargs):
        made.append((cls or mod._MPLDragWidget)(*args, **kwargs))
        return made[-1]

    yield make
    for w in made:
        try:
            w.setParent(None)
            w.deleteLater()
        except RuntimeError:  # never initialised as a Qt object
            pass
    QtCore.QCoreApplication.sendPostedEvents(None, QtCore.QEvent.Type.DeferredDelete)


@pytest.fixture
def renders(monkeypatch):  # renders(w) counts the renders of w's figure from now on, in .call_count
    def start(w):
        monkeypatch.setattr(w.fig, "draw", counter := mock.Mock(wraps=w.fig.draw))
        return counter
    return start


def shows(w, colour, tol=2):
    """Whether w's last render shows colour at the centre of the axes."""
    buf = np.asarray(w.buffer_rgba())
    x0, y0, aw, ah = w.ax.get_position().bounds
    where = int((1 - (y0 + ah / 2)) * buf.shape[0]), int((x0 + aw / 2) * buf.shape[1])
    want = [round(v * 255) for v in to_rgba(colour)]
    return all(abs(int(x) - y) <= tol for x, y in zip(buf[where], want))


class _Logged:  # logs each method call as (name, args, kwargs); unknown ones as tag + name

    def __init__(self, log, tag, **answers):
        self._log, self._tag, self._answers = log, tag, answers

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)

        def method(*args, **kwargs):
            known = name in self._answers
            self._log.append((name if known else self._tag + name, args, kwargs))
            return self._answers[name]() if known else None
        return method


class FakeEvent(_Logged):
    # A duck-typed drag event; log holds every call made on it, on its mime data and
    # its URLs.

    def __init__(self, source=None, urls=()):
        self.log = []
        urls = [_Logged(self.log, "url.", toLocalFile=lambda p=p: p) for p in urls]
        self._mime = _Logged(self.log, "mime.", parent=lambda: source,
                             hasUrls=lambda: bool(urls), urls=lambda: list(urls))
        super().__init__(self.log, "event.", mimeData=lambda: self._mime,
                         accept=lambda: None)


def make_mime(source=None, paths=()):  # a real QMimeData of local paths (URLs: with ://), parented to source if given
    mime = QtCore.QMimeData()
    if source is not None:
        mime.setParent(source)
    if paths:
        mime.setUrls([QtCore.QUrl(p) if "://" in p else QtCore.QUrl.fromLocalFile(p) for p in paths])
    return mime


def drag_event(kind, mime=None):  # a real Qt drag event: "enter", "drop" or "leave"
    if kind == "leave":
        return QtGui.QDragLeaveEvent()
    Qt, cls = QtCore.Qt, QtGui.QDragEnterEvent if kind == "enter" else QtGui.QDropEvent
    rest = (Qt.DropAction.CopyAction, mime, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier)
    try:  # PySide6 6.12 takes a QPointF for a drag-enter event and deprecates the QPoint form, which 6.5 alone has
        return cls(QtCore.QPointF(10, 10), *rest)
    except TypeError:
        return cls(QtCore.QPoint(10, 10), *rest)


def send_drag_event(widget, kind, mime=None):  # drag_event(kind, mime) sent through the application; the event
    QtWidgets.QApplication.sendEvent(widget, ev := drag_event(kind, mime))
    return ev


@pytest.fixture
def label(qapp):  # label(name, isgeom) makes a library label, disposed of afterwards
    from zentrope.widgets.library.labels import GeometryLabelDraggable as Label
    made = []
    yield lambda name="beam", isgeom=True: made.append(Label(name, isgeom)) or made[-1]
    for lab in made:
        lab.deleteLater()
