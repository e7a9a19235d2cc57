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

Ref lookup_builtin(PyObject* name, Loc where) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* value;
    if (check(PyDict_GetItemRef(g_state.builtins.get(), name, &value), where)) return Ref::steal(value);
#else
    // borrowed from the built-ins: owned at once
    if (PyObject* value = PyDict_GetItemWithError(g_state.builtins.get(), name)) return Ref::new_ref(value);
    if (PyErr_Occurred()) raise(where);
#endif
    raise_name_error(name, where);
}

#if ZEN_GLOBAL_CACHE
Ref lookup_global_filling(PyObject* globals, const GlobalName& name, Loc where) {
    // Stamped with the version from before the look-up: should a key's
    // __eq__ change the namespace during it, the entry is stale at once.
    // Nothing runs between the look-up and the stamp. A name found among the
    // built-ins is not cached: the built-ins change without the namespace.
    const uint64_t version = version_of(globals);
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (value) {
        name.version = version;
        name.value = value;
        return Ref::new_ref(value);
    }
    if (PyErr_Occurred()) raise(where);
    return lookup_builtin(name, where);
}
#endif

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
