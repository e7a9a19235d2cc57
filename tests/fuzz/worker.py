"""Child interpreter of the differential fuzzer (see test_differential.py)."""
# It holds two worlds side by side: the native module and its plain-Python twin
# (bench/reference.py, loaded with the real FigureCanvasQTAgg as its base). The parent
# sends ("step", op) or ("reset",) over stdin, a socket; each step runs in both worlds and
# the answer is one observation per world: the outcome (result or exception), the log of
# calls made on fakes, actions run by hooks and signals emitted, and every widget's state
# afterwards. Ops are read by World.run; values and actions are tuples (kind, *arguments)
# read by the table World.table. Every fake is built anew in each world, and its side
# effects reach only its own world.
import contextlib
import enum
import gc
import itertools
import os
import pathlib
import re
import sys
import threading
from multiprocessing.connection import Connection

import matplotlib.pyplot as pyplot  # the parent's conftest has set QT_QPA_PLATFORM and QT_API for us
import numpy as np
import shiboken6
from matplotlib.axes import Axes
from matplotlib.figure import Figure
from PySide6 import QtCore, QtGui, QtWidgets

import zentrope.widgets.models.gmodel.mpl as native
from zentrope.widgets.library.labels import GeometryLabelDraggable as Label

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from conftest import drag_event, make_mime  # noqa: E402

try:  # other dict watchers (from 3.12, in builds with the test modules)
    from _testcapi import add_dict_watcher, clear_dict_watcher, unwatch_dict, watch_dict
except ImportError:
    add_dict_watcher = None

REFERENCE = pathlib.Path(__file__).resolve().parents[2] / "bench" / "reference.py"
BENCH_BASE = "from standins import StandInCanvas as FigureCanvas\n"
REAL_BASE = "from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg as FigureCanvas\n"
HANDLERS = {"enter": "dragEnterEvent", "leave": "dragLeaveEvent", "drop": "dropEvent"}
CLASSES = {"QObject": QtCore.QObject, "QLabel": QtWidgets.QLabel, "label": Label, "tuple": (QtCore.QObject, Label)}
# From 3.12 the specialising interpreter calls a property's getter straight from the
# attribute read, without the .name/.obj its generic path adds to an AttributeError the
# getter raises: for those the twin's answer depends on how warm its code is.
GETTER_CONTEXT_VARIES = sys.version_info >= (3, 12)
# From 3.14 the interpreter's method-call look-up binds with the class it read before the
# instance-dict look-up, and uses freed memory when an instance-dict key's __eq__ moves the
# object to another class and the old class is collected (the native module must survive that).
# There the twin's traps keep the old class alive, and the twin's binding is logged with the
# class the object has when it is bound, as the generic look-up (getattr) binds it on every
# version and the native module does.
TWIN_KEEPS_OLD_CLASSES = sys.version_info >= (3, 14)
# Where a trap goes on a widget. Not on the widget itself: a PySide wrapper whose class is
# assigned corrupts PySide's own state (plain Python crashes later, at a construction or at exit).
TRAP_TARGETS = {"ax": lambda w: w.ax, "patch": lambda w: w.fig.patch, "label": lambda w: w.ax.xaxis.label,
                "line": lambda w: w.artists[-1][0]}


def load_twin():  # bench/reference.py, executed as a module whose canvas base is the real one
    source = REFERENCE.read_text()
    assert source.count(BENCH_BASE) == 1, "the twin's canvas import line has changed"
    module = type(native)(native.__name__)  # a new module of the same name: reprs and qualnames read alike
    exec(compile(source.replace(BENCH_BASE, REAL_BASE), str(REFERENCE), "exec"), module.__dict__)
    for cls in (module._MPLDragWidget, module.GeometryModelFigure):
        for name in set(HANDLERS.values()) & set(vars(cls)):
            setattr(cls, name, normalizing(vars(cls)[name]))
    return module


def normalizing(handler):
    # The twin's event handler, raising only normalized exceptions. PySide's path for an
    # error leaving an override dispatched by Qt crashes on an unnormalized exception, and
    # plain Python code can raise one (isinstance with a second argument that is no class).
    # The native module normalizes at its boundary and survives; an except clause does the
    # same for the twin.
    def method(self, e):
        try:
            return handler(self, e)
        except Exception:
            raise
    method.__name__, method.__qualname__ = handler.__name__, handler.__qualname__
    return method


def norm(text):
    return re.sub(r"0x[0-9a-fA-F]+", "0x?", text)


def describe(x, depth=0):  # a comparable text for x: its fuzzer role if it has one, else its value or type
    if role := getattr(x, "__dict__", {}).get("_fz_role"):
        return role
    if isinstance(x, (np.generic, int, float, str, enum.Enum, type(None))):
        return f"{type(x).__name__}:{norm(repr(x))}"
    if isinstance(x, np.ndarray):
        return f"array{x.shape}:{x.ravel()[:12].tolist()!r}"
    if isinstance(x, (list, tuple, dict)) and depth < 5:
        items = x.items() if isinstance(x, dict) else (list if isinstance(x, list) else tuple).__getitem__(x, slice(10))
        return (type(x).__name__,) + tuple(describe(v, depth + 1) for v in items)  # (no overrides called)
    return f"class {x.__qualname__}" if isinstance(x, type) else f"<{type(x).__qualname__}>"


def outcome_of(exc):
    out = ("raised", type(exc).__qualname__, norm(str(exc)))
    if GETTER_CONTEXT_VARIES and isinstance(exc, AttributeError) and "has no attribute" not in str(exc):
        return out
    if isinstance(exc, (NameError, AttributeError)):  # (a NameError has no .obj)
        out += (("name", getattr(exc, "name", "<unset>")), ("obj", describe(getattr(exc, "obj", "<unset>"))))
    return out


def attempt(fn, *args):  # what fn returned or raised, comparably
    try:
        return ("ok", describe(fn(*args)))
    except Exception as exc:
        return outcome_of(exc)


def fail(error):
    raise {"ValueError": ValueError, "AttributeError": AttributeError}[error]("raised by the fuzzer")


def pull(obj, where):  # the hook of a fake or widget: its action runs the first time obj reaches the named point
    if obj._fz_act is not None and where == obj._fz_on:
        act, obj._fz_act = obj._fz_act, None
        if act[0] == "raise":  # propagates; any other action's outcome goes to the log
            fail(act[1])
        obj._fz_world.log.append(("act", repr(act), attempt(obj._fz_world.make, act)))


class Hostile:
    def __init__(self, world, role, on=None, act=None, **attrs):
        self.__dict__.update(attrs, _fz_role=f"{role}{next(world.counter)}", _fz_world=world, _fz_on=on, _fz_act=act)


def logged(name, answer):  # a fake's method: it logs the call, runs the fake's hook, then answers
    def method(self, *args, **kwargs):
        self._fz_world.note(f"{self._fz_role}.{name}", args, kwargs)
        pull(self, name)
        return answer(self, *args, **kwargs)
    return method


def plot(self, ax, *args, **kwargs):  # an element's: ("lines", n, shape) | ("fakes", n, method, action)
    w, (kind, *rest) = self._fz_world, self.returns  # | ("value", value) | ("raise",)
    if kind == "raise":
        raise ValueError(f"{self._fz_role} cannot plot")
    if kind == "value":
        return w.make(rest[0])
    if kind == "fakes":  # the action runs in the first artist's method
        return [FAKES["Artist"](w, "artist", *(rest[1:] if k == 0 else ())) for k in range(rest[0])]
    n, shape = rest
    x = np.linspace(0.0, 100.0, 6)
    lines = ax.plot(*[v for k in range(n) for v in (x, x * 0 + k)], *args, **kwargs)
    for k, ln in enumerate(lines):
        ln._fz_role = f"{self._fz_role}.line{k}"
    return {"list": list, "tuple": tuple, "gen": lambda ls: (ln for ln in ls)}[shape](lines)


FAKE_METHODS = {
    "Index": {"__index__": lambda s: s.k, "__ge__": lambda s, other: s.k >= other},
    "Truth": {"__bool__": lambda s: s.value},
    "Equal": {"__eq__": lambda s, other: s._fz_world.make(s.result)},  # an ndim whose comparison runs code
    "Rows": {"__iter__": lambda s: iter(s.rows)},  # a value without ndim: iterates its rows
    "Artist": dict.fromkeys(["remove", "set_ydata", "update", "set"], lambda s, *args, **kwargs: None),
    "Drag": {"mimeData": lambda s: s.mime, "accept": lambda s: None, "parent": lambda s: s.source,  # an event,
             "hasUrls": lambda s: bool(s.links), "urls": lambda s: list(s.links),  # its mime data
             "toLocalFile": lambda s: s.path},  # and its URLs
    "Plt": {"setp": lambda s, *args, **kwargs: pyplot.setp(*args, **kwargs),  # logs, then the real one
            "__str__": lambda s: "plt"},  # (called by a watcher that formats the namespace's new values)
    "Element": {"plot": plot}, "NoPlot": {}, "Slot": {"emit": lambda s, *args: None},
}
FAKES = {kind: type(kind, (Hostile,), {m: logged(m, f) for m, f in ms.items()}) for kind, ms in FAKE_METHODS.items()}
FAKES["Plt"].setp = property(  # a Plt logs each read of its setp too: a stale plt shows even when setp is not called
    lambda s, setp=FAKES["Plt"].setp: s._fz_world.note(f"{s._fz_role} read") or setp.__get__(s))
FAKES["RowsNdim"] = type("RowsNdim", (FAKES["Rows"],), {"ndim": property(lambda s: s._fz_world.make(s.ndim_value))})


def logging_first(name):  # a list method that logs its call first
    return lambda self, *args: self.world.note(f"list.{name}", args) or getattr(list, name)(self, *args)


class Listed(list):  # a list subclass: its overrides must be called, in the order the twin calls them
    def __init__(self, world, items):
        super().__init__(items)
        self.world = world

    append, pop, __iter__, __getitem__ = map(logging_first, ["append", "pop", "__iter__", "__getitem__"])


class Trap:
    # A look-up of `name` on obj that runs Python code. obj moves to a class of its own (a subclass
    # of its class) whose `name` is the trap, a descriptor that logs the class it binds `real` (what
    # obj's class had) with; the trap is also a key in obj's instance dict that hashes like name and
    # equals nothing. The first time the key is compared ("eq") or the descriptor read ("get"), the
    # mutations run (MUTATE).
    def __init__(self, world, obj, real, name, trigger, mutations):
        self.world, self.obj, self.real, self.name, self.trigger, self.mutations = (
            world, obj, real, name, trigger, mutations)
        self.old, self.new = (type(type(obj))(label, (type(obj),), {name: self}) for label in ("Own", "Other"))
        obj.__class__ = self.old
        obj.__dict__[self] = None

    def __hash__(self):
        return hash(self.name)

    def __eq__(self, other):
        self.world.note(f"{describe(self.obj)} key =={self.name}")
        self.fire("eq")
        return False

    def __get__(self, obj, owner=None):
        if TWIN_KEEPS_OLD_CLASSES and obj is not None and self.world.mod is not native:
            owner = type(obj)
        self.world.note(f"{describe(obj)}.{self.name} bound", (owner,))
        self.fire("get" if obj is not None else None)
        return type(self.real).__get__(self.real, obj, owner)

    def fire(self, trigger):
        mutations, self.mutations = (self.mutations, ()) if trigger == self.trigger else ((), self.mutations)
        for m in mutations:
            MUTATE[m](self)


MUTATE = {  # what a trap does mid-look-up
    "swap": lambda t: setattr(t.obj, "__class__", t.new),  # obj moved to the sibling class
    "delattr": lambda t: vars(type(t.obj)).get(t.name) is t and delattr(type(t.obj), t.name),  # the descriptor
    "delkey": lambda t: t.obj.__dict__.pop(t),  # the key deleted
    # the trap's reference to the old class dropped (see TWIN_KEEPS_OLD_CLASSES)
    "delclass": lambda t: TWIN_KEEPS_OLD_CLASSES and t.world.mod is not native or setattr(t, "old", None),
    "collect": lambda t: gc.collect()}


class Held:  # a drag event without a label or URLs; its first mimeData() call waits at the gate
    def __init__(self, gate=None, arrived=None):
        self.gate, self.arrived = gate, arrived

    def mimeData(self):
        if self.arrived:
            self.arrived.release()
            self.arrived = self.gate.wait(60) and None
        return self

    parent = hasUrls = lambda self: None


def alias(target):  # a new object of target's class sharing its __dict__: the same state, another identity
    if type(target) is list:
        return list(target)
    with contextlib.suppress(TypeError, AttributeError):  # else, with no plain instance dict, the object itself
        new = object.__new__(type(target))
        new.__dict__ = target.__dict__
        return new
    return target


def computed(attr):
    # A property over __dict__["_" + attr] (for draw: the inherited method); once _fz_fresh
    # is set, every read gives a new object, and the first such read runs the widget's hook.
    def get(self):
        if attr != "draw" and "_" + attr not in self.__dict__:
            raise AttributeError(attr)
        value = super(type(self), self).draw if attr == "draw" else self.__dict__["_" + attr]
        if not self.__dict__.get("_fz_fresh"):
            return value
        pull(self, "read")
        return (lambda: value()) if attr == "draw" else alias(value)
    return property(get, lambda self, value: self.__dict__.__setitem__("_" + attr, value))


def held(w, attr):  # what the widget holds for attr, under a computed property's name too
    return w.__dict__.get(attr, w.__dict__.get("_" + attr))


def array(shape, fill):  # a ramp, or one with a nan or an inf in the middle
    arr = 50.0 + np.arange(int(np.prod(shape)), dtype=float).reshape(shape)
    if fill != "ramp" and arr.size:
        arr.flat[arr.size // 2] = float(fill)
    return arr


class World:
    def __init__(self, name, module):
        self.name, self.mod, self.saved, self.qt, self.widgets = name, module, dict(vars(module)), [], []
        ns, widget = vars(module), self.widget  # k == -1: the widget the step works on
        self.table = {  # values, then actions (what hooks do)
            "raise": fail, "lit": lambda x: list(x) if type(x) is list else x, "obj": object, "slice": slice,
            "np": lambda dtype, x: np.dtype(dtype).type(x), "cls": CLASSES.__getitem__, "arr": array,
            "idx": lambda k, on, act: FAKES["Index"](self, "idx", on, act, k=k),
            "truth": lambda value, act: FAKES["Truth"](self, "truth", "__bool__", act, value=value),
            "eq": lambda result, act: FAKES["Equal"](self, "eq", "__eq__", act, result=result),
            "rows": lambda ndim, n, act: FAKES["Rows" if ndim == "missing" else "RowsNdim"](
                self, "rows", "__iter__", act, ndim_value=ndim, rows=[np.full(6, 20.0 + k) for k in range(n)]),
            "elem": lambda returns, act, trap=None: self.trapped(FAKES[
                "NoPlot" if returns == ("noplot",) else "Element"](self, "elem", "plot", act, returns=returns), trap),
            "plt": lambda act, on="setp": FAKES["Plt"](self, "plt", on, act),
            "fn": lambda answer: lambda *args, **kwargs: self.note("fn", args, kwargs) or self.make(answer),
            "widget": widget, "attr": lambda k, name: getattr(widget(k), name),
            "label": lambda name, isgeom: self.own(Label("", True), name=self.make(name), isgeom=self.make(isgeom)),
            "qobject": lambda: self.own(QtCore.QObject()), "qwidget": lambda dark: self.own(QtWidgets.QWidget(
                palette=QtGui.QPalette(QtGui.QColor("#191919" if dark else "#ebebeb")))),  # dark: light text
            "rebind": lambda name, value: ns.__setitem__(name, self.make(value)),
            "delglobal": lambda name: ns.pop(name, None), "clear": lambda k: widget(k).clear(),
            "remove": lambda k, i, j: widget(k).remove_element(i, j), "draw": lambda k: widget(k).draw(),
            "select": lambda k, i: widget(k).set_selection(i), "kill": self.kill,
            "setattr": lambda k, attr, value: setattr(widget(k), attr, self.make(value)),
            "delattr": lambda k, attr: delattr(widget(k), attr),
            "listed": lambda *items: Listed(self, [self.make(v) for v in items]),
            "trap": lambda k, target, trap: self.trapped(TRAP_TARGETS[target](widget(k)), trap),
            "watch": self.watch, "unwatch": self.unwatch,
        }
        self.watchers = []
        self.reset()

    def reset(self):
        print(f"[{self.name}] reset", file=sys.stderr, flush=True)
        for obj in self.qt + self.widgets:  # parents first, so children go with them
            if shiboken6.isValid(obj):
                shiboken6.delete(obj)
        for i in self.watchers:  # (a cleared watcher's id stays on the dicts it watched)
            unwatch_dict(i, vars(self.mod))
            clear_dict_watcher(i)
        vars(self.mod).clear()
        vars(self.mod).update(self.saved)
        self.widgets, self.qt, self.keep, self.log, self.watchers = [], [], [], [], []
        self.counter, self.target, self.dispatching = itertools.count(), None, False
        self.on_unraisable = None  # what sys.unraisablehook does, each time

    def watch(self, kind, act, plt):
        # another watcher of the namespace: 0 formats each key and new value (a Plt runs Python
        # code in __str__), 1 fails and so calls sys.unraisablehook (which does act); then plt is
        # rebound
        self.on_unraisable = act
        if add_dict_watcher and not self.watchers:
            self.watchers.append(add_dict_watcher(kind))
            watch_dict(self.watchers[0], vars(self.mod))
        self.make(("rebind", "plt", plt))

    def unwatch(self):  # the namespace unwatched by every watcher (the module keeps none of its own:
        for i in range(8) if add_dict_watcher else ():  # were it to, reset would have to restore it)
            with contextlib.suppress(ValueError):  # (no watcher with that id)
                unwatch_dict(i, vars(self.mod))

    def trapped(self, obj, trap):
        # obj, with a trap for a look-up of (name, trigger, mutations) if its class has the name
        # (else the interpreter's own look-up formats its AttributeError with the class it read
        # first, which a mutation may have freed: the twin would crash)
        real = next((vars(c)[trap[0]] for c in type(obj).__mro__ if trap[0] in vars(c)), None) if trap else None
        if real is not None:
            Trap(self, obj, real, *trap)
        return obj

    def note(self, what, args=(), kwargs=None):
        self.log.append((what, describe(args), describe(kwargs or {})))

    def step(self, op):
        print(f"[{self.name}] step", file=sys.stderr, flush=True)  # a crash report follows the world it happened in
        self.log, self.target = [], None
        # errors Python or PySide print instead of raising (older PySide: from Qt-dispatched overrides)
        sys.excepthook = lambda t, exc, tb: self.log.append(("printed",) + outcome_of(exc))
        sys.unraisablehook = lambda u: self.log.append(("unraisable",) + outcome_of(u.exc_value)) or (
            self.on_unraisable and self.log.append(("act", "unraisable", attempt(self.make, self.on_unraisable))))
        return attempt(self.run, op), self.log, [self.state(w) for w in self.widgets]

    def widget(self, k):
        return self.target if k == -1 and self.target is not None else self.widgets[k % len(self.widgets)]

    def make(self, v):  # a value made, or an action done: (kind, *arguments)
        return self.table[v[0]](*v[1:])

    def run(self, op):  # ("new", ...) | ("act", action) | ("call"|"event"|"slot"|"crowd", k, ...) on widget k
        if op[0] == "new":
            return self.new(*op[1:])
        if op[0] == "act":
            return self.make(op[1])
        self.target = w = self.widget(op[1])
        if op[0] == "call":  # ("call", k, method, args, keywords)
            return getattr(w, op[2])(*[self.make(a) for a in op[3]], **{k: self.make(v) for k, v in op[4]})
        if op[0] == "event":
            return self.deliver(w, *op[2])
        if op[0] == "crowd":
            return self.crowd(w, op[2])
        slot = FAKES["Slot"](self, "slot", "emit", op[2])  # ("slot", k, action)
        for signal in (w.geom_dropped, w.csv_dropped):
            signal.connect(lambda *a: slot.emit(*a))

    def new(self, which, parent, geom_only, props, act):
        # ("new", "drag"|"figure", parent, geom_only, computed properties, action on the first read)
        cls = self.saved["_MPLDragWidget" if which == "drag" else "GeometryModelFigure"]
        cls = type(cls)("Computed", (cls,), {p: computed(p) for p in props if p != "early"}) if props else cls
        args = [self.make(parent), *([None] if which == "figure" else []), self.make(geom_only)]  # None: gcontrols
        self.target = w = cls.__new__(cls)
        w._fz_role, w._fz_world, w._fz_on, w._fz_act = f"w{len(self.widgets)}", self, "read", act
        w._fz_fresh = "early" in props
        self.widgets.append(w)
        try:
            w.__init__(*args)
        finally:
            for attr in ("ax", "fig"):
                if isinstance(held(w, attr), (Axes, Figure)):
                    held(w, attr)._fz_role = f"{w._fz_role}.{attr}"
            w._fz_fresh = bool(props)
            for signal in ("geom_dropped", "csv_dropped") if which == "figure" and shiboken6.isValid(w) else ():
                with contextlib.suppress(RuntimeError):  # the Qt object was never made
                    getattr(w, signal).connect(lambda *a, s=signal, w=w: self.note(f"{w._fz_role}.{s}", a, {
                        "facecolor": repr(held(w, "ax").get_facecolor()) if isinstance(held(w, "ax"), Axes) else None}))

    def own(self, q, **attrs):  # a Qt object this world deletes at reset, before the widgets
        self.qt.insert(0, q)
        vars(q).update(attrs)
        return q

    def kill(self, k):
        if self.dispatching:  # Qt itself would use the deleted widget after the handler
            self.log.append(("kill skipped while Qt dispatches",))
        elif shiboken6.isValid(self.widget(k)):
            shiboken6.delete(self.widget(k))

    def crowd(self, w, n):
        # n threads blocked inside calls of w's handler, then one more call of it here under a low
        # recursion limit: the blocked calls are no nesting of this one
        gate, arrived, limit = threading.Event(), threading.Semaphore(0), sys.getrecursionlimit()
        threads = [threading.Thread(target=lambda e: attempt(w.dragEnterEvent, e) and e.mimeData(),  # (waits there
                                    args=(Held(gate, arrived),)) for _ in range(n)]  # if the call failed before)
        for t in threads:
            t.start()
            arrived.acquire()
        sys.setrecursionlimit(35)
        try:
            return w.dragEnterEvent(Held())
        finally:
            sys.setrecursionlimit(limit)
            gate.set()
            for t in threads:
                t.join()

    def deliver(self, w, src, kind, source, urls, extra, trap=None):
        # ("fake", kind, source, urls, (method, action)): a duck-typed event, its mime data and URLs,
        # one hook among them; ("real", kind, source, urls, "direct"|"event"|"send"): a Qt event
        # given to the handler, to event() or through the application
        if src == "fake":
            mime = FAKES["Drag"](self, "mime", *extra, source=self.make(source),
                                 links=[FAKES["Drag"](self, "url", *extra, path=p) for p in urls])
            event = FAKES["Drag"](self, "event", *extra, mime=mime)
            for fake in (event, mime, *mime.links):  # the trap on each of them
                self.trapped(fake, trap)
            return getattr(w, HANDLERS[kind])(event)
        mime = make_mime(self.make(source), urls)
        self.keep += [mime, ev := drag_event(kind, mime)]
        self.dispatching = extra != "direct"
        try:
            if extra == "direct":
                return getattr(w, HANDLERS[kind])(ev)
            return w.event(ev) if extra == "event" else QtWidgets.QApplication.sendEvent(w, ev)
        finally:
            self.dispatching = False
            self.note("event state", (ev.isAccepted(), getattr(ev, "dropAction", lambda: "")()))

    def state(self, w):  # all the widget holds, its plot's colours and limits, its lines, its Qt side
        ax, fig = held(w, "ax"), held(w, "fig")
        out = [describe(dict(sorted((k, v) for k, v in w.__dict__.items() if type(k) is str and k[:3] != "_fz")))]
        if isinstance(ax, Axes):
            out += [norm(repr((ax.get_facecolor(), ax.get_xlim(), ax.get_ylim(), ax.xaxis.label.get_color(),
                               ax.xaxis._major_tick_kw.get("color"))))]
            out += [describe((ln, ln.get_color(), ln.get_linewidth(), ln.get_zorder(), ln.get_ydata(orig=True)))
                    for ln in ax.lines]
        if isinstance(fig, Figure):
            out.append(repr((fig.patch.get_facecolor(), fig.get_edgecolor())))
        # the Qt side, unless the Qt object is deleted (or was never made: a RuntimeError)
        return out + [attempt(lambda: (w.acceptDrops(), w.minimumSize().toTuple(), w.parent())) if shiboken6.isValid(w)
                      else "deleted"]


def main():
    conn = Connection(0)  # stdin is a socket to the parent
    os.dup2(2, 1)  # stray prints go to stderr
    pyplot.rcParams["figure.figsize"] = (2.0, 1.5)  # smaller renders, same code paths
    app = QtWidgets.QApplication([])  # noqa: F841
    worlds = [World("native", native), World("twin", load_twin())]
    with contextlib.suppress(EOFError):  # until the parent closes its end
        for msg in iter(conn.recv, None):  # ("step", op) | ("reset",)
            conn.send([world.step(msg[1]) if msg[0] == "step" else world.reset() for world in worlds])


if __name__ == "__main__":
    main()
