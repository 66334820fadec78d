// Conversion of C++ results into new Python objects. Each returns a new reference and throws
// PythonErrorSet when the object cannot be made.
#pragma once

#include <Python.h>

#include <concepts>
#include <cstddef>
#include <string_view>
#include <vector>

#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"
#include "specs/cg_spec.hpp"
#include "specs/contraction.hpp"
#include "core/spin.hpp"

namespace tavrin::blocks {
class Leg;
class BlockTensor;
}  // namespace tavrin::blocks

namespace tavrin::bindings {

inline PyRef to_python(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

template <std::signed_integral I>
PyRef to_python(I value) {
    return checked(PyLong_FromLongLong(value));
}

template <std::unsigned_integral U>
    requires(!std::same_as<U, bool>)
PyRef to_python(U value) {
    return checked(PyLong_FromUnsignedLongLong(value));
}

inline PyRef to_python(double value) { return checked(PyFloat_FromDouble(value)); }

inline PyRef to_python(std::string_view text) {
    return checked(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// New objects of the value classes (defined beside each class).
PyRef to_python(const Spin& spin);
PyRef to_python(const Direction& direction);
PyRef to_python(const Edge& edge);
PyRef to_python(const CGSpec& spec);
PyRef to_python(CGSpec&& spec);
PyRef to_python(const Contraction& contraction);
PyRef to_python(const blocks::Leg& leg);
PyRef to_python(blocks::BlockTensor&& tensor);

// A new list of new objects, in order.
template <class T>
PyRef to_python(const std::vector<T>& items) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t i = 0; i < items.size(); ++i) {
        // PyList_SetItem takes over the reference, even when it fails.
        checked_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                                      to_python(items[i]).release()));
    }
    return list;
}

}  // namespace tavrin::bindings
