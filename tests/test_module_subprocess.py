"""Import behaviour that needs a fresh interpreter: effects and their order,
guards, failure and retry, class creation protocol, the developer block."""
import pytest

from conftest import MODNAME, assert_script_ok

PRELUDE = f"""
import sys, traceback
NAME = {MODNAME!r}
GLOBALS = ["is_dark", "_SavableFigure", "GeometryLabelDraggable", "plt", "FigureCanvas",
           "QtWidgets", "QtCore", "QtGui", "mpl", "_MPLDragWidget", "GeometryModelFigure"]

def bound(m):
    return [k for k in vars(m) if not (k.startswith("__") and k.endswith("__"))]

def check_init_entry(exc):
    entries = [e for e in traceback.extract_tb(exc.__traceback__)
               if e.name == "init " + NAME]
    assert len(entries) == 1, traceback.format_tb(exc.__traceback__)
    assert entries[0].filename == "src/module.cpp" and entries[0].lineno > 0, entries[0]
"""


def script(body):
    return PRELUDE + body + "\nprint('OK')\n"


def test_import_steps_in_order_and_a_final_module():
    assert_script_ok(script("""
import importlib, matplotlib, matplotlib.pyplot, PySide6
from matplotlib.backends import backend_qtagg
from PySide6 import QtWidgets, QtCore, QtGui
from zentrope.widgets import style
from zentrope.widgets._basic import mpl as basic
from zentrope.widgets.library import labels

log = []
def snapshot():
    m = sys.modules.get(NAME)
    return bound(m) if m is not None else None

def serve_lazily(module, names):
    saved = {n: getattr(module, n) for n in names}
    for n in names:
        delattr(module, n)
    previous = vars(module).get("__getattr__")
    def __getattr__(n):
        if n in saved:
            log.append((n, snapshot()))
            return saved[n]
        if previous is not None:
            return previous(n)
        raise AttributeError(n)
    module.__getattr__ = __getattr__

serve_lazily(style, ["is_dark"])
serve_lazily(basic, ["_SavableFigure"])
serve_lazily(labels, ["GeometryLabelDraggable"])
serve_lazily(backend_qtagg, ["FigureCanvasQTAgg"])
serve_lazily(PySide6, ["QtWidgets", "QtCore", "QtGui"])
RcParams = type(matplotlib.rcParams)
setitem = RcParams.__setitem__
def logging_setitem(self, key, value):
    if key in ("figure.dpi", "figure.autolayout"):
        log.append((key, snapshot(), value))
    setitem(self, key, value)
RcParams.__setitem__ = logging_setitem

import zentrope.widgets.models.gmodel.mpl as m
RcParams.__setitem__ = setitem

# the last lookup of each name is its fetch (a from-import may probe first)
last = {}
for i, entry in enumerate(log):
    last[entry[0]] = (i, entry)
order = [entry for i, entry in sorted(last.values(), key=lambda t: t[0])]
G = GLOBALS
expected = [
    ("is_dark", []), ("_SavableFigure", G[:1]), ("GeometryLabelDraggable", G[:2]),
    ("FigureCanvasQTAgg", G[:4]), ("QtWidgets", G[:5]), ("QtCore", G[:6]), ("QtGui", G[:7]),
    ("figure.dpi", G[:9], 100), ("figure.autolayout", G[:9], False)]
assert order == expected, order
dpi, autolayout = order[-2][2], order[-1][2]
assert type(dpi) is int and autolayout is False
assert [k for k, *_ in log].count("figure.dpi") == 1
rc = matplotlib.rcParams
assert rc["figure.dpi"] == 100 and rc["figure.autolayout"] is False
assert bound(m) == GLOBALS and m.__name__ == NAME and sys.modules[NAME] is m
assert not hasattr(m, "app") and not hasattr(m, "widget")
# final: a re-import gives the same object and runs nothing, so a later
# change by the application stands
rc["figure.dpi"], rc["figure.autolayout"] = 72, True
del sys.modules[NAME]
assert importlib.import_module(NAME) is m and sys.modules[NAME] is m
assert rc["figure.dpi"] == 72 and rc["figure.autolayout"] is True and bound(m) == GLOBALS
"""))


def test_missing_companion_name_fails_then_retry_uses_loaded_submodule():
    assert_script_ok(script("""
import types, matplotlib
from zentrope.widgets import style
rc = matplotlib.rcParams
rc["figure.dpi"], rc["figure.autolayout"] = 72, True
del style.is_dark
try:
    import zentrope.widgets.models.gmodel.mpl
except ImportError as e:
    assert str(e) == "cannot import name is_dark", str(e)
    check_init_entry(e)
else:
    raise AssertionError("import succeeded")
assert NAME not in sys.modules
assert rc["figure.dpi"] == 72 and rc["figure.autolayout"] is True
# an already loaded submodule of that name stands in for the attribute
sub = types.ModuleType("zentrope.widgets.style.is_dark")
sys.modules[sub.__name__] = sub
import zentrope.widgets.models.gmodel.mpl as m
assert m.is_dark is sub and sys.modules[NAME] is m
assert rc["figure.dpi"] == 100 and bound(m) == GLOBALS
"""))


def test_metaclass_conflict_fails_after_rcparams_and_retry_succeeds():
    assert_script_ok(script("""
import matplotlib
from zentrope.widgets._basic import mpl as basic
rc = matplotlib.rcParams
real = basic._SavableFigure
class OtherMeta(type):
    pass
basic._SavableFigure = OtherMeta("_SavableFigure", (), {})
rc["figure.dpi"], rc["figure.autolayout"] = 72, True
try:
    import zentrope.widgets.models.gmodel.mpl
except TypeError as e:
    assert str(e) == ("metaclass conflict: the metaclass of a derived class must be a "
                      "(non-strict) subclass of the metaclasses of all its bases"), str(e)
    check_init_entry(e)
else:
    raise AssertionError("import succeeded")
assert NAME not in sys.modules
assert rc["figure.dpi"] == 100 and rc["figure.autolayout"] is False
basic._SavableFigure = real
rc["figure.dpi"] = 72
import zentrope.widgets.models.gmodel.mpl as m
assert m.GeometryModelFigure.__bases__ == (m._MPLDragWidget, real)
assert rc["figure.dpi"] == 100 and bound(m) == GLOBALS
"""))


CLASS_PROTOCOL = """
from matplotlib.backends import backend_qtagg
from zentrope.widgets._basic import mpl as basic
from PySide6 import QtWidgets

prepared, entries_asked = [], []
class Namespace(dict):
    def __init__(self):
        super().__init__()
        self.order = []
    def __setitem__(self, key, value):
        self.order.append(key)
        super().__setitem__(key, value)

class Meta1(type(backend_qtagg.FigureCanvasQTAgg)):
    @classmethod
    def __prepare__(mcls, name, bases, **kwargs):
        ns = Namespace()
        prepared.append((mcls, name, bases, kwargs, ns))
        return ns
class Meta2(Meta1):
    pass

Canvas = Meta1("FigureCanvasQTAgg", (backend_qtagg.FigureCanvasQTAgg,), {})
Mixin = Meta2("_SavableFigure", (basic._SavableFigure,), {})
class Entry:
    def __mro_entries__(self, bases):
        entries_asked.append(bases)
        return (Mixin,)
entry = Entry()
backend_qtagg.FigureCanvasQTAgg = Canvas
basic._SavableFigure = entry if WITH_ENTRY else Mixin
prepared.clear()

import zentrope.widgets.models.gmodel.mpl as m
W, G = m._MPLDragWidget, m.GeometryModelFigure
(meta1, n1, b1, kw1, ns1), (meta2, n2, b2, kw2, ns2) = prepared
assert (meta1, n1, b1, kw1) == (Meta1, "_MPLDragWidget", (Canvas,), {})
assert (meta2, n2, b2, kw2) == (Meta2, "GeometryModelFigure", (W, Mixin), {})
assert ns1.order == ["__module__", "__qualname__", "__init__", "dragEnterEvent",
                     "dragLeaveEvent", "draw", "set_bgcolor", "set_fontcolor"], ns1.order
assert ns1["__module__"] == ns2["__module__"] == NAME
assert (ns1["__qualname__"], ns2["__qualname__"]) == ("_MPLDragWidget", "GeometryModelFigure")
assert ns2.order[:5] == ["__module__", "__qualname__", "geom_dropped", "csv_dropped", "__init__"]
assert "__orig_bases__" not in ns1
if WITH_ENTRY:
    assert entries_asked == [(W, entry)]
    assert ns2["__orig_bases__"] == (W, entry) and G.__orig_bases__ == (W, entry)
else:
    assert "__orig_bases__" not in ns2
assert type(W) is Meta1 and type(G) is Meta2
assert W.__bases__ == (Canvas,) and G.__bases__ == (W, Mixin)
app = QtWidgets.QApplication([])
f = G(None, None)
assert isinstance(f, Mixin) and f.artists == []
"""


@pytest.mark.parametrize("with_entry", [False, True], ids=["plain-bases", "mro-entries"])
def test_class_creation_uses_prepare_and_the_most_derived_metaclass(with_entry):
    assert_script_ok(script(f"WITH_ENTRY = {with_entry}\n" + CLASS_PROTOCOL))


def test_second_module_object_from_the_same_spec_is_refused():
    assert_script_ok(script("""
import importlib.util, matplotlib
spec = importlib.util.find_spec(NAME)
a = importlib.util.module_from_spec(spec)
b = importlib.util.module_from_spec(spec)
assert a is not b
spec.loader.exec_module(a)
assert sys.modules[NAME] is a and bound(a) == GLOBALS
try:
    spec.loader.exec_module(b)
except RuntimeError as e:
    assert str(e) == "Module 'mpl' has already been imported. Re-initialisation is not supported.", str(e)
else:
    raise AssertionError("second execution succeeded")
assert "_MPLDragWidget" not in vars(b)
# executing the first object again succeeds without running anything
matplotlib.rcParams["figure.dpi"] = 72
spec.loader.exec_module(a)
assert matplotlib.rcParams["figure.dpi"] == 72
assert importlib.util.module_from_spec(spec) is a
import zentrope.widgets.models.gmodel.mpl as m
assert m is a
"""))


def test_import_in_a_second_interpreter_is_refused():
    assert_script_ok(script("""
import _xxsubinterpreters as interpreters
import zentrope.widgets.models.gmodel.mpl
sub = interpreters.create()
try:
    interpreters.run_string(sub, "import zentrope.widgets.models.gmodel.mpl")
except interpreters.RunFailedError as e:
    text = str(e)
else:
    raise AssertionError("import in a sub-interpreter succeeded")
assert "ImportError" in text, text
assert ("Interpreter change detected - this module can only be loaded into one "
        "interpreter per process.") in text, text
interpreters.destroy(sub)
"""))


def test_developer_block_runs_when_the_main_program_flag_is_set():
    assert_script_ok(script("""
import ctypes, importlib, importlib.util
spec = importlib.util.find_spec(NAME)
lib = ctypes.CDLL(spec.origin)
ctypes.c_int.in_dll(lib, "zentrope_mpl_main").value = 1
import zentrope._dev as dev
from zentrope.widgets._basic.mpl import MPLWidget
calls = []
def fake_exec(self, *args, **kwargs):
    m = sys.modules[NAME]
    calls.append((self is m.app, args, kwargs, m.widget.isVisible()))
    return 0
dev.ZentropeApplication.exec = fake_exec
m = importlib.import_module(NAME)
assert m.__name__ == "__main__" and sys.modules[NAME] is m
assert bound(m) == GLOBALS + ["ZentropeApplication", "MPLWidget", "app", "widget"], bound(m)
assert calls == [(True, (), {}, True)], calls
assert type(m.app) is dev.ZentropeApplication and m.ZentropeApplication is dev.ZentropeApplication
assert type(m.widget) is MPLWidget and m.widget.parent() is None
lines = m.widget.ax.lines
assert len(lines) == 1 and list(lines[0].get_ydata()) == [0, 8, 3, 21, 18, 33]
"""))
