"""The demo window driven through Qt events (offscreen)."""
import threading
import time

import numpy as np
import pytest
from PySide6 import QtCore

from zentrope.demo.elements import MAX_CSV_BYTES
from zentrope.demo.session import drag_files, drag_label, wait_for_loads
from zentrope.demo.window import DemoWindow


@pytest.fixture
def window(qtbot):
    w = DemoWindow()
    qtbot.addWidget(w)
    w.show()
    yield w
    w.loader.shutdown()


def names(window, key):
    return [el.name for el in window.model.figures[key].elements]


@pytest.mark.parametrize("content, message", [
    (b"", ": the file holds no data"),
    (b"x\n1\n2\n", ": needs an x column"),
    (b"x,y\n1,2\n3,oops\n", ", line 3: 'oops' is not a number"),
    (b"1,2\n3,nan\n", ", line 2: values must be finite"),
    (b"x,y\n5,1\n5,2\n", ": every x value is 5; at least two different x values are needed"),
    (b"\xff\xfe\x00\x81,\x00\n", ": not a text file"),
    (MAX_CSV_BYTES + 1, ": the file is larger than 20 MiB"),  # sparse: only its size matters
    (None, ": cannot read"),  # gone before it was dropped
])
def test_malformed_csv_drop_changes_nothing(window, tmp_path, content, message):
    figure, bad = window.figures["geometry"], tmp_path / "bad.csv"
    if content is not None:
        with open(bad, "wb") as f:
            f.write(content) if isinstance(content, bytes) else f.truncate(content)
    assert drag_label(window.labels["Arch"], figure)
    artists = list(figure.artists)
    assert drag_files([bad], figure) and wait_for_loads(window)
    assert figure.artists == artists and len(names(window, "geometry")) == window.element_list.count() == 1
    assert window.model.message_is_error and "bad.csv" + message in window.message_label.text()


def test_drops_during_a_load_queue_up_while_the_window_keeps_running(window, qtbot, tmp_path):
    big, bad, small = (tmp_path / f"{name}.csv" for name in ("big", "bad", "small"))
    x = np.linspace(0.0, 100.0, 300_000)
    np.savetxt(big, np.column_stack([x, np.sin(x), np.cos(x)]), fmt="%.6g", delimiter=",")
    bad.write_text("x,y\n1,2\n3,oops\n")
    small.write_text("x,y\n1,2\n3,4\n")
    qtbot.wait(200)  # the first paint and resize redraws are over
    reads, ticks, messages, read, dropped = [], [], [], window.loader._read, threading.Event()

    def timed_read(path):  # from the end of the drops, which redraw the figures
        dropped.wait(10)
        start = time.monotonic()
        element = read(path)  # bad.csv raises: only the files read are timed
        reads.append((start, time.monotonic(), threading.get_ident()))
        return element
    window.loader._read = timed_read
    window.model.subscribe(lambda: messages.append(window.model.message))
    QtCore.QTimer(window, timeout=lambda: ticks.append(time.monotonic())).start(10)
    for path, key in ((big, "geometry"), (bad, "workbench"), (small, "workbench")):
        assert drag_files([path], window.figures[key])
    dropped.set()
    # the drops returned before the data was read; the later files wait
    assert names(window, "geometry") == [] and window.message_label.text() == (
        "small.csv waits until big.csv is read (2 files ahead).")
    assert wait_for_loads(window)
    assert (names(window, "geometry"), names(window, "workbench")) == (["big"], ["small"])
    assert len(window.figures["geometry"].artists[0][0].get_xdata()) == 300_000
    assert any(m.startswith("CSV file not added: bad.csv, line 3") and m.endswith("Reading small.csv…")
               for m in messages)
    # Generous bound: the event loop kept turning while the big file was read, off its thread.
    [(start, end, thread), (_, _, small_thread)] = reads
    assert threading.get_ident() not in (thread, small_thread)
    during = [start] + [t for t in ticks if start < t < end] + [end]
    assert len(during) >= 3 and max(np.diff(during)) < 1.0, np.diff(during)


def test_one_selection_across_both_figures_passes_on_at_delete(window):
    for name, key in (("Arch", "geometry"), ("Wedge", "geometry"), ("Steps", "geometry"),
                      ("Temperature", "workbench")):
        assert drag_label(window.labels[name], window.figures[key])
    highlighted = lambda: (window.highlighted("geometry"), window.highlighted("workbench"))  # noqa: E731
    assert highlighted() == ([], [0])  # the element just added
    for row, expected in ((0, ([0], [])), (3, ([], [0])), (1, ([1], []))):
        window.element_list.setCurrentRow(row)
        assert highlighted() == expected
    # the next element takes the place of a deleted one, else the new last one
    for left, current in ((["Arch", "Steps"], ("geometry", 1)), (["Arch"], ("geometry", 0)), ([], None)):
        window.delete_selected()
        assert (names(window, "geometry"), len(window.figures["geometry"].artists)) == (left, len(left))
        assert window.model.current == current and highlighted() == ([current[1]] if current else [], [])


def test_typed_scale_applies_on_enter_without_rewriting_the_text(window, qtbot):
    drag_label(window.labels["Channel"], window.figures["workbench"])
    edit, element = window.scale_spin.lineEdit(), window.model.element("workbench", 0)
    edit.selectAll()
    qtbot.keyClicks(edit, "3.5")
    assert edit.text() == "3.5" and element.scale == 1.0
    qtbot.keyClick(edit, QtCore.Qt.Key.Key_Return)
    np.testing.assert_allclose([line.get_ydata() for line in window.figures["workbench"].artists[0]],
                               3.5 * element.ys)
    qtbot.keyClick(edit, QtCore.Qt.Key.Key_Down)  # the arrows apply at once
    assert element.scale == pytest.approx(3.4)
