"""Drag-enter and drag-leave feedback, with fake events and with real Qt events."""
import pytest
from matplotlib.colors import to_rgba
from PySide6 import QtWidgets

from conftest import (FakeEvent, axes_centre_rgba, make_mime, rgba_bytes, same_pixel,
                      send_drag_enter, send_drag_leave)

M, P, H, U, T, A = "mimeData", "parent", "hasUrls", "urls", "toLocalFile", "accept"
G, I = "geom_only", "isgeom"  # reads of the canvas's and the label's attribute

# id, source kind, geom_only, isgeom, urls, has_urls override, expected calls, accepted
ROWS = [
    ("label/free", "label", False, False, [], None, [M, P, G, A], True),
    ("label/free/with-csv", "label", 0, True, ["/d/a.csv"], None, [M, P, G, A], True),
    ("label/geom-only/isgeom", "label", True, True, [], None, [M, P, G, I, A], True),
    ("label/truthy/truthy", "label", "yes", 1, [], None, [M, P, G, I, A], True),
    ("label/geom-only/not-geom+csv", "label", True, False, ["/d/a.csv"], None, [M, P, G, I], False),
    ("label/geom-only/falsy", "label", 1, "", [], None, [M, P, G, I], False),
    ("none/no-urls", None, True, None, [], None, [M, P, M, H], False),
    ("other/no-urls", "other", False, None, [], None, [M, P, M, H], False),
    ("none/zero-urls", None, False, None, [], True, [M, P, M, H, M, U], False),
    ("none/two-csv", None, False, None, ["/d/a.csv", "/d/b.csv"], None, [M, P, M, H, M, U], False),
    ("none/csv", None, True, None, ["/d/a.csv"], None, [M, P, M, H, M, U, T, A], True),
    ("other/CSV", "other", False, None, ["/d/A.CSV"], None, [M, P, M, H, M, U, T, A], True),
    ("qobject/CsV", "qobject", True, None, ["/d/b.CsV"], None, [M, P, M, H, M, U, T, A], True),
    ("none/csv.bak", None, False, None, ["/d/a.csv.bak"], None, [M, P, M, H, M, U, T], False),
    ("none/txt", None, False, None, ["/d/a.txt"], None, [M, P, M, H, M, U, T], False),
    ("none/acsv", None, False, None, ["/d/acsv"], None, [M, P, M, H, M, U, T], False),
    ("none/empty-path", None, False, None, [""], None, [M, P, M, H, M, U, T], False),
]


@pytest.fixture
def probes(mod, label):
    """Canvas and label subclasses whose flag reads land in a shared log."""

    def logged(name):
        def get(self):
            self.probe_log.append((name, (), {}))
            return self.__dict__["_" + name]

        def set_(self, value):
            self.__dict__["_" + name] = value
        return property(get, set_)

    from zentrope.widgets.library.labels import GeometryLabelDraggable

    Canvas = type(mod._MPLDragWidget)("ProbeCanvas", (mod._MPLDragWidget,), {G: logged(G)})
    Label = type(GeometryLabelDraggable)("ProbeLabel", (GeometryLabelDraggable,), {I: logged(I)})
    return Canvas, Label


def make_source(kind, isgeom, Label, keep):
    if kind == "label":
        src = Label("beam", False)
        src.isgeom = isgeom  # bypass the label's own bool() to test truthiness
    elif kind == "other":
        src = type("Plain", (), {})()
    elif kind == "qobject":
        src = QtWidgets.QLabel("not a library label")
    else:
        return None
    keep.append(src)
    return src


@pytest.mark.parametrize("row", ROWS, ids=[r[0] for r in ROWS])
def test_drag_enter_decision_with_fake_events(make_canvas, fake_is_dark, renders, probes, row):
    _, kind, geom_only, isgeom, urls, has_urls, expected, accepted = row
    Canvas, Label = probes
    keep = []
    w = make_canvas(None, geom_only, cls=Canvas)
    counter = renders(w)
    at_accept = []
    ev = FakeEvent(make_source(kind, isgeom, Label, keep), urls,
                   on_accept=lambda: at_accept.append((w.ax.get_facecolor(), counter.count)))
    if has_urls is not None:
        ev._mime.hasUrls = lambda: (ev.log.append((H, (), {})), has_urls)[1]
    w.probe_log = ev.log
    for src in keep:
        src.probe_log = ev.log

    assert w.dragEnterEvent(ev) is None
    assert ev.names() == expected
    assert all(args == () and kwargs == {} for _, args, kwargs in ev.log)
    if accepted:
        # accepted once, before the colour is set and before drawing
        assert at_accept == [(to_rgba(w._axcolor0), 0)]
        assert w.ax.get_facecolor() == to_rgba(w._axcolor1)
        assert counter.count == 1
    else:
        assert w.ax.get_facecolor() == to_rgba(w._axcolor0)
        assert counter.count == 0


def test_label_without_isgeom_is_accepted_when_geom_only_is_false(make_canvas, label):
    w = make_canvas()
    lab = label()
    del lab.isgeom
    ev = FakeEvent(lab)
    w.dragEnterEvent(e=ev)
    assert ev.names() == [M, P, A]
    assert w.ax.get_facecolor() == to_rgba(w._axcolor1)


def test_colours_and_label_class_are_looked_up_at_each_call(mod, make_canvas, label, monkeypatch):
    w = make_canvas()
    w._axcolor1 = "red"
    w.dragEnterEvent(FakeEvent(label()))
    assert w.ax.get_facecolor() == to_rgba("red")
    w._axcolor0 = "blue"
    w.dragLeaveEvent(None)
    assert w.ax.get_facecolor() == to_rgba("blue")
    # with another class bound to the global, a library label is no longer a label source
    monkeypatch.setattr(mod, "GeometryLabelDraggable", type("Other", (), {}))
    ev = FakeEvent(label())
    w.dragEnterEvent(ev)
    assert ev.names() == [M, P, M, H]


@pytest.mark.parametrize("arg", [None, 0, FakeEvent()], ids=["None", "int", "fake-event"])
def test_drag_leave_restores_resting_colour_and_draws(canvas, renders, arg):
    w = canvas
    w.ax.set_facecolor(w._axcolor1)
    counter = renders(w)
    assert w.dragLeaveEvent(arg) is None
    assert w.ax.get_facecolor() == to_rgba(w._axcolor0)
    assert counter.count == 1
    if isinstance(arg, FakeEvent):
        assert arg.log == []


# source kind, isgeom, geom_only, local paths, accepted
QT_ROWS = [
    ("label", True, False, [], True),
    ("label", False, False, [], True),
    ("label", True, True, [], True),
    ("label", False, True, ["/d/a.csv"], False),
    (None, None, True, ["/d/a.csv"], True),
    (None, None, False, ["/d/A.Csv"], True),
    ("qobject", None, False, ["/d/a.csv"], True),
    (None, None, False, ["/d/a.csv", "/d/b.csv"], False),
    (None, None, False, ["/d/a.csv.gz"], False),
    (None, None, False, [], False),
    (None, None, False, ["https://example.org/data.csv"], False),
]


@pytest.mark.parametrize("dark", [False, True], ids=["light", "dark"])
@pytest.mark.parametrize("kind,isgeom,geom_only,paths,accepted", QT_ROWS)
def test_real_qt_drag_events_reach_the_handlers(make_canvas, fake_is_dark, renders, label,
                                                kind, isgeom, geom_only, paths, accepted, dark):
    fake_is_dark.result = dark
    w = make_canvas(None, geom_only)
    counter = renders(w)
    source = {"label": lambda: label("beam", isgeom),
              "qobject": lambda: QtWidgets.QLabel("plain")}.get(kind, lambda: None)()
    mime = make_mime(source, [p for p in paths if p.startswith("/")],
                     [u for u in paths if not u.startswith("/")])
    assert mime.parent() is source

    ev = send_drag_enter(w, mime)
    assert ev.isAccepted() is accepted
    assert counter.count == (1 if accepted else 0)
    look = w._axcolor1 if accepted else w._axcolor0
    assert w.ax.get_facecolor() == to_rgba(look)
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(look))

    send_drag_leave(w)
    assert counter.count == (2 if accepted else 1)
    assert w.ax.get_facecolor() == to_rgba(w._axcolor0)
    assert same_pixel(axes_centre_rgba(w), rgba_bytes(w._axcolor0))
    if source is not None:
        source.deleteLater()


def test_handlers_draw_through_the_instance(canvas, label, renders):
    w = canvas
    counter = renders(w)
    draws = []
    w.draw = lambda *a, **k: draws.append((a, k))
    w.dragEnterEvent(FakeEvent(label()))
    assert w.ax.get_facecolor() == to_rgba(w._axcolor1)
    w.dragLeaveEvent(None)
    assert w.ax.get_facecolor() == to_rgba(w._axcolor0)
    assert draws == [((), {})] * 2 and counter.count == 0


class Undecidable:
    def __bool__(self):
        raise ZeroDivisionError


@pytest.mark.parametrize("where,exc", [("geom_only", ZeroDivisionError), ("isgeom", ZeroDivisionError),
                                       ("hasUrls", ZeroDivisionError), ("urls", TypeError)])
def test_failures_inside_the_decision_propagate(canvas, label, where, exc):
    w = canvas
    lab = label()
    ev = FakeEvent(lab if where in ("geom_only", "isgeom") else None, urls=["/d/a.csv"])
    if where == "geom_only":
        w.geom_only = Undecidable()
    elif where == "isgeom":
        w.geom_only, lab.isgeom = True, Undecidable()
    elif where == "hasUrls":
        ev._mime.hasUrls = Undecidable
    else:
        ev._mime.urls = lambda: 5  # has no len()
    with pytest.raises(exc):
        w.dragEnterEvent(ev)
    assert "accept" not in ev.names()
    assert w.ax.get_facecolor() == to_rgba(w._axcolor0)
