"""Differential fuzzing: random operation sequences on the native module and its Python twin.

Each sequence runs in a child interpreter (worker.py) that performs every step
on both and answers with what it saw; the two must agree after every step. A
crash, a hang or a sanitizer report in the child fails the test with the
sequence printed. ZENTROPE_FUZZ_EXAMPLES=N runs N random sequences instead of
the fixed CI set (see the README).
"""
import difflib
import os
import pprint
import signal
import subprocess
import sys
import tempfile
from multiprocessing.connection import Connection

import pytest
from hypothesis import HealthCheck, example, given, settings, strategies as st

WORKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "worker.py")
SOAK = os.environ.get("ZENTROPE_FUZZ_EXAMPLES")
# CI: a fixed set that takes about a minute in each leg (sequences run about 3x slower there)
EXAMPLES = int(SOAK or (250 if "libasan" in os.environ.get("LD_PRELOAD", "") else 400))
STEP_TIMEOUT = float(os.environ.get("ZENTROPE_FUZZ_STEP_TIMEOUT", "120"))
SEQUENCES_PER_WORKER = 300  # a fresh child now and then bounds what one process accumulates
METHODS = ("add_element", "remove_element", "set_selection", "set_artist_value", "clear", "draw",
           "set_bgcolor", "set_fontcolor", "dragEnterEvent", "dragLeaveEvent", "dropEvent")


class Died(Exception):
    pass


class Worker:
    def __init__(self):
        self.proc, self.runs = None, 0
        self.err = tempfile.TemporaryFile()

    def start(self):
        self.proc = subprocess.Popen([sys.executable, WORKER], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.err,
                                     cwd=os.path.dirname(WORKER))
        self.rx = Connection(os.dup(self.proc.stdout.fileno()), writable=False)
        self.tx = Connection(os.dup(self.proc.stdin.fileno()), readable=False)
        self.runs = 0
        self.ask(None)

    def stop(self):
        if self.proc is not None:
            for end in (self.rx, self.tx, self.proc.stdin, self.proc.stdout):
                end.close()
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc = None

    def ask(self, message):
        try:
            if message is not None:
                self.tx.send(message)
            if self.rx.poll(STEP_TIMEOUT):
                return self.rx.recv()
            self.proc.kill()
            problem = f"no answer within {STEP_TIMEOUT:g} s (hang); child killed"
        except (EOFError, BrokenPipeError, ConnectionResetError):
            problem = None
        code = self.proc.wait()
        if problem is None:
            problem = (f"child killed by {signal.Signals(-code).name}" if code < 0 else
                       "child stopped by a sanitizer report" if code == 86 else
                       f"child exited with status {code}")
        self.err.seek(self.mark)
        tail = self.err.read().decode(errors="replace").splitlines()[-100:]
        self.proc = None
        raise Died(problem + "; its stderr ends with:\n" + "\n".join(tail))

    def run(self, steps):
        if self.proc is None or self.runs >= SEQUENCES_PER_WORKER:
            self.stop()
            self.mark = self.err.seek(0, 2)
            self.start()
        self.runs += 1
        self.mark = self.err.seek(0, 2)
        done, failure = 0, None
        try:
            for done, step in enumerate(steps, 1):
                native, twin = self.ask(("step", step))
                if native != twin:
                    failure = ("native and twin differ after the last step (- native, + twin):\n"
                               + diff(native, twin))
                    break
            self.ask(("reset",))  # disposing of what a sequence made belongs to the sequence
        except Died as exc:
            failure = (failure + "\nthen, while disposing: " if failure else "") + str(exc)
        if failure:
            raise AssertionError(report(steps[:done], failure))


def diff(a, b):
    a, b = (pprint.pformat(x, width=110).splitlines() for x in (a, b))
    return "\n".join(difflib.unified_diff(a, b, lineterm="", n=2))


def report(steps, what):
    return "\n".join(["sequence:"] + [f"{k:3}: {s!r}" for k, s in enumerate(steps)] + [what])


@pytest.fixture(scope="module")
def worker():
    w = Worker()
    yield w
    w.stop()


# --- what the sequences are made of (the language is documented in worker.py) ---

def lit(*values):
    return st.sampled_from([("lit", v) for v in values])


def seq(*parts):  # a tuple strategy whose plain parts are constants
    return st.tuples(*(p if isinstance(p, st.SearchStrategy) else st.just(p) for p in parts))


ref = st.integers(-1, 2)  # a widget; -1 is the one the step works on
small = st.integers(-3, 3)
plain_index = small.map(lambda k: ("lit", k)) | lit(None, 2 ** 63)
GLOBAL_VALUES = {
    "plt": seq("plt", None) | st.just(("obj",)) | lit(None),
    "is_dark": seq("fn", lit(True, False, 0)) | st.just(("fn", ("raise", "ValueError"))) | lit(None),
    "GeometryLabelDraggable": seq("cls", st.sampled_from(["QObject", "QLabel", "label", "tuple"]))
    | lit(5),
    "QtWidgets": st.just(("obj",)) | lit(None),
}
ATTR_VALUES = lit(None, [], [[]], 5) | st.just(("obj",)) | seq("attr", ref, st.sampled_from(["ax", "fig"]))
globals_ = st.sampled_from(sorted(GLOBAL_VALUES))
acts = st.one_of(  # what hooks do while a method runs (one level: their arguments are plain)
    seq("raise", st.sampled_from(["ValueError", "AttributeError"])),
    seq("clear", ref), seq("remove", ref, small, small), seq("select", ref, small), seq("draw", ref),
    globals_.flatmap(lambda g: seq("rebind", g, GLOBAL_VALUES[g])), seq("delglobal", globals_),
    seq("setattr", ref, st.sampled_from(["artists", "ax", "fig"]), ATTR_VALUES),
    seq("delattr", ref, st.sampled_from(["artists", "ax", "fig"])), seq("kill", ref))
hook = st.none() | acts
truth = seq("truth", st.booleans(), hook)
indexes = st.one_of(
    plain_index, lit(-2 ** 63 - 1, 2 ** 64, True, False, 0.0, -0.5, 1.5, "0"),
    seq("np", st.sampled_from(["int64", "int8", "float64"]), small),
    seq("slice", st.sampled_from([None, 0, -1]), st.sampled_from([None, 1])),
    seq("idx", small, st.sampled_from(["__index__", "__ge__"]), hook))
elements = seq("elem", st.one_of(
    seq("lines", st.integers(0, 3), st.sampled_from(["list", "tuple", "gen"])),
    seq("fakes", st.integers(1, 2), st.sampled_from(["remove", "set_ydata", "update", "set"]), hook),
    seq("value", lit(5, None, "ab", [], [5]) | truth),
    st.just(("raise",)), st.just(("noplot",))), hook)
ndims = st.one_of(lit(1, 2, 0, None, 1.0), seq("np", "int64", st.integers(0, 2)), st.just("missing"),
                  seq("raise", st.sampled_from(["ValueError", "AttributeError"])),
                  seq("eq", lit(True, False) | truth, hook))
values = st.one_of(
    seq("arr", st.sampled_from([(6,), (2, 6), (3, 6), (1, 6), (), (0,), (4,), (2, 4), (0, 6)]),
        st.sampled_from(["ramp", "nan", "inf"])),
    lit(5.0, None, [1.0] * 6, "abc"), seq("rows", ndims, st.integers(0, 3), hook))
colours = lit("red", "0.5", (0.1, 0.2, 0.3), "#00ff00", "nope", None, 5, (1, 2)) | st.just(("obj",))
sources = st.one_of(lit(None), st.just(("qobject",)), st.just(("obj",)),
                    seq("label", lit("beam", "", 5), lit(True, False, 0, "x") | truth))
url = st.sampled_from(["/d/a.csv", "/d/A.CSV", "/d/b.txt", "/d/c.csv.txt", "http://h/x.csv", ""])
urls = st.one_of(st.lists(url, min_size=1, max_size=1), st.lists(url, max_size=2))
kinds = st.sampled_from(["enter", "leave", "drop"])
events = st.one_of(
    seq("fake", kinds, sources, urls, st.just((None, None)) | seq(st.sampled_from(
        ["mimeData", "parent", "hasUrls", "urls", "toLocalFile", "accept"]), acts)),
    # Qt redirects a drop or leave sent through the application to the widget that accepted the
    # last enter, in whichever world that was: those go through the widget's own event()
    kinds.flatmap(lambda kind: seq(
        "real", kind, st.none() | st.just(("qobject",)) | seq("label", lit("beam", 7), lit(True, False)
                                                             | truth),
        urls, st.sampled_from(["direct", "event"] + ["send"] * (kind == "enter")))))
props = st.just(()) | st.lists(st.sampled_from(["ax", "fig", "artists", "draw", "early"]), min_size=1,
                               max_size=3, unique=True).map(tuple)
sound_parents = lit(None) | seq("qwidget", st.booleans())
new = seq("new", st.sampled_from(["figure", "figure", "drag"]),
          st.one_of(sound_parents, sound_parents, seq("widget", ref), st.just(("obj",)), truth),
          lit(False, True, 0, "x", None) | truth, props, hook)
first = seq("new", st.sampled_from(["figure", "figure", "drag"]), sound_parents,
            lit(False, True, 0, "x", None) | truth, props, hook)


def call(method, *args):
    return seq("call", ref, method, st.tuples(*args).map(list), ())


shapes = seq("call", ref, st.sampled_from(METHODS),  # call shapes: arity and keywords
             st.lists(plain_index, max_size=4), st.lists(
                 seq(st.sampled_from(["c", "i", "ind", "ind_new", "y", "g", "e", "bogus"]), plain_index),
                 max_size=2, unique_by=lambda kv: kv[0]).map(tuple))
ops = st.one_of(
    new, call("add_element", elements), call("add_element", elements),
    call("remove_element", indexes, indexes), call("set_selection", indexes),
    call("set_artist_value", indexes, values), call("clear"), call("draw"),
    call("set_bgcolor", colours), call("set_fontcolor", colours), shapes,
    seq("event", ref, events), seq("event", ref, events), seq("slot", ref, acts),
    seq("act", acts), globals_.flatmap(lambda g: seq("act", seq("rebind", g, GLOBAL_VALUES[g] | {
        "plt": seq("plt", acts), "is_dark": seq("fn", truth)}.get(g, GLOBAL_VALUES[g])))))
sequences = st.tuples(first, st.lists(ops, max_size=12)).map(lambda t: [t[0], *t[1]])

FIGURE = ("new", "figure", ("lit", None), ("lit", False), (), None)
LINES = ("call", 0, "add_element", [("elem", ("lines", 2, "list"), None)], ())


@settings(max_examples=EXAMPLES, deadline=None, derandomize=not SOAK,
          suppress_health_check=list(HealthCheck))
@given(steps=sequences)
@example(steps=[("new", "figure", ("lit", None), ("lit", False), ("ax",), None)]  # computed ax: new
         + [("event", 0, ("fake", "drop", ("lit", None), [], (None, None)))] * 20)  # one per read
@example(steps=[FIGURE, ("act", ("delglobal", "GeometryLabelDraggable")),  # NameError out of an
                ("event", 0, ("real", "drop", None, [], "event"))])  # override Qt dispatched
@example(steps=[FIGURE, LINES, ("call", 0, "set_artist_value",  # AttributeError from a getter
                                [("lit", 0), ("rows", ("raise", "AttributeError"), 2, None)], ())])
@example(steps=[FIGURE, LINES, LINES, ("call", 0, "set_selection", [  # plt rebound by __index__
    ("idx", 0, "__index__", ("rebind", "plt", ("plt", None)))], ())])
def test_native_module_behaves_as_its_python_twin(worker, steps):
    worker.run(steps)


@pytest.mark.parametrize("sig,says", [  # the sanitizers' runtime turns a SIGSEGV into its report
    (signal.SIGSEGV, "child (killed by SIGSEGV|stopped by a sanitizer report)"),
    (signal.SIGSTOP, r"no answer within 2 s \(hang\)")])
def test_a_child_that_dies_or_hangs_fails_the_sequence_and_is_replaced(worker, monkeypatch, sig,
                                                                        says):
    monkeypatch.setattr(sys.modules[__name__], "STEP_TIMEOUT", 2.0)
    worker.run([FIGURE])
    os.kill(worker.proc.pid, sig)
    with pytest.raises(AssertionError, match=says):
        worker.run([FIGURE])
    worker.run([FIGURE, LINES])
