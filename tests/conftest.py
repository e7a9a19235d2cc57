"""Shared fixtures for the native plotting module's tests.

Qt runs offscreen and matplotlib is told to use PySide6 before anything
imports either of them.
"""
import os

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
os.environ.setdefault("QT_API", "pyside6")

import importlib
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from matplotlib.colors import to_rgba
from PySide6 import QtCore, QtGui, QtWidgets

MODNAME = "zentrope.widgets.models.gmodel.mpl"
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@pytest.fixture(scope="session")
def mod():
    return importlib.import_module(MODNAME)


@pytest.fixture
def fake_is_dark(mod, monkeypatch):
    """Replace the module global ``is_dark``; returns the list of received args.

    ``fake_is_dark.result`` (default False) is what the fake returns; an
    exception instance there is raised instead.
    """

    class Fake:
        result = False

        def __init__(self):
            self.args = []

        def __call__(self, *args, **kwargs):
            self.args.append((args, kwargs))
            if isinstance(self.result, BaseException):
                raise self.result
            return self.result

    fake = Fake()
    monkeypatch.setattr(mod, "is_dark", fake)
    return fake


@pytest.fixture
def make_canvas(mod, qapp):
    """Build widgets of the module (or a subclass) and drop them afterwards."""
    made = []

    def make(*args, cls=None, **kwargs):
        w = (cls or mod._MPLDragWidget)(*args, **kwargs)
        made.append(w)
        return w

    yield make
    for w in made:
        try:
            w.setParent(None)
            w.deleteLater()
        except RuntimeError:
            pass
    made.clear()
    QtCore.QCoreApplication.sendPostedEvents(None, QtCore.QEvent.Type.DeferredDelete)


@pytest.fixture
def canvas(make_canvas):
    return make_canvas()


class RenderCounter:
    """Counts renders of a canvas's figure (what the Agg canvas draws)."""

    def __init__(self, fig):
        self.count = 0
        self._fig = fig
        self._orig = fig.draw

        def counting_draw(renderer, *a, **k):
            self.count += 1
            return self._orig(renderer, *a, **k)

        fig.draw = counting_draw


@pytest.fixture
def renders():
    """``renders(canvas)`` starts counting that canvas's renders."""
    counters = []

    def start(w):
        counters.append(RenderCounter(w.fig))
        return counters[-1]

    yield start
    for c in counters:
        del c._fig.draw


def axes_centre_rgba(w):
    """RGBA bytes of the last render at the centre of the canvas's axes."""
    buf = np.asarray(w.buffer_rgba())
    h, wd = buf.shape[:2]
    x0, y0, aw, ah = w.ax.get_position().bounds
    col = int((x0 + aw / 2) * wd)
    row = int((1 - (y0 + ah / 2)) * h)
    return tuple(int(v) for v in buf[row, col])


def rgba_bytes(colour):
    return tuple(int(round(v * 255)) for v in to_rgba(colour))


def same_pixel(a, b, tol=2):
    return all(abs(x - y) <= tol for x, y in zip(a, b))


# ---------------------------------------------------------------- fake events

class FakeUrl:
    def __init__(self, log, path):
        self._log, self._path = log, path

    def toLocalFile(self, *args, **kwargs):
        self._log.append(("toLocalFile", args, kwargs))
        return self._path


class _Recording:
    """Records calls of methods it does not define (``e.ignore()`` etc.)."""

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        log = object.__getattribute__(self, "_log")
        tag = object.__getattribute__(self, "_tag")

        def unexpected(*args, **kwargs):
            log.append((tag + name, args, kwargs))

        return unexpected


class FakeMime(_Recording):
    _tag = "mime."

    def __init__(self, log, source, urls):
        self._log, self._source, self._urls = log, source, urls

    def parent(self, *args, **kwargs):
        self._log.append(("parent", args, kwargs))
        return self._source

    def hasUrls(self, *args, **kwargs):
        self._log.append(("hasUrls", args, kwargs))
        return bool(self._urls)

    def urls(self, *args, **kwargs):
        self._log.append(("urls", args, kwargs))
        return [FakeUrl(self._log, p) for p in self._urls]


class FakeEvent(_Recording):
    """Duck-typed drag event; ``log`` holds every call made on it.

    ``on_accept`` is called (with no arguments) when the handler accepts.
    """

    _tag = "event."

    def __init__(self, source=None, urls=(), on_accept=None):
        self.log = []
        self._log = self.log
        self._mime = FakeMime(self.log, source, list(urls))
        self._on_accept = on_accept

    def mimeData(self, *args, **kwargs):
        self.log.append(("mimeData", args, kwargs))
        return self._mime

    def accept(self, *args, **kwargs):
        self.log.append(("accept", args, kwargs))
        if self._on_accept is not None:
            self._on_accept()

    def names(self):
        return [entry[0] for entry in self.log]


# ------------------------------------------------------------ real Qt events

def make_mime(source=None, paths=(), urls=()):
    """A real QMimeData, parented to ``source`` when given, carrying file URLs."""
    mime = QtCore.QMimeData()
    if source is not None:
        mime.setParent(source)
    qurls = [QtCore.QUrl.fromLocalFile(p) for p in paths] + [QtCore.QUrl(u) for u in urls]
    if qurls:
        mime.setUrls(qurls)
    return mime


def send_drag_enter(widget, mime):
    ev = QtGui.QDragEnterEvent(
        QtCore.QPoint(10, 10), QtCore.Qt.DropAction.CopyAction, mime,
        QtCore.Qt.MouseButton.LeftButton, QtCore.Qt.KeyboardModifier.NoModifier)
    QtWidgets.QApplication.sendEvent(widget, ev)
    return ev


def send_drag_leave(widget):
    ev = QtGui.QDragLeaveEvent()
    QtWidgets.QApplication.sendEvent(widget, ev)
    return ev


@pytest.fixture
def label(qapp):
    """``label(name, isgeom)`` makes a library label that is cleaned up afterwards."""
    from zentrope.widgets.library.labels import GeometryLabelDraggable

    made = []

    def make(name="beam", isgeom=True):
        lab = GeometryLabelDraggable(name, isgeom)
        made.append(lab)
        return lab

    yield make
    for lab in made:
        lab.deleteLater()


# ---------------------------------------------------------------- subprocesses

def run_python(code, *, env=None, timeout=120):
    """Run ``code`` in a fresh interpreter; return the CompletedProcess.

    The script's last stdout line is expected to be ``OK`` on success.
    """
    full_env = dict(os.environ)
    full_env.update({"QT_QPA_PLATFORM": "offscreen", "QT_API": "pyside6"})
    if env:
        full_env.update(env)
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, timeout=timeout, env=full_env, cwd="/")
    return proc


def assert_script_ok(code, **kwargs):
    proc = run_python(code, **kwargs)
    lines = proc.stdout.strip().splitlines()
    assert proc.returncode == 0 and lines and lines[-1] == "OK", (
        f"rc={proc.returncode}\n--- stdout\n{proc.stdout}\n--- stderr\n{proc.stderr}")
    return proc
