"""The demo window driven through Qt events (offscreen)."""
import os
import threading
import time
import urllib.parse

import numpy as np
import pytest
from PySide6 import QtCore

from conftest import make_mime, send_drag_event
from zentrope.demo.elements import MAX_CSV_BYTES, Y_LIMIT, Element
from zentrope.demo.session import _names as names, drag_files, drag_label, send_drag, wait_for_loads
from zentrope.demo.window import SCALES, DemoWindow


@pytest.fixture
def window(qtbot):
    w = DemoWindow()
    qtbot.addWidget(w)
    w.show()
    yield w
    w.loader.shutdown()


@pytest.mark.parametrize("content, message", [
    (b"", ": the file holds no data"),
    (b"x\n1\n2\n", ": needs an x column"),
    (b"1,2\n3,nan\n", ", line 2: values must be finite"),
    (b"0,1x\n50,2\n100,3\n", ", line 1: '1x' is not a number"),  # a first line with a number is data
    (b"x,y\n0,1e308\n50,-1e308\n", ", line 2: y values must lie within ±1e+306"),
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
    # drawn from a display copy of two points a pixel column; the element keeps every row
    big_element, lines = window.model.element("geometry", 0), window.figures["geometry"].artists[0]
    assert len(big_element.x) == 300_000 and len(lines[0].get_xdata()) <= 2 * window.figure_columns("geometry") + 2
    window.select("geometry", 0)
    window.scale_spin.setValue(2)  # the figure is given values of the drawn length
    assert consistent(window) and not window.model.message_is_error
    window.resize(window.width() + 300, window.height())  # a wider figure is drawn from a finer copy
    qtbot.waitUntil(lambda: big_element.drawn_columns == window.figure_columns("geometry") > 0)
    assert len(lines[0].get_xdata()) == big_element.drawn[0].shape[1] and consistent(window)
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


def test_typed_scale_applies_on_enter_and_the_arrows_at_once(window, qtbot):
    # (taken or refused at a click elsewhere: the end-to-end test, with real input)
    drag_label(window.labels["Channel"], window.figures["workbench"])
    edit, element = window.scale_spin.lineEdit(), window.model.element("workbench", 0)
    shown = lambda: [line.get_ydata() for line in window.figures["workbench"].artists[0]]  # noqa: E731
    edit.selectAll()
    qtbot.keyClicks(edit, "3.5")
    assert edit.text() == "3.5" and element.scale == 1.0
    qtbot.keyClick(edit, QtCore.Qt.Key.Key_Return)
    np.testing.assert_allclose(shown(), 3.5 * element.ys)
    qtbot.keyClick(edit, QtCore.Qt.Key.Key_Down)  # the arrows apply at once
    assert element.scale == pytest.approx(3.4)


def consistent(window):
    """Whether each figure shows what the model holds: its lines and no
    others, scaled as the model says, and the one selection."""
    for key, fig in window.figures.items():
        elements, current = window.model.figures[key].elements, window.model.current
        lines = [line for entry in fig.artists for line in entry]
        assert len(fig.artists) == len(elements) and set(fig.ax.lines) == set(lines)
        for entry, element in zip(fig.artists, elements):
            np.testing.assert_allclose([line.get_ydata() for line in entry], element.values_2d())
        assert window.highlighted(key) == ([current[1]] if current and current[0] == key else [])
    return window.element_list.count() == len(window.model.entries())


def enter_and_leave(window, tmp_path):
    send_drag_event(window.figures["geometry"], "enter", make_mime(paths=[str(tmp_path / "wall.csv")]))
    send_drag_event(window.figures["geometry"], "leave")


@pytest.mark.parametrize("method, action, named", [
    ("add_element", lambda w, tmp: drag_label(w.labels["Wedge"], w.figures["geometry"]), "Wedge"),
    ("add_element", lambda w, tmp: drag_files([tmp / "wall.csv"], w.figures["geometry"])
     and wait_for_loads(w), "wall.csv"),
    ("set_selection", lambda w, tmp: w.element_list.setCurrentRow(0), "Arch"),
    ("set_artist_value", lambda w, tmp: w.scale_spin.setValue(2.5), "Channel"),
    ("remove_element", lambda w, tmp: w.delete_selected(), "Channel"),
    ("clear", lambda w, tmp: w.clear_all(), "all elements"),
    ("draw", lambda w, tmp: w.dark_check.setChecked(True), "Dark style on"),
    ("dragEnterEvent", enter_and_leave, "Drag enter"),
])
def test_a_failing_widget_call_leaves_the_window_as_the_model_says(window, tmp_path, method, action, named):
    (tmp_path / "wall.csv").write_text("x,y\n0,1\n100,2\n")
    for name, key in (("Arch", "geometry"), ("Channel", "geometry"), ("Load curve", "workbench")):
        drag_label(window.labels[name], window.figures[key])
    window.element_list.setCurrentRow(1)  # Channel, on the geometry figure
    # matplotlib fails the first time the geometry figure renders within the call
    figure, inside = window.figures["geometry"], []

    def failing_draw(*args, **kwargs):
        if inside:
            del figure.fig.draw, figure.__dict__[method]
            raise RuntimeError("injected failure")
        return type(figure.fig).draw(figure.fig, *args, **kwargs)

    def call(*args):
        inside.append(method)
        getattr(type(figure), method)(figure, *args)
    figure.fig.draw = failing_draw
    figure.__dict__[method] = call
    action(window, tmp_path)
    assert inside and "draw" not in figure.fig.__dict__, "the call did not render"
    message = window.model.message
    assert window.model.message_is_error and "injected failure" in message and named in message, message
    assert consistent(window)
    # the figure keeps working
    assert drag_label(window.labels["Steps"], window.figures["geometry"]) and consistent(window)
    assert window.model.message == "Added Steps to the geometry figure."


def test_values_at_the_limit_are_laid_out_at_the_largest_scale_in_either_sign(window):
    for sign in (1, -1):
        assert window.add_element("geometry", Element("edge", [0, 100], [sign * Y_LIMIT, 0], "csv")) is None
        window.scale_spin.setValue(SCALES[1])
    assert not window.model.message_is_error and consistent(window)


@pytest.mark.parametrize("label, files, key, reason", [
    ("Load curve", [], "geometry", "takes geometry labels (blue) only; Load curve is not a geometry"),
    (None, ["notes.txt"], "workbench", "Only .csv files can be dropped: notes.txt is not one."),
    (None, ["a.csv", "b.csv"], "geometry", "One file at a time: 2 files were dragged."),
])
def test_refused_drags_say_why(window, tmp_path, label, files, key, reason):
    figure = window.figures[key]
    dropped = drag_label(window.labels[label], figure) if label else drag_files(
        [tmp_path / name for name in files], figure)
    assert not dropped and window.model.message_is_error and reason in window.model.message


def test_a_long_message_is_shown_whole_with_the_file_name_shortened(window, tmp_path):
    bad = tmp_path / ("a_rather_long_file_name_" * 8 + "end.csv")
    bad.write_text("x,y\n1,2\n3,oops\n")
    assert drag_files([bad], window.figures["geometry"]) and wait_for_loads(window)
    label, text = window.message_label, window.message_label.text()
    assert text.startswith("CSV file not added: a_rather") and "…" in text and "end.csv, line 3" in text
    assert text.endswith("'oops' is not a number") and label.toolTip() == window.model.message
    area = label.contentsRect()
    bound = label.fontMetrics().boundingRect(QtCore.QRect(0, 0, area.width(), 10_000),
                                             QtCore.Qt.TextFlag.TextWordWrap, text)
    assert bound.width() <= area.width() and bound.height() <= area.height()


def test_clear_all_forgets_the_files_still_to_be_read(window, qtbot, tmp_path):
    small = tmp_path / "small.csv"
    small.write_text("x,y\n1,2\n3,4\n")
    for key in ("geometry", "workbench"):
        assert drag_files([small], window.figures[key])
    QtCore.QCoreApplication.processEvents()  # the first read starts
    window.clear_all()
    window.loader._executor.submit(lambda: None).result()  # the read under way has ended
    qtbot.wait(50)
    assert window.model.entries() == [] and not any(fig.artists for fig in window.figures.values())
    assert window.model.message == "Removed all elements; small.csv and 1 queued will not be added."


def test_a_file_is_read_by_its_own_name_and_a_second_drop_listed_apart(window, tmp_path):
    path = os.path.join(os.fsencode(tmp_path), b"caf\xe9.csv")  # not UTF-8
    with open(path, "w") as f:
        f.write("x,y\n1,2\n3,4\n")
    for _ in range(2):
        mime = QtCore.QMimeData()
        mime.setUrls([QtCore.QUrl.fromEncoded(b"file://" + urllib.parse.quote_from_bytes(path).encode())])
        assert send_drag(window.figures["workbench"], mime) and wait_for_loads(window)
    assert names(window, "workbench") == ["caf\ufffd", "caf\ufffd (2)"]
    assert window.model.message == "Added caf\ufffd.csv as caf\ufffd (2) (1 line) to the workbench figure."
    assert [window.element_list.item(i).text() for i in range(2)] == [
        "Workbench: caf\ufffd", "Workbench: caf\ufffd (2)"]
