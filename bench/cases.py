"""The operations timed by run.py, one Case per branch worth telling apart.

A case names the method (class and name), builds its stand-in ``self`` and
arguments with a kit (standins.py) for a given implementation, and may add a
statement run before every call (``pre``; the baseline loop runs it too, so
its cost is subtracted), one run after every call (``then``, timed with it:
a second method call of the same operation) and one run before every timed
batch (``setup``).
``expect`` lists log entries that a traced run must produce, in this order,
and ``absent`` text that no entry may contain: they pin each case to the
branch it is meant to exercise.

Calls that a method makes on ``self`` (``draw``, ``set_selection``) reach
cheap stubs here; ``draw`` and the constructors, which go through ``super()``,
are timed on bare instances of each implementation's own class (``bare=True``,
see impls.py).
"""
from dataclasses import dataclass, field
from typing import Callable, Optional

CANVAS = "_MPLDragWidget"
FIGURE = "GeometryModelFigure"


@dataclass
class Setup:
    self: object
    args: tuple = ()
    kwargs: dict = field(default_factory=dict)
    names: dict = field(default_factory=dict)  # used by Case.pre / Case.setup


@dataclass
class Case:
    op: str
    variant: str
    owner: str
    method: str
    build: Callable  # (kit, impl) -> Setup
    raises: Optional[type] = None
    pre: str = ""
    setup: str = ""
    then: str = ""
    expect: tuple = ()
    absent: tuple = ()
    bare: bool = False

    @property
    def key(self):
        return f"{self.op}: {self.variant}" if self.variant else self.op


# --- stand-in shapes ---------------------------------------------------------

COLOUR = (0.1, 0.2, 0.3)


class Series(tuple):
    """One row of y-values."""
    ndim = 1


class Rows(tuple):
    """Several rows of y-values, iterated row by row."""
    ndim = 2


def line(kit, name):
    return kit.obj(name, set_ydata=kit.sink(f"{name}.set_ydata"), remove=kit.returns(f"{name}.remove", None))


def model(kit, n=5):
    """``n`` elements of 1, 3, 1, 2, 1, 1, 3, ... lines."""
    sizes = (1, 3, 1, 2, 1)
    return [[line(kit, f"e{i}l{j}") for j in range(sizes[i % 5])] for i in range(n)]


def widget(kit, geom_only=False, artists=None):
    """A stand-in canvas/figure: every attribute the methods read."""
    ax = kit.obj(
        "ax",
        set_facecolor=kit.sink("ax.set_facecolor"),
        tick_params=kit.sink("ax.tick_params", 2),
        xaxis=kit.obj("xaxis", label=kit.obj("xlabel", set_color=kit.sink("xlabel.set_color"))),
    )
    fig = kit.obj(
        "fig",
        patch=kit.obj("patch", set_facecolor=kit.sink("patch.set_facecolor")),
        set_edgecolor=kit.sink("fig.set_edgecolor"),
    )
    return kit.obj(
        "self",
        fig=fig,
        ax=ax,
        geom_only=geom_only,
        _axcolor0=(0.9, 0.9, 0.9),
        _axcolor1=(0.7, 0.7, 0.7),
        artists=[] if artists is None else artists,
        draw=kit.returns("self.draw", None),
        set_selection=kit.sink("self.set_selection"),
        geom_dropped=kit.obj("geom_dropped", emit=kit.sink("geom_dropped.emit", 2)),
        csv_dropped=kit.obj("csv_dropped", emit=kit.sink("csv_dropped.emit")),
    )


def event(kit, source=None, paths=None):
    """A drag or drop event whose mime data comes from ``source`` and carries ``paths``."""
    urls = [kit.obj(f"url{i}", toLocalFile=kit.returns(f"url{i}.toLocalFile", p))
            for i, p in enumerate(paths or [])]
    mime = kit.obj(
        "mime",
        parent=kit.returns("mime.parent", source),
        hasUrls=kit.returns("mime.hasUrls", bool(urls)),
        urls=kit.returns("mime.urls", urls),
    )
    return kit.obj("e", mimeData=kit.returns("e.mimeData", mime), accept=kit.returns("e.accept", None))


def label(kit, isgeom):
    return kit.label("label", name="beam", isgeom=isgeom)


# --- the cases -----------------------------------------------------------------

ACCEPTED = ("e.accept()", "ax.set_facecolor((0.7, 0.7, 0.7))", "self.draw()")
NOT_ACCEPTED = ("e.accept", "self.draw")
RESTED = ("ax.set_facecolor((0.9, 0.9, 0.9))", "self.draw()")


def drag_enter(variant, expect, absent=(), geom_only=False, **event_args):
    def build(kit, impl):
        args = dict(event_args)
        if "isgeom" in args:
            args["source"] = label(kit, args.pop("isgeom"))
        return Setup(widget(kit, geom_only=geom_only), (event(kit, **args),))
    return Case("dragEnterEvent", variant, CANVAS, "dragEnterEvent", build, expect=expect, absent=absent)


def drop(variant, expect, absent=(), **event_args):
    def build(kit, impl):
        args = dict(event_args)
        if "isgeom" in args:
            args["source"] = label(kit, args.pop("isgeom"))
        return Setup(widget(kit), (event(kit, **args),))
    return Case("dropEvent", variant, FIGURE, "dropEvent", build, expect=expect + RESTED, absent=absent)


def with_model(*args, n=5, **kwargs):
    def build(kit, impl):
        return Setup(widget(kit, artists=model(kit, n)), args, kwargs)
    return build


def build_add(kit, impl):
    entry = [line(kit, "new")]
    return Setup(widget(kit), (kit.obj("g", plot=kit.func("g.plot", entry)),))


def build_add_remove(kit, impl):
    setup = build_add(kit, impl)
    setup.names["remove_element"] = impl.function(FIGURE, "remove_element")
    return setup


def build_remove(ind, ind_new):
    def build(kit, impl):
        s = widget(kit)
        return Setup(s, (ind, ind_new), names={"arts": s.artists, "entry": [line(kit, "old")]})
    return build


def build_clear(kit, impl):
    return Setup(widget(kit), names={"five": model(kit)})


def build_draw(kit, impl):
    s = impl.bare_instance(CANVAS)
    s.ax = kit.obj("ax", relim=kit.returns("ax.relim", None),
                   autoscale_view=kit.returns("ax.autoscale_view", None))
    return Setup(s)


def build_init(owner, *args):
    def build(kit, impl):
        return Setup(impl.bare_instance(owner), args)
    return build


CANVAS_INIT = (
    "Figure(dpi=100)", "fig.add_axes([0.1, 0.1, 0.88, 0.88])", "ax.set_xmargin(0)", "is_dark(None)",
    "ax.set_xlim(0, 100)", "ax.set_facecolor((0.9, 0.9, 0.9))", "setp([], size=6)", "base.__init__(fig)",
    "self.setParent(None)", "base.setSizePolicy('Expanding', 'Expanding')", "base.updateGeometry()",
    "self.setAcceptDrops(True)", "ax.relim()", "ax.autoscale_view()", "base.draw()",
)

CASES = [
    drag_enter("label → accept", ACCEPTED, ("label.isgeom",), isgeom=True),
    drag_enter("label, geom_only, isgeom → accept", ("label.isgeom",) + ACCEPTED, geom_only=True, isgeom=True),
    drag_enter("label, geom_only, not isgeom → refuse", ("label.isgeom",), NOT_ACCEPTED, geom_only=True,
               isgeom=False),
    drag_enter("no source, no URLs → refuse", ("mime.hasUrls()",), NOT_ACCEPTED + ("mime.urls",)),
    drag_enter("two files → refuse", ("mime.urls()",), NOT_ACCEPTED + ("toLocalFile",),
               paths=["/data/a.csv", "/data/b.csv"]),
    drag_enter("one .CSV file → accept", ("url0.toLocalFile()",) + ACCEPTED, paths=["/data/Beam.CSV"]),
    drag_enter("one .txt file → refuse", ("url0.toLocalFile()",), NOT_ACCEPTED, paths=["/data/beam.txt"]),
    Case("dragLeaveEvent", "", CANVAS, "dragLeaveEvent", lambda kit, impl: Setup(widget(kit), (None,)),
         expect=RESTED),
    drop("label → geom_dropped", ("geom_dropped.emit('beam', True)",), ("mime.hasUrls", "csv_dropped"),
         isgeom=True),
    drop("file → csv_dropped", ("csv_dropped.emit('/data/beam.csv')",), ("geom_dropped",),
         paths=["/data/beam.csv"]),
    drop("neither → no signal", ("mime.hasUrls()",), ("emit",)),
    Case("set_bgcolor", "", CANVAS, "set_bgcolor", lambda kit, impl: Setup(widget(kit), (COLOUR,)),
         expect=("patch.set_facecolor((0.1, 0.2, 0.3))", "fig.set_edgecolor((0.1, 0.2, 0.3))")),
    Case("set_bgcolor", "c= by keyword", CANVAS, "set_bgcolor",
         lambda kit, impl: Setup(widget(kit), kwargs={"c": COLOUR}),
         expect=("fig.set_edgecolor((0.1, 0.2, 0.3))",)),
    Case("set_fontcolor", "", CANVAS, "set_fontcolor", lambda kit, impl: Setup(widget(kit), (COLOUR,)),
         expect=("ax.tick_params(colors=(0.1, 0.2, 0.3))", "xlabel.set_color((0.1, 0.2, 0.3))")),
    Case("add_element", "", FIGURE, "add_element", build_add, setup="s.artists = []",
         expect=("g.plot(ax, color='0.7')", "self.set_selection(-1)")),
    Case("add_element + remove_element", "", FIGURE, "add_element", build_add_remove, setup="s.artists = []",
         then="remove_element(s, 0, -1)",
         expect=("g.plot(ax, color='0.7')", "self.set_selection(-1)", "new.remove()", "self.draw()")),
    Case("remove_element", "select another", FIGURE, "remove_element", build_remove(0, 0),
         pre="arts.append(entry)", setup="del arts[:]",
         expect=("old.remove()", "self.set_selection(0)"), absent=("self.draw",)),
    Case("remove_element", "select none", FIGURE, "remove_element", build_remove(0, -1),
         pre="arts.append(entry)", setup="del arts[:]",
         expect=("old.remove()", "self.draw()"), absent=("self.set_selection",)),
    Case("remove_element", "negative index: no-op", FIGURE, "remove_element", build_remove(-1, 0),
         absent=("remove", "self.draw", "self.set_selection")),
    Case("clear", "5 elements", FIGURE, "clear", build_clear, pre="s.artists = five",
         expect=("e0l0.remove()", "e1l2.remove()", "e4l0.remove()", "self.artists = []", "self.draw()")),
    Case("set_artist_value", "1-D", FIGURE, "set_artist_value", with_model(1, Series((1.0, 2.0))),
         expect=("e1l0.set_ydata((1.0, 2.0))", "self.draw()"), absent=("e1l1",)),
    Case("set_artist_value", "2-D, 3 rows", FIGURE, "set_artist_value",
         with_model(1, Rows(("r0", "r1", "r2"))),
         expect=("e1l0.set_ydata('r0')", "e1l1.set_ydata('r1')", "e1l2.set_ydata('r2')", "self.draw()")),
    Case("set_selection", "5 elements", FIGURE, "set_selection", with_model(2),
         expect=("setp([e0l0], color='0.7', lw=1, zorder=0)", "setp([e4l0], color='0.7', lw=1, zorder=0)",
                 "setp([e2l0], color='orange', lw=2, zorder=1)", "self.draw()")),
    *(Case("set_selection", f"{n} elements", FIGURE, "set_selection", with_model(n - 1, n=n),
           expect=("setp([e0l0], color='0.7', lw=1, zorder=0)", f"setp([e{n - 1}l0], color='0.7', lw=1, zorder=0)",
                   f"setp([e{n - 1}l0], color='orange', lw=2, zorder=1)", "self.draw()"))
      for n in (10, 100)),
    Case("call-shape error", "missing argument", FIGURE, "set_selection",
         lambda kit, impl: Setup(widget(kit)), raises=TypeError, absent=("setp", "self.")),
    Case("call-shape error", "surplus argument", FIGURE, "set_selection",
         lambda kit, impl: Setup(widget(kit), (0, 1)), raises=TypeError, absent=("setp", "self.")),
    Case("call-shape error", "unknown keyword", FIGURE, "set_selection",
         lambda kit, impl: Setup(widget(kit), kwargs={"j": 0}), raises=TypeError, absent=("setp", "self.")),
    Case("draw", "bare instance", CANVAS, "draw", build_draw, bare=True,
         expect=("ax.relim()", "ax.autoscale_view()", "base.draw()")),
    Case("_MPLDragWidget.__init__", "bare instance", CANVAS, "__init__", build_init(CANVAS), bare=True,
         expect=CANVAS_INIT),
    Case("GeometryModelFigure.__init__", "bare instance", FIGURE, "__init__", build_init(FIGURE, None, None),
         bare=True, expect=CANVAS_INIT + ("self.setMinimumSize(300, 200)",)),
]
