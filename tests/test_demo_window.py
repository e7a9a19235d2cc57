"""The demo window driven through real Qt drag events (offscreen)."""
import os
import subprocess
import sys

import numpy as np
import pytest
from matplotlib.colors import same_color
from PySide6 import QtGui

from zentrope.demo.session import drag_files, drag_label
from zentrope.demo.window import LOOKS, DemoWindow, sample_files


@pytest.fixture
def window(qtbot):
    w = DemoWindow()
    qtbot.addWidget(w)
    w.show()
    return w


def names(window, key):
    return [el.name for el in window.model.figures[key].elements]


def test_label_drops_follow_geom_only(window):
    assert not drag_label(window.labels["Temperature"], window.figures["geometry"])
    assert drag_label(window.labels["Temperature"], window.figures["workbench"])
    assert drag_label(window.labels["Wedge"], window.figures["geometry"])
    assert (names(window, "geometry"), names(window, "workbench")) == (["Wedge"], ["Temperature"])


@pytest.mark.parametrize("content, message", [
    (b"", ": the file holds no data"),
    (b"x,y\n1,2\n", ": at least two rows"),
    (b"x\n1\n2\n", ": needs an x column"),
    (b"x,y\n1,2\n3,oops\n", ", line 3: 'oops' is not a number"),
    (b"1,2\n3,4,5\n", ", line 2: expected 2 values, found 3"),
    (b"1,2\n3,nan\n", ", line 2: values must be finite"),
    (b"\xff\xfe\x00\x81,\x00\n", ": not a text file"),
    (None, ": cannot read"),  # gone before it was dropped
])
def test_malformed_csv_drop_changes_nothing(window, tmp_path, content, message):
    figure, bad = window.figures["geometry"], tmp_path / "bad.csv"
    if content is not None:
        bad.write_bytes(content)
    drag_files([sample_files()[0]], figure)
    artists = list(figure.artists)
    assert drag_files([bad], figure)
    assert figure.artists == artists and len(names(window, "geometry")) == window.element_list.count() == 1
    assert window.model.message_is_error and "bad.csv" + message in window.message_label.text()


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


def test_rescaling_and_dark_switch(window):
    drag_label(window.labels["Channel"], window.figures["workbench"])
    drag_label(window.labels["Arch"], window.figures["workbench"])
    window.element_list.setCurrentRow(0)
    assert window.highlighted("workbench") == [0]
    window.scale_spin.setValue(0.5)
    shown = np.array([line.get_ydata() for line in window.figures["workbench"].artists[0]])
    np.testing.assert_allclose(shown, 0.5 * window.model.element("workbench", 0).ys)

    window.dark_check.setChecked(True)
    background, text = LOOKS[True]
    for fig in window.figures.values():
        assert same_color(fig.fig.patch.get_facecolor(), background) and all(
            same_color(t.get_color(), text) for t in fig.ax.get_xticklabels())


def test_headless_run_leaves_a_picture(tmp_path):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    proc = subprocess.run([sys.executable, "-m", "zentrope.demo"], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert QtGui.QImage(str(tmp_path / "out" / "demo.png")).width() >= 800
