// Python objects that hold one immutable library value, and their heap types.
#pragma once

#include <Python.h>

#include <new>
#include <type_traits>
#include <utility>

#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

// The object layout: the standard header, then the value, constructed in place.
template <class T>
struct ValueObject {
    PyObject_HEAD
    T value;
};

// The value held by an object of a value type (the caller has checked the type).
template <class T>
const T& value_of(PyObject* object) noexcept {
    return reinterpret_cast<ValueObject<T>*>(object)->value;
}

// A new object of the given value type holding value. Returns a new reference.
template <class T>
PyRef new_value_object(PyTypeObject* type, T value) {
    // Nothing may throw once the object exists: its deallocator destroys the value.
    static_assert(std::is_nothrow_move_constructible_v<T>);
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef object = checked(allocate(type, 0));
    new (&reinterpret_cast<ValueObject<T>*>(object.get())->value) T(std::move(value));
    return object;
}

// tp_dealloc of a value type: destroys the value, frees the memory, releases the heap type.
template <class T>
void dealloc_value_object(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    reinterpret_cast<ValueObject<T>*>(object)->value.~T();
    auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_memory(object);
    Py_DECREF(type);
}

// Flags of every value type: not subclassable, no dict, no weak references, not GC-tracked.
inline constexpr unsigned long value_type_flags = Py_TPFLAGS_DEFAULT;
inline constexpr unsigned long value_type_flags_without_constructor =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;

template <class T>
constexpr int value_object_size() {
    return static_cast<int>(sizeof(ValueObject<T>));
}

// A new heap type from spec, as a reference that is kept for the rest of the process.
inline PyTypeObject* new_heap_type(PyType_Spec& spec) {
    return reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
}

}  // namespace tavrin::bindings
