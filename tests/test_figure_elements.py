"""GeometryModelFigure's element list, value updates and selection, with real lines."""
import numpy as np
import pytest

from conftest import raises

X = np.linspace(0.0, 100.0, 6)
GREY, ORANGE = ("0.7", 1, 0), ("orange", 2, 1)
ODD = ("red", 5, 9)  # a style the figure never uses


class Element:  # a geometry element: plots n real lines, records what plot returned
    def __init__(self, n=2, base=0.0):
        self.n, self.base, self.returned = n, base, None

    def plot(self, *args, **kwargs):
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


@pytest.fixture
def fig(mod, make_canvas):
    return make_canvas(None, None, cls=mod.GeometryModelFigure)


def test_add_element_keeps_what_plot_returned_and_selects_it(fig):
    populate(fig, (2, 0))
    listed, g = fig.artists, Element(3)
    assert fig.add_element(g) is None
    assert fig.artists is listed and len(listed) == 3 and listed[-1] is g.returned
    assert styles(fig) == looks(fig, selected=2)
    assert line_ids([fig.ax.lines]) == line_ids(listed)


# entries of 2, 0 and 3 lines: ind, ind_new, entries kept, the one selected afterwards, error
# (which calls each branch makes on the instance: see the call trace)
@pytest.mark.parametrize("ind,ind_new,kept,selected,exc", [
    (1, 0, [0, 2], 0, None),  # the empty entry counts too
    (0, -1, [1, 2], None, None),
    (np.int64(2), np.int64(1), [0, 1], 1, None),
    (-1, 0, [0, 1, 2], None, None),
    (-0.5, 0, [0, 1, 2], None, None),
    (3, 0, [0, 1, 2], None, IndexError),
    (None, 0, [0, 1, 2], None, TypeError),
])
def test_remove_element(fig, ind, ind_new, kept, selected, exc):
    before = populate(fig, (2, 0, 3))
    listed = fig.artists
    with raises(exc):
        assert fig.remove_element(ind, ind_new) is None
    assert fig.artists is listed and listed == [before[k] for k in kept]
    assert line_ids([fig.ax.lines]) == line_ids(listed)
    # without a selection every line keeps its style
    assert styles(fig) == (looks(fig, rest=ODD) if selected is None else looks(fig, selected))


def test_clear_binds_a_new_list_and_leaves_the_old_one_intact(fig):
    before = populate(fig, (2, 0, 3))
    old = fig.artists
    assert fig.clear() is None
    assert fig.artists == [] and type(fig.artists) is list and fig.artists is not old
    assert old == before and not fig.ax.lines


V = 1000.0 + 100.0 * np.arange(4)[:, None] + np.arange(6)  # four distinct rows, far off the lines


# two entries of 3 lines: ind, y, entry updated, rows of V its leading lines show afterwards
@pytest.mark.parametrize("ind,y,target,rows", [
    (0, V[0], 0, [0]),
    (-1, V[1], 1, [1]),
    (0, V[:2], 0, [0, 1]),
    (-2, V, 0, [0, 1, 2]),
], ids=["1d", "1d-negative", "2d-fewer-rows", "2d-more-rows"])
def test_set_artist_value_updates_lines_and_refits_y(mod, fig, monkeypatch, ind, y, target, rows):
    populate(fig, (3, 3))
    monkeypatch.setattr(mod, "zip", None, raising=False)  # the built-in zip is the one used
    want = [ln.get_ydata().copy() for ln in fig.ax.lines]
    want[3 * target:3 * target + len(rows)] = V[rows]
    look = styles(fig)
    assert fig.set_artist_value(ind, y) is None
    assert all(np.array_equal(ln.get_ydata(), w) for ln, w in zip(fig.ax.lines, want))
    assert styles(fig) == look
    ys, (lo, hi) = np.concatenate(want), fig.ax.get_ylim()
    assert lo <= ys.min() and hi >= ys.max() and hi - lo <= 1.2 * np.ptp(ys)
    assert fig.ax.get_xlim() == (0, 100)


@pytest.mark.parametrize("sizes,i,selected,exc", [
    ((1, 2, 3), -1, 2, None),  # already selected by the last add: restyled and drawn again
    ((1, 2, 3), 0, 0, None),
    ((), 0, None, IndexError),
    ((1, 2, 3), 3, None, IndexError),
])
def test_set_selection_highlights_one_element_after_greying_all(fig, sizes, i, selected, exc):
    populate(fig, sizes)
    with raises(exc):
        assert fig.set_selection(i) is None
    assert styles(fig) == looks(fig, selected)
