"""Real drags onto the demo's window on a private X display, end to end."""
# xdotool moves and presses the pointer on Xvfb, so the drags go through Qt's
# own drag and drop (xcb) from mouse input to the figures' handlers.  The
# outcomes are read from the demo's state file.
import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

# A window of another process whose press starts the demo's own file drag (a
# URL, no Qt parent), as a file manager's does; prints its centre once shown.
SOURCE = """
from PySide6 import QtCore, QtWidgets
from zentrope.demo.filedrag import drag_file
app = QtWidgets.QApplication([])
w = QtWidgets.QLabel("drag me")
w.mousePressEvent = lambda event: drag_file(w, %r)
w.setGeometry(1620, 100, 260, 120)  # right of the demo's window
w.show()
QtCore.QTimer.singleShot(200, lambda: print(*w.mapToGlobal(w.rect().center()).toTuple(), flush=True))
app.exec()
"""


def poll(read, what, timeout=20.0):
    for _ in range(int(timeout / 0.05)):
        if value := read():
            return value
        time.sleep(0.05)
    pytest.fail(f"timed out after {timeout:g}s waiting for {what}")


def center(rect):
    return rect[0] + rect[2] // 2, rect[1] + rect[3] // 2


@contextlib.contextmanager
def xvfb(screen="1920x1080x24"):  # a private Xvfb server: yields the environment for programs on it
    if not (shutil.which("Xvfb") and shutil.which("xdotool")):
        pytest.skip("needs Xvfb and xdotool (Debian packages xvfb, xdotool)")
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen,
                               "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()  # empty when the server gave up
    if not number:
        server.wait()
        pytest.skip("Xvfb could not be started")
    try:
        yield {**os.environ, "DISPLAY": f":{number}", "QT_QPA_PLATFORM": "xcb"}
    finally:
        server.terminate()
        server.wait(10)


@pytest.fixture(scope="module")
def display():
    with xvfb() as env:
        yield env


def xdotool(env, *args):
    return subprocess.run(["xdotool", *map(str, args)], env=env, check=True, timeout=10,
                          capture_output=True, text=True).stdout


def click(env, at):
    xdotool(env, "mousemove", "--sync", *at)
    xdotool(env, "click", 1)


def drag(env, demo, start, entered):  # press at start, glide onto the geometry figure,
    end = center(demo()["widgets"]["figures"]["geometry"])  # release after its entered-th drag-enter
    xdotool(env, "mousemove", "--sync", *start)
    xdotool(env, "mousedown", 1)
    try:
        for k in range(1, 21):
            xdotool(env, "mousemove", "--sync", *(a + (b - a) * k // 20 for a, b in zip(start, end)))
            time.sleep(0.03)
        poll(lambda: demo()["figures"]["geometry"]["drags"]["enter"] >= entered, "the drag-enter")
    finally:
        xdotool(env, "mouseup", 1)


@contextlib.contextmanager
def running_demo(env, tmp_path):
    # The demo in a process of its own, started outside the source tree so that
    # the installed package runs; yields a reader of its state (process: .process).
    path = tmp_path / "state.json"
    with subprocess.Popen([sys.executable, "-m", "zentrope.demo", "--state-file", path],
                          cwd=tmp_path, env=env) as process:
        def state():
            assert process.poll() is None, f"the demo exited with {process.returncode}"
            # replaced whole at each change: absent or complete
            return json.loads(path.read_text(encoding="utf-8")) if path.exists() else None
        state.process = process
        try:
            poll(lambda: (state() or {}).get("visible"), "the demo window to be shown")
            yield state
        finally:
            process.terminate()


@pytest.fixture
def demo(display, tmp_path):
    with running_demo(display, tmp_path) as state:
        yield state


def test_label_drags_onto_the_geom_only_figure_and_a_typed_scale(demo, display):
    # Not a geometry: it reaches the figure and is refused, saying why.  The
    # drag is over before the next begins, so the element list shows it added nothing.
    drag(display, demo, center(demo()["widgets"]["labels"]["Load curve"]), 1)
    assert "Load curve is not a geometry" in demo()["message"]
    drag(display, demo, center(demo()["widgets"]["labels"]["Arch"]), 2)
    assert [el["name"] for el in poll(lambda: demo()["figures"]["geometry"]["elements"], "Arch")] == ["Arch"]
    assert demo()["figures"]["geometry"]["drags"] == {"enter": 2, "drop": 1}
    # A typed scale is taken by a click on the figure (which takes no focus); one out of range is
    # refused at a click on the label panel.  Either way the box shows what is applied.
    widgets = demo()["widgets"]
    for typed, where, shown in (("4", widgets["figures"]["geometry"], "4.00"),
                                ("10", widgets["labels"]["Wedge"], "4.00")):
        click(display, center(widgets["controls"]["scale"]))
        xdotool(display, "key", "ctrl+a")
        xdotool(display, "type", typed)
        click(display, center(where))
        state = poll(lambda: (s := demo())["scale_text"] == shown and s, f"the box to show {shown}")
        assert state["figures"]["geometry"]["shown_scales"] == [pytest.approx(4.0)]
    assert state["message"] == "Scale '10' refused: type a number from 0.1 to 5." and state["message_is_error"]
    # the window system knows the window by the program's name
    assert xdotool(display, "search", "--classname", "^zentrope-demo$").split()


def test_the_window_fits_a_small_screen_at_twice_the_scale(tmp_path):
    with xvfb("1600x1000x24") as env, running_demo({**env, "QT_SCALE_FACTOR": "2"}, tmp_path) as demo:
        x, y, width, height = demo()["widgets"]["window"]  # in pixels at the scale
        assert x >= 0 and y >= 0 and 2 * (x + width) <= 1600 and 2 * (y + height) <= 1000


def test_large_csv_file_dragged_from_another_process(demo, display, tmp_path):
    rows, path = 400_000, tmp_path / "long_run.csv"
    x = np.arange(rows, dtype=float)
    np.savetxt(path, np.column_stack([x, np.sin(x / 5000), np.cos(x / 5000)]), fmt="%.6g", delimiter=",")
    with subprocess.Popen([sys.executable, "-c", SOURCE % str(path)], env=display, stdout=subprocess.PIPE,
                          text=True) as source:
        try:  # the source lives on: the demo asks it for the file's URL after the drop
            drag(display, demo, tuple(map(int, source.stdout.readline().split())), 1)
            state = poll(lambda: demo()["figures"]["geometry"]["elements"] and demo(), "the read", 60)
        finally:
            source.terminate()
    [element] = state["figures"]["geometry"]["elements"]
    assert (element["name"], element["kind"], element["lines"], element["x_range"]) == (
        "long_run", "csv", 2, [0, rows - 1])
    assert state["message"].endswith(f"its x values 0 to {rows - 1} are shown as 0 to 100.")
    assert not (state["message_is_error"] or state["busy_cursor"])


def test_ctrl_c_ends_the_demo(demo):
    demo.process.send_signal(signal.SIGINT)
    assert demo.process.wait(10) == 130
