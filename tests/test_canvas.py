"""_MPLDragWidget: construction and drag feedback (its colour setters and draw are pinned by the call trace)."""
import numpy as np
import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg
from matplotlib.colors import to_rgba
from PySide6 import QtWidgets

from conftest import FakeEvent, raises, shows

RESTING, DARK, LIGHT = (0.9, 0.9, 0.9), (0.3, 0.3, 0.3), (0.7, 0.7, 0.7)
ATTRS = ["fig", "geom_only", "ax", "_axcolor0", "_axcolor1"]


@pytest.mark.parametrize("with_parent,dark,highlight", [
    (False, None, LIGHT), (True, "no", DARK), (False, True, DARK), (True, "", LIGHT)])
def test_construction(mod, make_canvas, monkeypatch, with_parent, dark, highlight):
    events, base_init = [], FigureCanvasQTAgg.__init__

    def init(self, *args, **kwargs):
        events.append(("base", args, kwargs, [k for k in vars(self) if k in ATTRS]))
        base_init(self, *args, **kwargs)
    monkeypatch.setattr(FigureCanvasQTAgg, "__init__", init)
    monkeypatch.setattr(mod, "is_dark", lambda *a, **k: events.append(("is_dark", a, k)) or dark)
    parent, geom_only = (QtWidgets.QWidget(), []) if with_parent else (None, False)
    w = make_canvas(parent, geom_only) if with_parent else make_canvas()
    # is_dark once with the parent, then the Qt base with every attribute already set
    assert events == [("is_dark", (parent,), {}), ("base", (w.fig,), {}, ATTRS)]
    policy, expanding = w.sizePolicy(), QtWidgets.QSizePolicy.Policy.Expanding
    assert (policy.horizontalPolicy(), policy.verticalPolicy()) == (expanding, expanding)
    assert w.parent() is parent and w.acceptDrops() and w.geom_only is geom_only  # not converted
    assert w.figure is w.fig and w.fig.dpi == 100 and w.fig.axes == [w.ax]
    assert w.ax.get_position().bounds == pytest.approx((0.1, 0.1, 0.88, 0.88))
    assert w.ax.margins()[0] == 0 and w.ax.get_xlim() == (0, 100)
    assert {t.get_fontsize() for t in w.ax.get_xticklabels() + w.ax.get_yticklabels()} == {6}
    # the highlight follows the truth of is_dark's result
    assert (w._axcolor0, w._axcolor1) == (RESTING, highlight) and type(w._axcolor1) is tuple
    assert w.ax.get_facecolor() == to_rgba(RESTING)
    assert shows(w, RESTING)  # drawn once already


X = np.array([1, 2])  # has no truth value: a truth test of it raises ValueError
# drag source, geom_only, isgeom, URLs or answers of the mime data; outcome: accepted or
# not, or the exception the handler raises. X where the decision must not look. (The plain
# branches, no source and no URLs or two files among them, are the call trace's cases.)
DECISIONS = [
    pytest.param("label", 0, X, ["/d/a.csv"], True, id="label/free+csv"),
    pytest.param("label", "yes", 1, [], True, id="label/geom-only/isgeom"),
    pytest.param("label", True, "", ["/d/a.csv"], False, id="label/geom-only/not-geom+csv"),
    pytest.param(None, X, X, {"hasUrls": lambda: True}, False, id="none/zero-urls"),
    pytest.param("qobject", X, X, ["/d/b.CsV"], True, id="qobject/CsV"),
    pytest.param(None, X, X, ["/d/a.csv.bak"], False, id="none/csv.bak"),
    pytest.param("label", X, X, [], ValueError, id="label/undecidable-geom_only"),
    pytest.param("label", True, X, [], ValueError, id="label/undecidable-isgeom"),
    pytest.param(None, X, X, {"hasUrls": lambda: X}, ValueError, id="none/undecidable-hasUrls"),
    pytest.param(None, X, X, {"hasUrls": lambda: True, "urls": lambda: 5}, TypeError,
                 id="none/urls-without-len"),
]


@pytest.mark.parametrize("kind,geom_only,isgeom,urls,outcome", DECISIONS)
def test_drag_enter_decision(make_canvas, renders, label, kind, geom_only, isgeom, urls, outcome):
    """Accepts labels (only geometries on a geometry-only canvas) and one .csv file; an
    accepted drag is accepted once, then highlighted and drawn; a refused one changes
    nothing; an undecidable one raises and changes nothing."""
    w = make_canvas(None, geom_only)
    w._axcolor1 = (0.1, 0.2, 0.3)  # the colours are read at each use
    counter = renders(w)
    source = {"label": label, "qobject": lambda: QtWidgets.QLabel("x")}.get(
        kind, lambda: None)()
    ev = FakeEvent(source, urls if isinstance(urls, list) else [])
    ev._mime._answers.update({} if isinstance(urls, list) else urls)
    if kind == "label":
        source.isgeom = isgeom
    accepted = outcome is True
    with raises(outcome if isinstance(outcome, type) else None):
        assert w.dragEnterEvent(ev) is None
    assert [name for name, *_ in ev.log].count("accept") == accepted  # (the calls in order: see the call trace)
    assert w.ax.get_facecolor() == to_rgba(w._axcolor1 if accepted else RESTING)
    assert counter.call_count == accepted
