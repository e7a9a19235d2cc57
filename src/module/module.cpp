// The module zentrope.widgets.models.gmodel.mpl: multi-phase initialisation
// with its guards, the imports, the plotting defaults, the two class
// statements and the developer block.
#include "widgets/widgets.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

// Set to nonzero by an embedding host (or the devblock launcher) before the
// import to run the module as the main program.
extern "C" {
__attribute__((visibility("default"))) int zentrope_mpl_main = 0;
}

namespace zen {

namespace {

constexpr const char* kFullName = "zentrope.widgets.models.gmodel.mpl";
constexpr const char* kInitEntry = "init zentrope.widgets.models.gmodel.mpl";

constinit const Names& N = state().names;
constinit const Constants& C = state().consts;

// --- imports -------------------------------------------------------------------

// `from <modname> import <names...>`: binds each name in turn, fetching it
// only after the previous one is bound.
void import_from(PyObject* globals, PyObject* modname, PyObject* fromlist, std::initializer_list<PyObject*> bind_as,
                 Loc where = Loc::current()) {
    Ref module = check(PyImport_ImportModuleLevelObject(modname, globals, nullptr, fromlist, 0), where);
    Py_ssize_t i = 0;
    for (PyObject* as : bind_as) {
        Ref value = import_name(module, PyTuple_GET_ITEM(fromlist, i++), where);
        check(PyDict_SetItem(globals, as, value.get()), where);
    }
}

// --- class statements ----------------------------------------------------------

// Replaces bases that define __mro_entries__ by what it returns; the tuple
// itself when nothing was replaced.
Ref resolve_bases(PyObject* orig_bases) {
    const Py_ssize_t n = PyTuple_GET_SIZE(orig_bases);
    Ref resolved;  // list, made on the first replacement
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* base = PyTuple_GET_ITEM(orig_bases, i);  // borrowed: the caller's tuple holds it
        if (PyType_Check(base)) {
            if (!resolved.is_null()) check(PyList_Append(resolved.get(), base));
            continue;
        }
        PyObject* meth_raw = nullptr;
        check(lookup_attr(base, N.__mro_entries__, &meth_raw));
        Ref meth = Ref::steal(meth_raw);
        if (meth.is_null()) {
            if (!resolved.is_null()) check(PyList_Append(resolved.get(), base));
            continue;
        }
        Ref entries = call(meth, {orig_bases});
        if (!PyTuple_Check(entries.get())) {
            PyErr_SetString(PyExc_TypeError, "__mro_entries__ must return a tuple");
            raise();
        }
        if (resolved.is_null()) resolved = check(PySequence_List(check(PyTuple_GetSlice(orig_bases, 0, i)).get()));
        const Py_ssize_t end = PyList_GET_SIZE(resolved.get());
        check(PyList_SetSlice(resolved.get(), end, end, entries.get()));
    }
    if (resolved.is_null()) return Ref::borrow(orig_bases);
    return check(PyList_AsTuple(resolved.get()));
}

// The most derived metaclass of the bases, as the interpreter picks it
// (borrowed from the bases, which the caller holds).
PyObject* most_derived_metaclass(PyObject* bases) {
    PyTypeObject* winner = PyTuple_GET_SIZE(bases) ? Py_TYPE(PyTuple_GET_ITEM(bases, 0)) : &PyType_Type;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(bases); ++i) {
        PyTypeObject* meta = Py_TYPE(PyTuple_GET_ITEM(bases, i));
        if (PyType_IsSubtype(winner, meta)) continue;
        if (PyType_IsSubtype(meta, winner)) {
            winner = meta;
            continue;
        }
        PyErr_SetString(PyExc_TypeError,
                        "metaclass conflict: the metaclass of a derived class must be a (non-strict) subclass "
                        "of the metaclasses of all its bases");
        raise();
    }
    return reinterpret_cast<PyObject*>(winner);
}

// class <name>(<bases>): <signals...> <methods...>
// Runs the interpreter's class-creation protocol and binds the new class to
// its methods for super().
Ref make_class(PyObject* globals, const char* name, std::initializer_list<PyObject*> base_names,
               std::initializer_list<std::pair<PyObject*, PyObject*>> signals, std::span<const MethodSpec> methods) {
    Ref class_name = check(PyUnicode_InternFromString(name));
    Ref orig_bases = check(PyTuple_New(static_cast<Py_ssize_t>(base_names.size())));
    Py_ssize_t i = 0;
    for (PyObject* base_name : base_names)
        PyTuple_SET_ITEM(orig_bases.get(), i++, lookup_global(globals, base_name).release());

    Ref bases = resolve_bases(orig_bases.get());
    // Owned: __prepare__ may reassign a base's __class__ and so drop the last
    // other reference to its metaclass.
    Ref meta_owner = Ref::borrow(most_derived_metaclass(bases.get()));
    PyObject* meta = meta_owner.get();

    PyObject* prepare_raw = nullptr;
    check(lookup_attr(meta, N.__prepare__, &prepare_raw));
    Ref prepare = Ref::steal(prepare_raw);
    Ref ns = prepare.is_null() ? check(PyDict_New()) : call(prepare, {class_name, bases});
    if (!PyMapping_Check(ns.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.__prepare__() must return a mapping, not %.200s",
                     reinterpret_cast<PyTypeObject*>(meta)->tp_name, Py_TYPE(ns.get())->tp_name);
        raise();
    }

    setitem(ns, N.__module__, N.module_fullname);
    setitem(ns, N.__qualname__, class_name);
    for (const auto& [signal_name, signal_args] : signals) {
        // <signal_name> = QtCore.Signal(<types...>)
        Ref signal_type = getattr(lookup_global(globals, N.QtCore), N.Signal);
        Ref signal = check(PyObject_Call(signal_type.get(), signal_args, nullptr));
        setitem(ns, signal_name, signal);
    }
    Ref functions = check(PyList_New(0));
    for (const MethodSpec& spec : methods) {
        Ref function = make_function(spec, name, globals);
        check(PyList_Append(functions.get(), function.get()));
        Ref method_name = check(PyUnicode_InternFromString(spec.name));
        setitem(ns, method_name, function);
    }
    if (bases.get() != orig_bases.get()) setitem(ns, N.__orig_bases__, orig_bases);

    Ref cls = call(meta, {class_name, bases, ns});
    // Every method is bound, not only those calling super(): binding costs
    // nothing and keeps the function's class known.
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(functions.get()); ++k)
        bind_class(PyList_GET_ITEM(functions.get(), k), cls.get());
    return cls;
}

// --- execute step ------------------------------------------------------------

// Warns when the running interpreter is not the one the module was built for.
void check_version() {
    const char* text = Py_GetVersion();
    PyObject* version = PySys_GetObject("version");  // borrowed: read before any Python code runs
    if (version && PyUnicode_Check(version)) {
        text = PyUnicode_AsUTF8(version);
        if (!text) raise();
    }
    int major = 0, minor = 0;
    if (std::sscanf(text, "%d.%d", &major, &minor) != 2) major = minor = -1;
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return;
    char message[200];
    std::snprintf(message, sizeof message, "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, kFullName, "does not match", major, minor);
    check(PyErr_WarnEx(PyExc_RuntimeWarning, message, 1));
}

void run_developer_block(PyObject* g) {
    import_from(g, N.zentrope_dev, C.from_ZentropeApplication, {N.ZentropeApplication});
    import_from(g, N.zentrope_widgets_basic_mpl, C.from_MPLWidget, {N.MPLWidget});
    check(PyDict_SetItem(g, N.app, call(lookup_global(g, N.ZentropeApplication)).get()));
    check(PyDict_SetItem(g, N.widget, call(lookup_global(g, N.MPLWidget), {Py_None}).get()));
    {
        Method plot = method(getattr(lookup_global(g, N.widget), N.ax), N.plot);
        Ref ys = check(Py_BuildValue("[iiiiii]", 0, 8, 3, 21, 18, 33));
        call(plot, {ys});
    }
    call_method(lookup_global(g, N.widget), N.show);
    call_method(lookup_global(g, N.app), N.exec);
}

void execute(PyObject* module) {
    check_version();

    PyObject* g = PyModule_GetDict(module);  // borrowed: a module's namespace is never replaced
    if (!g) raise();
    init_state(PyEval_GetBuiltins());
    if (zentrope_mpl_main) check(PyDict_SetItem(g, N.__name__, N.dunder_main));
    {
        PyObject* modules = PyImport_GetModuleDict();  // borrowed: the interpreter's own table
        PyObject* present = PyDict_GetItemWithError(modules, N.module_fullname);  // only tested for NULL
        if (!present) {
            if (PyErr_Occurred()) raise();
            check(PyDict_SetItem(modules, N.module_fullname, module));
        }
    }
    ready_native_function_type();

    import_from(g, N.zentrope_widgets_style, C.from_is_dark, {N.is_dark});
    import_from(g, N.zentrope_widgets_basic_mpl, C.from_SavableFigure, {N._SavableFigure});
    import_from(g, N.zentrope_widgets_library_labels, C.from_GeometryLabelDraggable, {N.GeometryLabelDraggable});
    {
        // import matplotlib.pyplot as plt
        Ref top = check(PyImport_ImportModuleLevelObject(N.matplotlib_pyplot, g, nullptr, nullptr, 0));
        check(PyDict_SetItem(g, N.plt, import_name(top, N.pyplot).get()));
    }
    import_from(g, N.matplotlib_backends_backend_qtagg, C.from_FigureCanvasQTAgg, {N.FigureCanvas});
    import_from(g, N.PySide6, C.from_qt, {N.QtWidgets, N.QtCore, N.QtGui});
    {
        // import matplotlib as mpl
        Ref matplotlib = check(PyImport_ImportModuleLevelObject(N.matplotlib, g, nullptr, nullptr, 0));
        check(PyDict_SetItem(g, N.mpl, matplotlib.get()));
    }
    setitem(getattr(lookup_global(g, N.mpl), N.rcParams), N.figure_dpi, C.int_100);
    setitem(getattr(lookup_global(g, N.mpl), N.rcParams), N.figure_autolayout, Py_False);

    Ref canvas_class = make_class(g, "_MPLDragWidget", {N.FigureCanvas}, {}, canvas_methods());
    check(PyDict_SetItem(g, N._MPLDragWidget, canvas_class.get()));

    Ref geom_args = check(PyTuple_Pack(2, reinterpret_cast<PyObject*>(&PyUnicode_Type),
                                       reinterpret_cast<PyObject*>(&PyBool_Type)));
    Ref csv_args = check(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyUnicode_Type)));
    Ref figure_class = make_class(g, "GeometryModelFigure", {N._MPLDragWidget, N._SavableFigure},
                                  {{N.geom_dropped, geom_args.get()}, {N.csv_dropped, csv_args.get()}},
                                  figure_methods());
    check(PyDict_SetItem(g, N.GeometryModelFigure, figure_class.get()));

    if (truth(compare(lookup_global(g, N.__name__), N.dunder_main, Py_EQ))) run_developer_block(g);
}

// Drops a module whose execute step failed, so that the next import starts
// again with a new object.
void discard(PyObject* module) noexcept {
    SavedError failure;
    PyObject* modules = PyImport_GetModuleDict();  // borrowed: the interpreter's own table
    if (N.module_fullname) {
        // Compared by identity only: the borrowed entry is not used further.
        PyObject* present = PyDict_GetItemWithError(modules, N.module_fullname);
        if (present == module && PyDict_DelItem(modules, N.module_fullname) < 0) PyErr_Clear();
    }
    PyErr_Clear();
    Py_CLEAR(state().module);
}

// --- slots ---------------------------------------------------------------------

PyObject* module_create(PyObject* spec, PyModuleDef*) noexcept {
    State& s = state();
    const int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (s.interpreter_id == -1) {
        s.interpreter_id = current;
        if (current == -1) return nullptr;
    } else if (s.interpreter_id != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per "
                        "process.");
        return nullptr;
    }
    if (s.module) return Py_NewRef(s.module);
    PyObject* name = PyObject_GetAttrString(spec, "name");
    if (!name) return nullptr;
    PyObject* module = PyModule_NewObject(name);
    Py_DECREF(name);
    return module;
}

int module_exec(PyObject* module) noexcept {
    State& s = state();
    if (s.module) {
        if (s.module == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'mpl' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    s.module = Py_NewRef(module);
    try {
        execute(module);
        return 0;
    } catch (...) {
        translate_exception(kInitEntry);
    }
    discard(module);
    return -1;
}

// No per-module state: all of it is process-wide (see above). A re-import
// hands the same object to the execute slot, which makes the repeat a no-op.
#if PY_VERSION_HEX >= 0x030F0000
// From 3.15 the module is exported as its slots alone, with the ABI it was
// built for, which the interpreter checks before it uses anything else.
PyABIInfo_VAR(abi_info);

PySlot module_slots[] = {
    PySlot_DATA(Py_mod_abi, &abi_info),
    PySlot_DATA(Py_mod_name, kFullName),
    PySlot_FUNC(Py_mod_create, module_create),
    PySlot_FUNC(Py_mod_exec, module_exec),
    PySlot_END,
};
#else
PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "mpl", nullptr, 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};
#endif

}  // namespace

}  // namespace zen

#if PY_VERSION_HEX >= 0x030F0000
PyMODEXPORT_FUNC PyModExport_mpl() { return zen::module_slots; }
#else
extern "C" __attribute__((visibility("default"))) PyObject* PyInit_mpl() {
    return PyModuleDef_Init(&zen::module_def);
}
#endif
