"""A scripted demo session: drags and drops delivered as real Qt events.

Each drag goes through ``QApplication.sendEvent`` the way Qt's own drag
machinery delivers it: a drag-enter, then a drop if the target accepted the
enter, or a drag-leave if it did not.  The figures' own handlers decide;
the session only checks the outcome in the demo's state.
"""
import os
import tempfile

import numpy as np
from PySide6 import QtCore, QtGui, QtWidgets

from .elements import make_library_element
from .window import sample_files

Qt = QtCore.Qt


class SessionError(RuntimeError):
    """A scripted step did not have the outcome it should have."""


def send_drag(target, mime):
    """Drag ``mime`` onto the middle of ``target``; True if it was dropped."""
    pos = target.rect().center()
    action = Qt.DropAction.CopyAction
    buttons, modifiers = Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier
    try:  # PySide6 6.12 takes a QPointF and deprecates the QPoint form, which 6.5 alone has
        enter = QtGui.QDragEnterEvent(QtCore.QPointF(pos), action, mime, buttons, modifiers)
    except TypeError:
        enter = QtGui.QDragEnterEvent(pos, action, mime, buttons, modifiers)
    QtWidgets.QApplication.sendEvent(target, enter)
    if not enter.isAccepted():
        QtWidgets.QApplication.sendEvent(target, QtGui.QDragLeaveEvent())
        return False
    drop = QtGui.QDropEvent(QtCore.QPointF(pos), action, mime, buttons, modifiers)
    QtWidgets.QApplication.sendEvent(target, drop)
    return True


def drag_label(label, target):
    """Drag a library label onto ``target``: the mime data is owned by the label."""
    mime = QtCore.QMimeData()
    mime.setText(label.name)
    mime.setParent(label)
    try:
        return send_drag(target, mime)
    finally:
        mime.setParent(None)


def drag_files(paths, target):
    """Drag files (as a file manager would: URLs, no source object) onto ``target``."""
    mime = QtCore.QMimeData()
    mime.setUrls([QtCore.QUrl.fromLocalFile(os.fspath(p)) for p in paths])
    return send_drag(target, mime)


def wait_for_loads(window, timeout=30.0):
    """Run the event loop until the window has read every dropped CSV file;
    returns False if that took longer than ``timeout`` seconds."""
    if window.loader.busy:
        loop = QtCore.QEventLoop()
        timer = QtCore.QTimer(loop)
        timer.setSingleShot(True)
        timer.timeout.connect(loop.quit)
        window.loader.idle.connect(loop.quit)
        timer.start(int(timeout * 1000))
        try:
            loop.exec()
        finally:
            window.loader.idle.disconnect(loop.quit)
    return not window.loader.busy


def _names(window, key):
    return [el.name for el in window.model.figures[key].elements]


def _expect(condition, what):
    if not condition:
        raise SessionError(what)


def run_session(window):
    """Run the scripted session on a shown DemoWindow; returns a log of steps."""
    log = []
    model, figures, labels = window.model, window.figures, window.labels
    samples = {os.path.basename(p): p for p in sample_files()}

    def drop_label(name, key, accepted=True):
        before = _names(window, key)
        dropped = drag_label(labels[name], figures[key])
        _expect(dropped == accepted,
                f"the {key} figure {'refused' if accepted else 'accepted'} the {name} label")
        expected = before + [name] if accepted else before
        _expect(_names(window, key) == expected,
                f"after dropping {name}: {key} holds {_names(window, key)}, not {expected}")
        log.append(f"label {name} -> {key}: {'added' if accepted else 'refused'}")

    def drop_csv(path, key, adds=True):
        before = _names(window, key)
        _expect(drag_files([path], figures[key]), f"the {key} figure refused {path}")
        _expect(wait_for_loads(window), f"{path} was not read in time")
        stem = os.path.splitext(os.path.basename(path))[0]
        expected = before + [stem] if adds else before
        _expect(_names(window, key) == expected,
                f"after dropping {path}: {key} holds {_names(window, key)}, not {expected}")
        _expect(model.message_is_error != adds, f"unexpected message: {model.message}")
        log.append(f"csv {os.path.basename(path)} -> {key}: "
                   f"{'added' if adds else 'refused: ' + model.message}")

    drop_label("Arch", "geometry")
    drop_label("Load curve", "geometry", accepted=False)
    drop_label("Load curve", "workbench")
    drop_csv(samples["terrain_profile.csv"], "geometry")
    with tempfile.TemporaryDirectory(prefix="zentrope-demo-") as scratch:
        broken = os.path.join(scratch, "broken.csv")
        with open(broken, "w", encoding="utf-8") as f:
            f.write("x,y\n0,1\n10,oops\n")
        drop_csv(broken, "workbench", adds=False)
    drop_label("Channel", "geometry")
    drop_csv(samples["sensor_log.csv"], "workbench")
    drop_label("Steps", "workbench")
    drop_csv(samples["pump_pressure.csv"], "workbench")
    _expect(model.figures["workbench"].elements[-1].x_range == (0, 240),
            "the pump test's x values 0 to 240 were not mapped onto the figure")

    # Rescale the arch (one line) and the channel (two lines).
    for name, scale in (("Arch", 1.5), ("Channel", 0.6)):
        index = _names(window, "geometry").index(name)
        window.element_list.setCurrentRow(
            [(k, i) for k, i, _ in model.entries()].index(("geometry", index)))
        _expect(window.highlighted("geometry") == [index], f"{name} is not highlighted")
        window.scale_spin.setValue(scale)
        lines = figures["geometry"].artists[index]
        original = make_library_element(name).ys
        shown = np.array([line.get_ydata() for line in lines])
        _expect(np.allclose(shown, original * scale), f"{name} was not rescaled by {scale}")
        log.append(f"select {name}, scale {scale}: highlighted and rescaled")

    # Delete the load curve from the workbench.
    window.select("workbench", _names(window, "workbench").index("Load curve"))
    window.delete_selected()
    _expect("Load curve" not in _names(window, "workbench"), "the load curve was not deleted")
    _expect(len(figures["workbench"].artists) == len(_names(window, "workbench")),
            "the workbench figure and the element list disagree")
    log.append("delete Load curve: removed")

    window.dark_check.setChecked(True)
    _expect(model.dark, "the dark switch did not take")
    log.append("dark style: on")

    # Leave the arch selected for the picture.
    window.element_list.setCurrentRow(0)
    return log
