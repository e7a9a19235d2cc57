// The module's process-wide state, in one place: the interned names it looks
// up, the constants and keyword-name tuples its calls pass, the built-ins it
// fetches once, the native method type, the module object and the
// interpreter it belongs to, the cache of global look-ups and the home of the
// native call nesting counter. Names, constants, built-ins and the type are
// made once, on the first execution of the module, and kept for the life of
// the process; a failed execution keeps what it made, and a retry makes only
// what is missing.
#pragma once

#include "py/py.hpp"

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

// Global look-ups that find the name in the module namespace are cached (a
// name found among the built-ins is looked up again at each use). Before
// 3.12 an entry is stamped with the version of the namespace dict: every new
// dict and every change to one takes the next value of one process-wide
// counter, so a namespace that has the stamped version now is the very dict
// the value came from, unchanged since. From 3.12 on, where that version is
// deprecated, a dict watcher on the namespace moves one generation counter
// on at every change (and when the dict is freed). Either way an entry is
// valid exactly while its namespace has not changed, and its value
// (borrowed) is still held by it.
#if PY_VERSION_HEX >= 0x030C0000
#define ZEN_DICT_WATCHERS 1
#else
#define ZEN_DICT_WATCHERS 0
#endif

struct GlobalCache {
    struct Entry {
        PyObject* name = nullptr;  // compared by identity only
#if ZEN_DICT_WATCHERS
        PyObject* globals = nullptr;  // compared by identity only
        uint64_t generation = 0;
#else
        uint64_t version = 0;  // of the namespace; no live dict has version 0
#endif
        PyObject* value = nullptr;  // borrowed from the namespace
    };
    static constexpr std::size_t kSize = 64;
    Entry entries[kSize];
#if ZEN_DICT_WATCHERS
    uint64_t generation = 1;
    int watcher = -1;
#endif
};

// An interned name that method bodies look up as a module global, with the
// cache entry of its own.
struct GlobalName : Immortal {
    mutable GlobalCache::Entry cached;
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

    GlobalCache global_cache;

    // Native method calls under way, on all threads together: an upper
    // bound of each thread's own nesting. Changed only with the GIL held
    // (the module runs in one interpreter), so a plain int: a per-thread
    // counter would cost a TLS look-up on every call.
    int native_depth = 0;
};

// The state; its members are valid after init_state() has succeeded once.
// A plain global: trivially destructible, so nothing runs at process exit.
extern State g_state;
constexpr State& state() noexcept { return g_state; }

// Makes what is not made yet of names, constants and built-ins.
void init_state(PyObject* builtins);

namespace detail {
#if ZEN_DICT_WATCHERS
// Starts watching a namespace dict (idempotent).
void watch_namespace(PyObject* dict, Loc where = Loc::current());
inline bool entry_current(const GlobalCache::Entry& entry, PyObject* globals) {
    return entry.globals == globals && entry.generation == g_state.global_cache.generation;
}
#else
inline uint64_t version_of(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
inline bool entry_current(const GlobalCache::Entry& entry, PyObject* globals) {
    return entry.version == version_of(globals);
}
#endif

Ref lookup_global_uncached(GlobalCache::Entry& entry, PyObject* globals, PyObject* name, Loc where);
}  // namespace detail

// A name as a function body sees it: the module namespace `globals`, then
// the built-ins, else NameError.
inline Ref lookup_global(PyObject* globals, PyObject* name, Loc where = Loc::current()) {
    GlobalCache::Entry& entry =
        g_state.global_cache.entries[(reinterpret_cast<std::uintptr_t>(name) >> 4) % GlobalCache::kSize];
    if (entry.name == name && detail::entry_current(entry, globals)) return Ref::new_ref(entry.value);
    return detail::lookup_global_uncached(entry, globals, name, where);
}

// The same for a name with a cache entry of its own.
inline Ref lookup_global(PyObject* globals, const GlobalName& name, Loc where = Loc::current()) {
    if (detail::entry_current(name.cached, globals)) return Ref::new_ref(name.cached.value);
    return detail::lookup_global_uncached(name.cached, globals, name, where);
}

// `from <module> import <name>` for an already imported module object: the
// attribute, else the loaded submodule "<module>.<name>", else ImportError.
Ref import_name(Borrowed module, PyObject* name, Loc where = Loc::current());

}  // namespace zen
