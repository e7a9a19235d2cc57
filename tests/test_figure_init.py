"""GeometryModelFigure construction arguments, its signals, and a cycle of native calls."""
import os
import threading

import pytest
from PySide6 import QtCore, QtWidgets


# how the figure is called (make, class, parent), geom_only that must reach the canvas
CALLS = {
    "default": (lambda make, G, p: make(p, 7, cls=G), False),
    "positional": (lambda make, G, p: make(p, 7, 0, cls=G), 0),
    "keyword": (lambda make, G, p: make(p, 7, geom_only="yes", cls=G), "yes"),
    "all-keywords": (lambda make, G, p: make(geom_only=0, gcontrols=7, parent=p, cls=G), 0),
}


@pytest.mark.parametrize("call", CALLS)
def test_arguments_reach_the_canvas_constructor(mod, make_canvas, monkeypatch, call):
    calls, native = [], vars(mod._MPLDragWidget)["__init__"]
    monkeypatch.setattr(mod._MPLDragWidget, "__init__",
                        lambda self, *a, **k: (calls.append((a, k)), native(self, *a, **k))[1])
    parent, (make, geom_only) = QtWidgets.QWidget(), CALLS[call]  # (a parent of None would pass unseen)
    f = make(make_canvas, mod.GeometryModelFigure, parent)
    [(args, kwargs)] = calls
    assert len(args) == 1 and args[0] is parent  # by position, however it was given
    assert list(kwargs) == ["geom_only"] and kwargs["geom_only"] is geom_only
    assert f.geom_only is geom_only and f.parent() is parent


def test_the_figure_declares_two_qt_signals(mod, make_canvas):
    # (connected and emitted by real drops in test_figure_drop.py)
    meta = make_canvas(None, None, cls=mod.GeometryModelFigure).metaObject()
    assert [bytes(meta.method(i).methodSignature()).decode()
            for i in range(meta.methodOffset(), meta.methodCount())
            if meta.method(i).methodType() == QtCore.QMetaMethod.MethodType.Signal
            ] == ["geom_dropped(QString,bool)", "csv_dropped(QString)"]


def test_a_cycle_of_native_calls_ends_in_recursion_error(mod, make_canvas):
    # clear() calls self.draw(); routed back to clear() the natives would recurse
    # with no Python frame in between: this must stop cleanly, not overflow the stack.
    f = make_canvas(None, None, cls=mod.GeometryModelFigure)
    f.draw = f.clear
    with pytest.raises(RecursionError):
        f.clear()
    # where Python's limit puts it: inside a thread's small stack too (the sanitizer
    # build's frames are several times larger)
    small = (16 if "libasan" in os.environ.get("LD_PRELOAD", "") else 2) << 20
    caught, size = [], threading.stack_size(small)
    try:
        worker = threading.Thread(target=lambda: caught.append(pytest.raises(RecursionError, f.clear)))
        worker.start()
        worker.join()
    finally:
        threading.stack_size(size)
    assert len(caught) == 1
    del f.draw
    f.clear()  # still usable
    assert f.artists == []
