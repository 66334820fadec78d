// PySliceContainer: the private Python type whose objects own the storage of returned arrays.
#pragma once

#include "bindings/py_ref.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::bindings {

// A new container holding storage, which it frees when it is released. Its type is created
// once per process, on first need. Throws PythonErrorSet with InternalFault "Failed to create
// slice container: ..." when the type or the object cannot be made (storage is then freed).
PyRef new_slice_container(TensorStorage storage);

// The storage held by a container made by new_slice_container.
TensorStorage& slice_container_storage(PyObject* container) noexcept;

}  // namespace tavrin::bindings
