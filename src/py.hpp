// Thin C++ layer over the CPython C API: owned and borrowed references, one
// exception type that carries the failing call's source location, and call
// helpers that go through vectorcall.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <initializer_list>
#include <source_location>
#include <utility>

namespace zen {

using Loc = std::source_location;

// Thrown when a C API call has failed. The Python error indicator is set;
// the boundary that catches this adds the traceback entry and returns NULL.
struct PyError {
    Loc where;
};

[[noreturn]] inline void raise(Loc where = Loc::current()) { throw PyError{where}; }

// An owned (strong) reference. Move-only; releases on destruction.
class Ref {
public:
    Ref() noexcept = default;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    static Ref steal(PyObject* p) noexcept { Ref r; r.p_ = p; return r; }
    static Ref borrow(PyObject* p) noexcept { Py_XINCREF(p); return steal(p); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    bool is_null() const noexcept { return p_ == nullptr; }

private:
    PyObject* p_ = nullptr;
};

// A borrowed reference: whoever passes it keeps the object alive for the
// duration of the call. Made from a raw pointer or from an owning Ref.
struct Borrowed {
    PyObject* p;
    Borrowed(PyObject* o) noexcept : p(o) {}
    Borrowed(const Ref& r) noexcept : p(r.get()) {}
};

// Result of a C API call returning a new reference (NULL on error).
inline Ref check(PyObject* result, Loc where = Loc::current()) {
    if (!result) raise(where);
    return Ref::steal(result);
}

// Result of a C API call returning a status (-1 on error).
inline int check(int status, Loc where = Loc::current()) {
    if (status < 0) raise(where);
    return status;
}

// Python truth test; can fail.
inline bool truth(Borrowed o, Loc where = Loc::current()) {
    return check(PyObject_IsTrue(o.p), where) != 0;
}

inline Ref getattr(Borrowed o, PyObject* name, Loc where = Loc::current()) {
    return check(PyObject_GetAttr(o.p, name), where);
}

inline void setattr(Borrowed o, PyObject* name, Borrowed value, Loc where = Loc::current()) {
    check(PyObject_SetAttr(o.p, name, value.p), where);
}

inline Ref getitem(Borrowed o, Borrowed key, Loc where = Loc::current()) {
    return check(PyObject_GetItem(o.p, key.p), where);
}

inline void setitem(Borrowed o, Borrowed key, Borrowed value, Loc where = Loc::current()) {
    check(PyObject_SetItem(o.p, key.p, value.p), where);
}

inline Ref compare(Borrowed a, Borrowed b, int op, Loc where = Loc::current()) {
    return check(PyObject_RichCompare(a.p, b.p, op), where);
}

inline Ref iter(Borrowed o, Loc where = Loc::current()) {
    return check(PyObject_GetIter(o.p), where);
}

// Advances an iterator; false when it is exhausted.
inline bool next(Borrowed it, Ref& out, Loc where = Loc::current()) {
    out = Ref::steal(PyIter_Next(it.p));
    if (out.is_null()) {
        if (PyErr_Occurred()) raise(where);
        return false;
    }
    return true;
}

// A method found on an object the way the interpreter's method-call opcode
// finds it: either an unbound function plus the object to pass as first
// argument, or an already bound callable.
struct Method {
    Ref callable;
    PyObject* self = nullptr;  // borrowed; non-null when callable is unbound
};

inline Method method(Borrowed o, PyObject* name, Loc where = Loc::current()) {
    PyObject* found = nullptr;
    int unbound = _PyObject_GetMethod(o.p, name, &found);
    if (!found) raise(where);
    return Method{Ref::steal(found), unbound ? o.p : nullptr};
}

// Vectorcall with positional arguments followed by keyword values; kwnames is
// a tuple of keyword names made once, or NULL.
Ref call(Borrowed callable, std::initializer_list<Borrowed> args = {}, PyObject* kwnames = nullptr,
         Loc where = Loc::current());
Ref call(const Method& m, std::initializer_list<Borrowed> args = {}, PyObject* kwnames = nullptr,
         Loc where = Loc::current());

// o.name(*args): lookup then call. Use only where the arguments are already
// evaluated (the interpreter looks the method up before evaluating them).
inline Ref call_method(Borrowed o, PyObject* name, std::initializer_list<Borrowed> args = {},
                       PyObject* kwnames = nullptr, Loc where = Loc::current()) {
    Method m = method(o, name, where);
    return call(m, args, kwnames, where);
}

// Unpacks an iterable of exactly two items, as `a, b = pair` does.
void unpack2(Borrowed pair, Ref& first, Ref& second, Loc where = Loc::current());

// `from <module> import <name>` for an already imported module object: the
// attribute, else the loaded submodule "<module>.<name>", else ImportError.
Ref import_name(Borrowed module, PyObject* name, Loc where = Loc::current());

// Adds a traceback entry for `funcname` at the source location.
void add_traceback(const char* funcname, const Loc& where);

}  // namespace zen
