"""Command line entry of the demo.

With a display the demo opens its window and runs until it is closed.  With
no display (Qt's offscreen platform is then used), or when ``--screenshot``
is given, it runs a short scripted session of drags and drops through the
same code paths, saves a picture of the window and exits.
"""
import argparse
import os
import signal
import socket
import sys

from zentrope._dev import screenshot_target

DEFAULT_SCREENSHOT = os.path.join("out", "demo.png")
#: exit status after Ctrl+C (128 + SIGINT, as a shell reports it)
EXIT_INTERRUPTED = 128 + signal.SIGINT


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="python -m zentrope.demo",
        description="Demo of the geometry model figures: drag labels and CSV files onto them.")
    parser.add_argument("--screenshot", metavar="PATH",
                        help="run the scripted session, save the window into this PNG "
                             f"file and exit (the default without a display: {DEFAULT_SCREENSHOT})")
    parser.add_argument("--state-file", metavar="PATH",
                        help="keep the demo's state, as JSON, in this file (rewritten at every change)")
    return parser.parse_args(argv)


def save_picture(window, path):
    path = os.path.abspath(path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if not window.grab().save(path, "PNG"):
        raise OSError(f"could not write {path}")
    return path


class QuitOnInterrupt:
    """While active, SIGINT (Ctrl+C) closes the windows and ends the event
    loop; ``received`` tells whether it came.

    Python runs a signal handler only when the main thread next executes
    Python code, which an idle Qt event loop never does.  So once ``watch``
    is given the application, the signal is also written to a socket
    (``signal.set_wakeup_fd``) that a socket notifier watches: the
    notifier's slot wakes the loop, and the handler runs with it.
    """

    def __init__(self):
        self.received = False
        self._notifier = None
        self._sockets = ()

    def __enter__(self):
        self._old_handler = signal.signal(signal.SIGINT, self._on_signal)
        return self

    def watch(self, app):
        from PySide6 import QtCore
        self._sockets = socket.socketpair()
        for sock in self._sockets:
            sock.setblocking(False)
        self._notifier = QtCore.QSocketNotifier(self._sockets[0].fileno(),
                                                QtCore.QSocketNotifier.Type.Read, app)
        self._notifier.activated.connect(self._drain)
        self._old_fd = signal.set_wakeup_fd(self._sockets[1].fileno())

    def __exit__(self, *exc):
        signal.signal(signal.SIGINT, self._old_handler)
        if self._notifier is not None:
            signal.set_wakeup_fd(self._old_fd)
            self._notifier.setEnabled(False)
        for sock in self._sockets:
            sock.close()

    def _drain(self):
        try:
            self._sockets[0].recv(512)
        except BlockingIOError:
            pass

    def _on_signal(self, signum, frame):
        # The handler runs between any two Python statements, possibly in the
        # middle of an event handler (a drop, a redraw): the windows are
        # closed from the event loop, once that handler has returned.
        self.received = True
        from PySide6 import QtCore
        if QtCore.QCoreApplication.instance() is not None:
            QtCore.QTimer.singleShot(0, self._quit)

    @staticmethod
    def _quit():
        from PySide6 import QtWidgets
        app = QtWidgets.QApplication.instance()
        for window in app.topLevelWidgets():
            window.close()
        app.quit()


def main(argv=None):
    args = parse_args(argv)
    screenshot = screenshot_target(args.screenshot, DEFAULT_SCREENSHOT)
    with QuitOnInterrupt() as interrupt:
        status = _run(args.state_file, screenshot, interrupt)
    return EXIT_INTERRUPTED if interrupt.received else status


def _run(state_file, screenshot, interrupt):
    from PySide6 import QtWidgets

    from zentrope._dev import ZentropeApplication
    # Named after the program rather than its file (__main__.py): the window
    # system takes the window's class from it.
    app = QtWidgets.QApplication.instance() or ZentropeApplication(["zentrope-demo", *sys.argv[1:]])
    interrupt.watch(app)

    from .session import SessionError, run_session
    from .window import PREFERRED_SIZE, DemoWindow

    window = DemoWindow(state_file=state_file)
    if app.platformName() == "offscreen":  # no screen to fit: the picture has the preferred size
        window.resize(*PREFERRED_SIZE)
    else:
        window.fit_to_screen()
    if interrupt.received:
        return EXIT_INTERRUPTED
    window.show()
    app.processEvents()
    if screenshot is None:
        return EXIT_INTERRUPTED if interrupt.received else app.exec()

    try:
        log = run_session(window)
    except SessionError as e:
        if interrupt.received:
            return EXIT_INTERRUPTED
        print(f"demo: scripted session failed: {e}", file=sys.stderr)
        return 1
    if interrupt.received:
        return EXIT_INTERRUPTED
    app.processEvents()
    window.write_state()
    for line in log:
        print(f"demo: {line}")
    print(f"demo: screenshot saved to {save_picture(window, screenshot)}")
    window.close()
    return 0
