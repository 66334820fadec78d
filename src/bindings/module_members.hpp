// Adding the module's public members: each is set as a module attribute and its name appended
// to the module's __all__ (created on the first addition).
#pragma once

#include <Python.h>

namespace tavrin::bindings {

// Throw PythonErrorSet on failure.
void add_class(PyObject* module, const char* name, PyTypeObject* type);
// definition must outlive the module (a static table); the function is bound to the module.
void add_function(PyObject* module, PyMethodDef& definition);
// A private function: a module attribute only, not in __all__.
void add_private_function(PyObject* module, PyMethodDef& definition);

}  // namespace tavrin::bindings
