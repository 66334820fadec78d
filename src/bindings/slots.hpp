// Adapters that turn plain C++ functions of a value into CPython slots, methods and properties.
// Every adapter runs its function inside the call boundary.
#pragma once

#include <Python.h>

#include <functional>
#include <string>

#include "bindings/boundary.hpp"
#include "support/siphash.hpp"
#include "bindings/to_python.hpp"
#include "bindings/value_object.hpp"

namespace tavrin::bindings {

// A function pointer in the form PyMethodDef and PyType_Slot store.
template <class Function>
PyCFunction as_method(Function* function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}
template <class Function>
void* as_slot(Function* function) {
    return reinterpret_cast<void*>(function);
}

// Python's hash of a byte layout: SipHash-1-3 read as signed, with -1 (the error value) as -2.
inline Py_hash_t siphash_python_hash(std::span<const std::uint8_t> bytes) {
    const auto hash = static_cast<Py_hash_t>(siphash13_zero_key(bytes));
    return hash == -1 ? -2 : hash;
}

// tp_repr / tp_str from a text function of the value.
template <class T, std::string (*Text)(const T&)>
PyObject* text_slot(PyObject* self) noexcept {
    return guarded_object([&] { return to_python(Text(value_of<T>(self))); });
}

// tp_hash from a hash function of the value.
template <class T, Py_hash_t (*Hash)(const T&)>
Py_hash_t hash_slot(PyObject* self) noexcept {
    return guarded<Py_hash_t>(-1, [&] { return Hash(value_of<T>(self)); });
}

// tp_richcompare: == (and < when Ordered) against another instance of the same class;
// != is the negated truth of self == other under Python's full comparison protocol; every
// other case answers NotImplemented.
template <class T, bool Ordered>
PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) noexcept {
    return guarded_object([&] {
        if (op == Py_NE) {
            PyRef equal = checked(PyObject_RichCompare(self, other, Py_EQ));
            return to_python(checked_status(PyObject_IsTrue(equal.get())) == 0);
        }
        const bool answered = op == Py_EQ || (Ordered && op == Py_LT);
        if (!answered || !PyType_IsSubtype(Py_TYPE(other), Py_TYPE(self))) {
            return PyRef::borrow(Py_NotImplemented);
        }
        const T& left = value_of<T>(self);
        const T& right = value_of<T>(other);
        if constexpr (Ordered) {
            if (op == Py_LT) {
                return to_python(left < right);
            }
        }
        return to_python(left == right);
    });
}

// A method without arguments (METH_NOARGS) returning Read(value), converted to Python.
template <class T, auto Read>
PyObject* read_method(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] { return to_python(std::invoke(Read, value_of<T>(self))); });
}

// A read-only property returning Read(value), converted to Python.
template <class T, auto Read>
PyObject* read_property(PyObject* self, void*) noexcept {
    return guarded_object([&] { return to_python(std::invoke(Read, value_of<T>(self))); });
}

// A static method without arguments (METH_STATIC | METH_NOARGS) returning Make().
template <auto Make>
PyObject* static_factory(PyObject*, PyObject*) noexcept {
    return guarded_object([&] { return to_python(Make()); });
}

}  // namespace tavrin::bindings
