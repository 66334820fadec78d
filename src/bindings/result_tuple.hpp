// The 2-tuples the module functions return.
#pragma once

#include <Python.h>

#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

// A new tuple (first, second); the references passed in are released when it is made or not.
inline PyRef result_pair(PyRef first, PyRef second) {
    return checked(PyTuple_Pack(2, first.get(), second.get()));
}

}  // namespace tavrin::bindings
