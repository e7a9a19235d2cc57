"""Run the developer block of the native plotting module.

    python -m zentrope.devblock [--screenshot PATH]

The extension ``zentrope.widgets.models.gmodel.mpl`` exports the C flag
``int zentrope_mpl_main``.  When it is nonzero at import time the module
treats itself as the main program and runs its developer block: it creates
the application, shows a small plot widget and enters the event loop.

This launcher loads the extension's shared object with ctypes, raises the
flag and then imports the module.  With ``--screenshot`` (or when there is no
display, in which case Qt's offscreen platform is used and the picture goes
to ``out/devblock.png``) the event loop only runs long enough to save the
visible windows into a PNG file and then returns.
"""
from __future__ import annotations

import argparse
import ctypes
import importlib
import importlib.machinery
import importlib.util
import os
import sys
from collections.abc import Sequence

from zentrope._dev import screenshot_target

MODULE = "zentrope.widgets.models.gmodel.mpl"
FLAG = "zentrope_mpl_main"
DEFAULT_SCREENSHOT = os.path.join("out", "devblock.png")


def extension_path() -> str:
    spec = importlib.util.find_spec(MODULE)
    # Without a build for this interpreter the module found is the plain-Python
    # stand-in beside where the extension would be.
    if (spec is None or not spec.origin or not os.path.isfile(spec.origin)
            or not spec.origin.endswith(tuple(importlib.machinery.EXTENSION_SUFFIXES))):
        pkg = sys.modules.get("zentrope")
        where = os.path.dirname(pkg.__file__) if pkg is not None and pkg.__file__ else "?"
        raise SystemExit(
            f"devblock: the native module {MODULE} is not built "
            f"(package found at {where}); install the package "
            f"(bash scripts/dev-install.sh) and run from outside the source tree")
    return spec.origin


def set_main_flag(path: str, value: int = 1) -> ctypes.CDLL:
    lib = ctypes.CDLL(path)
    try:
        flag = ctypes.c_int.in_dll(lib, FLAG)
    except ValueError:
        raise SystemExit(f"devblock: {path} does not export {FLAG}") from None
    flag.value = value
    return lib


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m zentrope.devblock",
                                     description=(__doc__ or "").split("\n\n")[1])
    parser.add_argument("--screenshot", metavar="PATH",
                        help="save the shown window into this PNG file and exit")
    args = parser.parse_args(argv)

    screenshot = screenshot_target(args.screenshot, DEFAULT_SCREENSHOT)
    if screenshot is not None:
        screenshot = os.path.abspath(screenshot)
        if os.path.exists(screenshot):
            os.remove(screenshot)

    path = extension_path()
    if MODULE in sys.modules:
        raise SystemExit(f"devblock: {MODULE} was already imported")
    lib = set_main_flag(path)

    from zentrope._dev import ZentropeApplication
    ZentropeApplication.screenshot_path = screenshot

    # Runs the developer block; returns when its event loop has ended.
    importlib.import_module(MODULE)

    if screenshot is not None:
        if not os.path.isfile(screenshot):
            print(f"devblock: no screenshot was written to {screenshot}", file=sys.stderr)
            return 1
        print(f"devblock: screenshot saved to {screenshot}")
    del lib
    return 0


if __name__ == "__main__":
    sys.exit(main())
