"""The three implementations under test and what each needs to run on stand-ins.

- native: the installed extension module zentrope.widgets.models.gmodel.mpl;
- python: reference.py, the plain-Python twin;
- cython: reference.py compiled by Cython (a copy named cython_twin.py,
  built in bench/_build/<interpreter tag>/, which git ignores).

Methods are taken from the class ``__dict__`` and called unbound with a
stand-in ``self``. ``swapped`` replaces, for the duration of a run, the module
globals the methods look up (``plt``, ``GeometryLabelDraggable``,
``is_dark``, ``QtWidgets``) and ``matplotlib.figure.Figure`` with stand-ins,
in all three modules alike.

``super()`` inside a native method needs ``self`` to be an instance of the
native class, whose base is the real FigureCanvasQTAgg. So for the
constructors and ``draw``, ``self`` is an instance of each implementation's
own class, made with ``__new__`` only (no Qt object behind it), and
``swapped`` also puts do-nothing methods in the place of the canvas-base
methods the widgets call: on FigureCanvasQTAgg, which the native classes
reach, and on the twins' StandInCanvas. All three then run on the same kind
of object and the same class layout.
"""
import contextlib
import hashlib
import importlib
import os
import shutil
import subprocess
import sys
from dataclasses import dataclass

import zentrope  # noqa: F401  (selects PySide6 for matplotlib)
import matplotlib.figure
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg

from standins import StandInCanvas

BENCH = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(BENCH, "_build", sys.implementation.cache_tag)  # one per interpreter version
SWAPPED = ("plt", "GeometryLabelDraggable", "is_dark", "QtWidgets")


@dataclass
class Impl:
    name: str
    module: object

    def cls(self, owner):
        return getattr(self.module, owner)

    def function(self, owner, method):
        return self.cls(owner).__dict__[method]

    def bare_instance(self, owner):
        """An instance of ``owner`` whose constructor has not run."""
        cls = self.cls(owner)
        return cls.__new__(cls)


def build_cython(force=False):
    """Compile reference.py as bench/_build/<tag>/cython_twin.*.so when stale."""
    try:
        import Cython  # noqa: F401
        import setuptools  # noqa: F401  (cythonize -i builds with it; not bundled from 3.12 on)
    except ImportError:
        raise SystemExit(f'the Cython twin needs Cython and setuptools: {sys.executable} -m pip install '
                         '"Cython>=3,<4" setuptools') from None
    os.makedirs(BUILD, exist_ok=True)
    with open(os.path.join(BENCH, "reference.py"), "rb") as f:
        source = f.read()
    digest = hashlib.sha256(source).hexdigest()
    stamp = os.path.join(BUILD, "cython_twin.sha256")
    built = [n for n in os.listdir(BUILD) if n.startswith("cython_twin.") and n.endswith(".so")]
    if not force and built and os.path.exists(stamp):
        with open(stamp) as f:
            if f.read().strip() == digest:
                return
    for name in built:
        os.remove(os.path.join(BUILD, name))
    shutil.rmtree(os.path.join(BUILD, "build"), ignore_errors=True)
    with open(os.path.join(BUILD, "cython_twin.py"), "wb") as f:
        f.write(source)
    print("==> compiling the Cython twin", file=sys.stderr)
    subprocess.run([sys.executable, "-m", "Cython.Build.Cythonize", "-3", "-q", "-i", "cython_twin.py"],
                   cwd=BUILD, check=True, stdout=subprocess.DEVNULL)
    with open(stamp, "w") as f:
        f.write(digest + "\n")


def load(names=("native", "python", "cython")):
    """The implementations, in the order asked for."""
    impls = []
    for name in names:
        if name == "native":
            module = importlib.import_module("zentrope.widgets.models.gmodel.mpl")
        elif name == "python":
            if BENCH not in sys.path:
                sys.path.insert(0, BENCH)
            module = importlib.import_module("reference")
        elif name == "cython":
            build_cython()
            if BENCH not in sys.path:
                sys.path.insert(0, BENCH)
            if BUILD not in sys.path:
                sys.path.insert(0, BUILD)
            module = importlib.import_module("cython_twin")
            assert module.__file__.endswith(".so"), module.__file__
        else:
            raise ValueError(f"unknown implementation {name!r}")
        impls.append(Impl(name, module))
    return impls


def environment(kit):
    """Stand-ins for the swapped module globals and the figure class."""
    ax = kit.obj(
        "ax",
        set_xmargin=kit.sink("ax.set_xmargin"),
        set_xlim=kit.sink("ax.set_xlim", 2),
        set_facecolor=kit.sink("ax.set_facecolor"),
        get_xticklabels=kit.returns("ax.get_xticklabels", []),
        get_yticklabels=kit.returns("ax.get_yticklabels", []),
        relim=kit.returns("ax.relim", None),
        autoscale_view=kit.returns("ax.autoscale_view", None),
    )
    fig = kit.obj("fig", add_axes=kit.func("fig.add_axes", ax))
    policy = kit.obj("Policy", Expanding="Expanding")
    return {
        "plt": kit.obj("plt", setp=kit.sink("setp", 2)),
        "GeometryLabelDraggable": kit.label_class,
        "is_dark": kit.func("is_dark", False),
        "QtWidgets": kit.obj("QtWidgets", QSizePolicy=kit.obj("QSizePolicy", Policy=policy)),
        "Figure": kit.func("Figure", fig),
    }


@contextlib.contextmanager
def patched(objects_and_values):
    """Sets attributes, then restores them (or deletes those that were not set)."""
    missing = object()
    saved = [(o, name, o.__dict__.get(name, missing)) for o, name, _ in objects_and_values]
    try:
        for o, name, value in objects_and_values:
            setattr(o, name, value)
        yield
    finally:
        for o, name, value in reversed(saved):
            if value is missing:
                delattr(o, name)
            else:
                setattr(o, name, value)


@contextlib.contextmanager
def swapped(impls, kit):
    """Stand-in globals and canvas-base methods for all ``impls``; undone on exit."""
    env = environment(kit)
    changes = [(impl.module, name, env[name]) for impl in impls for name in SWAPPED]
    changes.append((matplotlib.figure, "Figure", env["Figure"]))
    for name, method in kit.canvas_methods().items():
        changes += [(FigureCanvasQTAgg, name, method), (StandInCanvas, name, method)]
    with patched(changes):
        yield env
