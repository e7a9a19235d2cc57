"""Differential fuzzing: random operation sequences on the native module and its Python twin."""
# Each sequence runs in a child interpreter (worker.py) that performs every step on both
# and answers with what it saw; the two must agree after every step. A crash, a hang or a
# sanitizer report in the child fails the test with the sequence printed.
# ZENTROPE_FUZZ_EXAMPLES=N runs N random sequences instead of the fixed CI set (see the README).
import difflib
import multiprocessing
import os
import pprint
import signal
import subprocess
import sys
import tempfile

import pytest
from hypothesis import HealthCheck, example, given, settings, strategies as st

WORKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "worker.py")
SOAK = os.environ.get("ZENTROPE_FUZZ_EXAMPLES")
# CI: a fixed set that takes about a minute in each leg (sequences run about 3x slower there)
EXAMPLES = int(SOAK or (220 if "libasan" in os.environ.get("LD_PRELOAD", "") else 400))
STEP_TIMEOUT = float(os.environ.get("ZENTROPE_FUZZ_STEP_TIMEOUT", "120"))
SEQUENCES_PER_WORKER = 300  # a fresh child now and then bounds what one process accumulates


class Worker:  # the child interpreter, whose stdin is a socket to us
    def __init__(self):
        self.proc, self.runs, self.err = None, 0, tempfile.TemporaryFile()

    def stop(self):
        if self.proc is not None:
            self.proc.kill()
            self.proc.wait()
            self.proc = None

    def ask(self, message):
        try:
            self.conn.send(message)
            if self.conn.poll(STEP_TIMEOUT):
                return self.conn.recv()
            self.proc.kill()
            problem = f"no answer within {STEP_TIMEOUT:g} s (hang); child killed"
        except (EOFError, OSError):
            code = self.proc.wait()
            problem = (f"child killed by {signal.Signals(-code).name}" if code < 0 else
                       "child stopped by a sanitizer report" if code == 86 else f"child exited with status {code}")
        self.stop()
        self.err.seek(self.mark)
        tail = self.err.read().decode(errors="replace").splitlines()[-100:]
        raise ChildProcessError(problem + "; its stderr ends with:\n" + "\n".join(tail))

    def run(self, steps):
        if self.proc is None or self.runs % SEQUENCES_PER_WORKER == 0:
            self.stop()
            self.conn, theirs = multiprocessing.Pipe()
            with theirs:  # the child's end, its stdin
                # the debug allocator makes a read of freed memory misbehave at once (a sanitizer
                # run keeps its own allocator)
                self.proc = subprocess.Popen([sys.executable, WORKER], stdin=theirs.fileno(), stderr=self.err,
                                             env={"PYTHONMALLOC": "malloc_debug", **os.environ})
        self.runs += 1
        self.mark = self.err.seek(0, 2)
        done, failure = 0, None
        try:
            for done, step in enumerate(steps, 1):
                native, twin = self.ask(("step", step))
                if native != twin:
                    failure = "native and twin differ after the last step (- native, + twin):\n" + "\n".join(
                        difflib.unified_diff(*(pprint.pformat(x, width=110).splitlines() for x in (native, twin)),
                                             lineterm="", n=2))
                    break
            self.ask(("reset",))  # disposing of what a sequence made belongs to the sequence
        except ChildProcessError as exc:
            failure = (failure + "\nthen, while disposing: " if failure else "") + str(exc)
        if failure:
            raise AssertionError("\n".join(["sequence:", *(f"{k:3}: {s!r}" for k, s in enumerate(steps[:done])),
                                            failure]))


@pytest.fixture(scope="module")
def worker():
    yield (w := Worker())
    w.stop()


# --- what the sequences are made of (the language is read by worker.World) ---

def lit(*values):
    return st.sampled_from([("lit", v) for v in values])


def seq(*parts):  # a tuple strategy: a list part is a choice among its items, other plain parts are constants
    return st.tuples(*(p if isinstance(p, st.SearchStrategy) else st.sampled_from(p) if isinstance(p, list)
                       else st.just(p) for p in parts))


ref = st.integers(-1, 2)  # a widget; -1 is the one the step works on
small = st.integers(-3, 3)
plain_index = seq("lit", small) | lit(None, 2 ** 63)
raises = seq("raise", ["ValueError", "AttributeError"])
GLOBAL_VALUES = {"plt": seq("plt", None) | seq("obj") | lit(None), "QtWidgets": seq("obj") | lit(None),
                 "is_dark": seq("fn", lit(True, False, 0)) | st.just(("fn", ("raise", "ValueError"))) | lit(None),
                 "GeometryLabelDraggable": seq("cls", ["QObject", "QLabel", "label", "tuple"]) | lit(5)}
globals_ = st.sampled_from(["plt", *sorted(GLOBAL_VALUES)])  # plt, read most, twice as often
attrs = ["artists", "ax", "fig"]
MUTATIONS = ["swap", "delattr", "delkey", "delclass", "collect"]  # in the order a trap runs them


def traps(*names):  # (name, trigger, mutations): see worker.Trap
    return seq(list(names), ["eq", "get"], st.sets(st.sampled_from(MUTATIONS), min_size=1).map(
        lambda ms: tuple(m for m in MUTATIONS if m in ms)))


TRAPPED = {"ax": ["set_facecolor", "relim", "autoscale_view", "tick_params"], "patch": ["set_facecolor"],
           "label": ["set_color"], "line": ["remove", "set_ydata"]}
listed = st.lists(seq("listed") | seq("listed", seq("obj")), max_size=2).map(lambda e: ("listed", *e))
attr_values = lit(None, [], [[]], 5) | seq("obj") | seq("attr", ref, ["ax", "fig"]) | listed
select = seq("select", ref, small)
watches = seq("watch", [0, 1], st.none() | select,  # another watcher, what the unraisable hook does, plt rebound
              GLOBAL_VALUES["plt"] | seq("plt", select, "__str__"))
acts = st.one_of(  # what hooks do while a method runs (one level: their arguments are plain)
    raises, seq("clear", ref), seq("remove", ref, small, small), select, seq("draw", ref),
    globals_.flatmap(lambda g: seq("rebind", g, GLOBAL_VALUES[g])), seq("delglobal", globals_), seq("kill", ref),
    seq("delattr", ref, attrs), seq("setattr", ref, attrs, attr_values),
    *(seq("trap", ref, target, traps(*names)) for target, names in TRAPPED.items()),
    watches, seq("unwatch"))
hook = st.none() | acts
truth = seq("truth", st.booleans(), hook)
indexes = st.one_of(
    plain_index, lit(-2 ** 63 - 1, 2 ** 64, True, False, 0.0, -0.5, 1.5, "0"), seq("slice", [None, 0, -1], [None, 1]),
    seq("np", ["int64", "int8", "float64"], small), seq("idx", small, ["__index__", "__ge__"], hook))
elements = seq("elem", st.one_of(
    seq("lines", st.integers(0, 3), ["list", "tuple", "gen"]), seq("value", lit(5, None, "ab", [], [5]) | truth),
    seq("fakes", st.integers(1, 2), ["remove", "set_ydata", "update", "set"], hook), seq("raise"), seq("noplot")), hook,
    st.none() | traps("plot"))
ndims = st.one_of(lit(1, 2, 0, None, 1.0), seq("np", "int64", st.integers(0, 2)), st.just("missing"), raises,
                  seq("eq", lit(True, False) | truth, hook))
values = st.one_of(seq("arr", [(6,), (2, 6), (3, 6), (1, 6), (), (0,), (4,), (2, 4), (0, 6)], ["ramp", "nan", "inf"]),
                   lit(5.0, None, [1.0] * 6, "abc"), seq("rows", ndims, st.integers(0, 3), hook))
colours = lit("red", "0.5", (0.1, 0.2, 0.3), "#00ff00", "nope", None, 5, (1, 2)) | seq("obj")
sources = lit(None) | seq("qobject") | seq("label", lit("beam", "", 7), lit(True, False, 0, "x") | truth)
url = st.sampled_from(["/d/a.csv", "/d/A.CSV", "/d/b.Csv", "/d/b.txt", "/d/c.csv.txt", "http://h/X.CSV", ""])
urls = st.lists(url, min_size=1, max_size=1) | st.lists(url, max_size=2)
kinds = st.sampled_from(["enter", "enter", "leave", "drop"])  # enter, with the most branches, twice as often
DRAG = ["mimeData", "parent", "hasUrls", "urls", "toLocalFile", "accept"]
events = st.one_of(
    seq("fake", kinds, sources | seq("obj"), urls, st.just((None, None)) | seq(DRAG, acts), st.none() | traps(*DRAG)),
    # Qt redirects a drop or leave sent through the application to the widget that accepted the
    # last enter, in whichever world that was: those go through the widget's own event()
    kinds.flatmap(lambda kind: seq("real", kind, sources, urls,
                                   ["direct", "event"] + ["send"] * (kind == "enter"))))
props = st.just(()) | st.lists(st.sampled_from(attrs + ["draw", "early"]), min_size=1, max_size=3, unique=True).map(tuple)
sound_parents = lit(None) | seq("qwidget", st.booleans())
CALLS = {"add_element": [elements], "remove_element": [indexes, indexes], "set_selection": [indexes], "clear": [],
         "set_artist_value": [indexes, values], "draw": [], "set_bgcolor": [colours], "set_fontcolor": [colours]}


def new(*parents):
    return seq("new", ["figure", "figure", "drag"], st.one_of(*parents), lit(False, True, 0, "x", None) | truth,
               props, hook)


ops = st.one_of(  # the calls, add_element twice as often; then calls of every shape: arity and keywords
    *(seq("call", ref, m, st.tuples(*args).map(list), ()) for m, args in [*CALLS.items(), ("add_element", [elements])]),
    seq("call", ref, [*CALLS, "dragEnterEvent", "dragLeaveEvent", "dropEvent"], st.lists(plain_index, max_size=4),
        st.lists(seq(["c", "i", "ind", "ind_new", "y", "g", "e", "bogus"], plain_index), max_size=2,
                 unique_by=lambda kv: kv[0]).map(tuple)),
    new(sound_parents, sound_parents, seq("widget", ref), seq("obj"), truth), seq("event", ref, events),
    seq("event", ref, events), seq("event", ref, events), seq("slot", ref, acts), seq("act", acts),
    seq("act", seq("rebind", "plt", seq("plt", acts, ["setp", "__str__"])) | seq("rebind", "is_dark", seq("fn", truth))
        | seq("setattr", ref, "artists", listed) | watches),  # a list subclass as the element list
    seq("crowd", ref, [3, 40]))
sequences = st.tuples(new(sound_parents), st.lists(ops, max_size=12)).map(lambda t: [t[0], *t[1]])

FIGURE = ("new", "figure", ("lit", None), ("lit", False), (), None)
LINES = ("call", 0, "add_element", [("elem", ("lines", 2, "list"), None)], ())


@settings(max_examples=EXAMPLES, deadline=None, derandomize=not SOAK, suppress_health_check=list(HealthCheck))
@given(steps=sequences)
@example(steps=[("new", "figure", ("lit", None), ("lit", False), ("ax",), None)]  # computed ax: new
         + [("event", 0, ("fake", "drop", ("lit", None), [], (None, None)))] * 20)  # one per read
@example(steps=[FIGURE, ("act", ("delglobal", "GeometryLabelDraggable")),  # NameError out of an
                ("event", 0, ("real", "drop", ("lit", None), [], "event"))])  # override Qt dispatched
@example(steps=[FIGURE, LINES, ("call", 0, "set_artist_value",  # AttributeError from a getter
                                [("lit", 0), ("rows", ("raise", "AttributeError"), 2, None)], ())])
@example(steps=[FIGURE, LINES, LINES, ("call", 0, "set_selection", [  # plt rebound by __index__
    ("idx", 0, "__index__", ("rebind", "plt", ("plt", None)))], ())])
@example(steps=[FIGURE, ("act", ("setattr", 0, "artists", ("listed", ("listed", ("obj",))))),  # a list subclass's
                ("call", 0, "set_artist_value", [("lit", 0), ("arr", (6,), "ramp")], ())])  # item read
def test_native_module_behaves_as_its_python_twin(worker, steps):
    worker.run(steps)


@pytest.mark.parametrize("sig,says", [  # the sanitizers' runtime turns a SIGSEGV into its report
    (signal.SIGSEGV, "child (killed by SIGSEGV|stopped by a sanitizer report)"),
    (signal.SIGSTOP, r"no answer within 2 s \(hang\)")])
def test_a_child_that_dies_or_hangs_fails_the_sequence_and_is_replaced(worker, monkeypatch, sig, says):
    worker.run([FIGURE])
    os.kill(worker.proc.pid, sig)
    monkeypatch.setattr(sys.modules[__name__], "STEP_TIMEOUT", 2.0)
    with pytest.raises(AssertionError, match=says):
        worker.run([FIGURE])
    monkeypatch.undo()  # the new child starts within the usual time
    worker.run([FIGURE, LINES])
