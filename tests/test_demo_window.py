"""The demo window driven through real Qt events (offscreen)."""
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
from matplotlib.colors import same_color
from PySide6 import QtCore, QtGui, QtWidgets

from zentrope.demo.app import QuitOnInterrupt
from zentrope.demo.elements import MAX_CSV_BYTES
from zentrope.demo.session import drag_files, drag_label, wait_for_loads
from zentrope.demo.theme import DRAG_TINT, LOOKS
from zentrope.demo.window import DemoWindow, sample_files
from zentrope.widgets.models.gmodel.mpl import GeometryModelFigure
from zentrope.widgets.style import is_dark

Qt = QtCore.Qt


@pytest.fixture
def window(qtbot):
    w = DemoWindow()
    qtbot.addWidget(w)
    w.show()
    yield w
    w.loader.shutdown()


def names(window, key):
    return [el.name for el in window.model.figures[key].elements]


def drop_file(window, path, key="geometry"):
    assert drag_files([path], window.figures[key])
    assert wait_for_loads(window)


def write_table(path, rows, x_end=200.0):
    x = np.linspace(0.0, x_end, rows)
    with open(path, "w", encoding="utf-8") as f:
        f.write("x,a,b\n")
        np.savetxt(f, np.column_stack([x, np.sin(x / 7), np.cos(x / 3)]), fmt="%.6g", delimiter=",")
    return path


def test_label_drops_follow_geom_only(window):
    assert not drag_label(window.labels["Temperature"], window.figures["geometry"])
    assert drag_label(window.labels["Temperature"], window.figures["workbench"])
    assert drag_label(window.labels["Wedge"], window.figures["geometry"])
    assert (names(window, "geometry"), names(window, "workbench")) == (["Wedge"], ["Temperature"])


# parse errors in detail: test_demo_csv.py; here each kind of failure reaches the user
@pytest.mark.parametrize("content, message", [
    (b"", ": the file holds no data"),
    (b"x\n1\n2\n", ": needs an x column"),
    (b"x,y\n1,2\n3,oops\n", ", line 3: 'oops' is not a number"),
    (b"1,2\n3,nan\n", ", line 2: values must be finite"),
    (b"x,y\n5,1\n5,2\n", ": every x value is 5; at least two different x values are needed"),
    (b"\xff\xfe\x00\x81,\x00\n", ": not a text file"),
    (MAX_CSV_BYTES + 1, ": the file is larger than 20 MiB"),
    (None, ": cannot read"),  # gone before it was dropped
])
def test_malformed_csv_drop_changes_nothing(window, tmp_path, content, message):
    figure, bad = window.figures["geometry"], tmp_path / "bad.csv"
    if isinstance(content, bytes):
        bad.write_bytes(content)
    elif content is not None:
        with open(bad, "wb") as f:
            f.truncate(content)  # sparse: only its size matters
    drop_file(window, sample_files()[0])
    artists = list(figure.artists)
    drop_file(window, bad)
    assert figure.artists == artists and len(names(window, "geometry")) == window.element_list.count() == 1
    assert window.model.message_is_error and "bad.csv" + message in window.message_label.text()


@pytest.mark.parametrize("x_end, note", [
    pytest.param(100.0, None, id="inside 0-100: kept"),
    pytest.param(200.0, "x 0…200 → 0…100", id="beyond 100: mapped"),
])
def test_x_values_outside_the_figure_range_are_mapped_and_said(window, tmp_path, x_end, note):
    drop_file(window, write_table(tmp_path / "wide.csv", 201, x_end))
    line = window.figures["geometry"].artists[0][0]
    np.testing.assert_allclose(line.get_xdata(), np.linspace(0, 100, 201))
    assert len(line.get_ydata()) == 201
    entry = window.element_list.item(0).text()
    if note is None:
        assert entry == "Geometry: wide" and "shown as" not in window.message_label.text()
    else:
        assert entry == f"Geometry: wide\n    {note}"
        assert "its x values 0 to 200 are shown as 0 to 100" in window.message_label.text()


def test_large_file_loads_while_the_window_keeps_running(window, qtbot, tmp_path):
    path = write_table(tmp_path / "big.csv", 300_000)
    figure, loader = window.figures["geometry"], window.loader
    qtbot.wait(200)  # the first paint and resize redraws are over
    reads, ticks, read = [], [], loader._read

    def timed_read(path):
        start = time.monotonic()
        try:
            return read(path)
        finally:
            reads.append((start, time.monotonic(), threading.get_ident()))
    loader._read = timed_read
    timer = QtCore.QTimer(window)
    timer.timeout.connect(lambda: ticks.append(time.monotonic()))
    timer.start(10)
    assert drag_files([path], figure)
    # The drop returned before the data was read: message, busy cursor, tint gone.
    assert names(window, "geometry") == [] and window.message_label.text() == "Reading big.csv…"
    assert window.cursor().shape() == Qt.CursorShape.BusyCursor
    assert same_color(figure.ax.get_facecolor(), figure._axcolor0)
    qtbot.waitUntil(lambda: names(window, "geometry") == ["big"], timeout=30_000)
    assert len(figure.artists[0][0].get_xdata()) == 300_000
    assert window.cursor().shape() != Qt.CursorShape.BusyCursor
    # Generous bound: the event loop kept turning while the file was read.
    [(start, end, thread)] = reads
    assert thread != threading.get_ident()
    during = [start] + [t for t in ticks if start < t < end] + [end]
    assert len(during) >= 3 and max(np.diff(during)) < 1.0, np.diff(during)


def test_second_drop_during_a_load_is_queued(window, tmp_path):
    big = write_table(tmp_path / "big.csv", 50_000)
    bad, small = tmp_path / "bad.csv", write_table(tmp_path / "small.csv", 3)
    bad.write_text("x,y\n1,2\n3,oops\n")
    messages = []
    window.model.subscribe(lambda: messages.append(window.model.message))
    for path, key in ((big, "geometry"), (bad, "workbench"), (small, "workbench")):
        assert drag_files([path], window.figures[key])
    assert window.message_label.text() == "small.csv waits until big.csv is read (2 files ahead)."
    assert wait_for_loads(window)
    assert (names(window, "geometry"), names(window, "workbench")) == (["big"], ["small"])
    assert any(m.startswith("CSV file not added: bad.csv, line 3") and m.endswith("Reading small.csv…")
               for m in messages)


@pytest.mark.parametrize("count, delete, selected_after", [(3, 0, 0), (3, 1, 1), (3, 2, 1), (1, 0, None)])
def test_delete_selects_the_successor(window, count, delete, selected_after):
    added = ["Arch", "Wedge", "Steps"][:count]
    for name in added:
        drag_label(window.labels[name], window.figures["geometry"])
    window.select("geometry", delete)
    window.delete_selected()
    assert names(window, "geometry") == added[:delete] + added[delete + 1:]
    assert len(window.figures["geometry"].artists) == count - 1
    assert window.model.current == (None if selected_after is None else ("geometry", selected_after))
    assert window.highlighted("geometry") == ([] if selected_after is None else [selected_after])


def test_one_element_is_highlighted_across_both_figures(window):
    for name, key in (("Arch", "geometry"), ("Wedge", "geometry"), ("Steps", "workbench")):
        drag_label(window.labels[name], window.figures[key])
    highlighted = lambda: (window.highlighted("geometry"), window.highlighted("workbench"))  # noqa: E731
    assert highlighted() == ([], [0])  # the element just added
    for row, expected in ((0, ([0], [])), (2, ([], [0])), (1, ([1], []))):
        window.element_list.setCurrentRow(row)
        assert highlighted() == expected
    window.delete_selected()  # Wedge, the listed one
    assert names(window, "geometry") == ["Arch"] and highlighted() == ([0], [])


def test_typed_scale_applies_on_enter_without_rewriting_the_text(window, qtbot):
    drag_label(window.labels["Channel"], window.figures["workbench"])
    spin, lines = window.scale_spin, window.figures["workbench"].artists[0]
    spin.lineEdit().selectAll()
    qtbot.keyClicks(spin.lineEdit(), "3.5")
    assert spin.lineEdit().text() == "3.5" and window.model.element("workbench", 0).scale == 1.0
    qtbot.keyClick(spin.lineEdit(), Qt.Key.Key_Return)
    assert window.model.element("workbench", 0).scale == 3.5
    np.testing.assert_allclose([line.get_ydata() for line in lines],
                               3.5 * window.model.element("workbench", 0).ys)
    qtbot.keyClick(spin.lineEdit(), Qt.Key.Key_Down)  # the arrows apply at once
    assert window.model.element("workbench", 0).scale == pytest.approx(3.4)


def test_dark_switch_changes_the_palette_and_the_figures(window):
    central = window.centralWidget()
    for dark in (True, False):
        window.dark_check.setChecked(dark)
        assert is_dark(central) == dark == window.model.dark
        background, text = LOOKS[dark]
        newcomer = GeometryModelFigure(central, None)  # decides its style as it is built
        for fig in (*window.figures.values(), newcomer):
            assert fig._axcolor1 == DRAG_TINT[dark]
        newcomer.deleteLater()
        for fig in window.figures.values():
            assert same_color(fig.fig.patch.get_facecolor(), background) and all(
                same_color(t.get_color(), text) for t in fig.ax.get_xticklabels())


def test_nothing_is_clipped_at_the_minimum_size(window, qtbot, tmp_path):
    for name, key in (("Arch", "geometry"), ("Temperature", "workbench")):
        drag_label(window.labels[name], window.figures[key])
    drop_file(window, write_table(tmp_path / "long_file_name.csv", 11, -1e6))  # with its x note
    window.resize(1, 1)
    qtbot.waitUntil(lambda: window.size() == window.minimumSize())
    assert not window.element_list.horizontalScrollBar().isVisible()
    for widget in window.findChildren(QtWidgets.QWidget):
        if widget.isVisible() and isinstance(widget, (QtWidgets.QLabel, QtWidgets.QAbstractButton,
                                                      QtWidgets.QAbstractSpinBox)):
            hint = widget.minimumSizeHint()
            assert widget.width() >= hint.width() and widget.height() >= hint.height(), widget
            if widget.hasHeightForWidth():  # a wrapped label needs this height for its lines
                assert widget.height() >= widget.heightForWidth(widget.width()), widget
    for fig in window.figures.values():
        fig.draw()
        for axis in (fig.ax.xaxis, fig.ax.yaxis):
            low, high = sorted(axis.get_view_interval())
            for value, label in zip(axis.get_ticklocs(), axis.get_ticklabels()):
                box = label.get_window_extent()
                if low <= value <= high:  # drawn
                    assert box.x0 >= 0 and box.y0 >= 0, label
                    assert box.x1 <= fig.width() and box.y1 <= fig.height(), label


def test_ctrl_c_in_a_drop_closes_the_window_once_the_drop_is_handled(window, qtbot, tmp_path):
    inside = []

    def interrupted_slot(path):  # Ctrl+C arrives while the drop is being handled
        os.kill(os.getpid(), signal.SIGINT)
        inside.append(window.isVisible())
    window.figures["geometry"].csv_dropped.connect(interrupted_slot)
    with QuitOnInterrupt() as interrupt:
        interrupt.watch(QtWidgets.QApplication.instance())
        assert drag_files([write_table(tmp_path / "big.csv", 20_000)], window.figures["geometry"])
        assert inside == [True] and interrupt.received
        qtbot.waitUntil(lambda: not window.isVisible())
    assert not window.loader.busy


def test_headless_run_leaves_a_picture(tmp_path):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    proc = subprocess.run([sys.executable, "-m", "zentrope.demo"], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert QtGui.QImage(str(tmp_path / "out" / "demo.png")).width() >= 800
