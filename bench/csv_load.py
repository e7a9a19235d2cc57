"""Benchmark of CSV loading in the demo: parse time, drop to plot, GUI gaps.

    .venv/bin/python bench/csv_load.py [--rows 10000,100000,500000,2000000]
                                       [--repeat 3] [--json out.json]

Generates CSV files (x from 0 to 200, two y columns, 6 significant digits,
about 25 bytes a row) of the given row counts, plus one just under the demo's
20 MiB limit, and reports for each:

- parse: ``read_csv`` on the main thread, no GUI running (median of the
  repeats; the size limit is lifted for this column only);
- drop to plot: a real Qt drop on the demo window's geometry figure (Qt's
  offscreen platform unless a display is set) until the plot is drawn, or
  until the refusal is shown for a file over the limit (median);
- the longest gap between two ticks of a 10 ms QTimer during the load, minus
  the time the GUI thread spent in figure redraws (the widget's own
  synchronous rendering, reported in the next columns), worst of the repeats;
- the redraw times: the figure's redraws at drag-enter and at the drop, and
  the plotting of the new element (its lines made and rendered), medians;
- the longest gap with the redraws included.
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

import matplotlib.figure  # noqa: E402
import numpy as np  # noqa: E402
from PySide6 import QtCore, QtWidgets  # noqa: E402

from zentrope.demo.elements import MAX_CSV_BYTES, read_csv  # noqa: E402

TICK_MS = 10


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
    """Ticks of a 10 ms timer and the intervals the GUI thread spent redrawing."""

    def __init__(self):
        self.ticks, self.redraws = [], []
        self.timer = QtCore.QTimer()
        self.timer.setTimerType(QtCore.Qt.TimerType.PreciseTimer)
        self.timer.timeout.connect(lambda: self.ticks.append(time.perf_counter()))
        self._draw = matplotlib.figure.Figure.draw
        recorder = self

        def draw(fig, renderer):
            start = time.perf_counter()
            try:
                return recorder._draw(fig, renderer)
            finally:
                recorder.redraws.append((start, time.perf_counter()))
        matplotlib.figure.Figure.draw = draw

    def start(self):
        self.ticks.clear()
        self.redraws.clear()
        self.timer.start(TICK_MS)

    def stop(self):
        self.timer.stop()

    def gaps(self, start, end, busy):
        """(longest gap outside ``busy`` intervals, longest gap) in [start, end]."""
        ticks = [start] + [t for t in self.ticks if start < t < end] + [end]
        worst_free = worst = 0.0
        for a, b in zip(ticks, ticks[1:]):
            spent = sum(max(0.0, min(b, e) - max(a, s)) for s, e in busy)
            worst, worst_free = max(worst, b - a), max(worst_free, b - a - spent)
        return worst_free, worst


def settle(app, seconds=0.3):
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        app.processEvents(QtCore.QEventLoop.ProcessEventsFlag.AllEvents, 20)


def drop_and_wait(app, window, recorder, path):
    """One drop of ``path``; returns the timings of that load."""
    from zentrope.demo.session import drag_files, wait_for_loads
    window.clear_all()
    settle(app)
    plotted = []
    add = window.add_element

    def timed_add(key, element):
        start = time.perf_counter()
        add(key, element)
        plotted.append((start, time.perf_counter()))
    window.add_element = timed_add
    recorder.start()
    t0 = time.perf_counter()
    try:
        if not drag_files([path], window.figures["geometry"]) or not wait_for_loads(window, 120):
            raise RuntimeError(f"{path} was not loaded")
        t1 = plotted[0][1] if plotted else time.perf_counter()
        settle(app, 0.05)
    finally:
        recorder.stop()
        del window.add_element
    drop_redraw = sum(e - s for s, e in recorder.redraws if e <= (plotted[0][0] if plotted else t1))
    free, worst = recorder.gaps(t0, t1, recorder.redraws + plotted)
    return {"drop_to_plot": t1 - t0, "gap": free, "gap_with_redraws": worst,
            "drop_redraw": drop_redraw, "plot": plotted[0][1] - plotted[0][0] if plotted else None,
            "refused": None if plotted else window.model.message}


def run(row_counts, repeat):
    app = QtWidgets.QApplication.instance() or QtWidgets.QApplication([])
    recorder = Recorder()
    from zentrope.demo.window import DemoWindow
    window = DemoWindow()
    window.resize(1180, 720)
    window.show()
    settle(app, 0.5)
    results = []
    with tempfile.TemporaryDirectory(prefix="zentrope-csv-bench-") as scratch:
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
            loads = [drop_and_wait(app, window, recorder, path) for _ in range(repeat)]
            os.remove(path)
            row = {"rows": label, "bytes": size, "parse": statistics.median(parse),
                   "drop_to_plot": statistics.median(r["drop_to_plot"] for r in loads),
                   "gap": max(r["gap"] for r in loads),
                   "gap_with_redraws": max(r["gap_with_redraws"] for r in loads),
                   "drop_redraw": statistics.median(r["drop_redraw"] for r in loads),
                   "plot": None if loads[0]["plot"] is None else statistics.median(r["plot"] for r in loads),
                   "refused": loads[0]["refused"]}
            results.append(row)
            print(f"  {label} rows: done", file=sys.stderr)
    window.close()
    return results


def ms(seconds):
    return "–" if seconds is None else f"{seconds * 1000:,.0f}"


def table(results):
    lines = ["| rows | MB | parse ms | drop → plot ms | longest GUI gap ms (without redraws) "
             "| drag and drop redraws ms | plot ms | longest GUI gap ms (with redraws) |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in results:
        drop = ms(r["drop_to_plot"]) if r["refused"] is None else f"refused ({ms(r['drop_to_plot'])})"
        lines.append(f"| {r['rows']} | {r['bytes'] / 1e6:.1f} | {ms(r['parse'])} | {drop} | {ms(r['gap'])} "
                     f"| {ms(r['drop_redraw'])} | {ms(r['plot'])} | {ms(r['gap_with_redraws'])} |")
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", default="10000,100000,500000,2000000",
                        help="comma-separated row counts (a file just under 20 MiB is added)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--json", metavar="PATH", help="also write the results as JSON")
    args = parser.parse_args(argv)
    results = run([int(n) for n in args.rows.split(",")], args.repeat)
    print(f"CPython {platform.python_version()}, numpy {np.__version__}, "
          f"{os.cpu_count()} cores, Qt platform {QtWidgets.QApplication.platformName()}")
    print(table(results))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
