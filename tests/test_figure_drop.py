"""GeometryModelFigure.dropEvent: real Qt drops to connected slots, thousands of them in a child."""
import pytest
from matplotlib.colors import to_rgba
from PySide6 import QtCore

from conftest import CHILD_APP, make_mime, run_child, send_drag_event, shows

Qt = QtCore.Qt


# source (a label's name and isgeom, or any other QObject), geom_only, local paths, expected emission
@pytest.mark.parametrize("lab,geom_only,paths,emitted", [
    (("beam", True), False, [], ("geom", ("beam", True))),
    (("web", False), True, ["/d/a.csv"], ("geom", ("web", False))),  # URLs, geom_only not asked
    (None, False, ["/d/first.csv", "/d/second.csv"], ("csv", ("/d/first.csv",))),
    ("qobject", False, [], None),
], ids=["label", "label-with-urls-geom-only", "two-files", "neither"])
def test_real_drop_emits_at_most_one_signal_then_rests(mod, make_canvas, label, lab, geom_only, paths, emitted):
    fig, got = make_canvas(None, None, geom_only, cls=mod.GeometryModelFigure), []
    ax = fig.ax  # each slot logs what it got and the plot-area colour it saw
    fig.geom_dropped.connect(lambda *args: got.append(("geom", args, ax.get_facecolor())))
    fig.csv_dropped.connect(lambda *args: got.append(("csv", args, ax.get_facecolor())))
    assert send_drag_event(fig, "enter", make_mime(paths=["/d/hover.csv"])).isAccepted()  # Qt drops here
    source = QtCore.QObject() if lab == "qobject" else lab and label(*lab)
    mime = make_mime(source, paths)  # the event does not keep it alive
    ev = send_drag_event(fig, "drop", mime)
    # slots run while the highlight is still on
    assert got == ([] if emitted is None else [emitted + (to_rgba(fig._axcolor1),)])
    assert fig.ax.get_facecolor() == to_rgba(fig._axcolor0)
    assert shows(fig, fig._axcolor0)
    # the handler neither accepts nor changes the drop action
    assert not ev.isAccepted() and ev.dropAction() == Qt.DropAction.CopyAction


def test_thousands_of_real_label_drops_to_a_python_slot_leave_the_process_sound():
    # Each drop goes through Qt to the native handler, which emits geom_dropped to a Python
    # slot. A binding that corrupts the heap on that path (PySide6-Essentials 6.12.0 does on
    # CPython before 3.12, after about a thousand emissions) aborts the child.
    out = run_child(CHILD_APP + """
    from conftest import make_mime, send_drag_event
    from zentrope.widgets.library.labels import GeometryLabelDraggable
    fig, got = m.GeometryModelFigure(None, None), []
    fig.draw = lambda: None  # the canvas's render is not the path under test
    fig.geom_dropped.connect(lambda name, isgeom: got.append((name, isgeom)))
    label = GeometryLabelDraggable("beam", True)
    mime = make_mime(label)
    for _ in range(5000):  # Qt delivers a drop only after an accepted drag-enter
        assert send_drag_event(fig, "enter", mime).isAccepted()
        send_drag_event(fig, "drop", mime)
    print(len(got), set(got))
    """)
    assert out == "5000 {('beam', True)}\n"
