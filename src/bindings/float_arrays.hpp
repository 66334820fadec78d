// Arrays of floats given from Python, read as float64 through the buffer protocol.
#pragma once

#include <Python.h>

#include "tensor/tensor.hpp"

namespace tavrin::bindings {

// numpy.ascontiguousarray(object, dtype=numpy.float64), copied into a tensor of its shape.
// NumPy's own error (TypeError, ValueError) for what it cannot convert.
Tensor to_float64_tensor(PyObject* object);

}  // namespace tavrin::bindings
