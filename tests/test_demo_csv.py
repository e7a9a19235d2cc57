"""The demo's CSV reading: header line, separators, pieces, the x mapping."""
from contextlib import nullcontext

import numpy as np
import pytest

from zentrope.demo import elements
from zentrope.demo.elements import CsvError, envelope, fit_x, parse_table, read_csv


@pytest.mark.parametrize("text, columns, rows", [
    ("\ufeffx,a,b\n0,1,2\n10,3,4\n", ["x", "a", "b"], [[0, 1, 2], [10, 3, 4]]),  # with a BOM
    ("0;1.5\n2;-3e2\n", [], [[0, 1.5], [2, -300]]),
    ("# comment\n\n x\t y \n1\t2\n\n3\t4  # note\n", ["x", "y"], [[1, 2], [3, 4]]),
    ("1 2 3\n4  5 6\n", [], [[1, 2, 3], [4, 5, 6]]),
    ("x,y\n1,2_000\n3,4\n", ["x", "y"], [[1, 2000], [3, 4]]),  # only the line parser takes it
    ("0,-1e306\n1,1e306\n", [], [[0, -1e306], [1, 1e306]]),  # y at the limit
])
def test_accepted_tables(tmp_path, text, columns, rows):
    path = tmp_path / "walls.csv"
    path.write_text(text, encoding="utf-8")
    element = read_csv(path)
    assert (element.name, element.kind, element.columns) == ("walls", "csv", columns)
    np.testing.assert_array_equal(np.column_stack([element.x, element.ys.T]), rows)


@pytest.mark.parametrize("tail, expected", [
    pytest.param("", None, id="clean: same table"),
    pytest.param("\n# only a comment\n\n", None, id="comment and blank pieces"),
    pytest.param("50,oops\n", "line 52: 'oops' is not a number", id="fault in a late piece"),
    pytest.param("50,1,2\n", "line 52: expected 2 values, found 3", id="wider late piece"),
])
@pytest.mark.filterwarnings("error")
def test_table_read_in_pieces(monkeypatch, tail, expected):
    monkeypatch.setattr(elements, "_PIECE", 16)  # a piece of one or two lines
    with pytest.raises(CsvError, match="at least two rows of numbers are needed, found 0"):
        parse_table("x,y\n# none\n" + tail.replace("50,", "#"), "f.csv")
    text = "x,y\n" + "".join(f"{i},{i * i}\n" for i in range(50)) + tail
    with pytest.raises(CsvError, match=f"^f.csv, {expected}$") if expected else nullcontext():
        np.testing.assert_array_equal(parse_table(text, "f.csv")[1], [[i, i * i] for i in range(50)])


@pytest.mark.parametrize("x, shown, x_range", [
    pytest.param([0, 100, 20], [0, 100, 20], None, id="inside, ends included: kept"),
    pytest.param([0, 200, 50], [0, 100, 25], (0, 200), id="beyond 100"),
    pytest.param([-50, 50, 0], [0, 100, 50], (-50, 50), id="below 0"),
    pytest.param([-1e308, 1e308, 0], [0, 100, 50], (-1e308, 1e308), id="span beyond float range"),
    pytest.param([-5e-324, 5e-324, 0], [0, 100, 50], (-5e-324, 5e-324), id="span of subnormals"),
])
def test_x_values_outside_0_to_100_are_mapped_linearly(x, shown, x_range):
    mapped, got_range = fit_x(np.array(x, dtype=float))
    np.testing.assert_allclose(mapped, shown)
    assert got_range == x_range


@pytest.mark.parametrize("ordered, rows, fine", [
    (True, 20_000, None), (True, 20_000, 1000), (False, 20_000, None), (True, 150, None)])
def test_display_copy_keeps_the_extremes_of_each_column_in_order(ordered, rows, fine):
    rng = np.random.default_rng(1)
    x = np.linspace(0, 100, rows) if ordered else rng.uniform(0, 100, rows)
    ys = np.vstack([rng.normal(size=rows).cumsum(), np.sin(x)])
    # columns 1 wide; the two steps of a file's copy nest exactly (ten fine columns to one)
    xs, kept = envelope(*envelope(x, ys, fine), 100) if fine else envelope(x, ys, 100)
    if not ordered or rows < 200:  # runs too short to gain, or a short series: kept whole
        assert (xs == x).all() and (kept == ys).all()
        return
    assert xs.shape == kept.shape and xs.shape[1] <= 2 * 101
    for row_x, row, y in zip(xs, kept, ys):
        index = np.searchsorted(x, row_x)  # points of the series, in its order
        assert (np.diff(index) >= 0).all() and (x[index] == row_x).all() and (y[index] == row).all()
        for column in range(101):
            extremes = lambda v: (v.min(), v.max())  # noqa: E731
            assert extremes(y[np.floor(x) == column]) == extremes(row[np.floor(row_x) == column])
