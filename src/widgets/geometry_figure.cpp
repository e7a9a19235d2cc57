// GeometryModelFigure: the plot of a geometry model's elements. Each method
// reads like the Python it stands for; lookups are made in the order the
// interpreter makes them.
#include "widgets.hpp"

namespace zen {

namespace {

constinit const Names& N = state().names;
constinit const Constants& C = state().consts;

// for a in entry: a.remove()
void remove_artists(Borrowed entry) {
    Iteration it(entry);
    for (Ref artist; it.next(artist);) call_method(artist, N.remove);
}

// def __init__(self, parent, gcontrols, geom_only=False)
void init(const Frame& f) {
    PyObject* self = f.self();
    // super().__init__(parent, geom_only=geom_only); gcontrols is not used.
    Method base_init = f.super_method(N.__init__);
    call(base_init, {f.arg(1), f.arg(3)}, C.kw_geom_only);
    // self.artists = []
    setattr(self, N.artists, new_list());
    // self.setMinimumSize(300, 200)
    call_method(self, N.setMinimumSize, {C.int_300, C.int_200});
}

// def add_element(self, g)
void add_element(const Frame& f) {
    PyObject* self = f.self();
    // h = g.plot(self.ax, color="0.7")
    Method plot = method(f.arg(1), N.plot);
    Ref h = call(plot, {getattr(self, N.ax), C.str_grey}, C.kw_color);
    // self.artists.append(h)
    call_append(getattr(self, N.artists), N.append, h);
    // self.set_selection(-1)
    call_method(self, N.set_selection, {C.int_minus_1});
}

// def clear(self)
void clear(const Frame& f) {
    PyObject* self = f.self();
    Iteration entries(getattr(self, N.artists));
    for (Ref entry; entries.next(entry);) remove_artists(entry);
    setattr(self, N.artists, new_list());
    call_method(self, N.draw);
}

// def dropEvent(self, e)
void drop_event(const Frame& f) {
    PyObject* self = f.self();
    PyObject* e = f.arg(1);
    auto source = [e] { return call_method(call_method(e, N.mimeData), N.parent); };

    bool from_label;
    {
        Ref src = source();
        Ref label_class = f.global(N.GeometryLabelDraggable);
        from_label = isinstance(src, label_class);
    }
    if (from_label) {
        Ref name = getattr(source(), N.name);
        Ref isgeom = getattr(source(), N.isgeom);
        call_method(getattr(self, N.geom_dropped), N.emit, {name, isgeom});
    } else if (truth(call_method(call_method(e, N.mimeData), N.hasUrls))) {
        Ref urls = call_method(call_method(e, N.mimeData), N.urls);
        Ref fpath = call_method(getitem(urls, C.int_0, 0), N.toLocalFile);
        call_method(getattr(self, N.csv_dropped), N.emit, {fpath});
    }
    // self.ax.set_facecolor(self._axcolor0); self.draw()
    show_face_colour(self, N._axcolor0);
}

// def remove_element(self, ind, ind_new)
void remove_element(const Frame& f) {
    PyObject* self = f.self();
    PyObject* ind = f.arg(1);
    PyObject* ind_new = f.arg(2);
    if (!compare_int(ind, C.int_0, 0, Py_GE)) return;
    remove_artists(getitem(getattr(self, N.artists), ind));
    call_method(getattr(self, N.artists), N.pop, {ind});
    if (compare_int(ind_new, C.int_0, 0, Py_GE))
        call_method(self, N.set_selection, {ind_new});
    else
        call_method(self, N.draw);
}

// def set_artist_value(self, ind, y)
void set_artist_value(const Frame& f) {
    PyObject* self = f.self();
    PyObject* ind = f.arg(1);
    PyObject* y = f.arg(2);
    if (compare_int(getattr(y, N.ndim), C.int_1, 1, Py_EQ)) {
        // self.artists[ind][0].set_ydata(y)
        Ref first = getitem(getitem(getattr(self, N.artists), ind), C.int_0, 0);
        call_method(first, N.set_ydata, {y});
    } else {
        // for aa, yy in zip(self.artists[ind], y): aa.set_ydata(yy)
        Ref entry = getitem(getattr(self, N.artists), ind);
        Iteration pairs(call(state().builtin_zip, {entry, y}));
        for (Ref pair; pairs.next(pair);) {
            Ref aa, yy;
            unpack2(pair, aa, yy);
            call_method(aa, N.set_ydata, {yy});
        }
    }
    call_method(self, N.draw);
}

// def set_selection(self, i)
void set_selection(const Frame& f) {
    PyObject* self = f.self();
    Iteration entries(getattr(self, N.artists));
    for (Ref a; entries.next(a);) {
        // plt.setp(a, color="0.7", lw=1, zorder=0)
        call_method(f.global(N.plt), N.setp, {a, C.str_grey, C.int_1, C.int_0}, C.kw_style);
    }
    // plt.setp(self.artists[i], color="orange", lw=2, zorder=1)
    Method setp = method(f.global(N.plt), N.setp);
    Ref selected = getitem(getattr(self, N.artists), f.arg(1));
    call(setp, {selected, C.str_orange, C.int_2, C.int_1}, C.kw_style);
    call_method(self, N.draw);
}

const MethodSpec kMethods[] = {
    {"__init__", {"self", "parent", "gcontrols", "geom_only"}, 4, 1, {Default::False}, init},
    {"add_element", {"self", "g"}, 2, 0, {}, add_element},
    {"clear", {"self"}, 1, 0, {}, clear},
    {"dropEvent", {"self", "e"}, 2, 0, {}, drop_event},
    {"remove_element", {"self", "ind", "ind_new"}, 3, 0, {}, remove_element},
    {"set_artist_value", {"self", "ind", "y"}, 3, 0, {}, set_artist_value},
    {"set_selection", {"self", "i"}, 2, 0, {}, set_selection},
};

}  // namespace

std::span<const MethodSpec> figure_methods() { return kMethods; }

}  // namespace zen
