"""Exact lists take a shortcut past look-ups (checked by the call-trace oracle and the
fuzzer); a list subclass keeps its overridden append and item reads."""
from types import SimpleNamespace


class Log(list):  # records append (without storing) and item reads
    def __init__(self, items=()):
        super().__init__(items)
        self.log = []

    def append(self, item):
        self.log.append(("append", item))

    def __getitem__(self, key):
        self.log.append(("getitem", key))
        return super().__getitem__(key)


def test_list_subclass_overrides_are_called(mod):
    methods, entry, set_to = vars(mod.GeometryModelFigure), object(), []
    s = SimpleNamespace(ax=None, artists=Log(), draw=lambda: None, set_selection=lambda i: None)
    methods["add_element"](s, SimpleNamespace(plot=lambda ax, color: entry))
    assert (s.artists.log, list(s.artists)) == ([("append", entry)], [])
    lines, y = Log([SimpleNamespace(set_ydata=set_to.append)]), SimpleNamespace(ndim=1)
    s.artists = {7: lines}  # a dict of entries: the subscript of anything else
    methods["set_artist_value"](s, 7, y)
    assert lines.log == [("getitem", 0)] and set_to == [y]
