"""What a normal import leaves behind: globals, classes and their methods."""
import importlib
import sys
import types

import pytest

MODNAME = "zentrope.widgets.models.gmodel.mpl"
GLOBALS = ["is_dark", "_SavableFigure", "GeometryLabelDraggable", "plt", "FigureCanvas",
           "QtWidgets", "QtCore", "QtGui", "mpl", "_MPLDragWidget", "GeometryModelFigure"]

# (class, method, parameter list as declared, __defaults__)
CANVAS_METHODS = [
    ("__init__", "self, parent=None, geom_only=False", (None, False)),
    ("dragEnterEvent", "self, e", None),
    ("dragLeaveEvent", "self, e", None),
    ("draw", "self", None),
    ("set_bgcolor", "self, c", None),
    ("set_fontcolor", "self, c", None),
]
FIGURE_METHODS = [
    ("__init__", "self, parent, gcontrols, geom_only=False", (False,)),
]
FIGURE_ENTRIES = ["geom_dropped", "csv_dropped", "__init__", "add_element", "clear",
                  "dropEvent", "remove_element", "set_artist_value", "set_selection"]
ALL_METHODS = ([("_MPLDragWidget",) + m for m in CANVAS_METHODS]
               + [("GeometryModelFigure",) + m for m in FIGURE_METHODS])


def test_globals_are_the_imports_and_classes(mod):
    # (their binding order is checked in a fresh interpreter: tests that
    # remove and restore a global move it to the end of the namespace)
    import matplotlib
    import matplotlib.pyplot
    from matplotlib.backends import backend_qtagg
    from PySide6 import QtCore, QtGui, QtWidgets
    from zentrope.widgets import style
    from zentrope.widgets._basic import mpl as basic
    from zentrope.widgets.library import labels

    names = [k for k in vars(mod) if not (k.startswith("__") and k.endswith("__"))]
    assert sorted(names) == sorted(GLOBALS)
    expected = {
        "is_dark": style.is_dark, "_SavableFigure": basic._SavableFigure,
        "GeometryLabelDraggable": labels.GeometryLabelDraggable, "plt": matplotlib.pyplot,
        "FigureCanvas": backend_qtagg.FigureCanvasQTAgg, "QtWidgets": QtWidgets,
        "QtCore": QtCore, "QtGui": QtGui, "mpl": matplotlib,
    }
    for name, value in expected.items():
        assert getattr(mod, name) is value, name
    assert mod.__name__ == MODNAME
    assert mod.__doc__ is None


def test_classes_bases_and_mro(mod):
    from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
    from zentrope.widgets._basic.mpl import _SavableFigure

    W, G = mod._MPLDragWidget, mod.GeometryModelFigure
    assert W.__bases__ == (FigureCanvasQTAgg,)
    assert W.__mro__[1] is FigureCanvasQTAgg
    assert G.__bases__ == (W, _SavableFigure)
    assert G.__mro__[1] is W and _SavableFigure in G.__mro__
    for cls, name in ((W, "_MPLDragWidget"), (G, "GeometryModelFigure")):
        assert (cls.__name__, cls.__qualname__, cls.__module__) == (name, name, MODNAME)
        assert cls.__doc__ is None
        assert "__orig_bases__" not in vars(cls)
        assert type(cls) is type(FigureCanvasQTAgg)


def test_class_namespaces_keep_the_declared_order(mod):
    canvas_order = [k for k in vars(mod._MPLDragWidget) if k in dict.fromkeys(m[0] for m in CANVAS_METHODS)]
    assert canvas_order == [m[0] for m in CANVAS_METHODS]
    fig_keys = [k for k in vars(mod.GeometryModelFigure) if k in FIGURE_ENTRIES]
    assert fig_keys == [k for k in FIGURE_ENTRIES if k in fig_keys]
    assert fig_keys[:3] == ["geom_dropped", "csv_dropped", "__init__"]
    # the figure overrides only __init__ of the canvas methods
    assert not {"draw", "set_bgcolor", "set_fontcolor", "dragEnterEvent",
                "dragLeaveEvent"} & set(vars(mod.GeometryModelFigure))
    assert "dropEvent" not in vars(mod._MPLDragWidget)


def test_reimport_after_removal_gives_the_same_object(mod, monkeypatch):
    classes = mod._MPLDragWidget, mod.GeometryModelFigure
    monkeypatch.delitem(sys.modules, MODNAME)
    again = importlib.import_module(MODNAME)
    assert again is mod
    assert sys.modules[MODNAME] is mod
    assert (mod._MPLDragWidget, mod.GeometryModelFigure) == classes


@pytest.mark.parametrize("clsname,name,params,defaults", ALL_METHODS,
                         ids=[f"{c}.{n}" for c, n, *_ in ALL_METHODS])
def test_method_attributes(mod, clsname, name, params, defaults):
    cls = getattr(mod, clsname)
    f = vars(cls)[name]
    qualname = f"{clsname}.{name}"
    assert f.__name__ == name
    assert f.__qualname__ == qualname
    assert f.__module__ == MODNAME
    assert f.__doc__ == f"{qualname}({params})"
    assert getattr(f, "__defaults__", None) == defaults
    assert not isinstance(f, (types.MethodType, staticmethod, classmethod))
    assert callable(f)
    # looked up on the class the function itself comes back, as for def-functions
    assert getattr(cls, name) is f
    assert f.__get__(None, cls) is f


@pytest.mark.parametrize("name", [m[0] for m in CANVAS_METHODS])
def test_methods_bind_as_genuine_bound_methods(canvas, mod, name):
    f = vars(mod._MPLDragWidget)[name]
    for bound in (getattr(canvas, name), f.__get__(canvas, type(canvas)), f.__get__(canvas)):
        assert type(bound) is types.MethodType
        assert bound.__func__ is f and bound.__self__ is canvas
    other = object()
    assert f.__get__(other).__self__ is other


def test_every_parameter_can_be_given_by_keyword(mod, canvas):
    from matplotlib.colors import to_rgba

    W = mod._MPLDragWidget
    w = W(geom_only=5, parent=None)
    assert w.geom_only == 5 and w.parent() is None
    assert W.set_bgcolor(c="red", self=canvas) is None
    assert W.set_fontcolor(self=canvas, c="blue") is None
    canvas.ax.set_facecolor("green")
    assert W.dragLeaveEvent(e=None, self=canvas) is None
    assert W.draw(self=canvas) is None
    assert canvas.fig.patch.get_facecolor() == to_rgba("red")
    assert canvas.ax.get_facecolor() == to_rgba(canvas._axcolor0)
    w.deleteLater()
