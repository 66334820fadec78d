#include "bindings/arguments.hpp"

#include "bindings/py_ref.hpp"

namespace tavrin::bindings {

void name_argument_in_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
        return;
    }
    const PyRef original = fetch_pending_exception();
    PyRef message = checked(PyObject_Str(original.get()));
    PyRef named_message = checked(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    PyRef renamed =
        checked(PyObject_CallFunctionObjArgs(PyExc_TypeError, named_message.get(), nullptr));
    if (PyObject* cause = PyException_GetCause(original.get())) {
        PyException_SetCause(renamed.get(), cause);  // takes over the reference
    }
    PyErr_SetObject(PyExc_TypeError, renamed.get());
}

}  // namespace tavrin::bindings
