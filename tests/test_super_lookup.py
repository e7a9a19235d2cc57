"""super().draw() inside the native draw finds and calls what Python's super() does."""
import functools
from types import SimpleNamespace

import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg


def record(log, *args):
    log.append(args)


KINDS = {  # what the canvas base holds as `draw`
    "function": lambda log: lambda self: record(log, self),
    "staticmethod": lambda log: staticmethod(lambda: record(log)),
    "classmethod": lambda log: classmethod(lambda cls: record(log, cls)),
    "no-get": lambda log: functools.partial(record, log, "partial"),
    "property": lambda log: property(lambda self: functools.partial(record, log, "got", self)),
}


def outcome(call):
    try:
        call()
    except Exception as exc:  # compared, not raised
        return type(exc), str(exc)
    return None


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("as_class", [False, True], ids=["instance", "class"])
def test_native_super_matches_python_super(mod, qapp, monkeypatch, kind, as_class):
    log = []
    monkeypatch.setattr(FigureCanvasQTAgg, "draw", KINDS[kind](log))
    cls = type("Sub", (mod._MPLDragWidget,), {})
    ax = SimpleNamespace(relim=lambda: None, autoscale_view=lambda: None)
    if as_class:  # super(_MPLDragWidget, Sub): the class form
        cls.ax = ax
        self = cls
    else:
        self = cls.__new__(cls)
        self.ax = ax
    native = outcome(lambda: vars(mod._MPLDragWidget)["draw"](self))
    native_log, log[:] = list(log), []
    assert (native, native_log) == (outcome(lambda: super(mod._MPLDragWidget, self).draw()), log)
