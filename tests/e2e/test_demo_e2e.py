"""Real drags onto the demo's window on a private X display, end to end."""
# xdotool presses and moves the pointer on the Xvfb display, so the drags go
# through Qt's own drag and drop (xcb) from mouse input to the figures'
# handlers.  Outcomes are read from the demo's state file, polled until they
# show up.
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "csv_drag_source.py")


def poll(read, what, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = read()
        if value:
            return value
        time.sleep(0.05)
    pytest.fail(f"timed out after {timeout:g}s waiting for {what}")


def read_json(path):
    # both writers replace the file whole, so it is either absent or complete
    return json.loads(path.read_text(encoding="utf-8")) if path.exists() else None


def center(rect):
    return rect[0] + rect[2] // 2, rect[1] + rect[3] // 2


@pytest.fixture(scope="module")
def display():
    """A private Xvfb server; yields the environment for programs on it."""
    if not (shutil.which("Xvfb") and shutil.which("xdotool")):
        pytest.skip("needs Xvfb and xdotool (Debian packages xvfb, xdotool)")
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24",
                               "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()  # empty when the server gave up
    env = {**os.environ, "DISPLAY": f":{number}", "QT_QPA_PLATFORM": "xcb"}
    if not number or subprocess.call(["xdotool", "getmouselocation"], env=env, stdout=subprocess.DEVNULL):
        server.kill()
        server.wait()
        pytest.skip("Xvfb could not be started, or xdotool cannot drive it")
    yield env
    server.terminate()
    server.wait(10)


def drag(env, demo, start, entered):
    """Press at ``start``, glide onto the geometry figure, release after its ``entered``-th enter."""
    def xdotool(*args):
        subprocess.run(["xdotool", *map(str, args)], env=env, check=True, timeout=10)
    end = center(demo()["widgets"]["figures"]["geometry"])
    xdotool("mousemove", "--sync", *start)
    xdotool("mousedown", 1)
    try:
        for k in range(1, 21):
            xdotool("mousemove", "--sync", start[0] + (end[0] - start[0]) * k // 20,
                    start[1] + (end[1] - start[1]) * k // 20)
            time.sleep(0.03)
        poll(lambda: demo()["figures"]["geometry"]["drags"]["enter"] >= entered,
             "the drag to reach the figure")
    finally:
        xdotool("mouseup", 1)


@pytest.fixture
def demo(display, tmp_path):
    """The demo in a process of its own; yields a function reading its state
    (with the process as its ``process`` attribute)."""
    state_path = tmp_path / "state.json"
    # Started outside the source tree, so that the installed package runs; its
    # output goes to the test's captured output.
    process = subprocess.Popen([sys.executable, "-m", "zentrope.demo", "--state-file", state_path],
                               cwd=tmp_path, env=display)

    def state():
        assert process.poll() is None, f"the demo exited with {process.returncode}"
        return read_json(state_path)
    state.process = process
    try:
        poll(lambda: (state() or {}).get("visible"), "the demo window to be shown")
        yield state
    finally:
        if process.poll() is None:
            process.terminate()
        process.wait(10)


def drag_file_from_another_process(demo, display, path, tmp_path, outcome, timeout=20.0):
    """Drag ``path`` out of a second process's window onto the geometry figure;
    returns ``outcome()`` once it is true.  The source lives until then: the
    demo asks it for the file's URL after the drop."""
    info_path = tmp_path / "source.json"
    x, y, width, _ = demo()["widgets"]["window"]
    source = subprocess.Popen([sys.executable, SOURCE, path, str(min(x + width + 20, 1600)),
                               str(y + 40), info_path], env=display)
    try:
        drag(display, demo, center(poll(lambda: read_json(info_path), "the drag source window")), 1)
        return poll(outcome, f"the drop of {os.path.basename(path)} to take effect", timeout)
    finally:
        source.terminate()
        source.wait(10)


def test_label_drags_onto_the_geom_only_figure(demo, display):
    labels = demo()["widgets"]["labels"]
    # Not a geometry: it reaches the figure and is refused.  The drag is over
    # before the next begins, so the element list shows it added nothing.
    drag(display, demo, center(labels["Load curve"]), 1)
    drag(display, demo, center(labels["Arch"]), 2)
    geometry = poll(lambda: demo()["figures"]["geometry"]["elements"] and demo()["figures"]["geometry"],
                    "the Arch element")
    assert [el["name"] for el in geometry["elements"]] == ["Arch"]
    assert geometry["drags"] == {"enter": 2, "drop": 1}


def test_csv_file_dragged_from_another_process(demo, display, tmp_path):
    csv_path = tmp_path / "two_lines.csv"
    csv_path.write_text("x,upper,lower\n0,5,1\n50,7,2\n100,6,0\n")
    elements = drag_file_from_another_process(
        demo, display, csv_path, tmp_path, lambda: demo()["figures"]["geometry"]["elements"])
    assert [(el["name"], el["kind"], el["lines"]) for el in elements] == [("two_lines", "csv", 2)]
    assert not demo()["message_is_error"]


def test_large_csv_file_read_while_the_window_runs(demo, display, tmp_path):
    rows = 400_000
    csv_path = tmp_path / "long_run.csv"
    x = np.arange(rows, dtype=float)
    np.savetxt(csv_path, np.column_stack([x, np.sin(x / 5000)]), fmt="%.6g", delimiter=",")
    state = drag_file_from_another_process(
        demo, display, csv_path, tmp_path, lambda: demo()["figures"]["geometry"]["elements"] and demo(), 60)
    assert state["figures"]["geometry"]["elements"][0]["x_range"] == [0, rows - 1]
    assert state["message"].endswith(f"its x values 0 to {rows - 1} are shown as 0 to 100.")
    assert not state["busy_cursor"] and state["figures"]["geometry"]["drags"]["drop"] == 1


def test_ctrl_c_ends_the_demo(demo):
    demo.process.send_signal(signal.SIGINT)
    assert demo.process.wait(10) == 130
