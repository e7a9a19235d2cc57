"""Helpers for the geometry figure's tests: stand-in elements, line styles, spies."""
import contextlib

import numpy as np
import pytest

X = np.linspace(0.0, 100.0, 6)
GREY = ("0.7", 1, 0)
ORANGE = ("orange", 2, 1)
SOURCE = "src/geometry_figure.cpp"
PREFIX = "zentrope.widgets.models.gmodel.mpl.GeometryModelFigure."


class Element:
    """A geometry element: plots ``n`` real lines and records what ``plot`` got."""

    def __init__(self, n=2, base=0.0):
        self.n, self.base = n, base
        self.calls = []
        self.returned = None

    def plot(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        xy = []
        for k in range(self.n):
            xy += [X, self.base + k + np.arange(len(X), dtype=float)]
        self.returned = args[0].plot(*xy, **kwargs)
        return self.returned


def styles(fig):
    """(colour, width, z-order) of every line, grouped by entry."""
    return [[(ln.get_color(), ln.get_linewidth(), ln.get_zorder()) for ln in entry]
            for entry in fig.artists]


def expected_styles(fig, selected):
    return [[ORANGE if k == selected else GREY] * len(entry)
            for k, entry in enumerate(fig.artists)]


def native_frames(tb):
    """(name, file) of this module's traceback entries, outermost first."""
    import traceback
    return [(fr.name, fr.filename) for fr in traceback.extract_tb(tb)
            if fr.name.startswith("zentrope.widgets.models.gmodel.mpl.")]


@contextlib.contextmanager
def global_removed(mod, name):
    """Take a module global away, then put the namespace back in its binding order."""
    ns = vars(mod)
    saved = dict(ns)
    del ns[name]
    try:
        yield
    finally:
        ns.clear()
        ns.update(saved)


def entries(*methods):
    return [(PREFIX + m, SOURCE) for m in methods]


@pytest.fixture
def fig(mod, make_canvas):
    return make_canvas(None, None, cls=mod.GeometryModelFigure)


@pytest.fixture
def spy():
    """``spy(fig)`` logs ``set_selection``/``draw`` calls made through the instance.

    With ``forward=False`` the logged calls do nothing else.
    """

    def attach(fig, forward=True):
        log = []
        cls = type(fig)

        def set_selection(*args, **kwargs):
            log.append(("set_selection", args, kwargs))
            if forward:
                cls.set_selection(fig, *args, **kwargs)

        def draw(*args, **kwargs):
            log.append(("draw", args, kwargs))
            if forward:
                cls.draw(fig, *args, **kwargs)

        fig.set_selection = set_selection
        fig.draw = draw
        return log

    return attach
