"""Callers that try to break the module: objects freed while a call still needs them,
errors raised the way the interpreter raises them, misbehaving callees."""
import copy
import os
import pickle
import subprocess
import sys
import textwrap

import pytest

from conftest import MODNAME
from figure_helpers import global_removed

# Run in a fresh interpreter: a use-after-free or a fault inside PySide must fail the
# test, not end the run. The debug allocator overwrites freed memory, so that a read
# of a freed object misbehaves at once (a sanitizer run keeps its own allocator).
CHILD_PRELUDE = f"""
import os, sys
os.environ["QT_QPA_PLATFORM"] = "offscreen"
from PySide6 import QtCore, QtGui, QtWidgets
app = QtWidgets.QApplication([])
import {MODNAME} as mod
from matplotlib.figure import Figure
Qt = QtCore.Qt

MIME = QtCore.QMimeData()  # an event does not own its mime data: this one outlives them

def drop_event(mime=MIME):
    return QtGui.QDropEvent(QtCore.QPointF(10, 10), Qt.DropAction.CopyAction, mime,
                            Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier)

def drag_enter_event(mime=MIME):
    return QtGui.QDragEnterEvent(QtCore.QPoint(10, 10), Qt.DropAction.CopyAction, mime,
                                 Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier)

class Recorder:  # an object only the module namespace refers to, logging its calls
    calls = []
    def __init__(self, tag): self.tag = tag
    def setp(self, *args, **kwargs): Recorder.calls.append((self.tag, kwargs.get("color")))
"""


def run_child(body):
    env = dict(os.environ)
    env.setdefault("PYTHONMALLOC", "malloc_debug")
    proc = subprocess.run([sys.executable, "-c", CHILD_PRELUDE + textwrap.dedent(body)],
                          capture_output=True, text=True, env=env, timeout=120, cwd="/")
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr[-3000:]}"
    return proc.stdout


# Each case frees, during a method, the object a pending call was looked up on; the
# native method must call what the interpreter would call, on a live object.
USE_AFTER_FREE = {
    "drop: computed ax": """
        class Face:
            def set_facecolor(self, c): print("face", c)
        class Sub(mod.GeometryModelFigure):
            fresh = False
            @property
            def ax(self):  # a new object at every read
                return Face() if self.fresh else self.__dict__["_ax"]
            @ax.setter
            def ax(self, v): self.__dict__["_ax"] = v
            def draw(self): pass
        s = Sub(None, None); s.fresh = True
        ev = drop_event()
        for _ in range(50):
            s.dropEvent(ev)
        s.event(ev)  # and through Qt's dispatch
        print("done")
        """,
    "construction: computed fig": """
        class Shim:  # no reference cycles: freed as soon as nobody holds it
            def __init__(self, fig): self.fig = fig
            def add_axes(self, rect): return self.fig.add_axes(rect)
        class Sub(mod._MPLDragWidget):
            @property
            def fig(self):  # a new object for the add_axes look-up, the figure otherwise
                self.reads = getattr(self, "reads", 0) + 1
                return Shim(self.real) if self.reads == 1 else self.real
            @fig.setter
            def fig(self, v): self.real = v
        for _ in range(20):
            assert Sub().ax.figure is not None
        print("done")
        """,
    "construction: plt rebound while tick labels are read": """
        from matplotlib.axes import Axes
        real = Axes.get_xticklabels
        def rebinding(self):
            mod.plt = Recorder("new")
            return real(self)
        Axes.get_xticklabels = rebinding
        for k in range(20):
            mod.plt = Recorder("old")
            mod._MPLDragWidget()
        assert Recorder.calls == [("old", None)] * 20, Recorder.calls
        print("done")
        """,
    "set_selection: plt rebound by __index__": """
        fig = mod.GeometryModelFigure(None, None)
        fig.draw = lambda: None
        fig.artists.append([])
        class Index:
            def __index__(self):
                mod.plt = Recorder("new")
                return 0
        for _ in range(20):
            mod.plt = Recorder("old")
            fig.set_selection(Index())
        assert Recorder.calls == [("old", "0.7"), ("old", "orange")] * 20, Recorder.calls
        print("done")
        """,
}


@pytest.mark.parametrize("body", USE_AFTER_FREE.values(), ids=USE_AFTER_FREE.keys())
def test_objects_released_during_a_call_are_not_used_afterwards(body):
    assert run_child(body).splitlines()[-1] == "done"


def test_errors_leaving_handlers_dispatched_by_qt_are_raised_cleanly():
    out = run_child("""
        from zentrope.widgets.library.labels import GeometryLabelDraggable
        fig = mod.GeometryModelFigure(None, None)
        def dispatch(ev):
            try:
                fig.event(ev)
            except Exception as e:
                # PySide6 6.6+ prefixes "Error calling Python override of QWidget::dropEvent(): "
                print(type(e).__name__, getattr(e, "name", None), str(e).split("(): ", 1)[-1])
        for make in (drop_event, drag_enter_event):
            del mod.GeometryLabelDraggable
            dispatch(make())
            mod.GeometryLabelDraggable = 5  # isinstance() raises without an exception object
            dispatch(make())
            mod.GeometryLabelDraggable = GeometryLabelDraggable
        """)
    name_error = "NameError GeometryLabelDraggable name 'GeometryLabelDraggable' is not defined"
    type_error = "TypeError None isinstance() arg 2 must be a type"
    lines = out.splitlines()
    assert len(lines) == 4 and [ln.startswith((name_error, type_error)) for ln in lines] == [1] * 4


@pytest.mark.parametrize("call,exc_type,name,obj", [
    pytest.param(lambda mod, f: f.set_artist_value(0, 5), AttributeError, "ndim", 5,
                 id="missing attribute"),
    pytest.param(lambda mod, f: f.set_selection(0), NameError, "plt", None, id="missing global"),
])
def test_errors_carry_what_the_interpreter_attaches(mod, make_canvas, call, exc_type, name, obj):
    f = make_canvas(None, None, cls=mod.GeometryModelFigure)
    with global_removed(mod, "plt"), pytest.raises(exc_type) as info:
        call(mod, f)
    e = info.value
    assert (e.name, getattr(e, "obj", None)) == (name, obj)
    assert e.__traceback__ is not None and e.args  # a normalized exception object


def test_getter_attribute_errors_match_python(mod, make_canvas):
    """A getter's AttributeError: the interpreter adds .name/.obj only when both are unset."""
    class Y:
        @property
        def ndim(self):
            raise AttributeError("plain")
    f, y = make_canvas(None, None, cls=mod.GeometryModelFigure), Y()
    with pytest.raises(AttributeError) as native:
        f.set_artist_value(0, y)
    with pytest.raises(AttributeError) as python:
        y.ndim
    assert (native.value.name, native.value.obj) == (python.value.name, python.value.obj) == ("ndim", y)


@pytest.mark.parametrize("callee,message,cause", [
    ("return_result_with_error", "returned a result with an exception set", ValueError),
    ("return_null_without_error", "returned NULL without setting an exception", type(None)),
])
def test_misbehaving_callees_give_the_interpreters_system_error(mod, make_canvas, callee, message,
                                                               cause):
    _testcapi = pytest.importorskip("_testcapi")
    w = make_canvas()
    w.draw = getattr(_testcapi, callee)
    for call in (w.dragLeaveEvent, lambda e: w.draw()):  # native, then the interpreter
        with pytest.raises(SystemError) as info:
            call(None)
        assert str(info.value).endswith(message) and type(info.value.__cause__) is cause
    del w.draw
    w.dragLeaveEvent(None)  # nothing stale is left behind for the next call
    w.set_bgcolor("red")


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_methods_copy_and_pickle_as_functions_do(mod, protocol):
    for cls in (mod._MPLDragWidget, mod.GeometryModelFigure):
        for f in vars(cls).values():
            if type(f).__name__ == "native_function":
                assert copy.copy(f) is f and copy.deepcopy(f) is f
                assert pickle.loads(pickle.dumps(f, protocol)) is f


def test_extension_needs_no_static_tls_block(mod):
    """An initial-exec TLS block can make a late dlopen fail; the module must not need one."""
    proc = subprocess.run(["readelf", "-d", "-W", mod.__file__], capture_output=True, text=True)
    if proc.returncode:
        pytest.skip("readelf not available")
    assert "(FLAGS)" in proc.stdout or "(FLAGS_1)" in proc.stdout or "(NEEDED)" in proc.stdout
    assert "STATIC_TLS" not in proc.stdout
