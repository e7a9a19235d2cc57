"""Canvas construction, drawing and the two colour operations."""
import numpy as np
import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.colors import to_rgba
from matplotlib.figure import Figure
from PySide6 import QtWidgets

from conftest import axes_centre_rgba, rgba_bytes, same_pixel

RESTING = (0.9, 0.9, 0.9)
DARK_HIGHLIGHT = (0.3, 0.3, 0.3)
LIGHT_HIGHLIGHT = (0.7, 0.7, 0.7)
ATTRS = ["fig", "geom_only", "ax", "_axcolor0", "_axcolor1"]


@pytest.fixture
def spy_classes(mod, monkeypatch):
    """A canvas subclass and a patched canvas base that log what reaches them.

    Overrides on the subclass see calls made through ``self``; the base sees
    calls made through ``super()`` (and those the subclass forwards).
    """
    events = []

    def base_hook(name):
        def hook(self, *args, **kwargs):
            if name == "__init__":
                events.append(("base", name, args, kwargs,
                               [(k, v) for k, v in vars(self).items() if k in ATTRS]))
            else:
                events.append(("base", name, args, kwargs))
            return getattr(super(FigureCanvasQTAgg, self), name)(*args, **kwargs)
        return hook

    for name in ("__init__", "setSizePolicy", "updateGeometry", "draw"):
        monkeypatch.setattr(FigureCanvasQTAgg, name, base_hook(name), raising=False)

    def own_hook(name):
        def hook(self, *args, **kwargs):
            events.append(("self", name, args, kwargs))
            return getattr(super(Spy, self), name)(*args, **kwargs)
        return hook

    Spy = type(mod._MPLDragWidget)("Spy", (mod._MPLDragWidget,), {
        name: own_hook(name)
        for name in ("setParent", "setSizePolicy", "updateGeometry", "setAcceptDrops", "draw")})

    def is_dark(*args, **kwargs):
        events.append(("is_dark", args, kwargs))
        return False

    monkeypatch.setattr(mod, "is_dark", is_dark)
    return Spy, events


@pytest.mark.parametrize("with_parent", [False, True])
def test_construction_sequence(spy_classes, make_canvas, qapp, with_parent):
    Spy, events = spy_classes
    parent = QtWidgets.QWidget() if with_parent else None
    w = make_canvas(parent, cls=Spy)
    expanding = QtWidgets.QSizePolicy.Policy.Expanding

    assert [e[:2] for e in events] == [
        ("is_dark", (parent,)), ("base", "__init__"), ("self", "setParent"),
        ("base", "setSizePolicy"), ("base", "updateGeometry"), ("self", "setAcceptDrops"),
        ("self", "draw"), ("base", "draw")]
    assert events[0][2] == {}
    _, _, args, kwargs, attrs_at_base_init = events[1]
    assert len(args) == 1 and args[0] is w.fig and kwargs == {}
    # every attribute exists, in order, before the canvas base is initialised
    assert [k for k, _ in attrs_at_base_init] == ATTRS
    assert events[2][2:] == ((parent,), {})
    assert events[3][2:] == ((expanding, expanding), {})
    assert events[4][2:] == events[6][2:] == events[7][2:] == ((), {})
    assert events[5][2:] == ((True,), {})
    assert w.parent() is parent
    assert w.acceptDrops()
    policy = w.sizePolicy()
    assert (policy.horizontalPolicy(), policy.verticalPolicy()) == (expanding, expanding)


@pytest.mark.parametrize("dark,highlight", [
    (True, DARK_HIGHLIGHT), (False, LIGHT_HIGHLIGHT), (1, DARK_HIGHLIGHT),
    ("", LIGHT_HIGHLIGHT), ("no", DARK_HIGHLIGHT), ([], LIGHT_HIGHLIGHT), (None, LIGHT_HIGHLIGHT)])
def test_colours_follow_the_truth_of_is_dark(make_canvas, fake_is_dark, dark, highlight):
    fake_is_dark.result = dark
    w = make_canvas()
    assert fake_is_dark.args == [((None,), {})]
    assert type(w._axcolor0) is tuple and w._axcolor0 == RESTING
    assert type(w._axcolor1) is tuple and w._axcolor1 == highlight


def test_figure_and_axes_after_construction(canvas):
    w = canvas
    assert isinstance(w.fig, Figure) and w.figure is w.fig and w.fig.dpi == 100
    assert w.fig.axes == [w.ax]
    assert w.ax.get_position().bounds == pytest.approx((0.1, 0.1, 0.88, 0.88))
    assert w.ax.get_xmargin() == 0
    assert w.ax.get_xlim() == (0, 100)
    assert not w.ax.get_autoscalex_on()
    assert w.ax.get_facecolor() == to_rgba(RESTING)
    sizes = {t.get_fontsize() for t in w.ax.get_xticklabels() + w.ax.get_yticklabels()}
    assert sizes == {6}
    assert w.parent() is None and w.geom_only is False
    # drawn once already: the buffer shows the resting plot area
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(RESTING))


@pytest.mark.parametrize("value", [0, 1, "", "yes", None, [], object()],
                         ids=["0", "1", "empty", "str", "None", "list", "object"])
@pytest.mark.parametrize("by_keyword", [False, True])
def test_geom_only_is_stored_unchanged(make_canvas, value, by_keyword):
    w = make_canvas(geom_only=value) if by_keyword else make_canvas(None, value)
    assert w.geom_only is value


def reference_ylim(xs, ys):
    fig = Figure(dpi=100)
    ax = fig.add_axes([0.1, 0.1, 0.88, 0.88])
    ax.set_xmargin(0)
    ax.set_xlim(0, 100)
    ax.plot(xs, ys)
    ax.relim()
    ax.autoscale_view()
    return ax.get_ylim()


def test_draw_keeps_x_range_and_fits_y_to_the_data(canvas, renders):
    w = canvas
    (line,) = w.ax.plot([0, 120, 250], [-5, 40, 12])
    counter = renders(w)
    assert w.draw() is None
    assert counter.count == 1
    assert w.ax.get_xlim() == (0, 100)
    assert w.ax.get_ylim() == pytest.approx(reference_ylim([0, 120, 250], [-5, 40, 12]))
    # changed data is picked up again (data limits recomputed, not kept)
    line.set_ydata([300, 310, 305])
    w.draw()
    assert counter.count == 2
    assert w.ax.get_xlim() == (0, 100)
    assert w.ax.get_ylim() == pytest.approx(reference_ylim([0, 120, 250], [300, 310, 305]))


COLOURS = [(0.2, 0.4, 0.6), "0.3", "red"]


@pytest.mark.parametrize("c", COLOURS, ids=str)
def test_set_bgcolor_recolours_the_figure_background_only(canvas, renders, c):
    w = canvas
    counter = renders(w)
    before = w.buffer_rgba().tobytes()
    face, colours = w.ax.get_facecolor(), (w._axcolor0, w._axcolor1)
    assert w.set_bgcolor(c) is None
    assert w.fig.patch.get_facecolor() == to_rgba(c)
    assert w.fig.patch.get_edgecolor() == to_rgba(c)
    assert w.ax.get_facecolor() == face
    assert (w._axcolor0, w._axcolor1) == colours
    assert counter.count == 0 and w.buffer_rgba().tobytes() == before
    w.draw()
    corner = tuple(int(v) for v in np.asarray(w.buffer_rgba())[3, 3])
    assert same_pixel(corner, rgba_bytes(c))
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(RESTING))


@pytest.mark.parametrize("c", COLOURS, ids=str)
def test_set_fontcolor_recolours_major_ticks_and_x_label(canvas, renders, c):
    w = canvas
    w.ax.set_xlabel("x")
    w.ax.set_ylabel("y", color="green")
    w.ax.set_title("t", color="blue")
    w.ax.minorticks_on()
    minor_before = w.ax.xaxis.get_minor_ticks()[0].tick1line.get_color()
    counter = renders(w)
    before = w.buffer_rgba().tobytes()
    assert w.set_fontcolor(c) is None
    want = to_rgba(c)
    for axis in (w.ax.xaxis, w.ax.yaxis):
        tick = axis.get_major_ticks()[0]
        assert to_rgba(tick.label1.get_color()) == want
        assert to_rgba(tick.tick1line.get_color()) == want
        assert tick.label1.get_fontsize() == 6
    assert to_rgba(w.ax.xaxis.label.get_color()) == want
    assert to_rgba(w.ax.yaxis.label.get_color()) == to_rgba("green")
    assert to_rgba(w.ax.title.get_color()) == to_rgba("blue")
    assert w.ax.xaxis.get_minor_ticks()[0].tick1line.get_color() == minor_before
    assert counter.count == 0 and w.buffer_rgba().tobytes() == before


class Recorder:
    """Stands in for ``self``: logs every attribute lookup and call below it."""

    def __init__(self, log, path=""):
        self._log, self._path = log, path

    def __getattr__(self, name):
        path = f"{self._path}.{name}" if self._path else name
        self._log.append(("get", path))
        return Recorder(self._log, path)

    def __call__(self, *args, **kwargs):
        self._log.append(("call", self._path, args, kwargs))
        return Recorder(self._log, self._path + "()")


def test_colour_operations_make_exactly_these_lookups_and_calls(mod):
    c = object()
    log = []
    mod._MPLDragWidget.set_bgcolor(Recorder(log), c)
    assert log == [("get", "fig"), ("get", "fig.patch"), ("get", "fig.patch.set_facecolor"),
                   ("call", "fig.patch.set_facecolor", (c,), {}),
                   ("get", "fig"), ("get", "fig.set_edgecolor"),
                   ("call", "fig.set_edgecolor", (c,), {})]
    assert log[3][2][0] is c and log[6][2][0] is c
    log.clear()
    mod._MPLDragWidget.set_fontcolor(Recorder(log), c=c)
    assert log == [("get", "ax"), ("get", "ax.tick_params"),
                   ("call", "ax.tick_params", (), {"colors": c}),
                   ("get", "ax"), ("get", "ax.xaxis"), ("get", "ax.xaxis.label"),
                   ("get", "ax.xaxis.label.set_color"),
                   ("call", "ax.xaxis.label.set_color", (c,), {})]
    assert log[2][3]["colors"] is c and log[7][2][0] is c


def test_figure_class_is_imported_at_each_construction(make_canvas, monkeypatch):
    import sys
    import types

    real = sys.modules["matplotlib.figure"]
    made = []

    def Figure(*args, **kwargs):
        made.append((args, kwargs))
        return real.Figure(*args, **kwargs)

    for _ in range(2):
        fake = types.ModuleType("matplotlib.figure")
        fake.Figure = Figure
        monkeypatch.setitem(sys.modules, "matplotlib.figure", fake)
        w = make_canvas()
    assert made == [((), {"dpi": 100})] * 2
    assert all(type(kw["dpi"]) is int for _, kw in made)
    assert w.fig.dpi == 100


@pytest.mark.parametrize("fallback", [False, True], ids=["missing", "submodule-fallback"])
def test_missing_figure_class(make_canvas, monkeypatch, fallback):
    import sys
    import types

    import matplotlib.figure

    monkeypatch.delattr(matplotlib.figure, "Figure")
    if not fallback:
        with pytest.raises(ImportError) as info:
            make_canvas()
        assert str(info.value) == "cannot import name Figure"
        return
    # an already loaded submodule of that name is taken instead of the attribute
    sub = types.ModuleType("matplotlib.figure.Figure")
    monkeypatch.setitem(sys.modules, sub.__name__, sub)
    with pytest.raises(TypeError, match="not callable"):
        make_canvas()
