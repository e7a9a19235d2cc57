// The native function type: a method implemented in C++ that behaves like a
// Python function (name, qualified name, module, signature docstring,
// defaults, descriptor binding, Python's argument-binding rules and messages,
// super() bound to its class, module globals looked up at each use).
#pragma once

#include "runtime/state.hpp"

#include <string>

namespace zen {

struct MethodSpec;

// A native function object (its type is made by ready_native_function_type).
struct NativeFunction {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const MethodSpec* spec;
    PyObject* name;            // str
    PyObject* qualname;        // str, "Class.method"
    PyObject* module;          // str, the module's full name
    PyObject* doc;             // str, the signature line
    PyObject* text_signature;  // str, for inspect.signature
    PyObject* fullname;        // str, "<module>.<qualname>", for traceback entries
    PyObject* params;          // tuple of interned parameter names
    PyObject* defaults;        // tuple or NULL
    PyObject* globals;         // the module namespace (dict)
    PyObject* klass;           // defining class, for super(); NULL until bound
    PyObject* dict;            // function attributes, as on Python functions
    PyObject* weakreflist;
};

// What a method body sees: its bound arguments (borrowed, self first) and
// the function, through which it reaches the module globals and super().
class Frame {
public:
    Frame(NativeFunction* fn, PyObject* const* args) noexcept : fn_(fn), args_(args) {}

    // Borrowed: the caller's argument array (or the function's defaults)
    // holds them until the call returns.
    PyObject* self() const noexcept { return args_[0]; }
    PyObject* arg(int i) const noexcept { return args_[i]; }

    // A module global, else a built-in, else NameError.
    Ref global(const GlobalName& name, Loc where = Loc::current()) const {
        return lookup_global(globals(where), name, where);
    }
    // super().name: super(<defining class>, self).name
    Method super_method(PyObject* name, Loc where = Loc::current()) const;
    // `from <modname> import <name>` with the module's globals as importer.
    Ref import_from(PyObject* modname, PyObject* fromlist, PyObject* name, Loc where = Loc::current()) const;

private:
    // The namespace the function looks its globals up in (borrowed: the
    // function, which the caller holds, owns it); SystemError once the
    // garbage collector has cleared it.
    PyObject* globals(Loc where) const {
        if (!fn_->globals) [[unlikely]] globals_cleared(where);
        return fn_->globals;
    }
    [[noreturn, gnu::cold, gnu::noinline]] static void globals_cleared(Loc where);

    NativeFunction* fn_;
    PyObject* const* args_;
};

using MethodBody = void (*)(const Frame&);

constexpr int kMaxParams = 4;

// Default values a parameter can have.
enum class Default { None, False };

// Static description of one method.
struct MethodSpec {
    const char* name;                // "draw"
    const char* params[kMaxParams];  // parameter names, self first
    int nparams;
    int ndefaults;                   // the last ndefaults parameters have defaults
    Default defaults[kMaxParams];
    MethodBody body;
};

// Makes the function type; idempotent.
void ready_native_function_type();

// New function for `spec`, defined in the class `class_name` of the module
// whose namespace is `globals`.
Ref make_function(const MethodSpec& spec, const char* class_name, PyObject* globals);

// Binds the class that super() inside the function starts after.
void bind_class(PyObject* function, PyObject* cls);

}  // namespace zen
