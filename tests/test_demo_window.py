"""The demo window driven through real Qt drag events (offscreen)."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest
from matplotlib.colors import same_color
from PySide6 import QtGui

from zentrope.demo.session import drag_files, drag_label, run_session
from zentrope.demo.window import LOOKS, DemoWindow, sample_files


@pytest.fixture
def window(qtbot, tmp_path):
    w = DemoWindow(state_file=tmp_path / "state.json")
    qtbot.addWidget(w)
    w.show()
    return w


def names(window, key):
    return [el.name for el in window.model.figures[key].elements]


def assert_in_step(window):
    """The model and the figures agree on elements and highlighting."""
    for key, fig in window.figures.items():
        state = window.model.figures[key]
        assert len(fig.artists) == len(state.elements)
        expected = [] if state.selected is None else [state.selected]
        assert window.highlighted(key) == expected


def test_label_drops_follow_geom_only(window):
    assert not drag_label(window.labels["Temperature"], window.figures["geometry"])
    assert drag_label(window.labels["Temperature"], window.figures["workbench"])
    assert drag_label(window.labels["Wedge"], window.figures["geometry"])
    assert (names(window, "geometry"), names(window, "workbench")) == (["Wedge"], ["Temperature"])
    assert_in_step(window)


def test_bad_csv_drop_changes_nothing(window, tmp_path):
    drag_files([sample_files()[0]], window.figures["geometry"])
    lines_before = list(window.figures["geometry"].artists[0])
    bad = tmp_path / "bad.csv"
    bad.write_text("x,y\n1,2\n3\n")
    assert drag_files([bad], window.figures["geometry"])
    assert window.figures["geometry"].artists[0] == lines_before
    assert len(window.model.figures["geometry"].elements) == 1
    assert window.model.message_is_error and "bad.csv, line 3" in window.message_label.text()
    # A path that does not end in .csv never reaches the reader.
    assert not drag_files([tmp_path / "data.txt"], window.figures["geometry"])


@pytest.mark.parametrize("delete, selected_after", [(0, 0), (1, 1), (2, 1)])
def test_delete_selects_the_successor(window, delete, selected_after):
    for name in ("Arch", "Wedge", "Steps"):
        drag_label(window.labels[name], window.figures["geometry"])
    window.select("geometry", delete)
    window.delete_selected()
    kept = [n for i, n in enumerate(["Arch", "Wedge", "Steps"]) if i != delete]
    assert names(window, "geometry") == kept
    assert window.model.current == ("geometry", selected_after)
    assert window.element_list.currentRow() == selected_after
    assert_in_step(window)


def test_delete_last_element_and_clear(window):
    drag_label(window.labels["Arch"], window.figures["workbench"])
    window.delete_selected()
    assert window.model.current is None and window.figures["workbench"].artists == []
    assert not window.delete_button.isEnabled()
    for key in window.figures:
        drag_label(window.labels["Channel"], window.figures[key])
    window.clear_all()
    assert window.model.entries() == [] and window.element_list.count() == 0
    assert all(fig.artists == [] for fig in window.figures.values())


def test_rescaling_and_dark_switch(window):
    drag_label(window.labels["Channel"], window.figures["workbench"])
    drag_label(window.labels["Arch"], window.figures["workbench"])
    window.element_list.setCurrentRow(0)
    window.scale_spin.setValue(0.5)
    channel = window.model.element("workbench", 0)
    shown = np.array([line.get_ydata() for line in window.figures["workbench"].artists[0]])
    np.testing.assert_allclose(shown, 0.5 * channel.ys)
    assert_in_step(window)

    window.dark_check.setChecked(True)
    background, text = LOOKS[True]
    for fig in window.figures.values():
        assert same_color(fig.fig.patch.get_facecolor(), background)
        assert all(same_color(t.get_color(), text) for t in fig.ax.get_xticklabels())


def test_scripted_session_and_state_file(window):
    log = run_session(window)
    assert len(log) >= 10
    assert_in_step(window)
    window.write_state()
    with open(window.state_file, encoding="utf-8") as f:
        state = json.load(f)
    assert state["figures"]["geometry"]["artists"] == len(names(window, "geometry")) == 3
    assert [el["name"] for el in state["figures"]["workbench"]["elements"]] == ["sensor_log", "Steps"]
    assert state["dark"] is True and state["current"] == ["geometry", 0]


def test_headless_run_leaves_a_picture(tmp_path):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    proc = subprocess.run([sys.executable, "-m", "zentrope.demo"], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    image = QtGui.QImage(str(tmp_path / "out" / "demo.png"))
    assert image.width() >= 800 and image.height() >= 500
    assert "screenshot saved" in proc.stdout
