#include "runtime.hpp"

#include <cstdint>
#include <cstring>
#include <string>

namespace zen {

namespace {

bool g_names_made = false;

PyObject* intern(const char* s) {
    PyObject* o = PyUnicode_InternFromString(s);
    if (!o) raise();
    return o;
}

PyObject* own(PyObject* o) {
    if (!o) raise();
    return o;
}

template <typename... Names>
PyObject* tuple_of(Names... names) {
    return own(PyTuple_Pack(sizeof...(names), names...));
}

PyObject* grey(double level) { return own(Py_BuildValue("(ddd)", level, level, level)); }

// Strips the build's source root, so entries read "src/canvas.cpp".
const char* relative_source(const char* path) {
#ifdef ZENTROPE_SOURCE_ROOT
    constexpr const char* root = ZENTROPE_SOURCE_ROOT;
    std::size_t len = std::strlen(root);
    if (std::strncmp(path, root, len) == 0) return path + len;
#endif
    return path;
}

void make_names_and_constants() {
    Names& n = g_runtime.names;
#define ZEN_MAKE(name) n.name = intern(#name);
    ZEN_NAMES(ZEN_MAKE)
#undef ZEN_MAKE
    n.zentrope_widgets_style = intern("zentrope.widgets.style");
    n.zentrope_widgets_basic_mpl = intern("zentrope.widgets._basic.mpl");
    n.zentrope_widgets_library_labels = intern("zentrope.widgets.library.labels");
    n.zentrope_dev = intern("zentrope._dev");
    n.matplotlib = intern("matplotlib");
    n.matplotlib_pyplot = intern("matplotlib.pyplot");
    n.matplotlib_figure = intern("matplotlib.figure");
    n.matplotlib_backends_backend_qtagg = intern("matplotlib.backends.backend_qtagg");
    n.PySide6 = intern("PySide6");
    n.figure_dpi = intern("figure.dpi");
    n.figure_autolayout = intern("figure.autolayout");
    n.module_fullname = intern("zentrope.widgets.models.gmodel.mpl");
    n.dunder_main = intern("__main__");

    Constants& c = g_runtime.consts;
    c.int_0 = own(PyLong_FromLong(0));
    c.int_1 = own(PyLong_FromLong(1));
    c.int_2 = own(PyLong_FromLong(2));
    c.int_6 = own(PyLong_FromLong(6));
    c.int_100 = own(PyLong_FromLong(100));
    c.int_200 = own(PyLong_FromLong(200));
    c.int_300 = own(PyLong_FromLong(300));
    c.int_minus_1 = own(PyLong_FromLong(-1));
    c.grey_09 = grey(0.9);
    c.grey_07 = grey(0.7);
    c.grey_03 = grey(0.3);
    c.str_grey = intern("0.7");
    c.str_orange = intern("orange");
    c.str_csv = intern(".csv");
    c.kw_dpi = tuple_of(n.dpi);
    c.kw_size = tuple_of(n.size);
    c.kw_colors = tuple_of(n.colors);
    c.kw_color = tuple_of(n.color);
    c.kw_geom_only = tuple_of(n.geom_only);
    c.kw_style = tuple_of(n.color, n.lw, n.zorder);
    c.from_is_dark = tuple_of(n.is_dark);
    c.from_SavableFigure = tuple_of(n._SavableFigure);
    c.from_GeometryLabelDraggable = tuple_of(n.GeometryLabelDraggable);
    c.from_FigureCanvasQTAgg = tuple_of(n.FigureCanvasQTAgg);
    c.from_qt = tuple_of(n.QtWidgets, n.QtCore, n.QtGui);
    c.from_Figure = tuple_of(n.Figure);
    c.from_ZentropeApplication = tuple_of(n.ZentropeApplication);
    c.from_MPLWidget = tuple_of(n.MPLWidget);
}

PyObject* builtin(PyObject* builtins, const char* name) {
    PyObject* value = PyDict_GetItemString(builtins, name);  // borrowed
    if (!value) {
        PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        raise();
    }
    Py_INCREF(value);
    return value;
}

}  // namespace

Runtime g_runtime;

void init_runtime(PyObject* builtins) {
    if (!g_names_made) {
        // A failure part-way leaves the made objects in place; they are
        // immortal for our purposes and a retry makes them again.
        make_names_and_constants();
        g_names_made = true;
    }
    if (!PyDict_Check(builtins)) {
        PyErr_SetString(PyExc_SystemError, "the built-in namespace is not a dict");
        raise();
    }
    Ref super_ = Ref::steal(builtin(builtins, "super"));
    Ref zip_ = Ref::steal(builtin(builtins, "zip"));
    Py_INCREF(builtins);
    Py_XSETREF(g_runtime.builtins, builtins);
    Py_XSETREF(g_runtime.builtin_super, super_.release());
    Py_XSETREF(g_runtime.builtin_zip, zip_.release());
}

void unpack2(Borrowed pair, Ref& first, Ref& second, Loc where) {
    if (PyTuple_CheckExact(pair.p) && PyTuple_GET_SIZE(pair.p) == 2) {
        first = Ref::borrow(PyTuple_GET_ITEM(pair.p, 0));
        second = Ref::borrow(PyTuple_GET_ITEM(pair.p, 1));
        return;
    }
    Iteration it(pair, where);
    Ref items[2];
    for (int i = 0; i < 2; ++i) {
        if (!it.next(items[i], where)) {
            PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", i);
            raise(where);
        }
    }
    Ref extra;
    if (it.next(extra, where)) {
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        raise(where);
    }
    first = std::move(items[0]);
    second = std::move(items[1]);
}

Ref import_name(Borrowed module, PyObject* name, Loc where) {
    PyObject* value = nullptr;
    if (check(_PyObject_LookupAttr(module.p, name, &value), where)) return Ref::steal(value);
    // Not an attribute (yet): a submodule that is loaded but not bound on its
    // package, as during circular imports.
    PyObject* modname = nullptr;
    if (check(_PyObject_LookupAttr(module.p, rt().names.__name__, &modname), where) && PyUnicode_Check(modname)) {
        Ref owner = Ref::steal(modname);
        Ref fullname = check(PyUnicode_FromFormat("%U.%U", modname, name), where);
        PyObject* found = PyDict_GetItemWithError(PyImport_GetModuleDict(), fullname.get());  // borrowed
        if (found) return Ref::borrow(found);
        if (PyErr_Occurred()) raise(where);
    } else {
        Py_XDECREF(modname);
    }
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    raise(where);
}

namespace detail {
GlobalCacheEntry g_global_cache[kGlobalCacheSize];

Ref lookup_global_uncached(GlobalCacheEntry& entry, PyObject* globals, PyObject* name, Loc where) {
    const uint64_t globals_version = version_of(globals);
    const uint64_t builtins_version = version_of(g_runtime.builtins);
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (!value && !PyErr_Occurred()) value = PyDict_GetItemWithError(g_runtime.builtins, name);
    if (value) {
        entry = GlobalCacheEntry{globals, name, globals_version, builtins_version, value};
        return Ref::borrow(value);
    }
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    raise(where);
}
}  // namespace detail

void raise(Loc where) { throw PyError{where}; }

void add_traceback(const char* funcname, const Loc& where) {
    _PyTraceback_Add(funcname, relative_source(where.file_name()), static_cast<int>(where.line()));
}

}  // namespace zen
