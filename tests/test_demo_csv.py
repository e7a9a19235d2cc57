"""The demo's CSV reading and its elements."""
import numpy as np
import pytest
from matplotlib.figure import Figure

from zentrope.demo.elements import CsvError, Element, make_library_element, parse_csv, read_csv


@pytest.mark.parametrize("text, header, rows", [
    ("x,a,b\n0,1,2\n10,3,4\n", ["x", "a", "b"], [[0, 1, 2], [10, 3, 4]]),
    ("0;1.5\n2;-3e2\n", None, [[0, 1.5], [2, -300]]),
    ("# comment\n\n x\t y \n1\t2\n\n3\t4\n", ["x", "y"], [[1, 2], [3, 4]]),
    ("1 2 3\n4  5 6\n", None, [[1, 2, 3], [4, 5, 6]]),
])
def test_accepted_tables(text, header, rows):
    assert parse_csv(text) == (header, rows)


@pytest.mark.parametrize("text, message", [
    ("", "holds no data"),
    ("# only a comment\n", "holds no data"),
    ("x,y\n", "at least two rows"),
    ("x,y\n1,2\n", "at least two rows"),
    ("x\n1\n2\n", "needs an x column"),
    ("x,y\n1,2\n3,oops\n", "line 3: 'oops' is not a number"),
    ("1,2\n3,4,5\n", "line 2: expected 2 values, found 3"),
    ("x,y,z\n1,2\n3,4\n", "line 2: expected 3 values, found 2"),
    ("1,2\nx,y\n", "line 2: 'x' is not a number"),
    ("1,2\n3,nan\n", "line 2: values must be finite"),
    ("1,inf\n3,4\n", "line 1: values must be finite"),
])
def test_malformed_tables(text, message):
    with pytest.raises(CsvError, match=message):
        parse_csv(text, "f.csv")


def test_read_csv_makes_one_line_per_column(tmp_path):
    path = tmp_path / "walls.csv"
    path.write_bytes(b"\xef\xbb\xbfx,top,bottom\n0,5,1\n50,6,2\n100,7,0\n")
    element = read_csv(path)
    assert (element.name, element.kind, element.columns) == ("walls", "csv", ["x", "top", "bottom"])
    np.testing.assert_array_equal(element.x, [0, 50, 100])
    np.testing.assert_array_equal(element.ys, [[5, 6, 7], [1, 2, 0]])


@pytest.mark.parametrize("make", [
    lambda d: d / "missing.csv",
    lambda d: d,
    lambda d: (d / "binary.csv").write_bytes(b"\xff\xfe\x00\x81,\x00\n") and d / "binary.csv",
])
def test_unreadable_files(tmp_path, make):
    with pytest.raises(CsvError, match=r"cannot read|not a text file"):
        read_csv(make(tmp_path))


@pytest.mark.parametrize("name, lines", [("Arch", 1), ("Channel", 2)])
def test_element_plots_and_rescales(name, lines):
    element = make_library_element(name)
    ax = Figure().add_subplot()
    drawn = element.plot(ax, color="0.7")
    assert len(drawn) == lines and all(line.axes is ax for line in drawn)
    assert all(line.get_color() == "0.7" for line in drawn)
    assert (drawn[0].get_xdata().min(), drawn[0].get_xdata().max()) == (0, 100)
    element.scale = 2.0
    values = element.values()
    assert values.ndim == (1 if lines == 1 else 2)
    np.testing.assert_allclose(np.atleast_2d(values), 2.0 * np.array([l.get_ydata() for l in drawn]))


def test_element_rejects_series_that_do_not_fit_x():
    with pytest.raises(ValueError, match="do not match"):
        Element("bad", [0, 1, 2], [[1, 2]], "csv")
