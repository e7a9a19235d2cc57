"""Helpers for the geometry figure's tests: stand-in elements, line styles, call logs."""
import numpy as np

X = np.linspace(0.0, 100.0, 6)
GREY, ORANGE = ("0.7", 1, 0), ("orange", 2, 1)
ODD = ("red", 5, 9)  # a style the figure never uses


class Element:  # a geometry element: plots n real lines, records what plot got and returned
    def __init__(self, n=2, base=0.0):
        self.n, self.base, self.calls, self.returned = n, base, [], None

    def plot(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        xy = [v for k in range(self.n) for v in (X, self.base + k + np.arange(len(X), dtype=float))]
        self.returned = args[0].plot(*xy, **kwargs)
        return self.returned


def populate(fig, sizes=(1, 2, 3)):  # elements of these line counts, all lines oddly styled
    for k, n in enumerate(sizes):
        fig.add_element(Element(n, base=10.0 * k))
    for ln in fig.ax.lines:
        ln.set(color=ODD[0], lw=ODD[1], zorder=ODD[2])
    return list(fig.artists)


def styles(fig):  # (colour, width, z-order) of every line, grouped by entry
    return [[(ln.get_color(), ln.get_linewidth(), ln.get_zorder()) for ln in entry]
            for entry in fig.artists]


def looks(fig, selected=None, rest=GREY):
    return [[ORANGE if k == selected else rest] * len(entry) for k, entry in enumerate(fig.artists)]


def line_ids(entries):
    return [id(ln) for entry in entries for ln in entry]


def spy(fig):  # logs set_selection/draw calls made through the instance, then runs them
    log, cls = [], type(fig)

    def logged(name):
        def call(*args):
            log.append((name,) + args)
            getattr(cls, name)(fig, *args)
        return call

    fig.set_selection, fig.draw = logged("set_selection"), logged("draw")
    return log
