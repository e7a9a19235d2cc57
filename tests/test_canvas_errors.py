"""Failures: bad call shapes, missing globals, traceback entries, odd arguments."""
import builtins
import os
import traceback

import pytest
from matplotlib.colors import to_rgba

from conftest import REPO, FakeEvent

MODNAME = "zentrope.widgets.models.gmodel.mpl"
SIGNATURES = {
    ("_MPLDragWidget", "__init__"): "self, parent=None, geom_only=False",
    ("_MPLDragWidget", "draw"): "self",
    ("_MPLDragWidget", "set_bgcolor"): "self, c",
    ("_MPLDragWidget", "set_fontcolor"): "self, c",
    ("_MPLDragWidget", "dragEnterEvent"): "self, e",
    ("_MPLDragWidget", "dragLeaveEvent"): "self, e",
    ("GeometryModelFigure", "__init__"): "self, parent, gcontrols, geom_only=False",
}


def python_twin(clsname, name):
    """A def-function with the same signature and qualified name."""
    ns = {}
    exec(f"def f({SIGNATURES[clsname, name]}): pass", ns)
    ns["f"].__qualname__ = f"{clsname}.{name}"
    return ns["f"]


def expected_type_error(clsname, name, bound, args, kwargs):
    f = python_twin(clsname, name)
    with pytest.raises(TypeError) as info:
        (f.__get__(object()) if bound else f)(*args, **kwargs)
    return str(info.value)


EV = FakeEvent()
# class, method, bound?, args, kwargs
BAD_CALLS = [
    ("_MPLDragWidget", "__init__", True, (1, 2, 3), {}),
    ("_MPLDragWidget", "__init__", True, (), {"colour": 1}),
    ("_MPLDragWidget", "__init__", True, (None,), {"parent": None}),
    ("_MPLDragWidget", "__init__", True, (None,), {"geom_only": 1, "x": 2}),
    ("_MPLDragWidget", "__init__", False, (), {}),
    ("_MPLDragWidget", "draw", True, (1,), {}),
    ("_MPLDragWidget", "draw", True, (), {"self": 1}),
    ("_MPLDragWidget", "draw", False, (), {}),
    ("_MPLDragWidget", "set_bgcolor", True, (), {}),
    ("_MPLDragWidget", "set_bgcolor", True, ("red", "blue"), {}),
    ("_MPLDragWidget", "set_bgcolor", True, (), {"color": "red"}),
    ("_MPLDragWidget", "set_bgcolor", True, ("red",), {"c": "red"}),
    ("_MPLDragWidget", "set_fontcolor", True, (), {"colors": "red"}),
    ("_MPLDragWidget", "set_fontcolor", False, (), {"c": "red"}),
    ("_MPLDragWidget", "dragEnterEvent", True, (), {}),
    ("_MPLDragWidget", "dragEnterEvent", True, (EV, EV), {}),
    ("_MPLDragWidget", "dragEnterEvent", True, (EV,), {"e": EV}),
    ("_MPLDragWidget", "dragEnterEvent", True, (), {"event": EV}),
    ("_MPLDragWidget", "dragLeaveEvent", True, (), {}),
    ("_MPLDragWidget", "dragLeaveEvent", True, (EV,), {"event": EV}),
    ("GeometryModelFigure", "__init__", True, (None,), {}),
    ("GeometryModelFigure", "__init__", True, (), {}),
    ("GeometryModelFigure", "__init__", True, (None, None, False, 1), {}),
    ("GeometryModelFigure", "__init__", True, (None, None), {"gcontrol": 1}),
    ("GeometryModelFigure", "__init__", True, (None, None), {"parent": None}),
    ("GeometryModelFigure", "__init__", True, (), {"gcontrols": None, "geom_only": 1}),
]


@pytest.mark.parametrize("clsname,name,bound,args,kwargs", BAD_CALLS,
                         ids=[f"{c}.{n}-{i}" for i, (c, n, *_) in enumerate(BAD_CALLS)])
def test_bad_call_shapes_raise_before_any_work(mod, make_canvas, fake_is_dark, renders, monkeypatch,
                                               clsname, name, bound, args, kwargs):
    cls = getattr(mod, clsname)
    w = make_canvas()
    base_calls = []
    if clsname == "GeometryModelFigure":
        monkeypatch.setattr(mod._MPLDragWidget, "__init__", lambda *a, **k: base_calls.append(a))
    counter = renders(w)
    fake_is_dark.args.clear()
    patch, face = w.fig.patch.get_facecolor(), w.ax.get_facecolor()
    ticks = w.ax.xaxis.get_major_ticks()[0].label1.get_color()
    EV.log.clear()

    if name == "__init__" and bound:
        call = lambda: cls(*args, **kwargs)  # noqa: E731  (through the class, as Python does)
    else:
        f = vars(cls)[name]
        call = lambda: (f.__get__(w) if bound else f)(*args, **kwargs)  # noqa: E731
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == expected_type_error(clsname, name, bound, args, kwargs)
    assert fake_is_dark.args == [] and base_calls == [] and counter.count == 0
    assert (w.fig.patch.get_facecolor(), w.ax.get_facecolor()) == (patch, face)
    assert w.ax.xaxis.get_major_ticks()[0].label1.get_color() == ticks
    assert EV.log == []


@pytest.mark.parametrize("name,action", [
    ("is_dark", lambda make, w: make()),
    ("plt", lambda make, w: make()),
    ("QtWidgets", lambda make, w: make()),
    ("GeometryLabelDraggable", lambda make, w: w.dragEnterEvent(FakeEvent())),
])
def test_removed_global_raises_name_error_and_builtins_are_the_fallback(
        mod, make_canvas, monkeypatch, name, action):
    w = make_canvas()
    value = getattr(mod, name)
    monkeypatch.delattr(mod, name)
    with pytest.raises(NameError) as info:
        action(make_canvas, w)
    assert str(info.value) == f"name '{name}' is not defined"
    # found in the built-in namespace when the module has none
    monkeypatch.setattr(builtins, name, value, raising=False)
    action(make_canvas, w)


def the_native_entry(exc_info, qualname):
    """The one traceback entry the module added, right below its Python caller."""
    entries = traceback.extract_tb(exc_info.tb)
    named = [i for i, e in enumerate(entries) if e.name == f"{MODNAME}.{qualname}"]
    assert len(named) == 1, [(e.name, e.filename) for e in entries]
    assert entries[named[0] - 1].filename == __file__
    return entries[named[0]]


def line_of(entry):
    with open(os.path.join(REPO, entry.filename)) as f:
        lines = f.read().splitlines()
    return "\n".join(lines[max(0, entry.lineno - 3):entry.lineno + 2])


class Boom(Exception):
    pass


def raiser(*a, **k):
    raise Boom()


def break_method(monkeypatch, obj, name):
    monkeypatch.setattr(obj, name, raiser)


# qualname, source file, how to make it fail, which call the line must show
FAILURES = [
    ("_MPLDragWidget.draw", "src/canvas.cpp",
     lambda mod, w, mp: (break_method(mp, w.ax, "relim"), w.draw), "relim"),
    ("_MPLDragWidget.draw", "src/canvas.cpp",
     lambda mod, w, mp: (break_method(mp, w.ax, "autoscale_view"), w.draw), "autoscale_view"),
    ("_MPLDragWidget.set_bgcolor", "src/canvas.cpp",
     lambda mod, w, mp: (break_method(mp, w.fig, "set_edgecolor"), lambda: w.set_bgcolor("red")),
     "set_edgecolor"),
    ("_MPLDragWidget.set_fontcolor", "src/canvas.cpp",
     lambda mod, w, mp: (None, lambda: w.set_fontcolor("not a colour")), "tick_params"),
    ("_MPLDragWidget.dragEnterEvent", "src/canvas.cpp",
     lambda mod, w, mp: (None, lambda: w.dragEnterEvent(object())), "mimeData"),
    ("_MPLDragWidget.dragLeaveEvent", "src/canvas.cpp",
     lambda mod, w, mp: (break_method(mp, w.ax, "set_facecolor"), lambda: w.dragLeaveEvent(None)),
     "set_facecolor"),
    ("_MPLDragWidget.__init__", "src/canvas.cpp",
     lambda mod, w, mp: (mp.setattr(mod, "is_dark", raiser), mod._MPLDragWidget), "is_dark"),
    ("GeometryModelFigure.__init__", "src/geometry_figure.cpp",
     lambda mod, w, mp: (mp.setattr(mod.GeometryModelFigure, "setMinimumSize", raiser),
                         lambda: mod.GeometryModelFigure(None, None)), "setMinimumSize"),
]


@pytest.mark.parametrize("qualname,filename,arrange,mentions", FAILURES,
                         ids=[f"{q}-{m}" for q, _, _, m in FAILURES])
def test_traceback_entry_names_method_file_and_failing_line(
        mod, canvas, monkeypatch, qualname, filename, arrange, mentions):
    _, act = arrange(mod, canvas, monkeypatch)
    with pytest.raises(Exception) as info:
        act()
    entry = the_native_entry(info, qualname)
    assert entry.filename == filename
    assert entry.lineno > 0
    assert mentions in line_of(entry)


def test_nested_failure_adds_one_entry_per_method(mod, qapp, monkeypatch):
    monkeypatch.setattr(mod, "is_dark", raiser)
    with pytest.raises(Boom) as info:
        mod.GeometryModelFigure(None, None)
    names = [(e.name, e.filename) for e in traceback.extract_tb(info.tb)[1:]]
    assert names[:2] == [(f"{MODNAME}.GeometryModelFigure.__init__", "src/geometry_figure.cpp"),
                         (f"{MODNAME}._MPLDragWidget.__init__", "src/canvas.cpp")]
    assert names[2][0] == "raiser"


def test_failed_construction_keeps_earlier_steps(mod, monkeypatch):
    class Undecidable:
        def __bool__(self):
            raise Boom()

    monkeypatch.setattr(mod, "is_dark", lambda parent: Undecidable())
    w = mod._MPLDragWidget.__new__(mod._MPLDragWidget)
    with pytest.raises(Boom):
        w.__init__(None, "g")
    assert [k for k in ("fig", "geom_only", "ax", "_axcolor0", "_axcolor1") if k in vars(w)] == [
        "fig", "geom_only", "ax", "_axcolor0"]
    with pytest.raises(RuntimeError):  # the Qt base was never initialised
        w.acceptDrops()


def test_failing_accept_step_leaves_the_event_accepted_and_colour_unchanged(canvas, label, renders):
    counter = renders(canvas)
    canvas._axcolor1 = "not a colour"
    ev = FakeEvent(label())
    with pytest.raises(ValueError):
        canvas.dragEnterEvent(ev)
    assert ev.names() == ["mimeData", "parent", "accept"]
    assert canvas.ax.get_facecolor() == to_rgba(canvas._axcolor0) and counter.count == 0


class Weird:
    def __getattr__(self, name):
        raise Boom(name)


ODD_SELVES = [object(), None, 1, "text", Weird(), type("Empty", (), {})()]


@pytest.mark.parametrize("name,args", [
    ("draw", ()), ("set_bgcolor", ("red",)), ("set_fontcolor", ("red",)),
    ("dragEnterEvent", (None,)), ("dragLeaveEvent", (None,)), ("__init__", ()),
])
@pytest.mark.parametrize("odd", ODD_SELVES, ids=lambda o: type(o).__name__)
def test_methods_called_on_foreign_selves_raise_cleanly(mod, qapp, name, args, odd):
    f = vars(mod._MPLDragWidget)[name]
    with pytest.raises((TypeError, AttributeError, Boom)):
        f(odd, *args)


@pytest.mark.parametrize("name,args", [
    ("draw", ()), ("set_bgcolor", ("red",)), ("set_fontcolor", ("red",)),
    ("dragEnterEvent", (FakeEvent(urls=["/d/a.csv"]),)), ("dragLeaveEvent", (None,)),
])
@pytest.mark.parametrize("cls_name", ["_MPLDragWidget", "GeometryModelFigure"])
def test_methods_of_an_instance_whose_initialiser_never_ran(mod, qapp, name, args, cls_name):
    w = getattr(mod, cls_name).__new__(getattr(mod, cls_name))
    with pytest.raises(AttributeError):
        getattr(w, name)(*args)
