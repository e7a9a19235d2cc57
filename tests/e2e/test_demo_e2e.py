"""Real drags onto the demo's figures, end to end.

The demo runs in its own process with a real window on a private Xvfb
display (Qt's xcb platform); xdotool moves and presses the pointer there, so
the drags go through Qt's own drag and drop machinery from mouse input to
the figures' handlers.  Outcomes are read from the demo's state file, polled
until they appear or a timeout passes.
"""
import json
import os
import select
import shutil
import subprocess
import sys
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SCREEN = (1920, 1080)
TIMEOUT = 20.0


def poll(read, ready, timeout=TIMEOUT, what="a condition"):
    """Call ``read()`` until ``ready(value)`` holds; returns that value."""
    deadline = time.monotonic() + timeout
    value = None
    while time.monotonic() < deadline:
        value = read()
        if value is not None and ready(value):
            return value
        time.sleep(0.05)
    pytest.fail(f"timed out after {timeout:g}s waiting for {what}; last seen: {value!r}")


def read_json(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def center(rect):
    x, y, w, h = rect
    return x + w // 2, y + h // 2


@pytest.fixture(scope="module")
def display(tmp_path_factory):
    """A private Xvfb server; yields its DISPLAY name."""
    for tool, package in (("Xvfb", "xvfb"), ("xdotool", "xdotool")):
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} is not installed (Debian package {package})")
    log_path = tmp_path_factory.mktemp("xvfb") / "xvfb.log"
    read_end, write_end = os.pipe()
    with open(log_path, "wb") as log:
        server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=log, stderr=log)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 15
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        if select.select([read_end], [], [], 0.2)[0]:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        server.kill()
        server.wait()
        pytest.skip(f"Xvfb could not be started: {log_path.read_text(errors='replace')[-500:]}")
    name = f":{number.strip().decode()}"
    probe = subprocess.run(["xdotool", "getmouselocation"], env={**os.environ, "DISPLAY": name},
                           capture_output=True, text=True, timeout=10)
    if probe.returncode != 0:
        server.kill()
        server.wait()
        pytest.skip(f"xdotool cannot drive the Xvfb display: {probe.stderr.strip()}")
    yield name
    server.terminate()
    server.wait(10)


class Pointer:
    """Synthesised mouse input on the X display through xdotool."""

    def __init__(self, display):
        self.env = {**os.environ, "DISPLAY": display}

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=10)

    def move(self, x, y):
        self.xdotool("mousemove", "--sync", x, y)

    def glide(self, start, end, steps=15):
        (x0, y0), (x1, y1) = start, end
        for k in range(1, steps + 1):
            self.move(x0 + (x1 - x0) * k // steps, y0 + (y1 - y0) * k // steps)
            time.sleep(0.03)

    def drag(self, start, end, arrived):
        """Press at ``start``, move to ``end`` in steps and release there.

        The first short moves are enough for a label to begin its drag.
        ``arrived`` is polled before the release, so the drop happens only
        once the drag has reached its target.
        """
        self.move(*start)
        time.sleep(0.1)
        self.xdotool("mousedown", 1)
        try:
            time.sleep(0.1)
            nudge = (start[0] + 20, start[1] + 4)
            self.glide(start, nudge, steps=4)
            self.glide(nudge, end)
            poll(arrived, bool, what="the drag to reach its target")
            time.sleep(0.1)
        finally:
            self.xdotool("mouseup", 1)


class Demo:
    """The demo application in a process of its own, on the test display."""

    def __init__(self, display, workdir):
        self.state_path = workdir / "state.json"
        self.log_path = workdir / "demo.log"
        self.env = {**os.environ, "DISPLAY": display, "QT_QPA_PLATFORM": "xcb"}
        self.env.pop("WAYLAND_DISPLAY", None)
        with open(self.log_path, "wb") as log:
            # Started from the work directory, so that the installed package is
            # imported rather than a source tree in the current directory.
            self.process = subprocess.Popen(
                [sys.executable, "-m", "zentrope.demo", "--state-file", str(self.state_path)],
                cwd=workdir, env=self.env, stdout=log, stderr=log)

    def state(self):
        if self.process.poll() is not None:
            pytest.fail(f"the demo exited with {self.process.returncode}:\n{self.log()}")
        return read_json(self.state_path)

    def log(self):
        return self.log_path.read_text(errors="replace")[-3000:]

    def wait(self, ready, what):
        return poll(self.state, ready, what=what)

    def names(self, key):
        return [el["name"] for el in self.state()["figures"][key]["elements"]]

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def demo(display, tmp_path):
    app = Demo(display, tmp_path)
    try:
        app.wait(lambda s: s["visible"] and s["widgets"]["figures"]["geometry"][2] > 0,
                 "the demo window to be shown")
        yield app
    finally:
        app.stop()


def test_label_drags_onto_the_geometry_figure(demo, display):
    pointer = Pointer(display)
    state = demo.state()
    labels = state["widgets"]["labels"]
    geometry_target = center(state["widgets"]["figures"]["geometry"])

    def entered(n):
        return lambda: demo.state()["figures"]["geometry"]["drags"]["enter"] >= n

    # A label that is not a geometry reaches the geometry figure and is refused.
    pointer.drag(center(labels["Load curve"]), geometry_target, entered(1))
    # Then a geometry label, which is added.  The refused drag had ended
    # before this one began, so the element list shows it added nothing.
    pointer.drag(center(labels["Arch"]), geometry_target, entered(2))
    state = demo.wait(lambda s: s["figures"]["geometry"]["elements"], "the Arch element")
    geometry = state["figures"]["geometry"]
    assert [el["name"] for el in geometry["elements"]] == ["Arch"]
    assert geometry["drags"] == {"enter": 2, "drop": 1}
    assert geometry["artists"] == 1 and geometry["highlighted"] == [0]
    assert state["figures"]["workbench"]["elements"] == []

    # The same non-geometry label is taken by the figure without geom_only.
    workbench_target = center(state["widgets"]["figures"]["workbench"])
    pointer.drag(center(labels["Load curve"]), workbench_target,
                 lambda: demo.state()["figures"]["workbench"]["drags"]["enter"] >= 1)
    state = demo.wait(lambda s: s["figures"]["workbench"]["elements"], "the Load curve element")
    assert demo.names("workbench") == ["Load curve"]
    assert demo.names("geometry") == ["Arch"]


def test_csv_file_drags(demo, display, tmp_path):
    csv_path = tmp_path / "two_lines.csv"
    csv_path.write_text("x,upper,lower\n0,5,1\n50,7,2\n100,6,0\n")
    info_path = tmp_path / "source.json"
    window = demo.state()["widgets"]["window"]
    x = min(window[0] + window[2] + 20, SCREEN[0] - 280)
    y = window[1] + 40
    env = {**demo.env}
    with open(tmp_path / "source.log", "wb") as log:
        source = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "csv_drag_source.py"),
             str(csv_path), str(x), str(y), str(info_path)],
            env=env, stdout=log, stderr=log)
    try:
        info = poll(lambda: read_json(info_path), lambda i: i["rect"][2] > 0,
                    what="the drag source window")
        target = center(demo.state()["widgets"]["figures"]["geometry"])
        Pointer(display).drag(center(info["rect"]), target,
                              lambda: demo.state()["figures"]["geometry"]["drags"]["enter"] >= 1)
        state = demo.wait(lambda s: s["figures"]["geometry"]["elements"], "the CSV element")
        (element,) = state["figures"]["geometry"]["elements"]
        assert element["name"] == "two_lines" and element["kind"] == "csv"
        assert element["lines"] == 2
        assert state["figures"]["geometry"]["artists"] == 1
        assert not state["message_is_error"]
        # The other application learns that its file was taken.
        info = poll(lambda: read_json(info_path), lambda i: i["results"], what="the drag's result")
        assert info["results"] == ["CopyAction"]
    finally:
        source.terminate()
        source.wait(10)

    # A file dragged out of the demo's own sample list arrives the same way.
    sample = state["widgets"]["samples"]["sensor_log.csv"]
    Pointer(display).drag(center(sample), center(state["widgets"]["figures"]["workbench"]),
                          lambda: demo.state()["figures"]["workbench"]["drags"]["enter"] >= 1)
    state = demo.wait(lambda s: s["figures"]["workbench"]["elements"], "the sample element")
    assert [el["name"] for el in state["figures"]["workbench"]["elements"]] == ["sensor_log"]
