"""Method objects; import effects, guards, failures and the developer block (fresh interpreters)."""
import copy
import pickle
import textwrap
import types

import numpy as np
import pytest
from PySide6 import QtGui

from conftest import MODNAME, run_child

GLOBALS = ["is_dark", "_SavableFigure", "GeometryLabelDraggable", "plt", "FigureCanvas",
           "QtWidgets", "QtCore", "QtGui", "mpl", "_MPLDragWidget", "GeometryModelFigure"]
METHODS = {  # a method's own signature line: its __defaults__
    "_MPLDragWidget.__init__(self, parent=None, geom_only=False)": (None, False),
    "_MPLDragWidget.dragEnterEvent(self, e)": None,
    "_MPLDragWidget.dragLeaveEvent(self, e)": None,
    "_MPLDragWidget.draw(self)": None,
    "_MPLDragWidget.set_bgcolor(self, c)": None,
    "_MPLDragWidget.set_fontcolor(self, c)": None,
    "GeometryModelFigure.__init__(self, parent, gcontrols, geom_only=False)": (False,),
}


@pytest.mark.parametrize("doc", METHODS)
def test_method_objects(mod, doc):
    qualname = doc[:doc.index("(")]
    cls, name = getattr(mod, qualname.split(".")[0]), qualname.split(".")[1]
    f = vars(cls)[name]
    assert (f.__name__, f.__qualname__, f.__module__, f.__doc__) == (name, qualname, MODNAME, doc)
    assert getattr(f, "__defaults__", None) == METHODS[doc]
    # a descriptor like a def-function: itself from the class, a bound method from an instance
    assert getattr(cls, name) is f and f.__get__(None, cls) is f
    bound = f.__get__(mod)
    assert type(bound) is types.MethodType and (bound.__func__, bound.__self__) == (f, mod)
    # copied and pickled as functions are: by reference
    assert copy.copy(f) is f and copy.deepcopy(f) is f
    assert all(pickle.loads(pickle.dumps(f, p)) is f for p in range(pickle.HIGHEST_PROTOCOL + 1))


PRELUDE = f"""
import importlib, sys, traceback
NAME, GLOBALS = {MODNAME!r}, {GLOBALS!r}

def bound(m):
    return [k for k in vars(m) if not k.startswith("__")]

def raises(exc_type, fn, *args):
    try:
        fn(*args)
    except exc_type as e:
        return e
    raise AssertionError(f"{{fn}}{{args}} succeeded")

def fails(exc_type, text):
    e = raises(exc_type, importlib.import_module, NAME)
    assert str(e) == text, str(e)
    tb = [x for x in traceback.extract_tb(e.__traceback__) if x.name == "init " + NAME]
    assert [(x.filename, x.lineno > 0) for x in tb] == [("src/module/module.cpp", True)], tb
    assert NAME not in sys.modules
"""


def run(body):  # runs body after PRELUDE in a fresh interpreter; it must finish cleanly
    assert run_child(PRELUDE + textwrap.dedent(body) + "\nprint('OK')").endswith("OK\n")


def test_import_binds_globals_in_order_and_sets_rcparams():
    run("""
    import matplotlib, matplotlib.pyplot  # pyplot resets rcParams when first loaded
    import PySide6, zentrope.widgets.style as style, zentrope.widgets.library.labels as labels
    from zentrope.widgets._basic.mpl import _SavableFigure
    from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
    log, RcParams = [], type(matplotlib.rcParams)
    setitem = RcParams.__setitem__
    RcParams.__setitem__ = lambda self, key, value: (
        log.append((key, value, type(value), bound(sys.modules[NAME]))), setitem(self, key, value))
    import zentrope.widgets.models.gmodel.mpl as m
    RcParams.__setitem__ = setitem
    assert log == [("figure.dpi", 100, int, GLOBALS[:9]),
                   ("figure.autolayout", False, bool, GLOBALS[:9])], log
    W, G = m._MPLDragWidget, m.GeometryModelFigure
    assert bound(m) == GLOBALS and [getattr(m, k) for k in GLOBALS] == [
        style.is_dark, _SavableFigure, labels.GeometryLabelDraggable, matplotlib.pyplot,
        FigureCanvasQTAgg, PySide6.QtWidgets, PySide6.QtCore, PySide6.QtGui, matplotlib, W, G]
    assert [(c.__qualname__, c.__module__, c.__doc__) for c in (W, G)] == [
        ("_MPLDragWidget", NAME, None), ("GeometryModelFigure", NAME, None)]
    assert (m.__name__, m.__doc__) == (NAME, None)
    """)


def test_failed_imports_leave_nothing_behind_and_a_retry_succeeds():
    run("""
    import types, warnings, matplotlib, zentrope.widgets.style as style, PySide6.QtWidgets as Qw
    rc, is_dark = matplotlib.rcParams, style.is_dark
    rc["figure.dpi"] = 72
    built = "%d.%d" % sys.version_info[:2]  # the module is built for the interpreter running it
    sys.version = "3.9.4 (main) [GCC]"  # the running version is read from here
    TEXT = (f"compile time Python version {built} of module '{NAME}' "
            "does not match runtime version 3.9")
    warnings.simplefilter("error")
    fails(RuntimeWarning, TEXT)
    warnings.simplefilter("ignore")
    del style.is_dark
    fails(ImportError, "cannot import name is_dark")
    assert rc["figure.dpi"] == 72
    # an already loaded submodule of that name stands in for the missing attribute
    sub = sys.modules[style.__name__ + ".is_dark"] = types.ModuleType(style.__name__ + ".is_dark")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        import zentrope.widgets.models.gmodel.mpl as m
    assert [str(w.message) for w in caught if w.category is RuntimeWarning] == [TEXT], caught
    assert m.is_dark is sub and bound(m) == GLOBALS and rc["figure.dpi"] == 100
    m.is_dark, app = is_dark, Qw.QApplication([])
    assert m.GeometryModelFigure(None, None).artists == []
    """)


CLASS_PROTOCOL = """
import matplotlib
from matplotlib.backends import backend_qtagg
from zentrope.widgets._basic import mpl as basic
from PySide6 import QtWidgets

prepared, entries_asked = [], []
class Namespace(dict):
    def __setitem__(self, key, value):
        prepared[-1].append(key)
        super().__setitem__(key, value)
class Meta1(type(backend_qtagg.FigureCanvasQTAgg)):
    @classmethod
    def __prepare__(mcls, name, bases, **kwargs):
        prepared.append([mcls, name, bases, kwargs])
        return Namespace()
class Meta2(Meta1):
    pass
class Entry:
    def __mro_entries__(self, bases):
        entries_asked.append(bases)
        return (Mixin,)

Canvas = Meta1("FigureCanvasQTAgg", (backend_qtagg.FigureCanvasQTAgg,), {})
Mixin, entry = Meta2("_SavableFigure", (basic._SavableFigure,), {}), Entry()
backend_qtagg.FigureCanvasQTAgg = Canvas
if CASE == "conflict":
    basic._SavableFigure = type("OtherMeta", (type,), {})("_SavableFigure", (), {})
    matplotlib.rcParams["figure.dpi"] = 72
    fails(TypeError, "metaclass conflict: the metaclass of a derived class must be a "
                     "(non-strict) subclass of the metaclasses of all its bases")
    assert matplotlib.rcParams["figure.dpi"] == 100  # set before the classes are made
basic._SavableFigure = entry if CASE == "mro-entries" else Mixin
prepared.clear()
import zentrope.widgets.models.gmodel.mpl as m
W, G = m._MPLDragWidget, m.GeometryModelFigure
assert prepared == [
    [Meta1, "_MPLDragWidget", (Canvas,), {}, "__module__", "__qualname__", "__init__",
     "dragEnterEvent", "dragLeaveEvent", "draw", "set_bgcolor", "set_fontcolor"],
    [Meta2, "GeometryModelFigure", (W, Mixin), {}, "__module__", "__qualname__", "geom_dropped",
     "csv_dropped", "__init__", "add_element", "clear", "dropEvent", "remove_element",
     "set_artist_value", "set_selection"] + ["__orig_bases__"] * (CASE == "mro-entries")], prepared
assert entries_asked == [(W, entry)] * (CASE == "mro-entries")
assert vars(G).get("__orig_bases__", (W, entry)) == (W, entry) and "__orig_bases__" not in vars(W)
assert type(W) is Meta1 and type(G) is Meta2 and G.__bases__ == (W, Mixin)
app = QtWidgets.QApplication([])
assert isinstance(G(None, None), Mixin)
"""


@pytest.mark.parametrize("case", ["plain", "mro-entries", "conflict"])
def test_class_creation_follows_the_interpreter_protocol(case):
    run(f"CASE = {case!r}\n" + CLASS_PROTOCOL)


def test_guards_refuse_a_second_module_object_and_a_second_interpreter():
    run("""
    import importlib.util, matplotlib
    spec = importlib.util.find_spec(NAME)
    a, b = importlib.util.module_from_spec(spec), importlib.util.module_from_spec(spec)
    spec.loader.exec_module(a)
    assert str(raises(RuntimeError, spec.loader.exec_module, b)) == (
        "Module 'mpl' has already been imported. Re-initialisation is not supported.")
    assert sys.modules[NAME] is a and bound(a) == GLOBALS and bound(b) == []
    matplotlib.rcParams["figure.dpi"] = 72
    spec.loader.exec_module(a)  # the first object again: nothing runs
    assert matplotlib.rcParams["figure.dpi"] == 72 and importlib.util.module_from_spec(spec) is a
    # a second interpreter as an embedding host makes it (a legacy, shared-GIL one)
    import tempfile, _testcapi
    with tempfile.NamedTemporaryFile("r") as out:
        code = ["try:", f" import {NAME}", "except ImportError as e:",
                f" open({out.name!r}, 'w').write(str(e))"]
        _testcapi.run_in_subinterp(chr(10).join(code))
        text = out.read()
    assert text == ("Interpreter change detected - this module can only be "
                    "loaded into one interpreter per process."), text
    """)


def test_launcher_runs_the_developer_block_headless_and_leaves_a_picture_of_the_line(tmp_path):
    # The launcher raises the module's main-program flag through ctypes; without a display the
    # picture is the application's screenshot, taken from its event loop (the widget shown),
    # and the import completes after it.
    run(f"""
    import os, zentrope.devblock as launcher
    for k in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        os.environ.pop(k, None)
    os.chdir({str(tmp_path)!r})
    assert launcher.main([]) == 0
    m = sys.modules[NAME]
    assert m.__name__ == "__main__" and bound(m) == GLOBALS + ["ZentropeApplication", "MPLWidget", "app", "widget"]
    assert [type(x).__name__ for x in (m.app, m.widget)] == ["ZentropeApplication", "MPLWidget"]
    assert m.widget.parent() is None
    assert [list(ln.get_ydata()) for ln in m.widget.ax.lines] == [[0, 8, 3, 21, 18, 33]]
    """)
    image = QtGui.QImage(str(tmp_path / "out" / "devblock.png")).convertToFormat(QtGui.QImage.Format.Format_RGBX8888)
    assert image.width() > 100 and image.height() > 100
    pixels = np.frombuffer(image.constBits(), np.uint8).reshape(image.height(), image.width(), 4)[..., :3]
    # matplotlib's first line colour, #1f77b4: the six-point line is drawn
    assert (np.abs(pixels.astype(int) - (0x1f, 0x77, 0xb4)).sum(axis=2) < 40).sum() > 50
