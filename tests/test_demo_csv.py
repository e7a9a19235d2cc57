"""The demo's CSV reading: header line, separators, one line per column."""
import numpy as np
import pytest

from zentrope.demo.elements import read_csv


@pytest.mark.parametrize("text, columns, rows", [
    ("\ufeffx,a,b\n0,1,2\n10,3,4\n", ["x", "a", "b"], [[0, 1, 2], [10, 3, 4]]),  # with a BOM
    ("0;1.5\n2;-3e2\n", [], [[0, 1.5], [2, -300]]),
    ("# comment\n\n x\t y \n1\t2\n\n3\t4\n", ["x", "y"], [[1, 2], [3, 4]]),
    ("1 2 3\n4  5 6\n", [], [[1, 2, 3], [4, 5, 6]]),
])
def test_accepted_tables(tmp_path, text, columns, rows):
    path = tmp_path / "walls.csv"
    path.write_text(text, encoding="utf-8")
    element = read_csv(path)
    assert (element.name, element.kind, element.columns) == ("walls", "csv", columns)
    np.testing.assert_array_equal(np.column_stack([element.x, element.ys.T]), rows)
