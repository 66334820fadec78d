// What the class BlockTensor shares with the rest of the bindings.
#pragma once

#include <Python.h>

#include "bindings/py_ref.hpp"

namespace tavrin::bindings {

// BlockTensor.from_blocks(legs, blocks): the tensor of the legs (a sequence of Leg) with the
// blocks given (a dict from doubled spins to arrays). Its errors name the argument.
PyRef tensor_from_blocks(PyObject* legs, PyObject* blocks);

}  // namespace tavrin::bindings
