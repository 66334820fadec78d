// The five value classes of the module. Each type is created on first need and kept for the
// rest of the process; the getters return it borrowed and throw PythonErrorSet if it cannot
// be created.
#pragma once

#include <Python.h>

namespace tavrin::bindings {

PyTypeObject* direction_type();
PyTypeObject* spin_type();
PyTypeObject* edge_type();
PyTypeObject* cg_spec_type();
PyTypeObject* contraction_type();
PyTypeObject* leg_type();
PyTypeObject* block_tensor_type();

}  // namespace tavrin::bindings
