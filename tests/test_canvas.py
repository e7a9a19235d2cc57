"""_MPLDragWidget: construction, drawing, colours, drag feedback, failures, leaks."""
import builtins
import contextlib
import gc
import os
import sys
import traceback

import matplotlib.font_manager
import matplotlib.text
import numpy as np
import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.colors import to_rgba
from PySide6 import QtCore, QtGui, QtWidgets

from conftest import (MODNAME, FakeEvent, axes_centre_rgba, make_mime, rgba_bytes, same_pixel,
                      send_drag_enter)

RESTING, DARK, LIGHT = (0.9, 0.9, 0.9), (0.3, 0.3, 0.3), (0.7, 0.7, 0.7)
ATTRS = ["fig", "geom_only", "ax", "_axcolor0", "_axcolor1"]
M, P, H, U, T, A = "mimeData", "parent", "hasUrls", "urls", "toLocalFile", "accept"


@pytest.mark.parametrize("with_parent,dark,highlight", [
    (False, None, LIGHT), (True, "no", DARK), (False, True, DARK), (True, "", LIGHT)])
def test_construction(mod, make_canvas, monkeypatch, with_parent, dark, highlight):
    events, base_init = [], FigureCanvasQTAgg.__init__

    def init(self, *args, **kwargs):
        events.append(("base", args, kwargs, [k for k in vars(self) if k in ATTRS]))
        base_init(self, *args, **kwargs)
    monkeypatch.setattr(FigureCanvasQTAgg, "__init__", init)
    monkeypatch.setattr(mod, "is_dark", lambda *a, **k: events.append(("is_dark", a, k)) or dark)
    parent, geom_only = (QtWidgets.QWidget(), []) if with_parent else (None, False)
    w = make_canvas(parent, geom_only) if with_parent else make_canvas()
    # is_dark once with the parent, then the Qt base with every attribute already set
    assert events == [("is_dark", (parent,), {}), ("base", (w.fig,), {}, ATTRS)]
    policy, expanding = w.sizePolicy(), QtWidgets.QSizePolicy.Policy.Expanding
    assert (policy.horizontalPolicy(), policy.verticalPolicy()) == (expanding, expanding)
    assert w.parent() is parent and w.acceptDrops() and w.geom_only is geom_only  # not converted
    assert w.figure is w.fig and w.fig.dpi == 100 and w.fig.axes == [w.ax]
    assert w.ax.get_position().bounds == pytest.approx((0.1, 0.1, 0.88, 0.88))
    assert w.ax.margins()[0] == 0 and w.ax.get_xlim() == (0, 100)
    assert {t.get_fontsize() for t in w.ax.get_xticklabels() + w.ax.get_yticklabels()} == {6}
    # the highlight follows the truth of is_dark's result
    assert (w._axcolor0, w._axcolor1) == (RESTING, highlight) and type(w._axcolor1) is tuple
    assert w.ax.get_facecolor() == to_rgba(RESTING)
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(RESTING))  # drawn once already


def test_draw_keeps_the_x_range_and_fits_y_to_the_data(canvas, renders):
    (line,) = canvas.ax.plot([0, 120, 250], [0, 0, 0])
    counter = renders(canvas)
    for ys in ([-5, 40, 12], [300, 310, 305]):
        line.set_ydata(ys)
        assert canvas.draw() is None
        lo, hi = canvas.ax.get_ylim()
        assert canvas.ax.get_xlim() == (0, 100) and lo <= min(ys) and max(ys) <= hi
        assert hi - lo < 2 * (max(ys) - min(ys))  # fitted to the current data only
    assert counter.count == 2


@pytest.mark.parametrize("c", [(0.2, 0.4, 0.6), "0.3", "red"], ids=str)
def test_colour_operations_recolour_only_their_parts_and_do_not_draw(canvas, renders, c):
    w = canvas
    w.ax.set_xlabel("x")
    w.ax.set_ylabel("y", color="green")
    counter, before, plot_area = renders(w), w.buffer_rgba().tobytes(), (w._axcolor0, w._axcolor1)
    assert w.set_bgcolor(c) is None and w.set_fontcolor(c) is None
    assert counter.count == 0 and w.buffer_rgba().tobytes() == before
    want = to_rgba(c)
    assert w.fig.patch.get_facecolor() == w.fig.patch.get_edgecolor() == want
    for axis in (w.ax.xaxis, w.ax.yaxis):
        tick = axis.get_major_ticks()[0]
        assert to_rgba(tick.label1.get_color()) == to_rgba(tick.tick1line.get_color()) == want
    assert to_rgba(w.ax.xaxis.label.get_color()) == want
    assert to_rgba(w.ax.yaxis.label.get_color()) == to_rgba("green")
    assert w.ax.get_facecolor() == to_rgba(RESTING) and (w._axcolor0, w._axcolor1) == plot_area
    w.draw()
    assert same_pixel(tuple(np.asarray(w.buffer_rgba())[3, 3]), rgba_bytes(c))
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(RESTING))


X = np.array([1, 2])  # has no truth value: a truth test of it raises ValueError
# id, drag source, geom_only, isgeom, URLs or answers of the mime data, calls on the event
# (ending in the exception the handler raises); X where the decision must not look
ROWS = [
    ("label/free+csv", "label", 0, X, ["/d/a.csv"], [M, P, A]),
    ("label/geom-only/isgeom", "label", "yes", 1, [], [M, P, A]),
    ("label/geom-only/not-geom+csv", "label", True, "", ["/d/a.csv"], [M, P]),
    ("none/no-urls", None, X, X, [], [M, P, M, H]),
    ("none/zero-urls", None, X, X, {H: lambda: True}, [M, P, M, H, M, U]),
    ("other/two-csv", "other", X, X, ["/d/a.csv", "/d/b.csv"], [M, P, M, H, M, U]),
    ("qobject/CsV", "qobject", X, X, ["/d/b.CsV"], [M, P, M, H, M, U, T, A]),
    ("none/csv.bak", None, X, X, ["/d/a.csv.bak"], [M, P, M, H, M, U, T]),
    ("label/undecidable-geom_only", "label", X, X, [], [M, P, ValueError]),
    ("label/undecidable-isgeom", "label", True, X, [], [M, P, ValueError]),
    ("none/undecidable-hasUrls", None, X, X, {H: lambda: X}, [M, P, M, H, ValueError]),
    ("none/urls-without-len", None, X, X, {H: lambda: True, U: lambda: 5},
     [M, P, M, H, M, U, TypeError]),
]


@pytest.mark.parametrize("kind,geom_only,isgeom,urls,calls", [r[1:] for r in ROWS],
                         ids=[r[0] for r in ROWS])
def test_drag_enter_decision(make_canvas, renders, label, kind, geom_only, isgeom, urls, calls):
    w = make_canvas(None, geom_only)
    w._axcolor1 = (0.1, 0.2, 0.3)  # the colours are read at each use
    counter, at_accept, exc = renders(w), [], calls[-1] if isinstance(calls[-1], type) else None
    source = {"label": label, "other": object, "qobject": lambda: QtWidgets.QLabel("x")}.get(
        kind, lambda: None)()
    ev = FakeEvent(source, urls if isinstance(urls, list) else [],
                   on_accept=lambda: at_accept.append((w.ax.get_facecolor(), counter.count)))
    ev._mime._answers.update({} if isinstance(urls, list) else urls)
    if kind == "label":
        source.isgeom = isgeom
    with pytest.raises(exc) if exc else contextlib.nullcontext():
        assert w.dragEnterEvent(ev) is None
    assert ev.names() == calls[:-1 if exc else None]
    assert all(a == () and k == {} for _, a, k in ev.log)
    accepted = calls[-1] == A
    # accepted once, before the plot area changes colour and before drawing
    assert at_accept == [(to_rgba(RESTING), 0)] * accepted
    assert w.ax.get_facecolor() == to_rgba(w._axcolor1 if accepted else RESTING)
    assert counter.count == accepted


# label source (isgeom) or none, geom_only, local paths, other URLs, dark style, accepted
QT_ROWS = [
    (True, True, [], [], True, True),
    (False, True, ["/d/a.csv"], [], False, False),
    (None, True, ["/d/A.Csv"], [], True, True),
    (None, False, ["/d/a.csv", "/d/b.csv"], [], False, False),
    (None, False, [], ["https://example.org/data.csv"], False, False),
]


@pytest.fixture(scope="module")
def qt_leaves_after_refusal(qapp):
    # Whether Qt delivers a drag-leave to a widget that refused the drag-enter:
    # Qt 6.5 drops it before any handler or event filter sees it, later
    # versions deliver it.  Asked of a plain Python widget, so that the native
    # canvas is held to what Qt does for any widget.
    class Probe(QtWidgets.QWidget):
        left = False

        def dragEnterEvent(self, e):
            e.ignore()

        def dragLeaveEvent(self, e):
            self.left = True
    probe = Probe()
    probe.setAcceptDrops(True)
    send_drag_enter(probe, make_mime())
    QtWidgets.QApplication.sendEvent(probe, QtGui.QDragLeaveEvent())
    probe.deleteLater()
    return probe.left


@pytest.mark.parametrize("isgeom,geom_only,paths,urls,dark,accepted", QT_ROWS)
def test_real_qt_drag_events_reach_the_handlers(make_canvas, fake_is_dark, renders, label,
                                                qt_leaves_after_refusal,
                                                isgeom, geom_only, paths, urls, dark, accepted):
    fake_is_dark.result = dark
    w = make_canvas(None, geom_only)
    counter = renders(w)
    source = None if isgeom is None else label("beam", isgeom)
    ev = send_drag_enter(w, make_mime(source, paths, urls))
    assert ev.isAccepted() is accepted and counter.count == accepted
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(w._axcolor1 if accepted else RESTING))
    w._axcolor0 = (0.5, 0.1, 0.1)  # read at each use
    QtWidgets.QApplication.sendEvent(w, QtGui.QDragLeaveEvent())
    left = accepted or qt_leaves_after_refusal
    assert counter.count == accepted + left
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(w._axcolor0 if left else RESTING))


def python_twin(f):  # a def-function with the native one's declared signature and name
    ns = {}
    exec(f"def twin{f.__doc__[len(f.__qualname__):]}: pass", ns)
    ns["twin"].__qualname__ = f.__qualname__
    return ns["twin"]


EV = FakeEvent()
BAD_CALLS = [  # class, method, bound to an instance?, args, kwargs
    ("_MPLDragWidget", "__init__", True, (1, 2, 3), {}),
    ("_MPLDragWidget", "__init__", True, (None,), {"parent": None}),
    ("_MPLDragWidget", "draw", False, (), {}),
    ("_MPLDragWidget", "set_bgcolor", True, ("red", "red"), {}),
    ("_MPLDragWidget", "set_fontcolor", True, (), {"colors": "red"}),
    ("_MPLDragWidget", "dragEnterEvent", True, (EV, EV), {}),
    ("_MPLDragWidget", "dragLeaveEvent", True, (EV,), {"e": EV}),
    ("GeometryModelFigure", "__init__", True, (None,), {}),
    ("GeometryModelFigure", "__init__", True, (None, None, False, 1), {}),
]


@pytest.mark.parametrize("clsname,name,bound,args,kwargs", BAD_CALLS,
                         ids=[f"{c}.{n}-{i}" for i, (c, n, *_) in enumerate(BAD_CALLS)])
def test_bad_call_shapes_raise_the_interpreters_error_before_any_work(
        mod, canvas, fake_is_dark, renders, monkeypatch, clsname, name, bound, args, kwargs):
    cls, w, base_calls = getattr(mod, clsname), canvas, []
    f, twin = vars(cls)[name], python_twin(vars(cls)[name])
    if clsname == "GeometryModelFigure":
        monkeypatch.setattr(mod._MPLDragWidget, "__init__", lambda *a, **k: base_calls.append(a))
    counter, fake_is_dark.args = renders(w), []
    with pytest.raises(TypeError) as expected:
        (twin.__get__(object()) if bound else twin)(*args, **kwargs)
    with pytest.raises(TypeError) as info:
        (cls if name == "__init__" else f.__get__(w) if bound else f)(*args, **kwargs)
    assert str(info.value) == str(expected.value)
    assert fake_is_dark.args == base_calls == EV.log == [] and counter.count == 0
    assert w.fig.patch.get_facecolor() == to_rgba("white")


@pytest.mark.parametrize("name,action", [
    ("is_dark", lambda w, make: make()),
    ("QtWidgets", lambda w, make: make()),
    ("GeometryLabelDraggable", lambda w, make: w.dragEnterEvent(FakeEvent())),
])
def test_a_removed_global_raises_name_error_unless_a_builtin_stands_in(
        mod, make_canvas, monkeypatch, name, action):
    w, ns, saved = make_canvas(), vars(mod), dict(vars(mod))
    del ns[name]
    try:
        with pytest.raises(NameError, match=f"^name '{name}' is not defined$"):
            action(w, make_canvas)
        monkeypatch.setattr(builtins, name, saved[name], raising=False)
        action(w, make_canvas)
    finally:  # put the namespace back in its binding order
        ns.clear()
        ns.update(saved)


# the module's traceback entries, outermost first; a failing call
TRACEBACKS = [
    (["_MPLDragWidget.draw"], lambda mod, w: setattr(w, "ax", None) or w.draw()),
    (["_MPLDragWidget.set_bgcolor"], lambda mod, w: w.set_bgcolor("no colour")),
    (["_MPLDragWidget.set_fontcolor"], lambda mod, w: w.set_fontcolor("no colour")),
    (["_MPLDragWidget.dragEnterEvent"], lambda mod, w: w.dragEnterEvent(object())),
    (["_MPLDragWidget.dragLeaveEvent"],
     lambda mod, w: setattr(w, "_axcolor0", "no colour") or w.dragLeaveEvent(None)),
    (["GeometryModelFigure.__init__", "_MPLDragWidget.__init__"],
     lambda mod, w: mod.GeometryModelFigure(1, None)),  # 1 is no Qt parent
    (["GeometryModelFigure.__init__"], lambda mod, w: type(
        "Sub", (mod.GeometryModelFigure,), {"setMinimumSize": None})(None, None)),
]


@pytest.mark.parametrize("names,call", TRACEBACKS, ids=[" > ".join(n) for n, _ in TRACEBACKS])
def test_traceback_entries_name_the_method_and_its_source(mod, canvas, names, call):
    with pytest.raises(Exception) as info:
        call(mod, canvas)
    ours = [e for e in traceback.extract_tb(info.tb) if e.name.startswith(MODNAME + ".")]
    assert [e.name for e in ours] == [f"{MODNAME}.{n}" for n in names]
    for e in ours:
        src = "src/widgets/canvas.cpp" if "._MPLDragWidget." in e.name else "src/widgets/geometry_figure.cpp"
        with open(os.path.join(os.path.dirname(os.path.dirname(__file__)), src)) as f:
            assert e.filename == src and 0 < e.lineno <= len(f.readlines())


@pytest.mark.parametrize("name,args", [
    ("draw", ()), ("set_bgcolor", ("red",)), ("set_fontcolor", ("red",)), ("__init__", ()),
    ("dragEnterEvent", (FakeEvent(urls=["/d/a.csv"]),)), ("dragLeaveEvent", (None,))])
def test_foreign_or_uninitialised_self_raises_cleanly(mod, qapp, name, args):
    unready = [] if name == "__init__" else [mod._MPLDragWidget.__new__(mod._MPLDragWidget)]
    for obj in [None, 1, FakeEvent()] + unready:  # foreign selves; one never initialised
        with pytest.raises((TypeError, AttributeError)):
            vars(mod._MPLDragWidget)[name](obj, *args)


@pytest.mark.parametrize("operation,repeats", [("construct", 100), ("draw", 200), ("drag", 200),
                                               ("colours", 3000), ("bad-call", 3000)])
def test_repeated_operations_do_not_leak(mod, canvas, label, operation, repeats):
    w, W, colour, flag = canvas, type(canvas), (0.25, 0.5, 0.75), object()
    ev_label, ev_file = FakeEvent(label()), FakeEvent(urls=["/d/a.csv"])
    operation = {
        "construct": lambda: [made.deleteLater() for made in (
            W(geom_only=flag, parent=None), mod.GeometryModelFigure(None, flag, flag))],
        "draw": lambda: W.draw(self=w),
        # every parameter by keyword somewhere: each method accepts that too
        "drag": lambda: (w.dragEnterEvent(ev_label), w.dragEnterEvent(e=ev_file),
                         w.dragLeaveEvent(e=ev_label), ev_label.log.clear(), ev_file.log.clear()),
        "colours": lambda: (w.set_bgcolor(c=colour), W.set_fontcolor(c=colour, self=w)),
        "bad-call": lambda: pytest.raises(TypeError, w.set_bgcolor, colour, colour),
    }[operation]
    probes, counts = [colour, flag, ev_label, ev_file, w], []
    for n in (20, repeats):  # warm up, then measure
        for _ in range(n):
            operation()
        QtCore.QCoreApplication.sendPostedEvents(None, QtCore.QEvent.Type.DeferredDelete)
        for module in (matplotlib.text, matplotlib.font_manager):  # text-metric memo caches
            for value in vars(module).values():
                getattr(value, "cache_clear", lambda: None)()
        gc.collect()
        counts.append([len(gc.get_objects())] + [sys.getrefcount(p) for p in probes])
    assert counts[1][0] - counts[0][0] < 150 and counts[1][1:] == counts[0][1:]
