// The module's process-wide state, in one place: the interned names it looks
// up, the constants and keyword-name tuples its calls pass, the built-ins it
// fetches once, the native method type, the module object and the
// interpreter it belongs to, the cached global look-ups and the key of the
// per-thread native call count. Names, constants, built-ins, the type and
// the key are made once, on the first execution of the module, and kept for
// the life of the process; a failed execution keeps what it made, and a
// retry makes only what is missing.
#pragma once

#include "py/py.hpp"

#include <pthread.h>

#include <cstdint>

namespace zen {

// Module globals that method bodies read (each has its own look-up cache
// entry).
#define ZEN_GLOBAL_NAMES(X) X(is_dark) X(GeometryLabelDraggable) X(plt) X(QtWidgets)

#define ZEN_NAMES(X)                                                                     \
    /* other module globals and imports */                                              \
    X(_SavableFigure) X(FigureCanvas) X(FigureCanvasQTAgg) X(QtCore) X(QtGui) X(mpl)     \
    X(_MPLDragWidget)                                                                    \
    X(GeometryModelFigure) X(ZentropeApplication) X(MPLWidget) X(app) X(widget)          \
    X(Figure) X(pyplot) X(rcParams) X(Signal) X(QSizePolicy) X(Policy) X(Expanding)      \
    /* dunder names */                                                                   \
    X(__name__) X(__module__) X(__qualname__) X(__init__) X(__prepare__)                 \
    X(__mro_entries__) X(__orig_bases__)                                                  \
    /* instance attributes */                                                            \
    X(fig) X(geom_only) X(ax) X(_axcolor0) X(_axcolor1) X(artists) X(name) X(isgeom)     \
    X(geom_dropped) X(csv_dropped)                                                       \
    /* methods called */                                                                 \
    X(add_axes) X(set_xmargin) X(set_xlim) X(set_facecolor) X(setp) X(get_xticklabels)   \
    X(get_yticklabels) X(setParent) X(setSizePolicy) X(updateGeometry) X(setAcceptDrops) \
    X(draw) X(relim) X(autoscale_view) X(patch) X(set_edgecolor) X(tick_params) X(xaxis) \
    X(label) X(set_color) X(mimeData) X(parent) X(hasUrls) X(urls) X(toLocalFile)        \
    X(lower) X(endswith) X(accept) X(emit) X(plot) X(append) X(set_selection) X(remove)  \
    X(pop) X(ndim) X(set_ydata) X(setMinimumSize) X(show) X(exec)                        \
    /* keyword names */                                                                  \
    X(dpi) X(size) X(colors) X(color) X(lw) X(zorder)

// Names that are not identifiers: member, then its text.
#define ZEN_DOTTED_NAMES(X)                                                  \
    X(zentrope_widgets_style, "zentrope.widgets.style")                      \
    X(zentrope_widgets_basic_mpl, "zentrope.widgets._basic.mpl")             \
    X(zentrope_widgets_library_labels, "zentrope.widgets.library.labels")    \
    X(zentrope_dev, "zentrope._dev")                                         \
    X(matplotlib, "matplotlib")                                              \
    X(matplotlib_pyplot, "matplotlib.pyplot")                                \
    X(matplotlib_figure, "matplotlib.figure")                                \
    X(matplotlib_backends_backend_qtagg, "matplotlib.backends.backend_qtagg") \
    X(PySide6, "PySide6")                                                    \
    X(figure_dpi, "figure.dpi")                                              \
    X(figure_autolayout, "figure.autolayout")                                \
    X(module_fullname, "zentrope.widgets.models.gmodel.mpl")                 \
    X(dunder_main, "__main__")

// Up to 3.13 the value of each global that method bodies read is cached,
// stamped with the version tag of the namespace dict it came from: every new
// dict and every change to one takes the next value of one counter, at the
// moment the change is stored, so a namespace that has the stamped version
// now is the very dict the value came from, unchanged since, and still holds
// the (borrowed) value. A tag is the dict's own: nothing outside the dict
// can take it away or make it lag behind a change. (Dict watchers, which
// 3.12 offers instead, are told of a change before it is stored, with other
// watchers' Python code between the two, and can be removed by anyone: a
// cache fed by them can keep a value the namespace has let go.) 3.14 has no
// version tag, and a global is looked up at each use, as by the
// interpreter's own generic path.
#if PY_VERSION_HEX < 0x030E0000
#define ZEN_GLOBAL_CACHE 1
#else
#define ZEN_GLOBAL_CACHE 0
#endif

// An interned name that method bodies look up as a module global, with its
// cache entry.
struct GlobalName : Immortal {
#if ZEN_GLOBAL_CACHE
    mutable uint64_t version = 0;       // of the namespace; no live dict has version 0
    mutable PyObject* value = nullptr;  // borrowed from that namespace
#endif
};

struct Names {
#define ZEN_DECLARE_GLOBAL(n) GlobalName n;
    ZEN_GLOBAL_NAMES(ZEN_DECLARE_GLOBAL)
#undef ZEN_DECLARE_GLOBAL
#define ZEN_DECLARE(n) Immortal n;
    ZEN_NAMES(ZEN_DECLARE)
#undef ZEN_DECLARE
#define ZEN_DECLARE_DOTTED(member, text) Immortal member;
    ZEN_DOTTED_NAMES(ZEN_DECLARE_DOTTED)
#undef ZEN_DECLARE_DOTTED
};

struct Constants {
    Immortal int_0, int_1, int_2, int_6, int_100, int_200, int_300, int_minus_1;
    Immortal grey_09;  // (0.9, 0.9, 0.9)
    Immortal grey_07;  // (0.7, 0.7, 0.7)
    Immortal grey_03;  // (0.3, 0.3, 0.3)
    Immortal str_grey;    // "0.7"
    Immortal str_orange;  // "orange"
    Immortal str_csv;     // ".csv"
    // Keyword-name tuples.
    Immortal kw_dpi, kw_size, kw_colors, kw_color, kw_geom_only;
    Immortal kw_style;  // (color, lw, zorder)
    // From-lists.
    Immortal from_is_dark, from_SavableFigure, from_GeometryLabelDraggable, from_FigureCanvasQTAgg;
    Immortal from_qt;  // (QtWidgets, QtCore, QtGui)
    Immortal from_Figure, from_ZentropeApplication, from_MPLWidget;
};

struct State {
    Names names;
    Constants consts;
    Immortal builtins;  // the built-in namespace (a dict)
    Immortal builtin_zip;
    Immortal function_type;  // the native method type

    // The one module object whose execute step has started and not failed
    // (owned: taken by the execute step, released by its failure), and the
    // first interpreter that created one.
    PyObject* module = nullptr;
    int64_t interpreter_id = -1;

    // The key of each thread's count of native method calls under way (see
    // function/native_function.cpp), made with the method type.
    pthread_key_t depth_key{};
    bool depth_key_made = false;
};

// The state; its members are valid after init_state() has succeeded once.
// A plain global: trivially destructible, so nothing runs at process exit.
extern State g_state;
constexpr State& state() noexcept { return g_state; }

// Makes what is not made yet of names, constants and built-ins.
void init_state(PyObject* builtins);

namespace detail {
[[gnu::cold, gnu::noinline]] Ref lookup_builtin(PyObject* name, Loc where);
#if ZEN_GLOBAL_CACHE
inline uint64_t version_of(PyObject* dict) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // 3.12 and 3.13: deprecated, still kept up
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#pragma GCC diagnostic pop
}
Ref lookup_global_filling(PyObject* globals, const GlobalName& name, Loc where);
#endif
}  // namespace detail

// A name as a function body sees it: the module namespace `globals`, then
// the built-ins, else NameError. The value is owned before any Python code
// can run.
inline Ref lookup_global(PyObject* globals, PyObject* name, Loc where = Loc::current()) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* value;
    if (PyDict_GetItemRef(globals, name, &value) > 0) [[likely]] return Ref::steal(value);
#else
    // borrowed from the namespace: owned at once
    if (PyObject* value = PyDict_GetItemWithError(globals, name)) [[likely]] return Ref::new_ref(value);
#endif
    if (PyErr_Occurred()) raise(where);
    return detail::lookup_builtin(name, where);
}

// The same for a name with a cache entry of its own.
inline Ref lookup_global(PyObject* globals, const GlobalName& name, Loc where = Loc::current()) {
#if ZEN_GLOBAL_CACHE
    if (name.version == detail::version_of(globals)) [[likely]] return Ref::new_ref(name.value);
    return detail::lookup_global_filling(globals, name, where);
#else
    return lookup_global(globals, name.get(), where);
#endif
}

// `from <module> import <name>` for an already imported module object: the
// attribute, else the loaded submodule "<module>.<name>", else ImportError.
Ref import_name(Borrowed module, PyObject* name, Loc where = Loc::current());

}  // namespace zen
