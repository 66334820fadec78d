// Pickling and copying of the value classes. The classes live in "builtins", where pickle
// cannot look them up, so each __reduce__ names the module's private reconstructor instead:
// (tavrin._reconstruct, (class name, state)), the state a tuple of plain values or of other
// value objects.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "bindings/boundary.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/to_python.hpp"
#include "bindings/value_object.hpp"

namespace tavrin::bindings {

// A state tuple: the items converted to Python, in order.
template <class... Items>
PyRef state_tuple(const Items&... items) {
    std::array<PyRef, sizeof...(Items)> objects{to_python(items)...};
    PyRef tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(sizeof...(Items))));
    for (std::size_t i = 0; i < objects.size(); ++i) {
        checked_status(PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i),
                                       objects[i].release()));  // steals the item
    }
    return tuple;
}

// The reduce tuple of self, whose state is `state`.
PyRef reduce_value(PyObject* self, PyRef state);

// __reduce__ (METH_NOARGS) of a value class from a function giving the state of a value.
template <class T, PyRef (*State)(const T&)>
PyObject* reduce_method(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] { return reduce_value(self, State(value_of<T>(self))); });
}

// tavrin._reconstruct(class_name, state): the inverse of every __reduce__.
PyMethodDef& reconstruct_definition();

}  // namespace tavrin::bindings
