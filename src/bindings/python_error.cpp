#include "bindings/python_error.hpp"

namespace tavrin::bindings {

PyRef fetch_pending_exception() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return {};
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_traceback = PyRef::steal(traceback);
    PyRef exception = PyRef::steal(value);
    if (exception && owned_traceback) {
        PyException_SetTraceback(exception.get(), owned_traceback.get());
    }
    return exception;
}

void restore_pending_exception(PyRef exception) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception.get()));
    Py_INCREF(type);
    PyObject* traceback = PyException_GetTraceback(exception.get());  // new reference or null
    PyErr_Restore(type, exception.release(), traceback);              // steals all three
}

void raise_value_error(const std::string& message) {
    set_python_error(PyExc_ValueError, message);
    throw_python_error();
}

}  // namespace tavrin::bindings
