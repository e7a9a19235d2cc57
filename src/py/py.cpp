// The C++ layer's out-of-line parts: error details as the interpreter adds
// them, the method look-up of each supported version, the check of a
// callee's result, traceback entries and the one exception translation.
#include "py.hpp"

#if PY_VERSION_HEX >= 0x030D0000
#include <frameobject.h>  // PyFrame_New
#endif

#include <cstring>
#include <new>

namespace zen {

namespace {
// Strips the build's source root, so entries read "src/widgets/canvas.cpp".
const char* relative_source(const char* path) {
#ifdef ZENTROPE_SOURCE_ROOT
    constexpr const char* root = ZENTROPE_SOURCE_ROOT;
    const std::size_t len = std::strlen(root);
    if (std::strncmp(path, root, len) == 0) return path + len;
#endif
    return path;
}
}  // namespace

void raise(Loc where) { throw PyError{where}; }

void raise_name_error(PyObject* name, Loc where) {
    Ref message = check(PyUnicode_FromFormat("name '%U' is not defined", name), where);
    Ref error = check(PyObject_CallOneArg(PyExc_NameError, message.get()), where);
    auto* fields = reinterpret_cast<PyNameErrorObject*>(error.get());  // NameError() makes exactly that
    Py_XSETREF(fields->name, Py_NewRef(name));
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
    auto* error = reinterpret_cast<PyAttributeErrorObject*>(value);  // an AttributeError instance
    if (error->name || error->obj) return;
    error->name = Py_NewRef(name);
    error->obj = Py_NewRef(o);
}
}  // namespace

void raise_attribute_error(PyObject* o, PyObject* name, Loc where) {
    add_attribute_error_context(o, name);
    raise(where);
}

#if PY_VERSION_HEX >= 0x030D0000
int find_method(PyObject* o, PyObject* name, PyObject** found) {
    // The look-up of the method-call opcode, through the API this version
    // declares: a method descriptor on the type, unless the instance's own
    // namespace or a data descriptor has the name, is returned unbound.
    *found = nullptr;
    PyTypeObject* tp = Py_TYPE(o);
    if (tp->tp_getattro != PyObject_GenericGetAttr || !PyUnicode_CheckExact(name)) {
        *found = PyObject_GetAttr(o, name);
        return 0;
    }
    // Python code can run from here on (the __eq__ of a key in a namespace):
    // `o` may then have another class, and the one read here may be gone but
    // for this reference. A descriptor is bound with the class `o` has when
    // it is bound, as the interpreter's generic look-up binds it.
    Ref type_owner = Ref::new_ref(reinterpret_cast<PyObject*>(tp));
    Ref descr = Ref::steal(_PyType_LookupRef(tp, name));
    auto bind = [&](descrgetfunc get) {
        Ref owner = Ref::new_ref(reinterpret_cast<PyObject*>(Py_TYPE(o)));
        *found = get(descr.get(), o, owner.get());
        return 0;
    };
    descrgetfunc get = nullptr;
    bool is_method = false;
    if (!descr.is_null()) {
        if (PyType_HasFeature(Py_TYPE(descr.get()), Py_TPFLAGS_METHOD_DESCRIPTOR)) {
            is_method = true;
        } else {
            get = Py_TYPE(descr.get())->tp_descr_get;
            if (get && Py_TYPE(descr.get())->tp_descr_set) return bind(get);
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
    if (get) return bind(get);
    if (!descr.is_null()) {
        *found = descr.release();
        return 0;
    }
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'", tp->tp_name, name);
    add_attribute_error_context(o, name);
    return 0;
}
#endif

namespace {
// The attribute `name` in the namespace of the class `cls` itself (NULL when
// absent); throws on error.
Ref own_attribute(PyObject* cls, PyObject* name, Loc where) {
#if PY_VERSION_HEX >= 0x030C0000
    Ref dict = check(PyType_GetDict(reinterpret_cast<PyTypeObject*>(cls)), where);
#else
    PyObject* dict = reinterpret_cast<PyTypeObject*>(cls)->tp_dict;  // held by the class
#endif
    PyObject* found = PyDict_GetItemWithError(Borrowed(dict).p, name);  // borrowed: owned at once
    if (!found && PyErr_Occurred()) raise(where);
    return Ref::borrow(found);
}

bool is_dunder_class(PyObject* name) {
    return PyUnicode_GET_LENGTH(name) == 9 && PyUnicode_CompareWithASCIIString(name, "__class__") == 0;
}
}  // namespace

Method super_method(PyObject* type, PyObject* obj, PyObject* name, Loc where) {
    PyTypeObject* start = Py_TYPE(obj);
    if (PyType_Check(type) && !PyType_Check(obj) && PyUnicode_CheckExact(name) && !is_dunder_class(name) &&
        PyType_IsSubtype(start, reinterpret_cast<PyTypeObject*>(type))) {
        // Owned, as a super object owns them: a look-up below may run code
        // (the __eq__ of a key in a class namespace) that gives `obj` another
        // class, or gives this one another MRO; a MRO made by a metaclass
        // need not hold the class itself.
        Ref start_owner = Ref::new_ref(reinterpret_cast<PyObject*>(start));
        Ref mro = Ref::borrow(start->tp_mro);
        const Py_ssize_t n = mro.is_null() ? 0 : PyTuple_GET_SIZE(mro.get());
        Py_ssize_t i = 0;
        while (i + 1 < n && PyTuple_GET_ITEM(mro.get(), i) != type) ++i;
        for (++i; i < n; ++i) {
            Ref found = own_attribute(PyTuple_GET_ITEM(mro.get(), i), name, where);
            if (found.is_null()) continue;
            PyTypeObject* kind = Py_TYPE(found.get());
            if (PyType_HasFeature(kind, Py_TPFLAGS_METHOD_DESCRIPTOR)) return Method{std::move(found), Ref::new_ref(obj)};
            if (descrgetfunc get = kind->tp_descr_get)
                return Method{check(get(found.get(), obj, reinterpret_cast<PyObject*>(start)), where), Ref()};
            return Method{std::move(found), Ref()};
        }
    }
    PyObject* args[] = {type, obj};
    Ref super = check(PyObject_Vectorcall(reinterpret_cast<PyObject*>(&PySuper_Type), args, 2, nullptr), where);
    return method(super, name, where);
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


namespace detail {
void unpack2_iterable(Borrowed pair, Ref& first, Ref& second, Loc where) {
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
}  // namespace detail

}  // namespace zen
