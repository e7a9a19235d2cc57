// _MPLDragWidget: the drop-target plot canvas. Each method reads like the
// Python it stands for; lookups are made in the order the interpreter makes
// them.
#include "widgets.hpp"

namespace zen {

namespace {

constinit const Names& N = state().names;
constinit const Constants& C = state().consts;

// def __init__(self, parent=None, geom_only=False)
void init(const Frame& f) {
    PyObject* self = f.self();
    PyObject* parent = f.arg(1);
    PyObject* geom_only = f.arg(2);

    // from matplotlib.figure import Figure
    Ref Figure = f.import_from(N.matplotlib_figure, C.from_Figure, N.Figure);
    // self.fig = Figure(dpi=100)
    setattr(self, N.fig, call(Figure, {C.int_100}, C.kw_dpi));
    // self.geom_only = geom_only
    setattr(self, N.geom_only, geom_only);
    // self.ax = self.fig.add_axes([0.1, 0.1, 0.88, 0.88])
    {
        Method add_axes = method(getattr(self, N.fig), N.add_axes);
        setattr(self, N.ax, call(add_axes, {float_list({0.1, 0.1, 0.88, 0.88})}));
    }
    // self.ax.set_xmargin(0)
    call_method(getattr(self, N.ax), N.set_xmargin, {C.int_0});
    // dark = is_dark(parent)
    Ref is_dark = f.global(N.is_dark);
    Ref dark = call(is_dark, {parent});
    // self._axcolor0 = (0.9, 0.9, 0.9)
    setattr(self, N._axcolor0, C.grey_09);
    // self._axcolor1 = (0.3, 0.3, 0.3) if dark else (0.7, 0.7, 0.7)
    setattr(self, N._axcolor1, truth(dark) ? C.grey_03 : C.grey_07);
    // self.ax.set_xlim(0, 100)
    call_method(getattr(self, N.ax), N.set_xlim, {C.int_0, C.int_100});
    // self.ax.set_facecolor(self._axcolor0)
    {
        Method set_facecolor = method(getattr(self, N.ax), N.set_facecolor);
        call(set_facecolor, {getattr(self, N._axcolor0)});
    }
    // plt.setp(self.ax.get_xticklabels() + self.ax.get_yticklabels(), size=6)
    {
        Method setp = method(f.global(N.plt), N.setp);
        Ref xlabels = call_method(getattr(self, N.ax), N.get_xticklabels);
        Ref ylabels = call_method(getattr(self, N.ax), N.get_yticklabels);
        call(setp, {add(xlabels, ylabels), C.int_6}, C.kw_size);
    }
    // super().__init__(self.fig)
    {
        Method base_init = f.super_method(N.__init__);
        call(base_init, {getattr(self, N.fig)});
    }
    // self.setParent(parent)
    call_method(self, N.setParent, {parent});
    // super().setSizePolicy(QtWidgets.QSizePolicy.Policy.Expanding,
    //                       QtWidgets.QSizePolicy.Policy.Expanding)
    {
        Method set_size_policy = f.super_method(N.setSizePolicy);
        auto expanding = [&] {
            Ref policy = getattr(getattr(f.global(N.QtWidgets), N.QSizePolicy), N.Policy);
            return getattr(policy, N.Expanding);
        };
        Ref horizontal = expanding();
        Ref vertical = expanding();
        call(set_size_policy, {horizontal, vertical});
    }
    // super().updateGeometry()
    call(f.super_method(N.updateGeometry));
    // self.setAcceptDrops(True)
    call_method(self, N.setAcceptDrops, {Py_True});
    // self.draw()
    call_method(self, N.draw);
}

// def dragEnterEvent(self, e)
void drag_enter_event(const Frame& f) {
    PyObject* self = f.self();
    PyObject* e = f.arg(1);
    bool accept = false;

    Ref parent = call_method(call_method(e, N.mimeData), N.parent);
    Ref label_class = f.global(N.GeometryLabelDraggable);
    if (isinstance(parent, label_class)) {
        // A label: any label, or only geometries on a geometry-only canvas.
        if (!truth(getattr(self, N.geom_only)) || truth(getattr(parent, N.isgeom))) accept = true;
    } else if (truth(call_method(call_method(e, N.mimeData), N.hasUrls))) {
        // Files: exactly one, ending in ".csv" in any letter case.
        Ref urls = call_method(call_method(e, N.mimeData), N.urls);
        if (len(urls) == 1) {
            Ref fpath = call_method(getitem(urls, C.int_0, 0), N.toLocalFile);
            if (truth(call_method(call_method(fpath, N.lower), N.endswith, {C.str_csv}))) accept = true;
        }
    }
    if (!accept) return;
    call_method(e, N.accept);
    show_face_colour(self, N._axcolor1);
}

// def dragLeaveEvent(self, e)
void drag_leave_event(const Frame& f) { show_face_colour(f.self(), N._axcolor0); }

// def draw(self)
void draw(const Frame& f) {
    PyObject* self = f.self();
    call_method(getattr(self, N.ax), N.relim);
    call_method(getattr(self, N.ax), N.autoscale_view);
    call(f.super_method(N.draw));
}

// def set_bgcolor(self, c)
void set_bgcolor(const Frame& f) {
    PyObject* self = f.self();
    PyObject* c = f.arg(1);
    call_method(getattr(getattr(self, N.fig), N.patch), N.set_facecolor, {c});
    call_method(getattr(self, N.fig), N.set_edgecolor, {c});
}

// def set_fontcolor(self, c)
void set_fontcolor(const Frame& f) {
    PyObject* self = f.self();
    PyObject* c = f.arg(1);
    call_method(getattr(self, N.ax), N.tick_params, {c}, C.kw_colors);
    call_method(getattr(getattr(getattr(self, N.ax), N.xaxis), N.label), N.set_color, {c});
}

}  // namespace

void show_face_colour(PyObject* self, PyObject* colour_attr) {
    Ref ax = getattr(self, N.ax);
    Method set_facecolor = method(ax, N.set_facecolor);
    call(set_facecolor, {getattr(self, colour_attr)});
    call_method(self, N.draw);
}

namespace {

const MethodSpec kMethods[] = {
    {"__init__", {"self", "parent", "geom_only"}, 3, 2, {Default::None, Default::False}, init},
    {"dragEnterEvent", {"self", "e"}, 2, 0, {}, drag_enter_event},
    {"dragLeaveEvent", {"self", "e"}, 2, 0, {}, drag_leave_event},
    {"draw", {"self"}, 1, 0, {}, draw},
    {"set_bgcolor", {"self", "c"}, 2, 0, {}, set_bgcolor},
    {"set_fontcolor", {"self", "c"}, 2, 0, {}, set_fontcolor},
};

}  // namespace

std::span<const MethodSpec> canvas_methods() { return kMethods; }

}  // namespace zen
