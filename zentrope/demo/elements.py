"""Plottable elements of the demo: library items and CSV data.

An element is a set of y-series over one shared x axis.  ``plot`` draws one
line per series and returns the lines, which is what the geometry model
figure keeps as the element's artists; ``values`` gives the series rescaled,
in the shape the figure's ``set_artist_value`` expects (one row as a 1-D
array, several rows as a 2-D array).
"""
import math
import os

import numpy as np

#: x positions shared by the library items: 0 to 100 in steps of 0.5
X = np.linspace(0.0, 100.0, 201)


class Element:
    def __init__(self, name, x, ys, kind, columns=None):
        self.name = str(name)
        self.x = np.asarray(x, dtype=float)
        ys = np.asarray(ys, dtype=float)
        self.ys = ys.reshape(1, -1) if ys.ndim == 1 else ys
        if self.ys.ndim != 2 or self.ys.shape[1] != self.x.shape[0] or len(self.ys) == 0:
            raise ValueError(f"{name}: y-series do not match the {len(self.x)} x positions")
        #: "geometry", "series" (a library item that is not a geometry) or "csv"
        self.kind = kind
        self.columns = list(columns) if columns else []
        self.scale = 1.0

    @property
    def nlines(self):
        return len(self.ys)

    def plot(self, ax, color="0.7"):
        lines = []
        for y in self.ys:
            lines.extend(ax.plot(self.x, y, color=color))
        return lines

    def values(self, scale=None):
        """The y-values times ``scale`` (default: the element's own scale)."""
        scaled = self.ys * (self.scale if scale is None else scale)
        return scaled[0] if self.nlines == 1 else scaled

    def describe(self):
        return {"name": self.name, "kind": self.kind, "lines": self.nlines,
                "scale": self.scale}


# --- the label library -----------------------------------------------------

def _arch():
    return 25.0 * np.sqrt(np.clip(1.0 - ((X - 50.0) / 40.0) ** 2, 0.0, None))


def _wedge():
    return 0.3 * X


def _channel():
    floor = 2.0 + 6.0 * np.exp(-((X - 50.0) / 10.0) ** 2)
    ceiling = np.full_like(X, 20.0)
    return np.vstack([floor, ceiling])


def _steps():
    return 5.0 * np.minimum(np.floor(X / 20.0), 4.0)


def _load_curve():
    return 12.0 * (1.0 - np.exp(-X / 20.0))


def _temperature():
    return 20.0 + 8.0 * np.sin(2.0 * math.pi * X / 50.0) * np.exp(-X / 80.0)


#: name -> (is a geometry, function returning the y-series over X)
LIBRARY = {
    "Arch": (True, _arch),
    "Wedge": (True, _wedge),
    "Channel": (True, _channel),
    "Steps": (True, _steps),
    "Load curve": (False, _load_curve),
    "Temperature": (False, _temperature),
}


def make_library_element(name):
    """A new element for the library item ``name`` (KeyError if unknown)."""
    isgeom, series = LIBRARY[name]
    return Element(name, X, series(), "geometry" if isgeom else "series")


# --- CSV files ---------------------------------------------------------------

class CsvError(ValueError):
    """A CSV file that cannot be read or is not a table of numbers."""


#: files larger than this are refused rather than read into memory
MAX_CSV_BYTES = 20 * 1024 * 1024


def _split(line, delimiter):
    return line.split() if delimiter is None else [f.strip() for f in line.split(delimiter)]


def _numbers(fields):
    try:
        values = [float(f) for f in fields]
    except ValueError:
        return None
    return values


def parse_csv(text, source="data"):
    """Parse a table of numbers: returns (column names, rows as float lists).

    Fields are separated by commas, semicolons or tabs (whichever the first
    line uses) or else by white space.  Blank lines and lines starting with
    '#' are skipped.  The first line may be a header of column names; every
    other line must hold as many finite numbers as the first.
    """
    lines = [(n, line.strip()) for n, line in enumerate(text.splitlines(), 1)]
    lines = [(n, line) for n, line in lines if line and not line.startswith("#")]
    if not lines:
        raise CsvError(f"{source}: the file holds no data")
    first = lines[0][1]
    delimiter = next((d for d in ",;\t" if d in first), None)

    header = None
    fields = _split(first, delimiter)
    if _numbers(fields) is None:
        header = fields
        lines = lines[1:]
    rows = []
    for n, line in lines:
        fields = _split(line, delimiter)
        values = _numbers(fields)
        if values is None:
            bad = next(f for f in fields if _numbers([f]) is None)
            raise CsvError(f"{source}, line {n}: {bad!r} is not a number")
        width = len(header) if header is not None else len(rows[0]) if rows else len(values)
        if len(values) != width:
            raise CsvError(f"{source}, line {n}: expected {width} values, found {len(values)}")
        if not all(math.isfinite(v) for v in values):
            raise CsvError(f"{source}, line {n}: values must be finite numbers")
        rows.append(values)
    if len(rows) < 2:
        raise CsvError(f"{source}: at least two rows of numbers are needed, found {len(rows)}")
    if len(rows[0]) < 2:
        raise CsvError(f"{source}: needs an x column and at least one y column")
    return header, rows


def read_csv(path):
    """Read the CSV file at ``path`` into an Element named after the file.

    The first column is x, every further column one line.  Raises CsvError
    with a message fit for the user when the file cannot be read or parsed.
    """
    path = os.fspath(path)
    source = os.path.basename(path) or path
    try:
        if os.path.getsize(path) > MAX_CSV_BYTES:
            raise CsvError(f"{source}: the file is larger than {MAX_CSV_BYTES // 2**20} MiB")
        with open(path, encoding="utf-8-sig") as f:
            text = f.read()
    except UnicodeDecodeError:
        raise CsvError(f"{source}: not a text file (UTF-8 expected)") from None
    except OSError as e:
        raise CsvError(f"{source}: cannot read the file ({e.strerror or e})") from None
    header, rows = parse_csv(text, source)
    table = np.array(rows, dtype=float)
    name = os.path.splitext(source)[0]
    return Element(name, table[:, 0], table[:, 1:].T, "csv", columns=header)
