"""Child interpreter of the differential fuzzer (see test_differential.py).

It holds two worlds side by side: the native module and its plain-Python twin
(bench/reference.py, loaded with the real FigureCanvasQTAgg as its base). The
parent sends ("reset",) or ("step", op) over stdin; each step runs in both
worlds and the answer is one observation per world: the outcome (result or
exception), the log of calls made on fakes, hooks fired and signals emitted,
and the state of every widget afterwards. Ops and values are plain tuples
(the small language is documented at World.run, World.make and World.apply);
every hostile object is built anew in each world, and its side effects reach
only its own world.
"""
import enum
import itertools
import os
import re
import sys
import types

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
os.environ.setdefault("QT_API", "pyside6")

import matplotlib  # noqa: E402
import matplotlib.pyplot as pyplot  # noqa: E402
import numpy as np  # noqa: E402
import shiboken6  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from PySide6 import QtCore, QtGui, QtWidgets  # noqa: E402

import zentrope.widgets.models.gmodel.mpl as native  # noqa: E402
from zentrope.widgets.library.labels import GeometryLabelDraggable as Label  # noqa: E402

REFERENCE = os.path.join(os.path.dirname(__file__), "..", "..", "bench", "reference.py")
BENCH_BASE = "from standins import StandInCanvas as FigureCanvas\n"
REAL_BASE = "from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg as FigureCanvas\n"
HANDLERS = {"enter": "dragEnterEvent", "leave": "dragLeaveEvent", "drop": "dropEvent"}
ERRORS = {"ValueError": ValueError, "AttributeError": AttributeError, "KeyError": KeyError}
CLASSES = {"QObject": QtCore.QObject, "QLabel": QtWidgets.QLabel, "label": Label,
           "tuple": (QtCore.QObject, Label)}
Qt = QtCore.Qt


def load_twin():
    """bench/reference.py, executed as a module whose canvas base is the real one."""
    with open(REFERENCE) as f:
        source = f.read()
    assert source.count(BENCH_BASE) == 1, "the twin's canvas import line has changed"
    module = types.ModuleType(native.__name__)  # same name: reprs and qualnames read alike
    exec(compile(source.replace(BENCH_BASE, REAL_BASE), os.path.abspath(REFERENCE), "exec"),
         module.__dict__)
    for cls in (module._MPLDragWidget, module.GeometryModelFigure):
        for name in set(HANDLERS.values()) & set(vars(cls)):
            setattr(cls, name, normalizing(vars(cls)[name]))
    return module


def normalizing(handler):
    """The twin's event handler, raising only normalized exceptions.

    PySide's path for an error leaving an override dispatched by Qt crashes on
    an unnormalized exception, and plain Python code can raise one (isinstance
    with a second argument that is no class). The native module normalizes at
    its boundary and survives; an except clause does the same for the twin.
    """
    def method(self, e):
        try:
            return handler(self, e)
        except Exception:
            raise
    method.__name__, method.__qualname__ = handler.__name__, handler.__qualname__
    return method


def norm(text):
    return re.sub(r"0x[0-9a-fA-F]+", "0x?", text)


def describe(x, depth=0):
    """A comparable text for x: its fuzzer role if it has one, else its value or type."""
    try:
        role = x.__dict__.get("_fz_role")
    except Exception:
        role = None
    if role:
        return role
    if type(x) in (bool, int, float, str, type(None)):
        return norm(repr(x))
    if isinstance(x, (np.generic, int, float, str)):
        return f"{type(x).__name__}({norm(repr(x))})"
    if isinstance(x, np.ndarray):
        return f"array{x.shape}:{x.ravel()[:12].tolist()!r}"
    if isinstance(x, enum.Enum):
        return f"{type(x).__name__}.{x.name}"
    if isinstance(x, (list, tuple)) and depth < 3:
        return (type(x).__name__,) + tuple(describe(v, depth + 1) for v in x[:10])
    if isinstance(x, dict) and depth < 3:
        return tuple((k, describe(v, depth + 1)) for k, v in x.items())
    if isinstance(x, type):
        return f"class {x.__qualname__}"
    return f"<{type(x).__qualname__}>"


# From 3.12 the specialising interpreter calls a property's getter straight from the
# attribute read, without the .name/.obj its generic path adds to an AttributeError the
# getter raises: for those the twin's answer depends on how warm its code is.
GETTER_CONTEXT_VARIES = sys.version_info >= (3, 12)


def outcome_of(exc):
    out = (type(exc).__qualname__, norm(str(exc)))
    context = not (GETTER_CONTEXT_VARIES and isinstance(exc, AttributeError)
                   and "has no attribute" not in str(exc))
    if isinstance(exc, (NameError, AttributeError)) and context:
        out += (("name", getattr(exc, "name", "<unset>")),)
    if isinstance(exc, AttributeError) and context:
        out += (("obj", describe(getattr(exc, "obj", "<unset>"))),)
    return ("raised",) + out


class Trigger:
    """Runs one action the first time a hostile object reaches the named point."""

    def __init__(self, world, on, act):
        self.world, self.on, self.act = world, on, act

    def pull(self, where):
        if self.act is not None and where == self.on:
            act, self.act = self.act, None
            self.world.perform(act)


class Hostile:
    def __init__(self, world, kind, trigger=None, **attrs):
        self.__dict__.update(attrs, _fz_role=world.tag(kind), _fz_world=world,
                             _fz_trigger=trigger or Trigger(world, None, None))

    def _note(self, what, *args, **kwargs):
        self._fz_world.note(f"{self._fz_role}.{what}", args, kwargs)
        self._fz_trigger.pull(what)


class Index(Hostile):  # an index: __index__ and the comparisons remove_element makes
    def __index__(self):
        self._note("__index__")
        return self.k

    def __ge__(self, other):
        self._note("__ge__", other)
        return self.k >= other


class Truth(Hostile):
    def __bool__(self):
        self._note("__bool__")
        return self.value


class Equal(Hostile):  # an ndim whose comparison runs code
    def __eq__(self, other):
        self._note("__eq__", other)
        return self._fz_world.make(self.result)

    __hash__ = None


class Rows(Hostile):  # a value without ndim: iterates its rows
    def __iter__(self):
        self._note("__iter__")
        return iter(self.rows)


class RowsNdim(Rows):
    @property
    def ndim(self):
        return self._fz_world.make(self.ndim_value)


class Artist(Hostile):  # what the widgets and plt.setp call on an artist
    def remove(self):
        self._note("remove")

    def set_ydata(self, y):
        self._note("set_ydata", y)

    def update(self, props):
        self._note("update", props)

    def set(self, **props):
        self._note("set", **props)


class Element(Hostile):
    def plot(self, ax, *args, **kwargs):
        self._note("plot", ax, *args, **kwargs)
        w = self._fz_world
        kind, *rest = self.returns
        if kind == "raise":
            raise ValueError(f"{self._fz_role} cannot plot")
        if kind == "value":
            return w.make(rest[0])
        if kind == "fakes":  # ("fakes", n, method, action): the action runs in one artist's method
            trigger = Trigger(w, *rest[1:])
            return [Artist(w, "artist", trigger) for _ in range(rest[0])]
        n, shape = rest
        x = np.linspace(0.0, 100.0, 6)
        lines = ax.plot(*[v for k in range(n) for v in (x, x * 0 + k)], *args, **kwargs)
        for k, ln in enumerate(lines):
            ln._fz_role = f"{self._fz_role}.line{k}"
        return {"list": list, "tuple": tuple, "gen": lambda ls: (ln for ln in ls)}[shape](lines)


class Drag(Hostile):  # a duck-typed drag event, its mime data and its URLs, all of this class
    def mimeData(self):
        self._note("mimeData")
        return self.mime

    def accept(self):
        self._note("accept")

    def parent(self):
        self._note("parent")
        return self.source

    def hasUrls(self):
        self._note("hasUrls")
        return bool(self.urls)

    def urls(self):
        self._note("urls")
        return list(self.urls)

    def toLocalFile(self):
        self._note("toLocalFile")
        return self.path


class Plt(Hostile):  # a replacement plt that logs setp, then does the real one
    def setp(self, *args, **kwargs):
        self._note("setp", *args, **kwargs)
        return pyplot.setp(*args, **kwargs)


def alias(target):
    """A new object of target's class sharing its __dict__: the same state, another identity."""
    if type(target) is list:
        return list(target)
    try:
        new = object.__new__(type(target))
        new.__dict__ = target.__dict__
        return new
    except (TypeError, AttributeError):  # no plain instance dict: the object itself
        return target


def computed(attr):
    """A property over __dict__['_' + attr]; once _fz_fresh is set, every read is a new object
    (and the first such read runs the widget's hook)."""
    def get(self):
        try:
            value = self.__dict__["_" + attr]
        except KeyError:
            raise AttributeError(attr) from None
        if not self.__dict__.get("_fz_fresh"):
            return value
        self._fz_hook.pull("read")
        return alias(value)

    def put(self, value):
        self.__dict__["_" + attr] = value
    return property(get, put)


def fresh_draw(self):  # a property: the draw method behind a new object on every read
    draw = super(type(self), self).draw
    if not self.__dict__.get("_fz_fresh"):
        return draw
    self._fz_hook.pull("read")
    return lambda: draw()


def facecolor(w):
    ax = w.__dict__.get("ax", w.__dict__.get("_ax"))
    return repr(ax.get_facecolor()) if isinstance(ax, Axes) else None


class World:
    def __init__(self, name, module):
        self.name, self.mod, self.saved, self.classes = name, module, dict(vars(module)), {}
        self.qt = []
        self.reset()

    def reset(self):
        for obj in self.qt:  # parents first, so children go with them
            if shiboken6.isValid(obj):
                shiboken6.delete(obj)
        ns = vars(self.mod)
        ns.clear()
        ns.update(self.saved)
        self.widgets, self.qt, self.keep, self.log = [], [], [], []
        self.counter, self.target, self.dispatching = itertools.count(), None, False

    def tag(self, kind):
        return f"{kind}{next(self.counter)}"

    def note(self, what, args=(), kwargs=None):
        self.log.append((what, describe(args), describe(kwargs or {})))

    def step(self, op):
        self.log, self.target = [], None
        # errors Python or PySide print instead of raising (older PySide: from Qt-dispatched overrides)
        sys.excepthook = lambda t, exc, tb: self.log.append(("printed",) + outcome_of(exc))
        sys.unraisablehook = lambda u: self.log.append(("unraisable",) + outcome_of(u.exc_value))
        try:
            out = ("ok", describe(self.run(op)))
        except Exception as exc:
            out = outcome_of(exc)
        return out, self.log, [self.state(w) for w in self.widgets]

    def widget(self, k):
        if k == -1 and self.target is not None:
            return self.target
        if not self.widgets:
            raise LookupError("no widget yet")
        return self.widgets[k % len(self.widgets)]

    # ops: ("new", "drag"|"figure", parent, geom_only, computed, action)
    #      | ("call", k, method, args, kwargs)
    #      | ("event", k, event) | ("slot", k, action) | ("act", action)
    def run(self, op):
        kind = op[0]
        if kind == "new":
            return self.new(*op[1:])
        if kind == "act":
            return self.apply(op[1])
        self.target = w = self.widget(op[1])
        if kind == "call":
            args = [self.make(a) for a in op[3]]
            kwargs = {k: self.make(v) for k, v in op[4]}
            return getattr(w, op[2])(*args, **kwargs)
        if kind == "event":
            return self.deliver(w, *op[2])
        if kind == "slot":
            slot = Hostile(self, "slot", Trigger(self, "emit", op[2]))
            w.geom_dropped.connect(lambda *a: slot._note("emit", *a))
            w.csv_dropped.connect(lambda *a: slot._note("emit", *a))
            return None
        raise ValueError(op)

    def new(self, which, parent, geom_only, props, act):
        base = self.saved["_MPLDragWidget" if which == "drag" else "GeometryModelFigure"]
        cls = base
        if props:
            key = (which, props)
            if key not in self.classes:
                ns = {p: computed(p) for p in props if p in ("ax", "fig", "artists")}
                if "draw" in props:
                    ns["draw"] = property(fresh_draw)
                self.classes[key] = type(base)("Computed", (base,), ns)
            cls = self.classes[key]
        args = [self.make(parent), self.make(geom_only)]  # a parent among the widgets made before
        w = cls.__new__(cls)
        w._fz_role, w._fz_fresh = f"w{len(self.widgets)}", "early" in props
        w._fz_hook = Trigger(self, "read", act)
        self.widgets.append(w)
        self.qt.append(w)
        self.target = w
        try:
            w.__init__(*args[:1], *([None] if which == "figure" else []), *args[1:])
        finally:
            for attr in ("ax", "fig"):
                obj = w.__dict__.get(attr, w.__dict__.get("_" + attr))
                if isinstance(obj, (Axes, Figure)):
                    obj._fz_role = f"{w._fz_role}.{attr}"
            w._fz_fresh = bool(props)
            if which == "figure" and shiboken6.isValid(w):
                for signal in ("geom_dropped", "csv_dropped"):  # and the plot colour when emitted
                    try:
                        getattr(w, signal).connect(lambda *a, s=signal, w=w: self.note(
                            f"{w._fz_role}.{s}", a, {"facecolor": facecolor(w)}))
                    except RuntimeError:  # Qt object never made
                        pass

    # values: ("raise", error) | ("lit", x) | ("np", dtype, x) | ("slice", a, b) | ("obj",)
    #   | ("idx", k, on, act) | ("truth", value, act) | ("eq", result, act) | ("arr", shape, fill) | ("rows", ndim, n, act)
    #   | ("elem", returns, act) | ("widget", k) | ("attr", k, name) | ("qwidget", dark) | ("qobject",)
    #   | ("label", name, isgeom) | ("plt", act) | ("fn", value) | ("cls", name)
    def make(self, v):
        kind, *a = v
        if kind == "raise":
            raise ERRORS[a[0]]("raised by the fuzzer")
        if kind == "lit":
            return list(a[0]) if type(a[0]) is list else a[0]
        if kind == "np":
            return np.dtype(a[0]).type(a[1])
        if kind == "slice":
            return slice(*a)
        if kind == "obj":
            return object()
        if kind == "idx":
            return Index(self, "idx", Trigger(self, a[1], a[2]), k=a[0])
        if kind == "truth":
            return Truth(self, "truth", Trigger(self, "__bool__", a[1]), value=a[0])
        if kind == "eq":
            return Equal(self, "eq", Trigger(self, "__eq__", a[1]), result=a[0])
        if kind == "arr":
            shape, fill = a
            arr = 50.0 + np.arange(int(np.prod(shape)), dtype=float).reshape(shape)
            if fill != "ramp" and arr.size:
                arr.flat[arr.size // 2] = {"nan": np.nan, "inf": np.inf}[fill]
            return arr
        if kind == "rows":
            ndim, n, act = a
            return (Rows if ndim == "missing" else RowsNdim)(
                self, "rows", Trigger(self, "__iter__", act), ndim_value=ndim,
                rows=[np.full(6, 20.0 + k) for k in range(n)])
        if kind == "elem":
            returns, act = a
            if returns == ("noplot",):
                return Hostile(self, "noplot")
            return Element(self, "elem", Trigger(self, "plot", act), returns=returns)
        if kind == "widget":
            return self.widget(a[0])
        if kind == "attr":
            return getattr(self.widget(a[0]), a[1])
        if kind == "qwidget":
            q = QtWidgets.QWidget()
            pal = q.palette()
            light, dark = QtGui.QColor(235, 235, 235), QtGui.QColor(25, 25, 25)
            pal.setColor(QtGui.QPalette.ColorRole.Window, dark if a[0] else light)
            pal.setColor(QtGui.QPalette.ColorRole.WindowText, light if a[0] else dark)
            q.setPalette(pal)
            self.qt.insert(0, q)
            return q
        if kind == "qobject":
            q = QtCore.QObject()
            self.qt.insert(0, q)
            return q
        if kind == "label":
            lab = Label("label", True)
            lab.name, lab.isgeom = self.make(a[0]), self.make(a[1])
            self.qt.insert(0, lab)
            return lab
        if kind == "plt":
            return Plt(self, "plt", Trigger(self, "setp", a[0]))
        if kind == "fn":
            def fn(*args, **kwargs):
                self.note("fn", args, kwargs)
                return self.make(a[0])
            return fn
        if kind == "cls":
            return CLASSES[a[0]]
        raise ValueError(v)

    # actions: ("raise", name) | ("clear", k) | ("remove", k, i, j) | ("select", k, i) | ("draw", k)
    #   | ("rebind", global, value) | ("delglobal", global) | ("setattr", k, attr, value)
    #   | ("delattr", k, attr) | ("kill", k);  k == -1 is the widget the step works on
    def perform(self, act):
        """An action run from inside a hook: a raise propagates, anything else is logged."""
        if act[0] == "raise":
            self.make(act)
        try:
            self.apply(act)
            self.log.append(("act", repr(act), "ok"))
        except Exception as exc:
            self.log.append(("act", repr(act), outcome_of(exc)))

    def apply(self, act):
        kind, *a = act
        if kind == "raise":
            self.make(act)
        if kind == "rebind":
            vars(self.mod)[a[0]] = self.make(a[1])
        elif kind == "delglobal":
            vars(self.mod).pop(a[0], None)
        else:
            w = self.widget(a[0])
            if kind == "clear":
                w.clear()
            elif kind == "remove":
                w.remove_element(a[1], a[2])
            elif kind == "select":
                w.set_selection(a[1])
            elif kind == "draw":
                w.draw()
            elif kind == "setattr":
                setattr(w, a[1], self.make(a[2]))
            elif kind == "delattr":
                delattr(w, a[1])
            elif kind == "kill":
                if self.dispatching:  # Qt itself would use the deleted widget after the handler
                    self.log.append(("kill skipped while Qt dispatches",))
                elif shiboken6.isValid(w):
                    shiboken6.delete(w)

    # events: ("fake", kind, source, urls, (method, action)) | ("real", kind, source, urls, via)
    def deliver(self, w, src, kind, source, urls, extra):
        if src == "fake":
            trig = Trigger(self, *extra)
            mime = Drag(self, "mime", trig, source=self.make(source),
                        urls=[Drag(self, "url", trig, path=p) for p in urls])
            ev = Drag(self, "event", trig, mime=mime)
            return getattr(w, HANDLERS[kind])(ev)
        if kind == "leave":
            ev = QtGui.QDragLeaveEvent()
        else:
            mime = QtCore.QMimeData()
            if source is not None:
                mime.setParent(self.make(source))
            if urls:
                mime.setUrls([QtCore.QUrl(u) if "://" in u else QtCore.QUrl.fromLocalFile(u)
                              for u in urls])
            self.keep.append(mime)
            args = (Qt.DropAction.CopyAction, mime, Qt.MouseButton.LeftButton,
                    Qt.KeyboardModifier.NoModifier)
            if kind == "drop":
                ev = QtGui.QDropEvent(QtCore.QPointF(10, 10), *args)
            else:
                try:  # PySide6 6.12 takes a QPointF and deprecates the QPoint that 6.5 alone takes
                    ev = QtGui.QDragEnterEvent(QtCore.QPointF(10, 10), *args)
                except TypeError:
                    ev = QtGui.QDragEnterEvent(QtCore.QPoint(10, 10), *args)
        self.keep.append(ev)
        self.dispatching = extra != "direct"
        try:
            if extra == "direct":
                result = getattr(w, HANDLERS[kind])(ev)
            elif extra == "event":
                result = w.event(ev)
            else:
                result = QtWidgets.QApplication.sendEvent(w, ev)
        finally:
            self.dispatching = False
            self.note("event state", (ev.isAccepted(), getattr(ev, "dropAction", lambda: "")()))
        return result

    def state(self, w):
        d = w.__dict__
        out = [tuple(sorted(k for k in d if not k.startswith("_fz")))]
        out += [describe(d.get(k)) for k in ("geom_only", "_axcolor0", "_axcolor1")]
        out.append(describe(d.get("artists", d.get("_artists"))))
        ax, fig = d.get("ax", d.get("_ax")), d.get("fig", d.get("_fig"))
        if isinstance(ax, Axes):
            out += [facecolor(w)] + [repr(v) for v in (ax.get_xlim(), ax.get_ylim(),
                                                       ax.xaxis.label.get_color())]
            out += [describe(ax.xaxis._major_tick_kw.get("color"))]
            out += [(describe(ln), repr((ln.get_color(), ln.get_linewidth(), ln.get_zorder())),
                     describe(ln.get_ydata(orig=True))) for ln in ax.lines]
        if isinstance(fig, Figure):
            out += [repr(fig.patch.get_facecolor()), repr(fig.get_edgecolor())]
        if not shiboken6.isValid(w):
            return out + ["deleted"]
        try:
            return out + [w.acceptDrops(), w.minimumSize().toTuple(), describe(w.parent())]
        except RuntimeError as exc:  # the Qt object was never made
            return out + [norm(str(exc))]


def main():
    from multiprocessing.connection import Connection
    out = os.dup(1)
    os.dup2(2, 1)  # stray prints go to stderr, the replies to the original stdout
    rx, tx = Connection(0, writable=False), Connection(out, readable=False)
    matplotlib.rcParams["figure.figsize"] = (2.0, 1.5)  # smaller renders, same code paths
    app = QtWidgets.QApplication.instance() or QtWidgets.QApplication([])
    worlds = [World("native", native), World("twin", load_twin())]
    tx.send("ready")
    while True:
        try:
            msg = rx.recv()
        except EOFError:
            break
        if msg[0] == "reset":
            for world in worlds:
                print(f"[{world.name}] disposing", file=sys.stderr, flush=True)
                world.reset()
            tx.send("ok")
        else:
            answers = []
            for world in worlds:  # a crash report then follows the world it happened in
                print(f"[{world.name}]", file=sys.stderr, flush=True)
                answers.append(world.step(msg[1]))
            tx.send(answers)
    del app


if __name__ == "__main__":
    main()
