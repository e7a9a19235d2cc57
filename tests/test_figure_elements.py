"""GeometryModelFigure's element list, value updates and selection, with real lines."""
import builtins
import gc
import sys

import numpy as np
import pytest

from figure_helpers import (GREY, X, Element, entries, expected_styles, fig,  # noqa: F401
                            global_removed, native_frames, spy, styles)

ODD = dict(color="red", lw=5, zorder=9)  # a style the figure never uses


def populate(fig, sizes=(1, 2, 3)):
    for k, n in enumerate(sizes):
        fig.add_element(Element(n, base=10.0 * k))
    return list(fig.artists)


def restyle_oddly(fig):
    for entry in fig.artists:
        for ln in entry:
            ln.set(**ODD)


def lines_of(seq):
    return [id(ln) for entry in seq for ln in entry]


def on_axes(fig):
    return [id(ln) for ln in fig.ax.lines]


# ------------------------------------------------------------------ add_element

@pytest.mark.parametrize("before", [0, 2])
@pytest.mark.parametrize("n_lines", [0, 1, 3])
def test_add_element_plots_grey_records_the_result_and_selects_it(fig, spy, renders,
                                                                   before, n_lines):
    populate(fig, [2] * before)
    restyle_oddly(fig)
    old_list = fig.artists
    counter = renders(fig)
    log = spy(fig)
    g = Element(n_lines)

    assert fig.add_element(g) is None
    (args, kwargs), = g.calls
    assert len(args) == 1 and args[0] is fig.ax
    assert kwargs == {"color": "0.7"} and type(kwargs["color"]) is str
    assert fig.artists is old_list and len(fig.artists) == before + 1
    assert fig.artists[-1] is g.returned
    assert log == [("set_selection", (-1,), {}), ("draw", (), {})]
    assert type(log[0][1][0]) is int
    assert counter.count == 1
    assert styles(fig) == expected_styles(fig, before)
    assert on_axes(fig) == lines_of(fig.artists)


# ------------------------------------------------------------- remove_element

@pytest.mark.parametrize("ind,ind_new,kept,calls", [
    (1, 0, [0, 2], [("set_selection", 0), ("draw",)]),
    (1, -1, [0, 2], [("draw",)]),
    (0, 1, [1, 2], [("set_selection", 1), ("draw",)]),
    (2, -5, [0, 1], [("draw",)]),
    (np.int64(1), np.int64(1), [0, 2], [("set_selection", 1), ("draw",)]),
    (True, -0.5, [0, 2], [("draw",)]),
])
def test_remove_element_takes_exactly_that_entry_off(fig, spy, renders, ind, ind_new, kept, calls):
    before = populate(fig)
    restyle_oddly(fig)
    listed = fig.artists
    counter = renders(fig)
    log = spy(fig)

    assert fig.remove_element(ind, ind_new) is None
    assert fig.artists is listed and fig.artists == [before[k] for k in kept]
    assert on_axes(fig) == lines_of(fig.artists)
    assert [(name,) + args for name, args, _ in log] == calls
    assert log[0][1] == () or log[0][1][0] is ind_new
    assert counter.count == 1
    if calls[0][0] == "draw":  # no selection: the others keep their styles
        assert styles(fig) == [[(ODD["color"], 5, 9)] * len(e) for e in fig.artists]
    else:
        assert styles(fig) == expected_styles(fig, calls[0][1])


def test_remove_element_of_the_last_entry_and_of_an_empty_entry(fig, spy, renders):
    fig.add_element(Element(0))
    fig.add_element(Element(2))
    counter = renders(fig)
    log = spy(fig)
    second = fig.artists[1]
    fig.remove_element(0, -1)  # the empty entry still takes up index 0
    assert fig.artists == [second] and on_axes(fig) == lines_of([second])
    fig.remove_element(0, -1)
    assert fig.artists == [] and on_axes(fig) == []
    assert [name for name, *_ in log] == ["draw", "draw"] and counter.count == 2


class Ge:
    """An index whose ``>=`` answers ``result`` and records the right-hand side."""

    def __init__(self, result):
        self.result, self.seen = result, []

    def __ge__(self, other):
        self.seen.append(other)
        return self.result


@pytest.mark.parametrize("ind", [-1, -3, -1.0, -0.5, np.int64(-1), np.float64(-2.0), Ge(0), Ge(())],
                         ids=["-1", "-3", "-1.0", "-0.5", "np.int64", "np.float64", "ge-0", "ge-()"])
@pytest.mark.parametrize("ind_new", [0, -1])
def test_remove_element_with_a_negative_index_does_nothing(fig, spy, renders, ind, ind_new):
    before = populate(fig)
    listed, lines, look = fig.artists, on_axes(fig), styles(fig)
    counter = renders(fig)
    log = spy(fig)
    if isinstance(ind, Ge):
        ind.seen.clear()
    assert fig.remove_element(ind, ind_new) is None
    assert fig.artists is listed and fig.artists == before
    assert on_axes(fig) == lines and styles(fig) == look
    assert log == [] and counter.count == 0
    if isinstance(ind, Ge):
        assert ind.seen == [0] and type(ind.seen[0]) is int


@pytest.mark.parametrize("ind,exc", [(3, IndexError), (10, IndexError), (None, TypeError),
                                     ("0", TypeError), (1.0, TypeError)])
def test_remove_element_failures_leave_everything_as_it_was(fig, spy, renders, ind, exc):
    before = populate(fig)
    lines, look = on_axes(fig), styles(fig)
    counter = renders(fig)
    log = spy(fig)
    with pytest.raises(exc) as info:
        fig.remove_element(ind, 0)
    assert fig.artists == before and on_axes(fig) == lines and styles(fig) == look
    assert log == [] and counter.count == 0
    assert native_frames(info.tb) == entries("remove_element")


def test_remove_element_selection_beyond_the_shortened_list(fig, renders):
    before = populate(fig)
    counter = renders(fig)
    with pytest.raises(IndexError) as info:
        fig.remove_element(0, 2)
    # removed and popped, every remaining element greyed, nothing drawn
    assert fig.artists == before[1:] and on_axes(fig) == lines_of(before[1:])
    assert styles(fig) == [[GREY] * len(e) for e in fig.artists]
    assert counter.count == 0
    assert native_frames(info.tb) == entries("remove_element", "set_selection")


@pytest.mark.parametrize("op", ["remove_element", "clear"])
def test_a_failing_remove_stops_with_the_entry_still_listed(fig, spy, renders, op):
    before = populate(fig, (2, 3, 1))
    listed = fig.artists
    middle = before[1]

    def remove():
        raise RuntimeError("cannot remove")
    middle[1].remove = remove
    counter = renders(fig)
    log = spy(fig)
    with pytest.raises(RuntimeError, match="cannot remove") as info:
        fig.remove_element(1, 0) if op == "remove_element" else fig.clear()
    gone = {id(ln) for ln in ([] if op == "remove_element" else before[0])} | {id(middle[0])}
    assert on_axes(fig) == [i for i in lines_of(before) if i not in gone]
    assert fig.artists is listed and fig.artists == before
    assert log == [] and counter.count == 0
    assert native_frames(info.tb) == entries(op)


# ------------------------------------------------------------------------ clear

@pytest.mark.parametrize("sizes", [(), (2, 0, 3)])
def test_clear_binds_a_new_list_and_keeps_the_old_one_intact(fig, spy, renders, sizes):
    before = populate(fig, sizes)
    old = fig.artists
    counter = renders(fig)
    log = spy(fig)
    assert fig.clear() is None
    assert fig.artists == [] and type(fig.artists) is list and fig.artists is not old
    assert old == before and all(a is b for a, b in zip(old, before))
    assert on_axes(fig) == []
    assert [name for name, *_ in log] == ["draw"] and counter.count == 1


# ----------------------------------------------------------------- set_artist_value

V = 1000.0 + 100.0 * np.arange(4)[:, None] + np.arange(len(X))  # four distinct rows


class FloatNdim(np.ndarray):
    @property
    def ndim(self):
        return float(np.asarray(self).ndim)


@pytest.mark.parametrize("ind,y,target,rows", [
    (0, V[0], 0, [0, None, None]),
    (-1, V[1], 1, [1, None, None]),
    (1, V[2].view(FloatNdim), 1, [2, None, None]),
    (0, V[:2], 0, [0, 1, None]),
    (-2, V, 0, [0, 1, 2]),
    (np.int64(1), V[1:].view(FloatNdim), 1, [1, 2, 3]),
], ids=["1d", "1d-negative", "ndim-1.0", "2d-fewer-rows", "2d-more-rows", "2d-ndim-2.0"])
def test_set_artist_value_updates_lines_and_refits_the_view(fig, renders, ind, y, target, rows):
    populate(fig, (3, 3))
    fig.set_selection(0)
    before = [[ln.get_ydata().copy() for ln in e] for e in fig.artists]
    look = styles(fig)
    counter = renders(fig)

    assert fig.set_artist_value(ind, y) is None
    for k, entry in enumerate(fig.artists):
        for j, ln in enumerate(entry):
            row = rows[j] if k == target else None
            want = before[k][j] if row is None else V[row]
            assert np.array_equal(ln.get_ydata(), want), (k, j)
    assert styles(fig) == look
    assert counter.count == 1
    # the draw re-fitted y to all data now shown; x stays fixed
    ys = np.concatenate([ln.get_ydata() for ln in fig.ax.lines])
    lo, hi = fig.ax.get_ylim()
    assert lo <= ys.min() and hi >= ys.max() and hi - lo <= 1.2 * np.ptp(ys)
    assert fig.ax.get_xlim() == (0, 100)


def test_set_artist_value_view_shrinks_to_smaller_values(fig):
    fig.add_element(Element(2, base=5000.0))
    fig.set_artist_value(0, np.array([[0.0, 1.0] * 3, [1.0, 2.0] * 3]))
    lo, hi = fig.ax.get_ylim()
    assert -0.5 < lo <= 0 and 2 <= hi < 2.5


@pytest.mark.parametrize("ind,y,exc", [
    (0, [1.0] * 6, AttributeError),
    (0, np.array(5.0), TypeError),
    (2, V[0], IndexError),
    (-3, V[:2], IndexError),
    ("a", V[0], TypeError),
    (1, V[0], IndexError),  # the empty entry has no first line
    (1, V[:2], None),  # zip over an empty entry pairs nothing, still draws
], ids=["no-ndim", "0-d", "beyond", "beyond-negative", "str-index", "1d-empty-entry",
        "2d-empty-entry"])
def test_set_artist_value_failures_change_nothing(fig, renders, ind, y, exc):
    populate(fig, (3, 0))
    before = [ln.get_ydata().copy() for ln in fig.ax.lines]
    counter = renders(fig)
    if exc is None:
        fig.set_artist_value(ind, y)
    else:
        with pytest.raises(exc) as info:
            fig.set_artist_value(ind, y)
        assert native_frames(info.tb) == entries("set_artist_value")
    assert all(np.array_equal(ln.get_ydata(), b) for ln, b in zip(fig.ax.lines, before))
    assert counter.count == (1 if exc is None else 0)


def test_set_artist_value_stops_at_the_failing_line(fig, renders):
    populate(fig, (3,))
    lines = fig.artists[0]
    old = lines[2].get_ydata().copy()

    def refuse(y):
        raise ValueError("bad row")
    lines[1].set_ydata = refuse
    counter = renders(fig)
    with pytest.raises(ValueError, match="bad row"):
        fig.set_artist_value(0, V[:3])
    assert np.array_equal(lines[0].get_ydata(), V[0])
    assert np.array_equal(lines[2].get_ydata(), old)
    assert counter.count == 0


def test_set_artist_value_pairs_with_the_builtin_zip(mod, fig, monkeypatch):
    populate(fig, (2,))
    real, seen = builtins.zip, []

    def recording_zip(*args):
        seen.append(args)
        return real(*args)

    monkeypatch.setattr(mod, "zip", recording_zip, raising=False)
    fig.draw = lambda: None
    builtins.zip = recording_zip
    try:
        fig.set_artist_value(0, V[:2])
    finally:
        builtins.zip = real
    assert not [a for a in seen if a and a[0] is fig.artists[0]]
    assert np.array_equal(fig.artists[0][1].get_ydata(), V[1])


# ---------------------------------------------------------------- set_selection

@pytest.mark.parametrize("i,selected", [(-1, 2), (0, 0), (1, 1), (-3, 0), (np.int64(2), 2)])
def test_set_selection_highlights_exactly_one_element(fig, renders, i, selected):
    populate(fig)
    restyle_oddly(fig)
    counter = renders(fig)
    assert fig.set_selection(i) is None
    assert styles(fig) == expected_styles(fig, selected)
    assert counter.count == 1
    # every call restyles and draws, also for the element already selected
    fig.artists[selected][0].set_color("blue")
    fig.set_selection(i)
    assert styles(fig) == expected_styles(fig, selected) and counter.count == 2


@pytest.mark.parametrize("sizes,i,exc", [((), -1, IndexError), ((), 0, IndexError),
                                         ((1, 2, 3), 3, IndexError),
                                         ((1, 2, 3), -4, IndexError),
                                         ((1, 2, 3), 1.0, TypeError)])
def test_set_selection_out_of_range_greys_everything_and_does_not_draw(fig, renders, sizes, i, exc):
    populate(fig, sizes)
    restyle_oddly(fig)
    counter = renders(fig)
    with pytest.raises(exc) as info:
        fig.set_selection(i)
    assert styles(fig) == [[GREY] * len(e) for e in fig.artists]
    assert counter.count == 0
    assert native_frames(info.tb) == entries("set_selection")


def test_set_selection_looks_plt_up_at_each_use(mod, fig, monkeypatch):
    populate(fig, (1, 2))
    fig.draw = lambda: None
    calls = []

    class Pyplot:
        lookups = 0

        def __getattr__(self, name):
            assert name == "setp"
            Pyplot.lookups += 1
            return lambda *a, **k: calls.append((a, list(k.items())))

    monkeypatch.setattr(mod, "plt", Pyplot())
    fig.set_selection(-1)
    grey = [("color", "0.7"), ("lw", 1), ("zorder", 0)]
    orange = [("color", "orange"), ("lw", 2), ("zorder", 1)]
    assert [(a, k) for a, k in calls] == [((fig.artists[0],), grey), ((fig.artists[1],), grey),
                                          ((fig.artists[1],), orange)]
    assert all(a[0] is e for (a, _), e in zip(calls, fig.artists + fig.artists[1:]))
    assert Pyplot.lookups == 3
    assert all(type(v) in (str, int) for _, k in calls for _, v in k)

    with global_removed(mod, "plt"), pytest.raises(NameError,
                                                   match=r"^name 'plt' is not defined$"):
        fig.set_selection(0)


def test_add_element_failing_in_set_selection_keeps_the_new_entry(mod, fig, renders):
    g = Element(2)
    counter = renders(fig)
    with global_removed(mod, "plt"), pytest.raises(NameError) as info:
        fig.add_element(g)
    assert fig.artists == [g.returned] and on_axes(fig) == lines_of(fig.artists)
    assert counter.count == 0
    assert native_frames(info.tb) == entries("add_element", "set_selection")


@pytest.mark.parametrize("g,exc", [(object(), AttributeError),
                                   (type("Raising", (), {"plot": lambda self, ax, **k: 1 / 0})(),
                                    ZeroDivisionError)])
def test_add_element_failing_in_plot_records_nothing(fig, renders, g, exc):
    populate(fig, (1,))
    before = list(fig.artists)
    counter = renders(fig)
    with pytest.raises(exc) as info:
        fig.add_element(g)
    assert fig.artists == before and counter.count == 0
    assert native_frames(info.tb) == entries("add_element")


# ------------------------------------------------------------------------ leaks

class Line:
    """A minimal artist: removable, with y-data."""

    def remove(self):
        pass

    def set_ydata(self, y):
        pass


class LightElement:
    """Keeps nothing of its calls; plots real lines or stand-ins."""

    def __init__(self, real):
        self.real = real

    def plot(self, ax, color):
        return ax.plot(X, X, X, X, color=color) if self.real else [Line(), Line()]


@pytest.mark.parametrize("kind,cycles", [("stand-ins", 3000), ("matplotlib", 300)])
def test_repeated_operations_leak_nothing(mod, fig, monkeypatch, kind, cycles):
    if kind == "stand-ins":  # the figure's own work only, thousands of times
        monkeypatch.setattr(mod, "plt", type("P", (), {"setp": staticmethod(lambda *a, **k: None)}))
    g = LightElement(real=kind == "matplotlib")
    fig.draw = lambda: None
    y1, y2 = np.arange(6.0), np.ones((3, 6))
    i0, i1 = 10 ** 6, -(10 ** 6)  # uncached ints make reference counts of indexes visible

    def cycle():
        fig.add_element(g)
        fig.add_element(g)
        fig.set_artist_value(0, y1)
        fig.set_artist_value(-1, y2)
        fig.set_selection(0)
        fig.remove_element(i1, i0)
        fig.remove_element(1, 0)
        fig.remove_element(0, -1)
        fig.add_element(g)
        fig.clear()

    for _ in range(50):
        cycle()
    gc.collect()
    watched = (g, y1, y2, i0, i1, fig)
    refs = [sys.getrefcount(o) for o in watched]
    tracked = len(gc.get_objects())
    for _ in range(cycles):
        cycle()
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == refs
    assert len(gc.get_objects()) - tracked <= 10
