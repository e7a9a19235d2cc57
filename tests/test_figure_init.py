"""GeometryModelFigure: construction, gcontrols, geom_only pass-through, signals."""
import sys

import pytest
from PySide6 import QtCore, QtWidgets

NO_DEFAULT = object()


class Untouchable:
    """Fails on any use: attribute access, truth test, comparison, hashing."""

    def __getattribute__(self, name):
        raise AssertionError(f"gcontrols touched: {name}")

    def __bool__(self):
        raise AssertionError("gcontrols truth-tested")

    def __eq__(self, other):
        raise AssertionError("gcontrols compared")

    __hash__ = None


@pytest.fixture
def base_init_calls(mod, monkeypatch):
    """Record what reaches the canvas constructor, then let it run."""
    calls = []
    native = vars(mod._MPLDragWidget)["__init__"]

    def recording_init(self, *args, **kwargs):
        calls.append((args, kwargs))
        return native(self, *args, **kwargs)

    monkeypatch.setattr(mod._MPLDragWidget, "__init__", recording_init)
    return calls


def test_plain_figure(mod, make_canvas, fake_is_dark, renders):
    f = make_canvas(None, None, cls=mod.GeometryModelFigure)
    assert fake_is_dark.args == [((None,), {})]
    assert f.parent() is None and f.geom_only is False
    assert type(f.artists) is list and f.artists == []
    assert (f.minimumWidth(), f.minimumHeight()) == (300, 200)
    assert not hasattr(f, "gcontrols")
    assert f.ax.get_xlim() == (0, 100) and f.acceptDrops()
    # the canvas draw works on the finished figure as on a plain canvas
    counter = renders(f)
    f.draw()
    assert counter.count == 1


@pytest.mark.parametrize("make_gcontrols", [object, Untouchable])
def test_gcontrols_is_neither_used_nor_kept(mod, make_canvas, make_gcontrols):
    gcontrols = make_gcontrols()
    before = sys.getrefcount(gcontrols)
    f = make_canvas(None, gcontrols, cls=mod.GeometryModelFigure)
    assert sys.getrefcount(gcontrols) == before
    assert "gcontrols" not in vars(f)
    assert all(v is not gcontrols for v in vars(f).values())


@pytest.mark.parametrize("call", ["positional", "geom-keyword", "all-keywords", "keywords-reordered"])
@pytest.mark.parametrize("with_parent", [False, True], ids=["no-parent", "parent"])
@pytest.mark.parametrize("geom_only", [NO_DEFAULT, 0, "yes"], ids=["default", "0", "str"])
def test_arguments_reach_the_canvas_constructor(mod, make_canvas, base_init_calls, qapp,
                                                call, with_parent, geom_only):
    parent = QtWidgets.QWidget() if with_parent else None
    g = object()
    extra = {} if geom_only is NO_DEFAULT else {"geom_only": geom_only}
    G = mod.GeometryModelFigure
    args, kwargs = {
        "positional": ((parent, g) + tuple(extra.values()), {}),
        "geom-keyword": ((parent, g), extra),
        "all-keywords": ((), dict(parent=parent, gcontrols=g, **extra)),
        "keywords-reordered": ((), dict(extra, gcontrols=g, parent=parent)),
    }[call]
    f = make_canvas(*args, cls=G, **kwargs)
    expected_geom = False if geom_only is NO_DEFAULT else geom_only
    assert len(base_init_calls) == 1
    got_args, got_kwargs = base_init_calls[0]
    assert len(got_args) == 1 and got_args[0] is parent
    assert list(got_kwargs) == ["geom_only"] and got_kwargs["geom_only"] is expected_geom
    assert f.geom_only is expected_geom and f.parent() is parent


def test_each_figure_has_its_own_artists(mod, make_canvas):
    a, b = (make_canvas(None, None, cls=mod.GeometryModelFigure) for _ in range(2))
    assert a.artists == b.artists == [] and a.artists is not b.artists


def test_final_draw_of_the_canvas_runs_before_artists_exist(mod, make_canvas, monkeypatch):
    seen = []
    native_draw = vars(mod._MPLDragWidget)["draw"]

    def draw(self):
        seen.append("artists" in vars(self))
        return native_draw(self)

    monkeypatch.setattr(mod.GeometryModelFigure, "draw", draw, raising=False)
    make_canvas(None, None, cls=mod.GeometryModelFigure)
    assert seen == [False]


def test_signals_are_real_connectable_qt_signals(mod, make_canvas, qtbot):
    G = mod.GeometryModelFigure
    assert isinstance(vars(G)["geom_dropped"], QtCore.Signal)
    assert isinstance(vars(G)["csv_dropped"], QtCore.Signal)
    f = make_canvas(None, None, cls=G)
    meta = f.metaObject()
    signatures = [bytes(meta.method(i).methodSignature()).decode()
                  for i in range(meta.methodOffset(), meta.methodCount())
                  if meta.method(i).methodType() == QtCore.QMetaMethod.MethodType.Signal]
    assert signatures == ["geom_dropped(QString,bool)", "csv_dropped(QString)"]
    got = []
    f.geom_dropped.connect(lambda name, isgeom: got.append(("geom", name, isgeom)))
    f.csv_dropped.connect(lambda path: got.append(("csv", path)))
    with qtbot.waitSignal(f.geom_dropped):
        f.geom_dropped.emit("beam", True)
    f.csv_dropped.emit("/tmp/x.csv")
    assert got == [("geom", "beam", True), ("csv", "/tmp/x.csv")]
