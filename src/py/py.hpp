// Thin C++ layer over the CPython C API: owned, borrowed and immortal
// references, one exception type that carries the failing call's source
// location, the operations method bodies use (attribute and item access,
// comparisons, iteration, calls through vectorcall) with the interpreter's
// own checks and error details, and the translation of a C++ exception into
// the Python error an entry point returns with. It knows nothing of the
// module's names or state.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#if PY_VERSION_HEX < 0x030B0000
#include <longintrepr.h>
#endif

#include <cstddef>
#include <cstring>
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
    // A new reference to an object known not to be NULL.
    static Ref new_ref(PyObject* p) noexcept { Py_INCREF(p); return steal(p); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    bool is_null() const noexcept { return p_ == nullptr; }

private:
    PyObject* p_ = nullptr;
};

// A reference made once and kept for the life of the process: assigned
// once, never released, so that it needs no owner to outlive (interned
// names, constants, the method type). Trivially destructible: nothing runs
// at process exit, after the interpreter has gone.
class Immortal {
public:
    constexpr Immortal() noexcept = default;
    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;

    // Makes the object with `make` (a Ref-returning callable) unless it has
    // been made already; a failure leaves it unmade, for a later retry.
    template <typename Make>
    void make_once(Make&& make) {
        if (!p_) p_ = make().release();
    }

    PyObject* get() const noexcept { return p_; }
    operator PyObject*() const noexcept { return p_; }

private:
    PyObject* p_ = nullptr;
};

// A borrowed reference: whoever passes it keeps the object alive for the
// duration of the call. Made from a raw pointer, an owning Ref or an
// Immortal.
struct Borrowed {
    PyObject* p;
    Borrowed(PyObject* o) noexcept : p(o) {}
    Borrowed(const Ref& r) noexcept : p(r.get()) {}
    Borrowed(const Immortal& r) noexcept : p(r.get()) {}
};

// The pending exception, taken out of the error indicator normalized and
// with its traceback attached, as the interpreter's own frames leave it. Put
// back when this goes out of scope; if another exception has been raised in
// the meantime, the saved one becomes its __context__ instead.
class SavedError {
public:
    SavedError() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
        value_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &value_, &tb_);
        if (!type_) return;
        PyErr_NormalizeException(&type_, &value_, &tb_);
        if (tb_) PyException_SetTraceback(value_, tb_);
#endif
    }
    SavedError(const SavedError&) = delete;
    SavedError& operator=(const SavedError&) = delete;
    ~SavedError() {
        if (!value_) return;
        if (PyErr_Occurred()) {
            chain(false);
            return;
        }
        restore();
    }

    // The exception (borrowed: this holds it), or NULL when none was pending.
    PyObject* value() const noexcept { return value_; }

    // Raises it again now.
    void restore() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(std::exchange(value_, nullptr));
#else
        PyErr_Restore(std::exchange(type_, nullptr), std::exchange(value_, nullptr), std::exchange(tb_, nullptr));
#endif
    }

    // Drops it.
    void discard() noexcept {
#if PY_VERSION_HEX < 0x030C0000
        Py_CLEAR(type_);
        Py_CLEAR(tb_);
#endif
        Py_CLEAR(value_);
    }

    // Makes it the __cause__ (and __context__) of the exception raised since.
    void chain_as_cause() noexcept { chain(true); }

private:
    void chain(bool as_cause) noexcept {
        if (!value_) return;
        SavedError raised;
        if (raised.value_ && raised.value_ != value_) {
            if (as_cause) PyException_SetCause(raised.value_, Py_NewRef(value_));
            PyException_SetContext(raised.value_, Py_NewRef(value_));
        }
        discard();
    }

#if PY_VERSION_HEX < 0x030C0000
    PyObject* type_ = nullptr;
    PyObject* tb_ = nullptr;
#endif
    PyObject* value_ = nullptr;
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

// Gives an AttributeError raised while reading `name` from `o` the `.name`
// and `.obj` that the interpreter's attribute read adds, then throws.
[[noreturn, gnu::cold, gnu::noinline]] void raise_attribute_error(PyObject* o, PyObject* name, Loc where);

// `name` is always an exact str here, so the type's slot is called directly;
// a failure gets what PyObject_GetAttr adds to it.
inline Ref getattr(Borrowed o, PyObject* name, Loc where = Loc::current()) {
    getattrofunc slot = Py_TYPE(o.p)->tp_getattro;
    PyObject* result = slot ? slot(o.p, name) : PyObject_GetAttr(o.p, name);
    if (!result) [[unlikely]] raise_attribute_error(o.p, name, where);
    return Ref::steal(result);
}

inline void setattr(Borrowed o, PyObject* name, Borrowed value, Loc where = Loc::current()) {
    check(PyObject_SetAttr(o.p, name, value.p), where);
}

// o[key]: the mapping slot directly where the type has one, as
// PyObject_GetItem would call it.
inline Ref getitem(Borrowed o, Borrowed key, Loc where = Loc::current()) {
    PyMappingMethods* m = Py_TYPE(o.p)->tp_as_mapping;
    return check(m && m->mp_subscript ? m->mp_subscript(o.p, key.p) : PyObject_GetItem(o.p, key.p), where);
}

// o[key] where key is the int constant `index` (the object `key`): an exact
// list or tuple gives its item at once, as its subscript would; anything
// else, and an index out of range, goes through the subscript.
inline Ref getitem(Borrowed o, PyObject* key, Py_ssize_t index, Loc where = Loc::current()) {
    if (PyList_CheckExact(o.p)) {
        const Py_ssize_t n = PyList_GET_SIZE(o.p);
        const Py_ssize_t i = index < 0 ? index + n : index;
        if (0 <= i && i < n) return Ref::borrow(PyList_GET_ITEM(o.p, i));
    } else if (PyTuple_CheckExact(o.p)) {
        const Py_ssize_t n = PyTuple_GET_SIZE(o.p);
        const Py_ssize_t i = index < 0 ? index + n : index;
        if (0 <= i && i < n) return Ref::borrow(PyTuple_GET_ITEM(o.p, i));
    }
    return getitem(o, key, where);
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
        // The sign of a - value, for an int whose value is at hand; |value|
        // is below 2**15, so an int of larger magnitude lies beyond it.
        int sign;
#if PY_VERSION_HEX >= 0x030C0000
        const auto* l = reinterpret_cast<const PyLongObject*>(a.p);
        if (!PyUnstable_Long_IsCompact(l)) return truth(compare(a, b, op, where), where);
        const Py_ssize_t v = PyUnstable_Long_CompactValue(l);
        sign = (v > value) - (v < value);
#else
        const Py_ssize_t size = Py_SIZE(a.p);
        if (size > 1 || size < -1) {
            sign = size > 0 ? 1 : -1;
        } else {
            const auto* digits = reinterpret_cast<PyLongObject*>(a.p)->ob_digit;
            const long v = size == 0 ? 0 : (size > 0 ? 1 : -1) * static_cast<long>(digits[0]);
            sign = (v > value) - (v < value);
        }
#endif
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

// isinstance(o, cls)
inline bool isinstance(Borrowed o, Borrowed cls, Loc where = Loc::current()) {
    return check(PyObject_IsInstance(o.p, cls.p), where) != 0;
}

// len(o)
inline Py_ssize_t len(Borrowed o, Loc where = Loc::current()) {
    const Py_ssize_t n = PyObject_Length(o.p);
    if (n < 0) [[unlikely]] raise(where);
    return n;
}

// a + b
inline Ref add(Borrowed a, Borrowed b, Loc where = Loc::current()) { return check(PyNumber_Add(a.p, b.p), where); }

// [] (a new list)
inline Ref new_list(Loc where = Loc::current()) { return check(PyList_New(0), where); }

// [x0, x1, ...] (a new list of floats)
inline Ref float_list(std::initializer_list<double> values, Loc where = Loc::current()) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(values.size())), where);
    Py_ssize_t i = 0;
    for (double v : values) PyList_SET_ITEM(list.get(), i++, check(PyFloat_FromDouble(v), where).release());
    return list;
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
                out = Ref::new_ref(PyList_GET_ITEM(obj_.get(), index_++));
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
// argument, or an already bound callable. Like the opcode's stack, it owns
// both until the call has returned: the object it was found on may be a
// temporary, or be released by code that runs before the call.
struct Method {
    Ref callable;
    Ref self;  // non-null when callable is unbound
};

// The method look-up of the running interpreter: 1 with an unbound function
// in *found, 0 with a bound or plain callable, 0 with NULL on error. The
// look-up of the instance's namespace can run Python code (the __eq__ of a
// key with a colliding hash) that gives `o` another class and lets the old
// one go, while the interpreter's own look-up still names the old one in its
// error message: the class is owned across it.
#if PY_VERSION_HEX < 0x030D0000
inline int find_method(PyObject* o, PyObject* name, PyObject** found) {
    Ref cls = Ref::new_ref(reinterpret_cast<PyObject*>(Py_TYPE(o)));
    return _PyObject_GetMethod(o, name, found);
}
#else
int find_method(PyObject* o, PyObject* name, PyObject** found);
#endif

inline Method method(Borrowed o, PyObject* name, Loc where = Loc::current()) {
    PyObject* found = nullptr;
    int unbound = find_method(o.p, name, &found);
    if (!found) raise(where);
    return Method{Ref::steal(found), unbound ? Ref::borrow(o.p) : Ref()};
}

// `*result` = o.name or NULL when there is no such attribute (AttributeError
// swallowed); -1 on other errors.
inline int lookup_attr(PyObject* o, PyObject* name, PyObject** result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(o, name, result);
#else
    return _PyObject_LookupAttr(o, name, result);
#endif
}

namespace detail {
// The callee's vectorcall slot, or NULL (PEP 590). Inline here: from 3.11 on
// PyVectorcall_Function is a call into the interpreter.
inline vectorcallfunc vectorcall_slot(PyObject* callable) {
    PyTypeObject* type = Py_TYPE(callable);
    if (!PyType_HasFeature(type, Py_TPFLAGS_HAVE_VECTORCALL)) return nullptr;
    vectorcallfunc slot;
    std::memcpy(&slot, reinterpret_cast<const char*>(callable) + type->tp_vectorcall_offset, sizeof slot);
    return slot;
}

// What the interpreter does with a callee's result (a value with an
// exception set, or NULL with none, becomes SystemError); throws on error.
[[gnu::cold, gnu::noinline]] Ref checked_result(PyObject* callable, PyObject* result, Loc where);

// The longest call the module makes.
constexpr std::size_t kMaxArgs = 8;

// callable(self, *args) with self, or callable(*args) when self is NULL; the
// last PyTuple_GET_SIZE(kwnames) arguments are passed by keyword.
inline Ref vectorcall(PyObject* callable, PyObject* self, std::initializer_list<Borrowed> args, PyObject* kwnames,
                      Loc where) {
    // The arguments sit at fixed places from buf[2] on, self before them in
    // buf[1]; the slot before the first argument passed is the one that
    // PY_VECTORCALL_ARGUMENTS_OFFSET lets the callee borrow.
    static_assert(kMaxArgs >= 1);
    if (args.size() > kMaxArgs) {
        PyErr_SetString(PyExc_SystemError, "too many arguments for a native call");
        raise(where);
    }
    PyObject* buf[kMaxArgs + 2];
    std::size_t i = 2;
    for (const Borrowed& a : args) buf[i++] = a.p;
    PyObject** argv = buf + 2;
    std::size_t n = args.size();
    if (self) {
        buf[1] = self;
        --argv;
        ++n;
    }
    const std::size_t nargs = n - (kwnames ? static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)) : 0);
    vectorcallfunc slot = vectorcall_slot(callable);
    if (!slot) {
        // No vectorcall slot: the interpreter's tp_call path, which checks
        // the callee's result itself.
#if PY_VERSION_HEX < 0x030D0000
        return check(_PyObject_MakeTpCall(PyThreadState_Get(), callable, argv, nargs, kwnames), where);
#else
        return check(PyObject_Vectorcall(callable, argv, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames), where);
#endif
    }
    // Straight through the callee's vectorcall slot, with the interpreter's
    // check of what came back.
    PyObject* result = slot(callable, argv, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
    if (!result || PyErr_Occurred()) [[unlikely]] return checked_result(callable, result, where);
    return Ref::steal(result);
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
    return detail::vectorcall(m.callable.get(), m.self.get(), args, kwnames, where);
}

// super(type, obj).name, as the interpreter's super-attribute opcode finds
// it without making the super object: the attribute of the first class
// after `type` in the method resolution order of type(obj) that has it, a
// method descriptor unbound (obj to pass first), anything else through its
// __get__. What that does not cover (obj not an instance of type, obj a
// class, `__class__`, a name no class after `type` has) goes through a real
// super object.
Method super_method(PyObject* type, PyObject* obj, PyObject* name, Loc where = Loc::current());

// o.name(*args): lookup then call. Use only where the arguments are already
// evaluated (the interpreter looks the method up before evaluating them).
// The receiver is not taken over as Method does: whoever passes `o` keeps it
// alive until this returns, that is until the call has returned.
inline Ref call_method(Borrowed o, PyObject* name, std::initializer_list<Borrowed> args = {},
                       PyObject* kwnames = nullptr, Loc where = Loc::current()) {
    PyObject* found = nullptr;
    const int unbound = find_method(o.p, name, &found);
    if (!found) raise(where);
    Ref callable = Ref::steal(found);
    return detail::vectorcall(callable.get(), unbound ? o.p : nullptr, args, kwnames, where);
}

// o.append(item), `append` being the interned name "append": on an exact
// list its own method, called without the look-up (the attributes of an
// exact list are those of its type, which cannot change); on anything else
// through the look-up.
inline void call_append(Borrowed o, PyObject* append, Borrowed item, Loc where = Loc::current()) {
    if (PyList_CheckExact(o.p)) {
        check(PyList_Append(o.p, item.p), where);
        return;
    }
    call_method(o, append, {item}, nullptr, where);
}

namespace detail {
void unpack2_iterable(Borrowed pair, Ref& first, Ref& second, Loc where);
}

// Unpacks an iterable of exactly two items, as `a, b = pair` does; an exact
// tuple of two directly.
inline void unpack2(Borrowed pair, Ref& first, Ref& second, Loc where = Loc::current()) {
    if (PyTuple_CheckExact(pair.p) && PyTuple_GET_SIZE(pair.p) == 2) {
        first = Ref::new_ref(PyTuple_GET_ITEM(pair.p, 0));
        second = Ref::new_ref(PyTuple_GET_ITEM(pair.p, 1));
        return;
    }
    detail::unpack2_iterable(pair, first, second, where);
}

// Raises NameError for `name` as the interpreter does (normalized, with
// `.name`), then throws.
[[noreturn, gnu::cold, gnu::noinline]] void raise_name_error(PyObject* name, Loc where);

// The end of every failed entry point: makes sure an exception is set, adds
// the traceback entry for `funcname` at `where` and normalizes the
// exception, as the interpreter's own frames leave it.
[[gnu::cold, gnu::noinline]] void finish_error(const char* funcname, const Loc& where) noexcept;

// The one translation of a C++ exception into the Python error that an entry
// point returns with: call it from a `catch (...)` block. A PyError gets
// finish_error(); running out of memory MemoryError; anything else
// SystemError.
[[gnu::cold, gnu::noinline]] void translate_exception(const char* funcname) noexcept;

}  // namespace zen
