// Turning library tensors into NumPy arrays without copying their elements.
#pragma once

#include <cstdint>
#include <span>

#include "bindings/py_ref.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::bindings {

// A new writeable float64 array with the tensor's shape and content. The tensor's storage
// passes to a PySliceContainer that becomes the array's base, so the array owns it alone.
// Throws PythonErrorSet: InternalFault when NumPy cannot be reached, the owner cannot be made
// or the tensor has more axes than NumPy allows; NumPy's own error otherwise.
PyRef to_numpy_array(Tensor tensor);
// The same for the row-major elements of a tensor of that shape.
PyRef to_numpy_array(std::span<const std::uint64_t> shape, TensorStorage storage);

}  // namespace tavrin::bindings
