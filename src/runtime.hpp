// Process-wide runtime of the module: the interned names it looks up, the
// constants and keyword-name tuples its calls pass, and the built-ins it
// fetches once. Made on the first execution of the module and kept for the
// life of the process (the module can only ever be initialised once).
#pragma once

#include "py.hpp"

#include <cstdint>

namespace zen {

#define ZEN_NAMES(X)                                                                      \
    /* module globals and imports */                                                     \
    X(is_dark) X(_SavableFigure) X(GeometryLabelDraggable) X(plt) X(FigureCanvas)         \
    X(FigureCanvasQTAgg) X(QtWidgets) X(QtCore) X(QtGui) X(mpl) X(_MPLDragWidget)         \
    X(GeometryModelFigure) X(ZentropeApplication) X(MPLWidget) X(app) X(widget)           \
    X(Figure) X(pyplot) X(rcParams) X(Signal) X(QSizePolicy) X(Policy) X(Expanding)       \
    /* dunder names */                                                                    \
    X(__name__) X(__module__) X(__qualname__) X(__init__) X(__prepare__)                  \
    X(__mro_entries__) X(__orig_bases__)                                                   \
    /* instance attributes */                                                             \
    X(fig) X(obj) X(geom_only) X(ax) X(_axcolor0) X(_axcolor1) X(artists) X(name) X(isgeom)      \
    X(geom_dropped) X(csv_dropped)                                                        \
    /* methods called */                                                                  \
    X(add_axes) X(set_xmargin) X(set_xlim) X(set_facecolor) X(setp) X(get_xticklabels)    \
    X(get_yticklabels) X(setParent) X(setSizePolicy) X(updateGeometry) X(setAcceptDrops)  \
    X(draw) X(relim) X(autoscale_view) X(patch) X(set_edgecolor) X(tick_params) X(xaxis)  \
    X(label) X(set_color) X(mimeData) X(parent) X(hasUrls) X(urls) X(toLocalFile)         \
    X(lower) X(endswith) X(accept) X(emit) X(plot) X(append) X(set_selection) X(remove)   \
    X(pop) X(ndim) X(set_ydata) X(setMinimumSize) X(show) X(exec)                         \
    /* keyword names */                                                                   \
    X(dpi) X(size) X(colors) X(color) X(lw) X(zorder)

struct Names {
#define ZEN_DECLARE(n) PyObject* n = nullptr;
    ZEN_NAMES(ZEN_DECLARE)
#undef ZEN_DECLARE
    // Dotted module names.
    PyObject* zentrope_widgets_style = nullptr;
    PyObject* zentrope_widgets_basic_mpl = nullptr;
    PyObject* zentrope_widgets_library_labels = nullptr;
    PyObject* zentrope_dev = nullptr;
    PyObject* matplotlib = nullptr;
    PyObject* matplotlib_pyplot = nullptr;
    PyObject* matplotlib_figure = nullptr;
    PyObject* matplotlib_backends_backend_qtagg = nullptr;
    PyObject* PySide6 = nullptr;
    PyObject* figure_dpi = nullptr;         // "figure.dpi"
    PyObject* figure_autolayout = nullptr;  // "figure.autolayout"
    PyObject* module_fullname = nullptr;    // "zentrope.widgets.models.gmodel.mpl"
    PyObject* dunder_main = nullptr;        // "__main__"
};

struct Constants {
    PyObject* int_0 = nullptr;
    PyObject* int_1 = nullptr;
    PyObject* int_2 = nullptr;
    PyObject* int_6 = nullptr;
    PyObject* int_100 = nullptr;
    PyObject* int_200 = nullptr;
    PyObject* int_300 = nullptr;
    PyObject* int_minus_1 = nullptr;
    PyObject* grey_09 = nullptr;  // (0.9, 0.9, 0.9)
    PyObject* grey_07 = nullptr;  // (0.7, 0.7, 0.7)
    PyObject* grey_03 = nullptr;  // (0.3, 0.3, 0.3)
    PyObject* str_grey = nullptr;    // "0.7"
    PyObject* str_orange = nullptr;  // "orange"
    PyObject* str_csv = nullptr;     // ".csv"
    // Keyword-name tuples.
    PyObject* kw_dpi = nullptr;
    PyObject* kw_size = nullptr;
    PyObject* kw_colors = nullptr;
    PyObject* kw_color = nullptr;
    PyObject* kw_geom_only = nullptr;
    PyObject* kw_style = nullptr;  // (color, lw, zorder)
    // From-lists.
    PyObject* from_is_dark = nullptr;
    PyObject* from_SavableFigure = nullptr;
    PyObject* from_GeometryLabelDraggable = nullptr;
    PyObject* from_FigureCanvasQTAgg = nullptr;
    PyObject* from_qt = nullptr;  // (QtWidgets, QtCore, QtGui)
    PyObject* from_Figure = nullptr;
    PyObject* from_ZentropeApplication = nullptr;
    PyObject* from_MPLWidget = nullptr;
};

struct Runtime {
    Names names;
    Constants consts;
    PyObject* builtins = nullptr;  // the built-in namespace (a dict)
    PyObject* builtin_super = nullptr;
    PyObject* builtin_zip = nullptr;
};

// The runtime; valid after init_runtime() has succeeded once.
extern Runtime g_runtime;
inline Runtime& rt() { return g_runtime; }

// Global look-ups are cached. Before 3.12 an entry is stamped with the
// versions of the two dicts: a dict's version changes with every change to
// it and is unique across dicts. From 3.12 on, where that version is
// deprecated, a dict watcher on both namespaces moves one generation counter
// on at every change (and when a dict is freed). Either way an entry is valid
// exactly while neither namespace has changed, and its value (borrowed) is
// still held by the dict it came from.
#if PY_VERSION_HEX >= 0x030C0000
#define ZEN_DICT_WATCHERS 1
#else
#define ZEN_DICT_WATCHERS 0
#endif

namespace detail {
struct GlobalCacheEntry {
    PyObject* globals = nullptr;
    PyObject* name = nullptr;
#if ZEN_DICT_WATCHERS
    uint64_t generation = 0;
#else
    uint64_t globals_version = 0;
    uint64_t builtins_version = 0;
#endif
    PyObject* value = nullptr;
};
constexpr std::size_t kGlobalCacheSize = 64;
extern GlobalCacheEntry g_global_cache[kGlobalCacheSize];

#if ZEN_DICT_WATCHERS
extern uint64_t g_dict_generation;
// Starts watching a namespace dict (idempotent).
void watch_namespace(PyObject* dict, Loc where = Loc::current());
inline bool entry_current(const GlobalCacheEntry& entry, PyObject*) { return entry.generation == g_dict_generation; }
#else
inline uint64_t version_of(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
inline bool entry_current(const GlobalCacheEntry& entry, PyObject* globals) {
    return entry.globals_version == version_of(globals) && entry.builtins_version == version_of(g_runtime.builtins);
}
#endif

Ref lookup_global_uncached(GlobalCacheEntry& entry, PyObject* globals, PyObject* name, Loc where);
}  // namespace detail

// A name as a function body sees it: the module namespace `globals`, then
// the built-ins, else NameError.
inline Ref lookup_global(PyObject* globals, PyObject* name, Loc where = Loc::current()) {
    detail::GlobalCacheEntry& entry =
        detail::g_global_cache[(reinterpret_cast<std::uintptr_t>(name) >> 4) % detail::kGlobalCacheSize];
    if (entry.name == name && entry.globals == globals && detail::entry_current(entry, globals))
        return Ref::borrow(entry.value);
    return detail::lookup_global_uncached(entry, globals, name, where);
}

// Makes names and constants (first call only) and fetches the built-ins.
void init_runtime(PyObject* builtins);

}  // namespace zen
