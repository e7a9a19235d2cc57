"""super().draw() inside the native draw finds and calls what Python's super() does."""
import functools
import warnings
from types import SimpleNamespace

import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg

KINDS = {  # what the canvas base holds as `draw`, given a log of calls
    "function": lambda log: lambda self: log.append(self),
    "staticmethod": lambda log: staticmethod(lambda: log.append("static")),
    "classmethod": lambda log: classmethod(lambda cls: log.append(cls)),
    "no-get": lambda log: functools.partial(log.append, "partial"),
    "property": lambda log: property(lambda self: functools.partial(log.append, ("got", self))),
}


def outcome(call):  # what call returned or raised, and the warnings it gave
    with warnings.catch_warnings(record=True) as given:
        warnings.simplefilter("always")
        try:
            result = call()
        except Exception as exc:  # compared, not raised
            result = type(exc), str(exc)
    return result, [(w.category, str(w.message)) for w in given]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("as_class", [False, True], ids=["instance", "class"])
def test_native_super_matches_python_super(mod, qapp, monkeypatch, kind, as_class):
    log = []
    monkeypatch.setattr(FigureCanvasQTAgg, "draw", KINDS[kind](log))
    cls = type("Sub", (mod._MPLDragWidget,), {})
    ax = SimpleNamespace(relim=lambda: None, autoscale_view=lambda: None)
    self = cls if as_class else cls.__new__(cls)  # super(_MPLDragWidget, Sub): the class form
    self.ax = ax
    native = outcome(lambda: vars(mod._MPLDragWidget)["draw"](self)), list(log)
    log.clear()
    assert native == (outcome(lambda: super(mod._MPLDragWidget, self).draw() and None), log)
