"""Stand-ins for everything the widget methods talk to.

The benchmark times the methods' own steps (look-ups, calls, branches,
argument binding), so the objects the methods call into must be as cheap as
possible and identical for every implementation under test. Two kits build
them with the same shapes:

- ``FastKit``: SimpleNamespace records whose callables are built-ins
  (``callable``, ``"".format``, an ``itertools.repeat`` iterator's ``__next__``), so
  a stand-in call costs a few tens of nanoseconds; used for timing.
- ``TraceKit``: objects that log every attribute read, attribute write and
  call; used to check that the implementations make the same calls in the
  same order (``test_bench.py`` and ``run.py --check``).

``StandInCanvas`` is the canvas base of the plain-Python and Cython twins:
a FigureCanvasQTAgg subclass (so that twin instances have the same layout and
the same PySide attribute hooks as the native widgets) that overrides every
base method the widgets call with one that does nothing. The same do-nothing
methods are put on FigureCanvasQTAgg itself while the native methods that use
``super()`` are timed (impls.swapped).
"""
import itertools
from types import SimpleNamespace

from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg

#: The canvas-base methods the widgets call, through super() or on self.
CANVAS_METHODS = ("__init__", "draw", "setParent", "setSizePolicy", "updateGeometry",
                  "setAcceptDrops", "setMinimumSize")


class StandInCanvas(FigureCanvasQTAgg):
    """The calls the widgets make on their canvas base, doing nothing."""

    def __init__(self, figure=None):
        pass

    def draw(self):
        pass

    def setParent(self, parent):
        pass

    def setSizePolicy(self, horizontal, vertical):
        pass

    def updateGeometry(self):
        pass

    def setAcceptDrops(self, on):
        pass

    def setMinimumSize(self, width, height):
        pass


class StandInLabel(SimpleNamespace):
    """Takes the place of the label library's draggable label class."""


class FastKit:
    """Cheapest objects that answer the calls."""

    label_class = StandInLabel

    def canvas_methods(self):
        return {name: StandInCanvas.__dict__[name] for name in CANVAS_METHODS}

    def obj(self, tag, /, **attrs):
        return SimpleNamespace(**attrs)

    def label(self, tag, /, **attrs):
        return StandInLabel(**attrs)

    def returns(self, name, value):
        """f() -> value"""
        return itertools.repeat(value).__next__

    def sink(self, name, arity=1):
        """f(x) or f(*args, **kwargs), result ignored"""
        return callable if arity == 1 else "".format

    def func(self, name, result):
        """f(*args, **kwargs) -> result"""
        return lambda *args, **kwargs: result


# --- tracing -------------------------------------------------------------


def describe(value):
    if isinstance(value, (Traced, TracedCall)):
        return value._name
    if isinstance(value, list):
        return "[" + ", ".join(describe(v) for v in value) + "]"
    if isinstance(value, tuple):
        return "(" + ", ".join(describe(v) for v in value) + ")"
    if isinstance(value, FigureCanvasQTAgg):
        return "self"
    return repr(value)


class Traced:
    """A record whose attribute reads and writes go to a log."""

    def __init__(self, log, name, attrs):
        object.__setattr__(self, "_log", log)
        object.__setattr__(self, "_name", name)
        object.__setattr__(self, "_attrs", dict(attrs))

    def __getattribute__(self, attr):
        if attr.startswith("_"):
            if attr in ("_log", "_name", "_attrs") or attr.startswith("__"):
                return object.__getattribute__(self, attr)
        log = object.__getattribute__(self, "_log")
        name = object.__getattribute__(self, "_name")
        attrs = object.__getattribute__(self, "_attrs")
        log.append(f"{name}.{attr}")
        try:
            return attrs[attr]
        except KeyError:
            raise AttributeError(attr) from None

    def __setattr__(self, attr, value):
        self._log.append(f"{self._name}.{attr} = {describe(value)}")
        self._attrs[attr] = value


class TracedLabel(Traced):
    pass


class TracedCall:
    def __init__(self, log, name, result):
        self._log, self._name, self._result = log, name, result

    def __call__(self, *args, **kwargs):
        parts = [describe(a) for a in args] + [f"{k}={describe(v)}" for k, v in kwargs.items()]
        self._log.append(f"{self._name}({', '.join(parts)})")
        return self._result


class TraceKit:
    """Same shapes as FastKit; every read, write and call is logged."""

    label_class = TracedLabel

    def __init__(self):
        self.log = []

    def canvas_methods(self):
        log = self.log

        def __init__(self, figure=None):
            log.append(f"base.__init__({describe(figure)})")

        def draw(self):
            log.append("base.draw()")

        def setParent(self, parent):
            log.append(f"self.setParent({describe(parent)})")

        def setSizePolicy(self, horizontal, vertical):
            log.append(f"base.setSizePolicy({horizontal!r}, {vertical!r})")

        def updateGeometry(self):
            log.append("base.updateGeometry()")

        def setAcceptDrops(self, on):
            log.append(f"self.setAcceptDrops({on!r})")

        def setMinimumSize(self, width, height):
            log.append(f"self.setMinimumSize({width!r}, {height!r})")

        methods = locals()
        return {name: methods[name] for name in CANVAS_METHODS}

    def obj(self, tag, /, **attrs):
        return Traced(self.log, tag, attrs)

    def label(self, tag, /, **attrs):
        return TracedLabel(self.log, tag, attrs)

    def returns(self, name, value):
        return TracedCall(self.log, name, value)

    def sink(self, name, arity=1):
        return TracedCall(self.log, name, None)

    def func(self, name, result):
        return TracedCall(self.log, name, result)
