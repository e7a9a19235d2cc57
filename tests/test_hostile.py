"""Callers that change what a call has already read while it runs: an object's class swapped
inside the method look-up, module globals changed inside dict watchers' notifications or
behind a removed watch, threads parked inside native calls. Each runs in a fresh interpreter
with the debug allocator, so that a use of freed memory fails at once."""
import pytest

from conftest import CHILD_APP, run_child

try:
    import _testcapi
except ImportError:
    _testcapi = None

PRELUDE = CHILD_APP + "    fig = m.GeometryModelFigure(None, None)\n"

# what `plot` is on the class of the element: each reports the class it is bound with
PLOTS = {
    "classmethod": "classmethod(lambda cls, ax, color: (print(cls.__name__), [])[1])",
    "get-only descriptor": "type('D', (), {'__get__': lambda d, obj, owner: "
                           "lambda ax, color: (print(owner.__name__), [])[1]})()",
}


@pytest.mark.parametrize("plot", PLOTS)
def test_a_class_swapped_during_the_method_look_up_is_not_used_afterwards(plot):
    # A key of the element's namespace whose hash collides with "plot" runs its __eq__ in the
    # middle of the look-up: it gives the element another class and lets the old one go. The
    # method is bound with the class the element has then, as the interpreter's generic
    # look-up binds it (3.14's own specialised path crashes here in plain Python).
    out = run_child(PRELUDE + f"""
    Old = type("Old", (), {{"plot": {PLOTS[plot]}}})
    New = type("New", (), {{}})
    g, swapped = Old(), []
    class Key:
        def __hash__(self): return hash("plot")
        def __eq__(self, other):
            global Old
            if not swapped:
                swapped.append(1); g.__class__ = New; del Old; gc.collect()
            return False
    g.__dict__[Key()] = 1
    fig.add_element(g)
    print(fig.artists)
    """)
    assert out == "New\n[[]]\n"


WATCHERS = {  # what is done to the module namespace's watchers before plt is rebound
    # a watcher after any of the module's formats the new value: its __str__ calls back
    "formatting watcher": "_testcapi.watch_dict(_testcapi.add_dict_watcher(0), vars(m))",
    # a failing watcher: the unraisable hook calls back
    "failing watcher": "_testcapi.watch_dict(_testcapi.add_dict_watcher(1), vars(m)); "
                       "sys.unraisablehook = lambda u: P.__str__(None)",
    "watch removed": "[suppress(_testcapi.unwatch_dict, i, vars(m)) for i in range(8)]",
    "watcher ids cleared and reused": "[suppress(_testcapi.clear_dict_watcher, i) for i in USER_IDS]; "
                                      "_testcapi.watch_dict(_testcapi.add_dict_watcher(2), vars(m))",
}


@pytest.mark.skipif(not hasattr(_testcapi, "add_dict_watcher"), reason="no dict watchers (3.12+, _testcapi)")
@pytest.mark.parametrize("watchers", WATCHERS)
def test_global_reads_see_every_change_to_the_namespace(watchers):
    # set_selection reads plt; the value it read before the change must never be called
    # after it, freed or not. Inside the change, the namespace still holds the old value.
    out = run_child(PRELUDE + f"""
    import _testcapi
    USER_IDS = range(2 if sys.version_info >= (3, 13) else 0, 8)  # 3.13 keeps 0 and 1 for itself
    def suppress(f, *args):
        try: f(*args)
        except Exception: pass
    fig.artists.append([])
    fig.draw = lambda: None
    calls = []
    class P:
        def __init__(self, tag): self.tag = tag
        def setp(self, *args, **kwargs): calls.append(self.tag)
        def __str__(self):
            fig.set_selection(0)
            return "P"
    m.plt = P("old")
    fig.set_selection(0)
    {WATCHERS[watchers]}
    calls.clear()
    m.plt = P("new")
    gc.collect()
    print(calls)
    calls.clear()
    fig.set_selection(0)
    print(calls)
    sys.unraisablehook = sys.__unraisablehook__
    [suppress(_testcapi.clear_dict_watcher, i) for i in USER_IDS]
    """)
    inside = "['old', 'old']" if "watcher" in watchers and "cleared" not in watchers else "[]"
    assert out == f"{inside}\n['new', 'new']\n"


def test_threads_parked_in_native_calls_leave_other_threads_their_own_recursion_depth():
    # 40 threads wait inside add_element; with the recursion limit at 35 a shallow call on
    # the main thread still fails with its own error, not RecursionError.
    out = run_child(PRELUDE + """
    fig.draw = lambda: None  # (no rendering off the GUI thread)
    go, parked = threading.Event(), threading.Semaphore(0)
    class Waiting:
        def plot(self, ax, color):
            parked.release(); go.wait(); return []
    threads = [threading.Thread(target=fig.add_element, args=(Waiting(),)) for _ in range(40)]
    for t in threads:
        t.start()
    for t in threads:
        parked.acquire()
    sys.setrecursionlimit(35)
    try:
        fig.set_selection(5)
    except Exception as exc:
        print(type(exc).__name__)
    sys.setrecursionlimit(1000)
    go.set()
    for t in threads:
        t.join()
    print(len(fig.artists))
    """)
    assert out == "IndexError\n40\n"
