"""Exact lists and tuples are read and appended to without a look-up; subclasses keep their overrides."""
from types import SimpleNamespace

import pytest


class Log(list):
    """A list subclass whose append and item reads are recorded (append does not store)."""

    def __init__(self, items=(), log=None):
        super().__init__(items)
        self.log = [] if log is None else log

    def append(self, item):
        self.log.append(("append", item))

    def __getitem__(self, key):
        self.log.append(("getitem", key))
        return super().__getitem__(key)


def owner(**attrs):
    return SimpleNamespace(draw=lambda: None, set_selection=lambda i: None, **attrs)


def line(log):
    return SimpleNamespace(set_ydata=lambda y: log.append(("set_ydata", y)))


Y = SimpleNamespace(ndim=1)


@pytest.mark.parametrize("entry,error", [
    pytest.param(lambda log: [line(log)], None, id="list"),
    pytest.param(lambda log: (line(log),), None, id="tuple"),
    pytest.param(lambda log: Log([line(log)], log), None, id="list-subclass"),
    pytest.param(lambda log: [], "list index out of range", id="empty-list"),
    pytest.param(lambda log: (), "tuple index out of range", id="empty-tuple"),
])
def test_first_line_of_an_entry(mod, entry, error):
    log = []
    s = owner(artists={7: entry(log)})  # a dict of entries: the subscript of anything else
    call = lambda: mod.GeometryModelFigure.__dict__["set_artist_value"](s, 7, Y)
    if error:
        with pytest.raises(IndexError, match=f"^{error}$"):
            call()
        return
    call()
    assert log == ([("getitem", 0)] if isinstance(s.artists[7], Log) else []) + [("set_ydata", Y)]


@pytest.mark.parametrize("artists", [pytest.param([], id="list"), pytest.param(Log(), id="list-subclass")])
def test_add_element_appends_through_the_list(mod, artists):
    entry = object()
    s = owner(ax=None, artists=artists)
    mod.GeometryModelFigure.__dict__["add_element"](s, SimpleNamespace(plot=lambda ax, color: entry))
    want = ([("append", entry)], []) if isinstance(artists, Log) else (None, [entry])
    assert (getattr(artists, "log", None), list(artists)) == want
