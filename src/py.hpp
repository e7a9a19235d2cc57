// Thin C++ layer over the CPython C API: owned and borrowed references, one
// exception type that carries the failing call's source location, and call
// helpers that go through vectorcall.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <longintrepr.h>

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

// Throws PyError; kept out of line and cold so that the error paths stay
// out of the way of the code around every checked call.
[[noreturn, gnu::cold, gnu::noinline]] void raise(Loc where = Loc::current());

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
    if (!result) [[unlikely]] raise(where);
    return Ref::steal(result);
}

// Result of a C API call returning a status (-1 on error).
inline int check(int status, Loc where = Loc::current()) {
    if (status < 0) [[unlikely]] raise(where);
    return status;
}

// Python truth test; can fail.
inline bool truth(Borrowed o, Loc where = Loc::current()) {
    if (o.p == Py_True) return true;
    if (o.p == Py_False || o.p == Py_None) return false;
    return check(PyObject_IsTrue(o.p), where) != 0;
}

// `name` is always an exact str here, so the type's slot is called directly.
inline Ref getattr(Borrowed o, PyObject* name, Loc where = Loc::current()) {
    getattrofunc slot = Py_TYPE(o.p)->tp_getattro;
    return check(slot ? slot(o.p, name) : PyObject_GetAttr(o.p, name), where);
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

// The truth of `a <op> b` where b is the small int constant `value` (the
// object `b`): exact ints are compared directly, as int's own comparison
// would; anything else goes through the rich comparison and a truth test.
inline bool compare_int(Borrowed a, PyObject* b, long value, int op, Loc where = Loc::current()) {
    if (PyLong_CheckExact(a.p)) {
        // |value| fits one digit, so any int of more digits lies beyond it.
        const Py_ssize_t size = Py_SIZE(a.p);
        const auto* digits = reinterpret_cast<PyLongObject*>(a.p)->ob_digit;
        int sign;
        if (size > 1 || size < -1) {
            sign = size > 0 ? 1 : -1;
        } else {
            const long v = size == 0 ? 0 : (size > 0 ? 1 : -1) * static_cast<long>(digits[0]);
            sign = (v > value) - (v < value);
        }
        switch (op) {
            case Py_LT: return sign < 0;
            case Py_LE: return sign <= 0;
            case Py_EQ: return sign == 0;
            case Py_NE: return sign != 0;
            case Py_GT: return sign > 0;
            default: return sign >= 0;
        }
    }
    return truth(compare(a, b, op, where), where);
}

// An iteration, as a for loop runs it. An exact list is walked by index, as
// its own iterator would (the length is read at each step); anything else
// through its iterator.
class Iteration {
public:
    explicit Iteration(Borrowed o, Loc where = Loc::current()) {
        if (PyList_CheckExact(o.p)) {
            obj_ = Ref::borrow(o.p);
            index_ = 0;
        } else {
            obj_ = check(PyObject_GetIter(o.p), where);
        }
    }

    // The next item; false when exhausted.
    bool next(Ref& out, Loc where = Loc::current()) {
        if (index_ >= 0) {
            if (!obj_.is_null() && index_ < PyList_GET_SIZE(obj_.get())) {
                out = Ref::borrow(PyList_GET_ITEM(obj_.get(), index_++));
                return true;
            }
            obj_ = Ref();  // an exhausted list iterator lets go of its list
            out = Ref();
            return false;
        }
        // Let go of the previous item first: iterators such as zip's reuse
        // their result tuple when nobody else holds it.
        out = Ref();
        out = Ref::steal(PyIter_Next(obj_.get()));
        if (out.is_null()) {
            if (PyErr_Occurred()) raise(where);
            return false;
        }
        return true;
    }

private:
    Ref obj_;
    Py_ssize_t index_ = -1;  // >= 0: walking a list
};

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

namespace detail {
// Room for the longest call the module makes, plus the slot that
// PY_VECTORCALL_ARGUMENTS_OFFSET lets the callee borrow.
constexpr std::size_t kMaxArgs = 8;

inline Ref vectorcall(PyObject* callable, PyObject* first, std::initializer_list<Borrowed> args, PyObject* kwnames,
                      Loc where) {
    PyObject* buf[kMaxArgs + 2];
    std::size_t n = 0;
    if (first) buf[1 + n++] = first;
    if (args.size() + n > kMaxArgs) {
        PyErr_SetString(PyExc_SystemError, "too many arguments for a native call");
        raise(where);
    }
    for (const Borrowed& a : args) buf[1 + n++] = a.p;
    const std::size_t nkw = kwnames ? static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)) : 0;
    const std::size_t nargs = n - nkw;
    // Straight through the callee's vectorcall slot where it has one; a NULL
    // result without an exception is caught at the method boundary.
    const std::size_t nargsf = nargs | PY_VECTORCALL_ARGUMENTS_OFFSET;
    if (vectorcallfunc slot = PyVectorcall_Function(callable)) return check(slot(callable, buf + 1, nargsf, kwnames), where);
    return check(PyObject_Vectorcall(callable, buf + 1, nargsf, kwnames), where);
}
}  // namespace detail

// Vectorcall with positional arguments followed by keyword values; kwnames is
// a tuple of keyword names made once, or NULL.
inline Ref call(Borrowed callable, std::initializer_list<Borrowed> args = {}, PyObject* kwnames = nullptr,
                Loc where = Loc::current()) {
    return detail::vectorcall(callable.p, nullptr, args, kwnames, where);
}

inline Ref call(const Method& m, std::initializer_list<Borrowed> args = {}, PyObject* kwnames = nullptr,
                Loc where = Loc::current()) {
    return detail::vectorcall(m.callable.get(), m.self, args, kwnames, where);
}

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
