// Arrays of floats given from Python, read as float64 through the buffer protocol.
#pragma once

#include <Python.h>

#include "tensor/tensor.hpp"

namespace tavrin::bindings {

// numpy.asarray(object) as a C-contiguous float64 array (0-d for a scalar), copied into a tensor
// of its shape. TypeError "expected an array of real numbers, got dtype {dtype}" unless its
// elements are booleans, integers or floats (complex, object and text arrays are refused, not
// cast); NumPy's own error for what it cannot make an array of.
Tensor to_float64_tensor(PyObject* object);

}  // namespace tavrin::bindings
