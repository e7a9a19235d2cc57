"""Plottable elements of the demo: library items and CSV data.

An element is a set of y-series over one shared x axis.  ``plot`` draws one
line per series and returns the lines, which is what the geometry model
figure keeps as the element's artists; ``values`` gives the series as drawn,
rescaled, in the shape the figure's ``set_artist_value`` expects (one row as
a 1-D array, several rows as a 2-D array).

A long series is drawn from a display copy that keeps, of each pixel column
across the x range, the lowest and the highest point (``envelope``): the
line drawn covers the same pixels as the line through every point, while
the element keeps every value.  The copy is made in two steps: a fine one
(FINE_COLUMNS) when a file is read, off the GUI thread, and from it the one
for the figure's width (``fit``), in a moment, whenever that width changes.
"""
import io
import math
import os

import numpy as np

#: the x range the figures show (fixed by the widget); a CSV file's x values
#: outside it are mapped onto it
X_RANGE = (0.0, 100.0)
#: x positions shared by the library items: 0 to 100 in steps of 0.5
X = np.linspace(*X_RANGE, 201)
#: columns of the fine display copy of a long series: more than any figure
#: is wide in pixels, so that a copy for the figure's width is made from it
FINE_COLUMNS = 4096


class Element:
    def __init__(self, name, x, ys, kind, columns=None, x_range=None):
        self.name = str(name)
        self.x = np.asarray(x, dtype=float)
        ys = np.asarray(ys, dtype=float)
        self.ys = np.ascontiguousarray(ys.reshape(1, -1) if ys.ndim == 1 else ys)
        if self.ys.ndim != 2 or self.ys.shape[1] != self.x.shape[0] or len(self.ys) == 0:
            raise ValueError(f"{name}: y-series do not match the {len(self.x)} x positions")
        #: "geometry", "series" (a library item that is not a geometry) or "csv"
        self.kind = kind
        self.columns = list(columns) if columns else []
        #: (min, max) of the x values as read, when they were mapped onto
        #: the figures' x range; None when they are shown as they are
        self.x_range = tuple(x_range) if x_range is not None else None
        self.scale = 1.0
        #: (x rows, y rows), one row per series: the fine display copy, and the one drawn
        self.fine = self.drawn = (np.broadcast_to(self.x, self.ys.shape), self.ys)
        self.drawn_columns = None

    @property
    def nlines(self):
        return len(self.ys)

    def refine(self, columns=None):
        """Make the fine display copy (envelope of ``columns``, default
        FINE_COLUMNS) and draw from it; returns the element."""
        self.fine = self.drawn = envelope(self.x, self.ys, columns or FINE_COLUMNS)
        self.drawn_columns = None
        return self

    def fit(self, columns):
        """Draw from the envelope of the fine copy in ``columns`` columns;
        returns whether what is drawn changed."""
        if columns == self.drawn_columns:
            return False
        self.drawn, self.drawn_columns = envelope(*self.fine, columns), columns
        return True

    def plot(self, ax, color="0.7"):
        lines = []
        for x, y in zip(self.drawn[0], self.values_2d()):
            lines.extend(ax.plot(x, y, color=color))
        return lines

    def values_2d(self, scale=None):
        return self.drawn[1] * (self.scale if scale is None else scale)

    def values(self, scale=None):
        """The y-values drawn, times ``scale`` (default: the element's own scale)."""
        scaled = self.values_2d(scale)
        return scaled[0] if self.nlines == 1 else scaled

    def describe(self):
        return {"name": self.name, "kind": self.kind, "lines": self.nlines,
                "scale": self.scale, "x_range": list(self.x_range) if self.x_range else None}

    def x_note(self, short=False):
        """How the x values are shown, when they were mapped; else ''."""
        if self.x_range is None:
            return ""
        (lo, hi), (start, end) = self.x_range, X_RANGE
        if short:
            return f"x {lo:g}…{hi:g} → {start:g}…{end:g}"
        return f"its x values {lo:g} to {hi:g} are shown as {start:g} to {end:g}"


def envelope(x, ys, columns, span=X_RANGE):
    """(x rows, y rows): the series ``ys`` over ``x`` (shared, or a row per
    series) cut down to what draws them at ``columns`` columns across ``span``.

    Of each run of consecutive points within one column (for x in order, a
    run is a column) the lowest and the highest point are kept, in their
    order; rows come out of one length, a shorter one padded with its last
    point.  A series too short to gain is kept whole.
    """
    xs = np.broadcast_to(x, ys.shape)
    if ys.shape[1] <= 2 * columns:
        return xs, ys
    runs = [_runs(x, columns, span)] * len(ys) if np.ndim(x) == 1 else [_runs(r, columns, span) for r in x]
    picks = [_extremes(y, *(r or ())) for y, r in zip(ys, runs)]
    length = max(len(p) for p in picks)
    if length >= ys.shape[1]:
        return xs, ys
    picks = np.array([np.pad(p, (0, length - len(p)), mode="edge") for p in picks])
    return np.take_along_axis(xs, picks, axis=1), np.take_along_axis(ys, picks, axis=1)


def _runs(x, columns, span):
    """(start of each run, run of each point), or None when runs are too short to gain."""
    column = np.floor((x - span[0]) * (columns / (span[1] - span[0])))
    starts = np.concatenate([[0], np.flatnonzero(np.diff(column)) + 1])
    if 2 * len(starts) >= len(x):
        return None
    return starts, np.repeat(np.arange(len(starts)), np.diff(np.append(starts, len(x))))


def _extremes(y, starts=None, run=None):
    """Indices of the lowest and the highest point of each run, in order."""
    n = len(y)
    if starts is None:
        return np.arange(n)
    index = np.arange(n)
    low = np.minimum.reduceat(np.where(y == np.minimum.reduceat(y, starts)[run], index, n), starts)
    high = np.minimum.reduceat(np.where(y == np.maximum.reduceat(y, starts)[run], index, n), starts)
    return np.column_stack([np.minimum(low, high), np.maximum(low, high)]).ravel()


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
#: the largest y value (in size) a file may hold: the figures' tick layout
#: fails once the y range shown nears the float limit (about ±7e307); this
#: leaves room for the scale box's largest scale and for elements of either
#: sign in one figure
Y_LIMIT = 1e306
#: characters handed to the numeric parser at a time (whole lines): each
#: piece holds the interpreter lock for a few milliseconds only, so that a
#: file read on a worker thread leaves the GUI thread free to run
_PIECE = 256 * 1024


def _content(line):
    """A line without its comment ('#' to the end) and surrounding blanks."""
    return line.split("#", 1)[0].strip()


def _split(line, delimiter):
    return line.split() if delimiter is None else [f.strip() for f in line.split(delimiter)]


def _numbers(fields):
    try:
        values = [float(f) for f in fields]
    except ValueError:
        return None
    return values


def _is_header(fields):
    """A first line is a header when none of its fields is a number."""
    return all(_numbers([f]) is None for f in fields)


def _quoted(field, limit=24):
    text = field if len(field) <= limit else field[:limit - 1] + "…"
    return repr(text)


def _fits(table):
    """Whether every value is finite and every y value within ±Y_LIMIT."""
    if not np.isfinite(table).all():
        return False
    ys = np.ascontiguousarray(table[:, 1:].T)  # reduced far faster than the strided columns
    return bool(ys.size == 0 or max(-ys.min(), ys.max()) <= Y_LIMIT)


def _first_line(text):
    """(start offset, end offset, content) of the first line holding data."""
    start = 0
    while start < len(text):
        end = text.find("\n", start)
        end = len(text) if end < 0 else end
        content = _content(text[start:end])
        if content:
            return start, end, content
        start = end + 1
    return None


def parse_csv(text, source="data"):
    """Parse a table of numbers line by line: returns (column names, rows).

    Fields are separated by commas, semicolons or tabs (whichever the first
    line uses) or else by white space.  '#' starts a comment, which runs to
    the end of the line; blank lines are skipped.  The first line is a
    header of column names when none of its fields is a number; every data
    line must hold as many finite numbers as the first, y values (all but
    the first) within ±Y_LIMIT.  Errors name the line and what is wrong.
    """
    lines = [(n, _content(line)) for n, line in enumerate(text.split("\n"), 1)]
    lines = [(n, line) for n, line in lines if line]
    if not lines:
        raise CsvError(f"{source}: the file holds no data")
    first = lines[0][1]
    delimiter = next((d for d in ",;\t" if d in first), None)

    header = None
    fields = _split(first, delimiter)
    if _is_header(fields):
        header = fields
        lines = lines[1:]
    rows = []
    for n, line in lines:
        fields = _split(line, delimiter)
        values = _numbers(fields)
        if values is None:
            bad = next(f for f in fields if _numbers([f]) is None)
            raise CsvError(f"{source}, line {n}: {_quoted(bad)} is not a number")
        width = len(header) if header is not None else len(rows[0]) if rows else len(values)
        if len(values) != width:
            raise CsvError(f"{source}, line {n}: expected {width} values, found {len(values)}")
        if not all(math.isfinite(v) for v in values):
            raise CsvError(f"{source}, line {n}: values must be finite numbers")
        if any(abs(v) > Y_LIMIT for v in values[1:]):
            raise CsvError(f"{source}, line {n}: y values must lie within ±{Y_LIMIT:g} "
                           "(the figures cannot lay out larger ones)")
        rows.append(values)
    _check_shape(source, len(rows), len(rows[0]) if rows else 0)
    return header, rows


def _check_shape(source, nrows, ncols):
    if nrows < 2:
        raise CsvError(f"{source}: at least two rows of numbers are needed, found {nrows}")
    if ncols < 2:
        raise CsvError(f"{source}: needs an x column and at least one y column")


def _layout(text):
    """(delimiter, header or None, offset of the first data line) of a
    table, or None when the text holds no data."""
    first = _first_line(text)
    if first is None:
        return None
    start, end, content = first
    delimiter = next((d for d in ",;\t" if d in content), None)
    fields = _split(content, delimiter)
    return (delimiter, fields, end + 1) if _is_header(fields) else (delimiter, None, start)


def _parse_fast(text):
    """The table through numpy's parser, a piece of whole lines at a time.

    Returns (header, 2-D array), or None when the text is not a well-formed
    table by parse_csv's rules (then parse_csv says what is wrong).
    """
    layout = _layout(text)
    if layout is None:
        return None
    delimiter, header, start = layout
    pieces = []
    while start < len(text):
        stop = text.find("\n", start + _PIECE) + 1
        if stop == 0 or len(text) - stop < _PIECE:  # no short piece at the end
            stop = len(text)
        piece = text[start:stop]
        start = stop
        if _first_line(piece) is None:
            continue  # nothing but comments: numpy's parser would warn
        try:
            pieces.append(np.loadtxt(io.StringIO(piece), dtype=float, delimiter=delimiter,
                                     comments="#", ndmin=2))
        except ValueError:
            return None
    if not pieces or len({p.shape[1] for p in pieces}) != 1:
        return None
    table = pieces[0] if len(pieces) == 1 else np.concatenate(pieces)
    if (header is not None and len(header) != table.shape[1]) or not _fits(table):
        return None
    return header, table


def parse_table(text, source="data"):
    """Parse a table of numbers (rules of parse_csv): returns (column names
    or None, 2-D float array with one row per line)."""
    parsed = _parse_fast(text)
    if parsed is None:
        # Not a clean table: the line-by-line parser finds the line at fault
        # (and reads the few tables numpy's parser refuses, such as '1_000').
        header, rows = parse_csv(text, source)
        parsed = header, np.array(rows, dtype=float)
    header, table = parsed
    _check_shape(source, *table.shape)
    return header, table


def fit_x(x, source="data"):
    """x values as the figures show them: returns (x, original range or None).

    Values within X_RANGE are kept.  Otherwise the smallest value is mapped
    to the start of X_RANGE and the largest to its end, linearly, and the
    original (min, max) is returned with them.
    """
    lo, hi = float(x.min()), float(x.max())
    if lo == hi:
        raise CsvError(f"{source}: every x value is {lo:g}; "
                       "at least two different x values are needed")
    if X_RANGE[0] <= lo and hi <= X_RANGE[1]:
        return x, None
    if math.isfinite(hi - lo):
        unit = (x - lo) / (hi - lo)
    else:  # in halves, so that the span of values near the float limits stays finite
        unit = (x / 2 - lo / 2) / (hi / 2 - lo / 2)
    mapped = X_RANGE[0] + np.clip(unit, 0.0, 1.0) * (X_RANGE[1] - X_RANGE[0])
    return mapped, (lo, hi)


def display_name(path):
    """The file name of ``path`` as text that can be shown (bytes that are
    not UTF-8 shown as replacement characters)."""
    name = os.path.basename(os.fspath(path)) or os.fspath(path)
    return os.fsencode(name).decode("utf-8", "replace")


def read_csv(path, max_bytes=MAX_CSV_BYTES, columns=FINE_COLUMNS):
    """Read the CSV file at ``path`` into an Element named after the file.

    The first column is x (mapped onto X_RANGE when it leaves it, see
    fit_x), every further column one line; its fine display copy is made in
    ``columns`` columns (Element.refine), none when None.
    Raises CsvError with a message fit for the user when the file cannot be
    read or parsed, or is larger than ``max_bytes`` (None: no limit).  Safe
    to call on a worker thread: it touches no Qt object.
    """
    path = os.fspath(path)
    source = display_name(path)
    try:
        if max_bytes is not None and os.path.getsize(path) > max_bytes:
            raise CsvError(f"{source}: the file is larger than {max_bytes / 2**20:g} MiB")
        with open(path, encoding="utf-8-sig") as f:
            text = f.read()
    except UnicodeDecodeError:
        raise CsvError(f"{source}: not a text file (UTF-8 expected)") from None
    except OSError as e:
        raise CsvError(f"{source}: cannot read the file ({e.strerror or e})") from None
    header, table = parse_table(text, source)
    x, x_range = fit_x(table[:, 0], source)
    name = os.path.splitext(source)[0]
    element = Element(name, x, table[:, 1:].T, "csv", columns=header, x_range=x_range)
    return element.refine(columns) if columns else element
