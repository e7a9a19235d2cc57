"""Repeated calls leave reference counts and the GC-tracked object count flat."""
import gc
import sys

import matplotlib.font_manager
import matplotlib.text
import pytest
from PySide6 import QtCore

from conftest import FakeEvent

GC_TOLERANCE = 150


def settle():
    """Empty matplotlib's memo caches (text metrics are cached per renderer),
    so that only objects kept by something else are counted, then collect."""
    for module in (matplotlib.text, matplotlib.font_manager):
        for value in vars(module).values():
            if hasattr(value, "cache_clear"):
                value.cache_clear()
    gc.collect()


def flatness(operation, repeats, probes):
    """Run ``operation`` ``repeats`` times after a warm-up; return the growth.

    Returns the growth of ``len(gc.get_objects())`` and of the reference count
    of each probe object.
    """
    for _ in range(20):
        operation()
    settle()
    objects0 = len(gc.get_objects())
    refs0 = [sys.getrefcount(p) for p in probes]
    for _ in range(repeats):
        operation()
    settle()
    refs1 = [sys.getrefcount(p) for p in probes]
    return len(gc.get_objects()) - objects0, [b - a for a, b in zip(refs0, refs1)]


def test_construction_does_not_leak(mod, qapp):
    geom_only = object()
    gcontrols = object()

    def construct():
        for w in (mod._MPLDragWidget(None, geom_only),
                  mod.GeometryModelFigure(None, gcontrols, geom_only=geom_only)):
            w.deleteLater()
            del w
        QtCore.QCoreApplication.sendPostedEvents(None, QtCore.QEvent.Type.DeferredDelete)

    objects, refs = flatness(construct, 100, [geom_only, gcontrols])
    assert refs == [0, 0]
    assert objects < GC_TOLERANCE


@pytest.mark.parametrize("operation", ["draw", "set_bgcolor", "set_fontcolor", "drag", "bad-call"])
def test_repeated_calls_do_not_leak(mod, canvas, label, operation):
    colour = (0.25, 0.5, 0.75)
    lab = label()
    ev_label = FakeEvent(lab)
    ev_file = FakeEvent(urls=["/d/a.csv"])
    w = canvas
    ops = {
        "draw": lambda: w.draw(),
        "set_bgcolor": lambda: w.set_bgcolor(colour),
        "set_fontcolor": lambda: w.set_fontcolor(c=colour),
        "drag": lambda: (w.dragEnterEvent(ev_label), w.dragEnterEvent(e=ev_file),
                         w.dragLeaveEvent(ev_label), ev_label.log.clear(), ev_file.log.clear()),
        "bad-call": lambda: pytest.raises(TypeError, w.set_bgcolor, colour, colour),
    }
    repeats = 200 if operation in ("draw", "drag") else 3000
    objects, refs = flatness(ops[operation], repeats, [colour, lab, ev_label, ev_file, w])
    assert refs == [0] * 5
    assert objects < GC_TOLERANCE
