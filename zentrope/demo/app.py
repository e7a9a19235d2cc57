"""Command line entry of the demo.

With a display the demo opens its window and runs until it is closed.  With
no display (Qt's offscreen platform is then used), or when ``--screenshot``
is given, it runs a short scripted session of drags and drops through the
same code paths, saves a picture of the window and exits.
"""
import argparse
import os
import sys

from zentrope.devblock import has_display

DEFAULT_SCREENSHOT = os.path.join("out", "demo.png")


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


def main(argv=None):
    args = parse_args(argv)
    screenshot = args.screenshot
    if not has_display():
        os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
        if screenshot is None:
            screenshot = DEFAULT_SCREENSHOT

    from PySide6 import QtWidgets

    from zentrope._dev import ZentropeApplication
    app = QtWidgets.QApplication.instance() or ZentropeApplication()

    from .session import SessionError, run_session
    from .window import DemoWindow

    window = DemoWindow(state_file=args.state_file)
    window.resize(1180, 720)
    window.show()
    app.processEvents()
    if screenshot is None:
        return app.exec()

    try:
        log = run_session(window)
    except SessionError as e:
        print(f"demo: scripted session failed: {e}", file=sys.stderr)
        return 1
    app.processEvents()
    window.write_state()
    for line in log:
        print(f"demo: {line}")
    print(f"demo: screenshot saved to {save_picture(window, screenshot)}")
    window.close()
    return 0
