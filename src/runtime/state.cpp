#include "runtime/state.hpp"

namespace zen {

State g_state;

namespace {

Ref intern(const char* s) { return check(PyUnicode_InternFromString(s)); }

Ref integer(long v) { return check(PyLong_FromLong(v)); }

Ref grey(double level) { return check(Py_BuildValue("(ddd)", level, level, level)); }

template <typename... Items>
Ref tuple_of(const Items&... items) {
    return check(PyTuple_Pack(sizeof...(items), items.get()...));
}

void make_names(Names& n) {
#define ZEN_MAKE_GLOBAL(name) n.name.make_once([] { return intern(#name); });
    ZEN_GLOBAL_NAMES(ZEN_MAKE_GLOBAL)
#undef ZEN_MAKE_GLOBAL
#define ZEN_MAKE(name) n.name.make_once([] { return intern(#name); });
    ZEN_NAMES(ZEN_MAKE)
#undef ZEN_MAKE
#define ZEN_MAKE_DOTTED(member, text) n.member.make_once([] { return intern(text); });
    ZEN_DOTTED_NAMES(ZEN_MAKE_DOTTED)
#undef ZEN_MAKE_DOTTED
}

void make_constants(Constants& c, const Names& n) {
    c.int_0.make_once([] { return integer(0); });
    c.int_1.make_once([] { return integer(1); });
    c.int_2.make_once([] { return integer(2); });
    c.int_6.make_once([] { return integer(6); });
    c.int_100.make_once([] { return integer(100); });
    c.int_200.make_once([] { return integer(200); });
    c.int_300.make_once([] { return integer(300); });
    c.int_minus_1.make_once([] { return integer(-1); });
    c.grey_09.make_once([] { return grey(0.9); });
    c.grey_07.make_once([] { return grey(0.7); });
    c.grey_03.make_once([] { return grey(0.3); });
    c.str_grey.make_once([] { return intern("0.7"); });
    c.str_orange.make_once([] { return intern("orange"); });
    c.str_csv.make_once([] { return intern(".csv"); });
    c.kw_dpi.make_once([&] { return tuple_of(n.dpi); });
    c.kw_size.make_once([&] { return tuple_of(n.size); });
    c.kw_colors.make_once([&] { return tuple_of(n.colors); });
    c.kw_color.make_once([&] { return tuple_of(n.color); });
    c.kw_geom_only.make_once([&] { return tuple_of(n.geom_only); });
    c.kw_style.make_once([&] { return tuple_of(n.color, n.lw, n.zorder); });
    c.from_is_dark.make_once([&] { return tuple_of(n.is_dark); });
    c.from_SavableFigure.make_once([&] { return tuple_of(n._SavableFigure); });
    c.from_GeometryLabelDraggable.make_once([&] { return tuple_of(n.GeometryLabelDraggable); });
    c.from_FigureCanvasQTAgg.make_once([&] { return tuple_of(n.FigureCanvasQTAgg); });
    c.from_qt.make_once([&] { return tuple_of(n.QtWidgets, n.QtCore, n.QtGui); });
    c.from_Figure.make_once([&] { return tuple_of(n.Figure); });
    c.from_ZentropeApplication.make_once([&] { return tuple_of(n.ZentropeApplication); });
    c.from_MPLWidget.make_once([&] { return tuple_of(n.MPLWidget); });
}

// builtins[name], else NameError.
Ref builtin(PyObject* builtins, const char* name) {
    PyObject* value = PyDict_GetItemString(builtins, name);  // borrowed: owned at once
    if (!value) {
        PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        raise();
    }
    return Ref::borrow(value);
}

}  // namespace

void init_state(PyObject* builtins) {
    State& s = g_state;
    make_names(s.names);
    make_constants(s.consts, s.names);
    if (!PyDict_Check(builtins)) {
        PyErr_SetString(PyExc_SystemError, "the built-in namespace is not a dict");
        raise();
    }
    s.builtins.make_once([&] { return Ref::borrow(builtins); });
    s.builtin_zip.make_once([&] { return builtin(builtins, "zip"); });
}

namespace detail {

#if ZEN_DICT_WATCHERS
namespace {
// Any change to a watched namespace (or its end) invalidates every entry.
int on_namespace_event(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) noexcept {
    ++g_state.global_cache.generation;
    return 0;
}
}  // namespace

void watch_namespace(PyObject* dict, Loc where) {
    GlobalCache& cache = g_state.global_cache;
    if (cache.watcher < 0) cache.watcher = check(PyDict_AddWatcher(on_namespace_event), where);
    check(PyDict_Watch(cache.watcher, dict), where);
}
#endif

Ref lookup_global_uncached(GlobalCache::Entry& entry, PyObject* globals, PyObject* name, Loc where) {
#if ZEN_DICT_WATCHERS
    // Watching is idempotent; from now on a change to `globals` moves the
    // generation on.
    watch_namespace(globals, where);
    const uint64_t generation = g_state.global_cache.generation;
#else
    const uint64_t version = version_of(globals);
#endif
    // The look-up hashes an exact str: no Python code runs between it and
    // the store of the (borrowed) value, which the namespace holds.
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (value) {
#if ZEN_DICT_WATCHERS
        entry = GlobalCache::Entry{name, globals, generation, value};
#else
        entry = GlobalCache::Entry{name, version, value};
#endif
        return Ref::borrow(value);
    }
    if (!PyErr_Occurred()) value = PyDict_GetItemWithError(g_state.builtins.get(), name);
    if (value) return Ref::borrow(value);
    if (PyErr_Occurred()) raise(where);
    raise_name_error(name, where);
}

}  // namespace detail

Ref import_name(Borrowed module, PyObject* name, Loc where) {
    PyObject* value = nullptr;
    if (check(lookup_attr(module.p, name, &value), where)) return Ref::steal(value);
    // Not an attribute (yet): a submodule that is loaded but not bound on its
    // package, as during circular imports.
    PyObject* modname_raw = nullptr;
    check(lookup_attr(module.p, g_state.names.__name__, &modname_raw), where);
    Ref modname = Ref::steal(modname_raw);
    if (!modname.is_null() && PyUnicode_Check(modname.get())) {
        Ref fullname = check(PyUnicode_FromFormat("%U.%U", modname.get(), name), where);
        // borrowed from the interpreter's table of modules: owned at once
        PyObject* found = PyDict_GetItemWithError(PyImport_GetModuleDict(), fullname.get());
        if (found) return Ref::borrow(found);
        if (PyErr_Occurred()) raise(where);
    }
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    raise(where);
}

}  // namespace zen
