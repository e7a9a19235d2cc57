#include "runtime.hpp"

#if PY_VERSION_HEX >= 0x030D0000
#include <frameobject.h>  // PyFrame_New
#endif

#include <cstdint>
#include <cstring>
#include <new>
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
#if ZEN_DICT_WATCHERS
    detail::watch_namespace(builtins);
#endif
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
    if (check(lookup_attr(module.p, name, &value), where)) return Ref::steal(value);
    // Not an attribute (yet): a submodule that is loaded but not bound on its
    // package, as during circular imports.
    PyObject* modname = nullptr;
    if (check(lookup_attr(module.p, rt().names.__name__, &modname), where) && PyUnicode_Check(modname)) {
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

#if ZEN_DICT_WATCHERS
uint64_t g_dict_generation = 1;

namespace {
int g_dict_watcher = -1;

// Any change to a watched namespace (or its end) invalidates every entry.
int on_namespace_event(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) {
    ++g_dict_generation;
    return 0;
}
}  // namespace

void watch_namespace(PyObject* dict, Loc where) {
    if (g_dict_watcher < 0) g_dict_watcher = check(PyDict_AddWatcher(on_namespace_event), where);
    check(PyDict_Watch(g_dict_watcher, dict), where);
}
#endif

Ref lookup_global_uncached(GlobalCacheEntry& entry, PyObject* globals, PyObject* name, Loc where) {
#if ZEN_DICT_WATCHERS
    // Watching is idempotent; from now on a change to `globals` moves the
    // generation on.
    watch_namespace(globals, where);
    const uint64_t stamp = g_dict_generation;
#else
    const uint64_t globals_version = version_of(globals);
    const uint64_t builtins_version = version_of(g_runtime.builtins);
#endif
    // Both look-ups hash an exact str: no Python code runs between them and
    // the store of the (borrowed) value, which the dict it came from holds.
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (!value && !PyErr_Occurred()) value = PyDict_GetItemWithError(g_runtime.builtins, name);
    if (value) {
#if ZEN_DICT_WATCHERS
        entry = GlobalCacheEntry{globals, name, stamp, value};
#else
        entry = GlobalCacheEntry{globals, name, globals_version, builtins_version, value};
#endif
        return Ref::borrow(value);
    }
    if (PyErr_Occurred()) raise(where);
    raise_name_error(name, where);
}
}  // namespace detail

void raise(Loc where) { throw PyError{where}; }

void raise_name_error(PyObject* name, Loc where) {
    Ref message = check(PyUnicode_FromFormat("name '%U' is not defined", name), where);
    Ref error = check(PyObject_CallOneArg(PyExc_NameError, message.get()), where);
    setattr(error, rt().names.name, name, where);
    PyErr_SetObject(PyExc_NameError, error.get());
    raise(where);
}

namespace {
// Gives the pending AttributeError the `.name` and `.obj` of the failed
// read, unless it has either already (what the interpreter's attribute read
// does on every supported version).
void add_attribute_error_context(PyObject* o, PyObject* name) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return;
    SavedError pending;
    PyObject* value = pending.value();
    if (!PyErr_GivenExceptionMatches(value, PyExc_AttributeError)) return;
    auto* error = reinterpret_cast<PyAttributeErrorObject*>(value);
    if (error->name || error->obj) return;
    if (PyObject_SetAttr(value, rt().names.name, name) < 0 || PyObject_SetAttr(value, rt().names.obj, o) < 0)
        pending.discard();  // the new error replaces it, as in the interpreter
}
}  // namespace

void raise_attribute_error(PyObject* o, PyObject* name, Loc where) {
    add_attribute_error_context(o, name);
    raise(where);
}

int find_method(PyObject* o, PyObject* name, PyObject** found) {
#if PY_VERSION_HEX < 0x030D0000
    return _PyObject_GetMethod(o, name, found);
#else
    // The look-up of the method-call opcode, through the API this version
    // declares: a method descriptor on the type, unless the instance's own
    // namespace or a data descriptor has the name, is returned unbound.
    *found = nullptr;
    PyTypeObject* tp = Py_TYPE(o);
    if (tp->tp_getattro != PyObject_GenericGetAttr || !PyUnicode_CheckExact(name)) {
        *found = PyObject_GetAttr(o, name);
        return 0;
    }
    Ref descr = Ref::borrow(_PyType_Lookup(tp, name));  // borrowed from the type's cache: owned at once
    descrgetfunc get = nullptr;
    bool is_method = false;
    if (!descr.is_null()) {
        if (PyType_HasFeature(Py_TYPE(descr.get()), Py_TPFLAGS_METHOD_DESCRIPTOR)) {
            is_method = true;
        } else {
            get = Py_TYPE(descr.get())->tp_descr_get;
            if (get && Py_TYPE(descr.get())->tp_descr_set) {
                *found = get(descr.get(), o, reinterpret_cast<PyObject*>(tp));
                return 0;
            }
        }
    }
    if (tp->tp_dictoffset != 0 || PyType_HasFeature(tp, Py_TPFLAGS_MANAGED_DICT)) {
        PyObject** slot = _PyObject_GetDictPtr(o);
        Ref dict = Ref::borrow(slot ? *slot : nullptr);  // the instance's namespace, owned while hashed
        if (!dict.is_null()) {
            int present = PyDict_GetItemRef(dict.get(), name, found);
            if (present != 0) return 0;  // found, or an error with *found NULL
        }
    }
    if (is_method) {
        *found = descr.release();
        return 1;
    }
    if (get) {
        *found = get(descr.get(), o, reinterpret_cast<PyObject*>(tp));
        return 0;
    }
    if (!descr.is_null()) {
        *found = descr.release();
        return 0;
    }
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'", tp->tp_name, name);
    add_attribute_error_context(o, name);
    return 0;
#endif
}

namespace detail {
Ref checked_result(PyObject* callable, PyObject* result, Loc where) {
    if (!result) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
        raise(where);
    }
    if (!PyErr_Occurred()) return Ref::steal(result);
    Py_DECREF(result);
    // SystemError caused by the pending exception.
    SavedError cause;
    PyErr_Format(PyExc_SystemError, "%R returned a result with an exception set", callable);
    cause.chain_as_cause();
    raise(where);
}
}  // namespace detail

namespace {
// Adds a traceback entry: a frame of an empty code object named after the
// function and the C++ source, at the line of the failing call.
void add_traceback(const char* funcname, const Loc& where) {
    const char* file = relative_source(where.file_name());
    const int line = static_cast<int>(where.line());
#if PY_VERSION_HEX < 0x030D0000
    _PyTraceback_Add(funcname, file, line);
#else
    SavedError pending;
    Ref globals = Ref::steal(PyDict_New());
    Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(file, funcname, line)));
    if (globals.is_null() || code.is_null()) return;  // the new error is chained to the pending one
    Ref frame = Ref::steal(reinterpret_cast<PyObject*>(
        PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), globals.get(), nullptr)));
    if (frame.is_null()) return;
    pending.restore();
    PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
#endif
}
}  // namespace

void finish_error(const char* funcname, const Loc& where) noexcept {
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "native code failed without setting an exception");
    add_traceback(funcname, where);
    SavedError pending;  // fetched normalized, with its traceback attached
    pending.restore();
}

void translate_exception(const char* funcname) noexcept {
    try {
        throw;
    } catch (const PyError& e) {
        finish_error(funcname, e.where);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_Format(PyExc_SystemError, "unexpected C++ exception in %s", funcname);
    }
}

}  // namespace zen
