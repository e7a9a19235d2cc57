"""Real widgets: what the module's own cost amounts to next to matplotlib's.

Two measurements, both with a QApplication (offscreen without a display):

- ``method_lookup``: looking a method up on a real, constructed widget, as
  every ``fig.add_element(...)`` of the application and every Qt event
  dispatch does. PySide's attribute hook runs on each look-up, and its cost
  depends on what kind of object the class holds, so it is measured for the
  native class and for the twins (made real by running the Qt canvas
  constructor on them).
- ``end_to_end``: the native GeometryModelFigure with five real elements,
  every operation timed with its real matplotlib draw.
"""
import os
import statistics
import time
import timeit

import numpy as np

import impls  # noqa: F401  (selects PySide6)
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.figure import Figure
from PySide6 import QtWidgets

X = np.linspace(0.0, 100.0, 201)


def application():
    if not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    return QtWidgets.QApplication.instance() or QtWidgets.QApplication([])


class Curve:
    """A geometry element of one or more y-series over X."""

    def __init__(self, *ys):
        self.ys = ys

    def plot(self, ax, color="0.7"):
        lines = []
        for y in self.ys:
            lines.extend(ax.plot(X, y, color=color))
        return lines


def elements():
    return [Curve(np.sin(X / 10) * 10 + k, np.cos(X / 7) * 5 + k) if k % 2 else Curve(0.2 * X + k)
            for k in range(5)]


def real_widget(impl):
    """A constructed GeometryModelFigure of ``impl``, with its Qt object."""
    if impl.name == "native":
        return impl.cls("GeometryModelFigure")(None, None)
    # The twins' own base skips the Qt canvas constructor; run it directly.
    widget = impl.bare_instance("GeometryModelFigure")
    FigureCanvasQTAgg.__init__(widget, Figure())
    return widget


def method_lookup(impl_list, repeats=15, number=20000):
    """ns per look-up of a method on a real widget, and on a bare instance."""
    application()
    rows = {}
    for impl in impl_list:
        real = real_widget(impl)
        bare = impl.bare_instance("GeometryModelFigure")
        row = {}
        for label, obj in (("real", real), ("bare", bare)):
            t = min(timeit.repeat("w.set_selection", globals={"w": obj}, number=number, repeat=repeats))
            row[label] = t / number * 1e9
        rows[impl.name] = row
    return rows


def _time(fn, cleanup=None, repeats=15, warmup=2):
    samples = []
    for i in range(warmup + repeats):
        t0 = time.perf_counter()
        fn()
        t = time.perf_counter() - t0
        if cleanup:
            cleanup()
        if i >= warmup:
            samples.append(t)
    return {"median_us": statistics.median(samples) * 1e6, "min_us": min(samples) * 1e6}


def end_to_end(native, repeats=15):
    """Times of real operations on a native GeometryModelFigure (µs)."""
    application()
    figure_class = native.cls("GeometryModelFigure")
    fig = figure_class(None, None)
    fig.resize(640, 480)
    for element in elements():
        fig.add_element(element)
    extra = Curve(np.sqrt(X))
    y = np.cos(X / 5) * 20
    made = []
    # Each operation with the micro-benchmark rows that make up the module's
    # own share of it (the method itself plus the draw/set_selection it calls).
    draw = "draw: bare instance"
    select = "set_selection: 5 elements"
    ops = [
        ("render only (FigureCanvasQTAgg.draw)", (), lambda: FigureCanvasQTAgg.draw(fig), None),
        ("draw", (draw,), fig.draw, None),
        ("dragLeaveEvent", ("dragLeaveEvent", draw), lambda: fig.dragLeaveEvent(None), None),
        ("set_selection, 5 elements", (select, draw), lambda: fig.set_selection(2), None),
        ("set_artist_value, 1-D", ("set_artist_value: 1-D", draw), lambda: fig.set_artist_value(4, y), None),
        ("add_element, 6th element", ("add_element", select, draw), lambda: fig.add_element(extra),
         lambda: fig.remove_element(5, -1)),
        ("set_bgcolor (draws nothing)", ("set_bgcolor",), lambda: fig.set_bgcolor("white"), None),
        ("GeometryModelFigure(None, None)", ("GeometryModelFigure.__init__: bare instance",),
         lambda: made.append(figure_class(None, None)), None),
    ]
    results = []
    for label, micro_key, fn, cleanup in ops:
        results.append({"op": label, "micro": micro_key, **_time(fn, cleanup, repeats)})
    for widget in made:
        widget.deleteLater()
    QtWidgets.QApplication.processEvents()
    return results
