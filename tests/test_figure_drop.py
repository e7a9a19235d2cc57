"""GeometryModelFigure.dropEvent: real Qt drops to connected slots, exact event calls, failures."""
from types import SimpleNamespace

import pytest
from matplotlib.colors import to_rgba
from PySide6 import QtCore, QtGui, QtWidgets

from conftest import (FakeEvent, axes_centre_rgba, make_mime, rgba_bytes, same_pixel,
                      send_drag_enter)
from figure_helpers import entries, global_removed, native_frames

M, P, H, U, T = "mimeData", "parent", "hasUrls", "urls", "toLocalFile"
Qt = QtCore.Qt


@pytest.fixture
def figure(mod, make_canvas, fake_is_dark):
    def make(geom_only=False, dark=False):
        fake_is_dark.result = dark
        return make_canvas(None, None, geom_only, cls=mod.GeometryModelFigure)
    return make


@pytest.fixture
def slots():
    """``slots(fig)`` connects recording slots to both signals.

    Each emission records the signal, its arguments, the plot-area colour and
    the rendered pixel at the axes centre at that moment.
    """

    def connect(fig):
        got = []
        view = SimpleNamespace(ax=fig.ax, buffer_rgba=fig.buffer_rgba)  # survives fig.ax = None

        def seen(kind):
            def slot(*args):
                got.append((kind, args, view.ax.get_facecolor(), axes_centre_rgba(view)))
            return slot

        fig.geom_dropped.connect(seen("geom"))
        fig.csv_dropped.connect(seen("csv"))
        return got

    return connect


def send_drop(widget, mime):
    ev = QtGui.QDropEvent(QtCore.QPointF(40, 40), Qt.DropAction.CopyAction, mime,
                          Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier)
    QtWidgets.QApplication.sendEvent(widget, ev)
    return ev


def hover(fig):
    """An accepted drag-enter: Qt then delivers the drop here, highlighted."""
    ev = send_drag_enter(fig, make_mime(paths=["/d/hover.csv"]))
    assert ev.isAccepted() and fig.ax.get_facecolor() == to_rgba(fig._axcolor1)


# source, label name/isgeom, geom_only, local paths, other urls, expected emission
ROWS = [
    ("label", ("beam", True), False, [], [], ("geom", ("beam", True))),
    ("label", ("web", False), False, ["/d/a.csv", "/d/b.csv"], [], ("geom", ("web", False))),
    ("label", ("plate", False), True, [], [], ("geom", ("plate", False))),
    (None, None, False, ["/d/first.csv", "/d/second.csv"], [], ("csv", ("/d/first.csv",))),
    ("qobject", None, True, ["/d/notes.txt"], [], ("csv", ("/d/notes.txt",))),
    (None, None, False, [], ["https://example.org/a.csv"], ("csv", ("",))),
    (None, None, False, [], [], None),
    ("qobject", None, False, [], [], None),
]


@pytest.mark.parametrize("dark", [False, True], ids=["light", "dark"])
@pytest.mark.parametrize("kind,lab,geom_only,paths,urls,emitted", ROWS)
def test_real_drop_emits_at_most_one_signal_then_rests(figure, slots, renders, label, dark,
                                                       kind, lab, geom_only, paths, urls, emitted):
    fig = figure(geom_only, dark)
    got = slots(fig)
    source = {"label": lambda: label(*lab),
              "qobject": lambda: QtWidgets.QLabel("plain")}.get(kind, lambda: None)()
    hover(fig)
    counter = renders(fig)

    ev = send_drop(fig, make_mime(source, paths, urls))
    if emitted is None:
        assert got == []
    else:
        (signal, args, colour, pixel), = got
        assert (signal, args) == emitted
        # slots run before the resting colour is set and the figure redrawn
        assert colour == to_rgba(fig._axcolor1)
        assert same_pixel(pixel, rgba_bytes(fig._axcolor1))
    assert fig.ax.get_facecolor() == to_rgba(fig._axcolor0)
    assert counter.count == 1
    assert same_pixel(axes_centre_rgba(fig), rgba_bytes(fig._axcolor0))
    # the handler neither accepts nor changes the drop action
    assert not ev.isAccepted() and ev.dropAction() == Qt.DropAction.CopyAction
    if source is not None:
        source.deleteLater()


# source, urls, hasUrls override, expected calls on the event
CALLS = [
    ("label", [], None, [M, P, M, P, M, P]),
    ("label", ["/d/a.csv"], None, [M, P, M, P, M, P]),
    (None, ["/d/a.csv", "/d/b.txt"], None, [M, P, M, H, M, U, T]),
    ("plain", ["/d/x"], None, [M, P, M, H, M, U, T]),
    (None, [], None, [M, P, M, H]),
    ("qobject", [], None, [M, P, M, H]),
]


@pytest.mark.parametrize("kind,urls,has_urls,expected", CALLS)
def test_exact_calls_on_the_event(figure, slots, renders, label, kind, urls, has_urls, expected):
    fig = figure()
    got = slots(fig)
    source = {"label": lambda: label("truss", True), "plain": lambda: type("Plain", (), {})(),
              "qobject": lambda: QtCore.QObject()}.get(kind, lambda: None)()
    ev = FakeEvent(source, urls)
    fig.ax.set_facecolor(fig._axcolor1)
    counter = renders(fig)
    assert fig.dropEvent(e=ev) is None
    assert ev.names() == expected
    assert all(args == () and kwargs == {} for _, args, kwargs in ev.log)
    want = ([("geom", ("truss", True))] if kind == "label"
            else [("csv", (urls[0],))] if urls else [])
    assert [(s, a) for s, a, *_ in got] == want
    assert fig.ax.get_facecolor() == to_rgba(fig._axcolor0) and counter.count == 1


class Recorder:
    """Stands in for a signal on one instance; ``emit`` records or raises."""

    def __init__(self, raises=None):
        self.raises, self.args = raises, []

    def emit(self, *args):
        self.args.append(args)
        if self.raises:
            raise self.raises


def test_drop_passes_the_label_values_on_unconverted(figure, label):
    fig = figure(geom_only=True)
    lab = label("x", True)
    lab.name, lab.isgeom = name, isgeom = object(), []
    fig.geom_dropped = rec = Recorder()
    fig.dropEvent(FakeEvent(lab, ["/d/a.csv"]))
    assert len(rec.args) == 1 and rec.args[0][0] is name and rec.args[0][1] is isgeom


def test_label_class_is_looked_up_at_each_drop(mod, figure, label, slots, monkeypatch):
    fig = figure()
    got = slots(fig)
    monkeypatch.setattr(mod, "GeometryLabelDraggable", type("Other", (), {}))
    ev = FakeEvent(label("beam", True), ["/d/a.csv"])
    fig.dropEvent(ev)
    assert ev.names() == [M, P, M, H, M, U, T] and [g[0] for g in got] == ["csv"]
    with global_removed(mod, "GeometryLabelDraggable"), pytest.raises(
            NameError, match=r"^name 'GeometryLabelDraggable' is not defined$"):
        fig.dropEvent(FakeEvent(None))


def _del(attr):
    def breaker(fig, lab):
        delattr(lab, attr)
    return breaker


def _empty_urls(fig, lab):
    return True


def _raising_emit(fig, lab):
    fig.geom_dropped = Recorder(RuntimeError("emit failed"))
    fig.csv_dropped = Recorder(RuntimeError("emit failed"))


def _set(attr, value):
    def breaker(fig, lab):
        setattr(fig, attr, value)
    return breaker


def _raising_draw(fig, lab):
    def draw():
        raise RuntimeError("draw failed")
    fig.draw = draw


# id, breaker, label source?, urls, exception, calls on the event, emitted, colour left
FAILURES = [
    ("no-name", _del("name"), True, [], AttributeError, [M, P, M, P], False, "highlight"),
    ("no-isgeom", _del("isgeom"), True, [], AttributeError, [M, P, M, P, M, P], False, "highlight"),
    ("empty-urls", _empty_urls, False, [], IndexError, [M, P, M, H, M, U], False, "highlight"),
    ("emit-label", _raising_emit, True, [], RuntimeError, [M, P, M, P, M, P], True, "highlight"),
    ("emit-file", _raising_emit, False, ["/d/a.csv"], RuntimeError, [M, P, M, H, M, U, T], True,
     "highlight"),
    ("no-ax", _set("ax", None), True, [], AttributeError, [M, P, M, P, M, P], True, "highlight"),
    ("bad-colour", _set("_axcolor0", "no-such-colour"), False, [], ValueError, [M, P, M, H], False,
     "highlight"),
    ("draw", _raising_draw, False, ["/d/a.csv"], RuntimeError, [M, P, M, H, M, U, T], True,
     "resting"),
]


@pytest.mark.parametrize("breaker,is_label,urls,exc,calls,emitted,colour",
                         [r[1:] for r in FAILURES], ids=[r[0] for r in FAILURES])
def test_failures_stop_the_drop_where_they_happen(figure, slots, renders, label, breaker,
                                                  is_label, urls, exc, calls, emitted, colour):
    fig = figure()
    got = slots(fig)
    lab = label("beam", True)
    ev = FakeEvent(lab if is_label else None, urls)
    ax, looks = fig.ax, {"highlight": fig._axcolor1, "resting": fig._axcolor0}
    ax.set_facecolor(fig._axcolor1)
    counter = renders(fig)
    if breaker(fig, lab):  # the mime data claims URLs but has none
        ev._mime.hasUrls = lambda: (ev.log.append((H, (), {})), True)[1]
    with pytest.raises(exc) as info:
        fig.dropEvent(ev)
    assert ev.names() == calls
    recorders = [r for r in vars(fig).values() if isinstance(r, Recorder)]
    assert bool(got or any(r.args for r in recorders)) is emitted
    assert ax.get_facecolor() == to_rgba(looks[colour])
    assert counter.count == 0
    assert native_frames(info.tb) == entries("dropEvent")


def test_failure_in_a_real_qt_drop_reaches_the_caller_highlight_kept(figure, slots, renders, label):
    fig = figure()
    got = slots(fig)
    lab = label("beam", True)
    mime = make_mime(lab)
    hover(fig)
    counter = renders(fig)
    del lab.name
    with pytest.raises(AttributeError) as info:
        send_drop(fig, mime)
    assert got == [] and counter.count == 0
    assert fig.ax.get_facecolor() == to_rgba(fig._axcolor1)
    assert native_frames(info.tb) == entries("dropEvent")


def test_a_raising_slot_is_reported_and_the_drop_completes(figure, renders, qtbot):
    fig = figure()

    def bad_slot(path):
        raise KeyError(path)

    fig.csv_dropped.connect(bad_slot)
    hover(fig)
    counter = renders(fig)
    with qtbot.captureExceptions() as caught:
        send_drop(fig, make_mime(paths=["/d/a.csv"]))
    # Qt reports a slot's exception instead of raising it from emit
    assert [type(e[1]) for e in caught] == [KeyError]
    assert fig.ax.get_facecolor() == to_rgba(fig._axcolor0) and counter.count == 1
