"""Benchmark of the demo with large CSV files: loading them, and working with them loaded.

    .venv/bin/python bench/csv_load.py [--rows 10000,100000,500000,2000000]
                                       [--repeat 5] [--json out.json]

Generates CSV files (x from 0 to 200, two y columns, 6 significant digits,
about 25 bytes a row) of the given row counts, plus one just under the demo's
20 MiB limit, and measures on the demo window (Qt's offscreen platform
unless a display is set):

- loading, for each file: *parse*, ``read_csv`` on the main thread with no
  GUI running (the size limit lifted for this column only); *drop → plot*,
  from a real Qt drop on the geometry figure (its drag-enter was delivered
  before) until the new plot is painted, or the refusal shown for a file over
  the limit; *plot*, the window's ``add_element`` (lines made and rendered);
  *longest GUI gap*, the longest interval between two ticks of a 10 ms
  QTimer from the drop to the paint, rendering included;
- interaction, with three files of just under 20 MiB loaded (two on the
  geometry figure, one on the workbench), each from the input event until
  its picture is painted: *select*, a click on an element-list entry of the
  other figure (two figures redrawn); *scale*, the scale box's up or down
  arrow key; *delete*, a click on Delete (the element is put back, untimed);
  *drag tint*, a CSV file's drag-enter on a figure.

Each figure is given as the median and the worst of the repeats.  The load
average before and after the run is printed with the tables.
"""
import argparse
import json
import os
import platform
import statistics
import sys
import tempfile
import time

if not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

import numpy as np  # noqa: E402
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg  # noqa: E402
from PySide6 import QtCore, QtGui, QtTest, QtWidgets  # noqa: E402

from zentrope.demo.elements import MAX_CSV_BYTES, read_csv  # noqa: E402

TICK_MS = 10
Qt = QtCore.Qt


def write_table(path, rows, seed=1):
    rng = np.random.default_rng(seed)
    x = np.linspace(0.0, 200.0, rows)
    table = np.column_stack([x, 10 * np.sin(x / 7) + rng.normal(size=rows), 5 * np.cos(x / 3)])
    with open(path, "w", encoding="utf-8") as f:
        f.write("x,a,b\n")
        np.savetxt(f, table, fmt="%.6g", delimiter=",")
    return os.path.getsize(path)


def rows_under_limit(directory):
    """Rows of a generated file that stays just under MAX_CSV_BYTES."""
    probe = os.path.join(directory, "probe.csv")
    per_row = write_table(probe, 100_000) / 100_000
    os.remove(probe)
    return int(MAX_CSV_BYTES / per_row * 0.98)


class Recorder:
    """Ticks of a 10 ms timer, and the times at which figures finished painting."""

    def __init__(self):
        self.ticks, self.paints = [], []
        self.timer = QtCore.QTimer()
        self.timer.setTimerType(Qt.TimerType.PreciseTimer)
        self.timer.timeout.connect(lambda: self.ticks.append(time.perf_counter()))
        paint, recorder = FigureCanvasQTAgg.paintEvent, self

        def timed_paint(canvas, event):
            paint(canvas, event)
            recorder.paints.append(time.perf_counter())
        FigureCanvasQTAgg.paintEvent = timed_paint

    def start(self):
        self.ticks.clear()
        self.paints.clear()
        self.timer.start(TICK_MS)

    def stop(self):
        self.timer.stop()

    def painted_after(self, t):
        return next((p for p in self.paints if p >= t), None)

    def gap(self, start, end):
        """The longest interval between two ticks (or the ends) within [start, end]."""
        ticks = [start] + [t for t in self.ticks if start < t < end] + [end]
        return max(np.diff(ticks))


def settle(app, seconds=0.3):
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        app.processEvents(QtCore.QEventLoop.ProcessEventsFlag.AllEvents, 20)


def enter_event(target, mime):
    pos = QtCore.QPointF(target.rect().center())
    args = (Qt.DropAction.CopyAction, mime, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier)
    try:  # PySide6 6.12 takes a QPointF and deprecates the QPoint form, which 6.5 alone has
        return QtGui.QDragEnterEvent(pos, *args)
    except TypeError:
        return QtGui.QDragEnterEvent(pos.toPoint(), *args)


def file_mime(path):
    mime = QtCore.QMimeData()
    mime.setUrls([QtCore.QUrl.fromLocalFile(path)])
    return mime


def load(app, window, recorder, path, key="geometry"):
    """One drop of ``path`` on figure ``key``, its drag-enter delivered before; the timings."""
    from zentrope.demo.session import wait_for_loads
    figure, mime = window.figures[key], file_mime(path)
    QtWidgets.QApplication.sendEvent(figure, enter_event(figure, mime))
    settle(app, 0.1)
    plotted, add = [], window.add_element

    def timed_add(*args):
        start = time.perf_counter()
        add(*args)
        plotted.append((start, time.perf_counter()))
    window.add_element = timed_add
    recorder.start()
    t0 = time.perf_counter()
    try:
        drop = QtGui.QDropEvent(QtCore.QPointF(figure.rect().center()), Qt.DropAction.CopyAction, mime,
                                Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier)
        QtWidgets.QApplication.sendEvent(figure, drop)
        if not wait_for_loads(window, 120):
            raise RuntimeError(f"{path} was not read in time")
        settle(app, 0.1)
    finally:
        recorder.stop()
        del window.add_element
    if plotted:
        t1 = recorder.painted_after(plotted[0][1]) or plotted[0][1]
    else:
        t1 = recorder.painted_after(t0) or time.perf_counter()
    return {"drop_to_plot": t1 - t0, "gap": recorder.gap(t0, t1),
            "plot": plotted[0][1] - plotted[0][0] if plotted else None,
            "refused": None if plotted else window.model.message}


def median_worst(values):
    values = [v for v in values if v is not None]
    return [statistics.median(values), max(values)] if values else None


def run_loads(app, window, recorder, scratch, row_counts, repeat):
    results = []
    cases = [(f"{n:,}", n) for n in row_counts]
    limit_rows = rows_under_limit(scratch)
    cases.append((f"{limit_rows:,} (20 MiB)", limit_rows))
    for label, rows in sorted(cases, key=lambda c: c[1]):
        path = os.path.join(scratch, f"rows_{rows}.csv")
        size = write_table(path, rows)
        parse = []
        for _ in range(repeat):
            start = time.perf_counter()
            read_csv(path, max_bytes=None)
            parse.append(time.perf_counter() - start)
        loads = []
        for _ in range(repeat):
            window.clear_all()
            settle(app)
            loads.append(load(app, window, recorder, path))
        os.remove(path)
        results.append({"rows": label, "bytes": size, "parse": median_worst(parse),
                        **{k: median_worst([r[k] for r in loads]) for k in ("drop_to_plot", "gap", "plot")},
                        "refused": loads[0]["refused"]})
        print(f"  {label} rows: done", file=sys.stderr)
    return results


def run_interaction(app, window, recorder, scratch, repeat):
    """Timings of select, scale, delete and drag tint with three 20 MiB files loaded."""
    rows = rows_under_limit(scratch)
    window.clear_all()
    for i, key in enumerate(("geometry", "geometry", "workbench")):
        path = os.path.join(scratch, f"big_{i}.csv")
        write_table(path, rows, seed=i)
        load(app, window, recorder, path, key)
    settle(app, 0.5)
    times = {"select": [], "scale": [], "delete": [], "drag tint": []}

    def timed(what, action):
        settle(app, 0.15)
        recorder.start()
        start = time.perf_counter()
        action()
        end = time.perf_counter()
        settle(app, 0.1)
        recorder.stop()
        times[what].append((recorder.painted_after(end) or end) - start)

    def click(widget, pos=None):
        QtTest.QTest.mouseClick(widget, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier,
                                pos or widget.rect().center())

    def click_entry(row):
        rect = window.element_list.visualItemRect(window.element_list.item(row))
        click(window.element_list.viewport(), rect.center())

    for k in range(repeat):
        # an entry of the other figure: rows 0 and 1 are on the geometry figure, row 2 on the workbench
        row = 2 if window.model.current[0] == "geometry" else k % 2
        timed("select", lambda: click_entry(row))
        timed("scale", lambda: QtTest.QTest.keyClick(window.scale_spin, Qt.Key.Key_Up))
        timed("scale", lambda: QtTest.QTest.keyClick(window.scale_spin, Qt.Key.Key_Down))
        key, index = window.model.current
        element = window.model.element(key, index)
        timed("delete", lambda: click(window.delete_button))
        window.add_element(key, element)  # put back at the end of its figure, untimed
        figure = window.figures["geometry" if k % 2 else "workbench"]
        mime = file_mime(os.path.join(scratch, "big_0.csv"))
        timed("drag tint", lambda: QtWidgets.QApplication.sendEvent(figure, enter_event(figure, mime)))
        QtWidgets.QApplication.sendEvent(figure, QtGui.QDragLeaveEvent())
    return {what: median_worst(values) for what, values in times.items()}


def run(row_counts, repeat):
    app = QtWidgets.QApplication.instance() or QtWidgets.QApplication([])
    recorder = Recorder()
    from zentrope.demo.window import DemoWindow
    window = DemoWindow()
    window.resize(1180, 720)
    window.show()
    settle(app, 0.5)
    with tempfile.TemporaryDirectory(prefix="zentrope-csv-bench-") as scratch:
        loads = run_loads(app, window, recorder, scratch, row_counts, repeat)
        interaction = run_interaction(app, window, recorder, scratch, repeat)
    window.close()
    return loads, interaction


def ms(pair):
    if pair is None:
        return "–"
    return " / ".join(f"{v * 1000:,.0f}" for v in pair)


def tables(loads, interaction):
    lines = ["| rows | MB | parse ms | drop → plot ms | plot ms | longest GUI gap ms |",
             "|---:|---:|---:|---:|---:|---:|"]
    for r in loads:
        drop = ms(r["drop_to_plot"]) if r["refused"] is None else f"refused ({ms(r['drop_to_plot'])})"
        lines.append(f"| {r['rows']} | {r['bytes'] / 1e6:.1f} | {ms(r['parse'])} | {drop} "
                     f"| {ms(r['plot'])} | {ms(r['gap'])} |")
    lines += ["", "| three 20 MiB files loaded | " + " | ".join(interaction) + " |",
              "|---|" + "---:|" * len(interaction),
              "| ms, input to painted | " + " | ".join(ms(v) for v in interaction.values()) + " |"]
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", default="10000,100000,500000,2000000",
                        help="comma-separated row counts (a file just under 20 MiB is added)")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--json", metavar="PATH", help="also write the results as JSON")
    args = parser.parse_args(argv)
    load_before = os.getloadavg()
    loads, interaction = run([int(n) for n in args.rows.split(",")], args.repeat)
    load_after = os.getloadavg()
    print(f"CPython {platform.python_version()}, numpy {np.__version__}, "
          f"{os.cpu_count()} cores, Qt platform {QtWidgets.QApplication.platformName()}; "
          f"load average (1, 5, 15 min) before {load_before[0]:.2f} {load_before[1]:.2f} "
          f"{load_before[2]:.2f}, after {load_after[0]:.2f} {load_after[1]:.2f} {load_after[2]:.2f}")
    print("Each cell: median / worst of", args.repeat, "runs.")
    print(tables(loads, interaction))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"loads": loads, "interaction": interaction,
                       "load_average": [load_before, load_after]}, f, indent=1)


if __name__ == "__main__":
    main()
