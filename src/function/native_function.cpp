#include "function/native_function.hpp"

#include <structmember.h>

#include <pthread.h>

#include <cstdlib>
#include <new>
#include <string>

namespace zen {

namespace {

// Native calls nested deeper than this also count towards the interpreter's
// recursion limit.
constexpr int kFreeDepth = 32;

// The count of native method calls under way on this thread: a counter of
// the thread's own, found through a thread-specific key (about 25
// instructions a call; a thread_local would take a call into the loader, or a TLS
// model that dlopen or older C libraries do not serve well), made at the
// thread's first call and freed when it ends.
[[gnu::cold, gnu::noinline]] int* new_thread_depth() noexcept {
    void* counter = std::calloc(1, sizeof(int));
    if (!counter || pthread_setspecific(state().depth_key, counter) != 0) {
        std::free(counter);
        PyErr_NoMemory();
        return nullptr;
    }
    return static_cast<int*>(counter);
}

inline int* thread_depth() noexcept {
    void* counter = pthread_getspecific(state().depth_key);
    return counter ? static_cast<int*>(counter) : new_thread_depth();
}

inline NativeFunction* as_fn(PyObject* o) { return reinterpret_cast<NativeFunction*>(o); }

// --- argument binding, with CPython 3.10's rules and messages -------------

void format_missing(NativeFunction* f, PyObject* const* bound, Py_ssize_t upto) {
    Ref names = Ref::steal(PyList_New(0));
    if (names.is_null()) return;
    for (Py_ssize_t i = 0; i < upto; ++i) {
        if (bound[i]) continue;
        Ref r = Ref::steal(PyObject_Repr(PyTuple_GET_ITEM(f->params, i)));
        if (r.is_null() || PyList_Append(names.get(), r.get()) < 0) return;
    }
    Py_ssize_t len = PyList_GET_SIZE(names.get());
    Ref text;
    if (len == 1) {
        text = Ref::borrow(PyList_GET_ITEM(names.get(), 0));
    } else if (len == 2) {
        text = Ref::steal(PyUnicode_FromFormat("%U and %U", PyList_GET_ITEM(names.get(), 0),
                                               PyList_GET_ITEM(names.get(), 1)));
    } else {
        Ref head = Ref::steal(PyList_GetSlice(names.get(), 0, len - 1));
        Ref sep = Ref::steal(PyUnicode_FromString(", "));
        if (head.is_null() || sep.is_null()) return;
        Ref joined = Ref::steal(PyUnicode_Join(sep.get(), head.get()));
        if (joined.is_null()) return;
        text = Ref::steal(PyUnicode_FromFormat("%U, and %U", joined.get(), PyList_GET_ITEM(names.get(), len - 1)));
    }
    if (text.is_null()) return;
    PyErr_Format(PyExc_TypeError, "%U() missing %zd required positional argument%s: %U", f->qualname, len,
                 len == 1 ? "" : "s", text.get());
}

void too_many_positional(NativeFunction* f, Py_ssize_t given) {
    Py_ssize_t argcount = f->spec->nparams;
    Py_ssize_t defcount = f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0;
    Ref sig;
    bool plural;
    if (defcount) {
        plural = true;
        sig = Ref::steal(PyUnicode_FromFormat("from %zd to %zd", argcount - defcount, argcount));
    } else {
        plural = argcount != 1;
        sig = Ref::steal(PyUnicode_FromFormat("%zd", argcount));
    }
    if (sig.is_null()) return;
    PyErr_Format(PyExc_TypeError, "%U() takes %U positional argument%s but %zd %s given", f->qualname, sig.get(),
                 plural ? "s" : "", given, given == 1 ? "was" : "were");
}

// The index of the parameter whose name equals `key` (a str that is none of
// the interned names), nparams when there is none, -1 on error.
Py_ssize_t find_param_by_value(NativeFunction* f, PyObject* key) {
    const Py_ssize_t nparams = f->spec->nparams;
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        const int eq = PyObject_RichCompareBool(key, PyTuple_GET_ITEM(f->params, j), Py_EQ);
        if (eq) return eq < 0 ? -1 : j;
    }
    return nparams;
}

// Sets the TypeError for a keyword argument that cannot be bound; false.
bool keyword_error(NativeFunction* f, const char* format, PyObject* key) {
    PyErr_Format(PyExc_TypeError, format, f->qualname, key);
    return false;
}

// Fills bound[0..nparams) with borrowed references; false with TypeError set
// when the call shape does not fit the parameters.
bool bind(NativeFunction* f, PyObject* const* args, size_t nargsf, PyObject* kwnames, PyObject** bound) {
    const Py_ssize_t nparams = f->spec->nparams;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const Py_ssize_t npos = nargs < nparams ? nargs : nparams;
    for (Py_ssize_t i = 0; i < kMaxParams; ++i) bound[i] = i < npos ? args[i] : nullptr;  // unrolled

    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            if (!PyUnicode_Check(key)) return keyword_error(f, "%U() keywords must be strings", nullptr);
            Py_ssize_t j = 0;
            while (j < nparams && PyTuple_GET_ITEM(f->params, j) != key) ++j;
            if (j == nparams) {
                j = find_param_by_value(f, key);
                if (j < 0) return false;
                if (j == nparams) return keyword_error(f, "%U() got an unexpected keyword argument '%S'", key);
            }
            if (bound[j]) return keyword_error(f, "%U() got multiple values for argument '%S'", key);
            bound[j] = args[nargs + k];
        }
    }
    if (nargs > nparams) {
        too_many_positional(f, nargs);
        return false;
    }
    if (nargs < nparams) {
        const Py_ssize_t defcount = f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0;
        const Py_ssize_t required = nparams - defcount;
        for (Py_ssize_t i = nargs; i < required; ++i) {
            if (!bound[i]) {
                format_missing(f, bound, required);
                return false;
            }
        }
        for (Py_ssize_t i = required; i < nparams; ++i)
            if (!bound[i]) bound[i] = PyTuple_GET_ITEM(f->defaults, i - required);
    }
    return true;
}

// --- type slots ----------------------------------------------------------------

// Runs the body with its bound arguments.
inline PyObject* run(NativeFunction* f, PyObject* const* frame_args) noexcept {
    // Native methods call each other through Python (self.draw(), ...); a
    // cycle of them must end in RecursionError, not a stack overflow. The
    // nesting of ordinary use (a few levels) is counted here alone; past
    // kFreeDepth every call also counts towards the interpreter's limit of
    // its own thread (entered and left by the same call).
    int* counter = thread_depth();
    if (!counter) [[unlikely]] return nullptr;
    int& depth = *counter;
    const bool counted = ++depth > kFreeDepth;
#if PY_VERSION_HEX >= 0x030C0000
    // From 3.12 on Py_EnterRecursiveCall counts against the C recursion
    // limit, many times deeper than Python's: a cycle of native calls must
    // stop where the same cycle of Python functions would, well inside any
    // thread's stack.
    if (counted && depth > Py_GetRecursionLimit()) [[unlikely]] {
        --depth;
        PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a native method");
        return nullptr;
    }
#endif
    if (counted && Py_EnterRecursiveCall(" while calling a native method")) {
        --depth;
        return nullptr;
    }
    PyObject* result = nullptr;
    try {
        f->spec->body(Frame(f, frame_args));
        result = Py_NewRef(Py_None);
    } catch (...) {
        translate_exception(PyUnicode_AsUTF8(f->fullname));  // ASCII: its UTF-8 is its data
    }
    if (counted) Py_LeaveRecursiveCall();
    --depth;
    return result;
}

// A call with keywords, or with other than exactly the parameters: binds
// them first. Out of line, so that the common call keeps a small frame.
[[gnu::noinline]] PyObject* bind_and_run(NativeFunction* f, PyObject* const* args, size_t nargsf,
                                         PyObject* kwnames) noexcept {
    PyObject* bound[kMaxParams];
    if (!bind(f, args, nargsf, kwnames, bound)) return nullptr;
    return run(f, bound);
}

PyObject* fn_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) noexcept {
    NativeFunction* f = as_fn(callable);
    if (kwnames || PyVectorcall_NARGS(nargsf) != f->spec->nparams) return bind_and_run(f, args, nargsf, kwnames);
    return run(f, args);  // exactly the parameters, by position: nothing to bind
}

PyObject* fn_descr_get(PyObject* self, PyObject* obj, PyObject* /*type*/) noexcept {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* fn_repr(PyObject* self) noexcept {
    return PyUnicode_FromFormat("<native function %U at %p>", as_fn(self)->qualname, self);
}

int fn_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    NativeFunction* f = as_fn(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->globals);
    Py_VISIT(f->klass);
    Py_VISIT(f->dict);
    return 0;
}

int fn_clear(PyObject* self) noexcept {
    // The defaults (None/False) cannot take part in a cycle and stay, so that
    // binding never sees a missing tuple.
    NativeFunction* f = as_fn(self);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->klass);
    Py_CLEAR(f->dict);
    return 0;
}

void fn_dealloc(PyObject* self) noexcept {
    NativeFunction* f = as_fn(self);
    PyObject_GC_UnTrack(self);
    if (f->weakreflist) PyObject_ClearWeakRefs(self);
    fn_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->text_signature);
    Py_CLEAR(f->fullname);
    Py_CLEAR(f->params);
    Py_CLEAR(f->defaults);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

PyObject* fn_get_defaults(PyObject* self, void*) noexcept {
    PyObject* d = as_fn(self)->defaults;
    return Py_NewRef(d ? d : Py_None);
}

PyObject* fn_get_globals(PyObject* self, void*) noexcept {
    PyObject* g = as_fn(self)->globals;
    return Py_NewRef(g ? g : Py_None);
}

// Functions are immutable: a copy is the function itself.
PyObject* fn_copy(PyObject* self, PyObject*) noexcept { return Py_NewRef(self); }
PyObject* fn_deepcopy(PyObject* self, PyObject*) noexcept { return Py_NewRef(self); }

// Pickled by reference, as a module-level function is: the qualified name,
// which pickle resolves from __module__ and checks is this very object.
PyObject* fn_reduce(PyObject* self, PyObject*) noexcept { return Py_NewRef(as_fn(self)->qualname); }

PyMethodDef fn_methods[] = {
    {"__copy__", fn_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", fn_deepcopy, METH_O, nullptr},
    {"__reduce__", fn_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef fn_members[] = {
    {"__name__", T_OBJECT, offsetof(NativeFunction, name), READONLY, nullptr},
    {"__qualname__", T_OBJECT, offsetof(NativeFunction, qualname), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(NativeFunction, module), READONLY, nullptr},
    {"__doc__", T_OBJECT, offsetof(NativeFunction, doc), READONLY, nullptr},
    {"__text_signature__", T_OBJECT, offsetof(NativeFunction, text_signature), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(NativeFunction, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(NativeFunction, weakreflist), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(NativeFunction, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef fn_getset[] = {
    {"__defaults__", fn_get_defaults, nullptr, nullptr, nullptr},
    {"__globals__", fn_get_globals, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot fn_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(fn_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(fn_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(fn_clear)},
    {Py_tp_descr_get, reinterpret_cast<void*>(fn_descr_get)},
    {Py_tp_repr, reinterpret_cast<void*>(fn_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_methods, fn_methods},
    {Py_tp_members, fn_members},
    {Py_tp_getset, fn_getset},
    {0, nullptr},
};

PyType_Spec fn_spec = {
    "zentrope.widgets.models.gmodel.mpl.native_function",
    sizeof(NativeFunction),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    fn_slots,
};

PyObject* str(const std::string& s) {
    return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()))).release();
}

}  // namespace

void ready_native_function_type() {
    State& s = state();
    if (!s.depth_key_made) {
        if (pthread_key_create(&s.depth_key, std::free) != 0) {
            PyErr_SetString(PyExc_RuntimeError, "no thread-specific key left for the native call count");
            raise();
        }
        s.depth_key_made = true;
    }
    s.function_type.make_once([] { return check(PyType_FromSpec(&fn_spec)); });
}

Ref make_function(const MethodSpec& spec, const char* class_name, PyObject* globals) {
    if (spec.nparams < 1 || spec.nparams > kMaxParams || spec.ndefaults < 0 || spec.ndefaults >= spec.nparams) {
        PyErr_Format(PyExc_SystemError, "bad method description for %s.%s", class_name, spec.name);
        raise();
    }
    Ref defaults;
    if (spec.ndefaults) {
        defaults = check(PyTuple_New(spec.ndefaults));
        for (int i = 0; i < spec.ndefaults; ++i)
            PyTuple_SET_ITEM(defaults.get(), i, Py_NewRef(spec.defaults[i] == Default::None ? Py_None : Py_False));
    }
    const std::string qualname = std::string(class_name) + "." + spec.name;
    // The signature line: "Class.method(self, a, b=<default>)".
    std::string doc = qualname + "(";
    for (int i = 0; i < spec.nparams; ++i) {
        if (i) doc += ", ";
        doc += spec.params[i];
        const int d = i - (spec.nparams - spec.ndefaults);
        if (d >= 0) {
            Ref r = check(PyObject_Repr(PyTuple_GET_ITEM(defaults.get(), d)));
            const char* text = PyUnicode_AsUTF8(r.get());
            if (!text) raise();
            doc += "=";
            doc += text;
        }
    }
    doc += ")";
    std::string text_signature = doc.substr(qualname.size());

    NativeFunction* f = PyObject_GC_New(NativeFunction, reinterpret_cast<PyTypeObject*>(state().function_type.get()));
    if (!f) raise();
    f->vectorcall = fn_vectorcall;
    f->spec = &spec;
    f->name = f->qualname = f->module = f->doc = f->text_signature = f->fullname = nullptr;
    f->params = f->defaults = f->globals = f->klass = f->dict = f->weakreflist = nullptr;
    Ref owner = Ref::steal(reinterpret_cast<PyObject*>(f));  // frees f if a step below fails

    f->name = check(PyUnicode_InternFromString(spec.name)).release();
    f->qualname = str(qualname);
    f->module = Py_NewRef(state().names.module_fullname);
    f->doc = str(doc);
    f->text_signature = str(text_signature);
    f->fullname = check(PyUnicode_FromFormat("%U.%U", f->module, f->qualname)).release();
    f->params = check(PyTuple_New(spec.nparams)).release();
    for (int i = 0; i < spec.nparams; ++i)
        PyTuple_SET_ITEM(f->params, i, check(PyUnicode_InternFromString(spec.params[i])).release());
    f->defaults = defaults.release();
    f->globals = Py_NewRef(globals);
    PyObject_GC_Track(f);
    return owner;
}

void bind_class(PyObject* function, PyObject* cls) {
    Py_INCREF(cls);
    Py_XSETREF(as_fn(function)->klass, cls);
}

// --- Frame ----------------------------------------------------------------------

void Frame::globals_cleared(Loc where) {
    PyErr_SetString(PyExc_SystemError, "native method called after its module namespace was cleared");
    raise(where);
}

Method Frame::super_method(PyObject* name, Loc where) const {
    if (!fn_->klass) {
        PyErr_SetString(PyExc_RuntimeError, "super(): __class__ cell not found");
        raise(where);
    }
    // klass is borrowed from the function, which the caller holds; only the
    // class statement binds it.
    return zen::super_method(fn_->klass, self(), name, where);
}

Ref Frame::import_from(PyObject* modname, PyObject* fromlist, PyObject* name, Loc where) const {
    PyObject* importer = globals(where);
    // A module that is loaded and initialised and has the name is what the
    // import would return; serve it from the table of loaded modules without
    // the import system's package-path look-ups.
    Ref loaded = Ref::steal(PyImport_GetModule(modname));
    if (loaded.is_null()) {
        if (PyErr_Occurred()) raise(where);
    } else if (loaded.get() != Py_None) {
        PyObject* value = nullptr;
        if (check(lookup_attr(loaded.get(), name, &value), where)) return Ref::steal(value);
    }
    Ref module = check(PyImport_ImportModuleLevelObject(modname, importer, nullptr, fromlist, 0), where);
    return import_name(module, name, where);
}

}  // namespace zen
