#include "bindings/internal_fault_from_pending.hpp"

#include <Python.h>

#include "bindings/boundary.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

// The pending exception, normalised and taken out of the error indicator; empty if none.
PyRef fetch_pending_exception() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return {};
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return PyRef::steal(value);
}

std::string text_of(PyObject* exception) {
    PyRef text = checked(PyObject_Str(exception));
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
    if (utf8 == nullptr) {
        throw_python_error();
    }
    return utf8;
}

void attach_cause(PyRef cause) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        PyException_SetCause(value, cause.release());  // takes over the reference
    }
    PyErr_Restore(type, value, traceback);
}

}  // namespace

void throw_internal_fault_from_pending(const std::string& summary) {
    PyRef cause = fetch_pending_exception();
    if (!cause) {
        raise_internal_fault(summary);
        throw_python_error();
    }
    raise_internal_fault(summary + ": " + text_of(cause.get()));
    attach_cause(std::move(cause));
    throw_python_error();
}

}  // namespace tavrin::bindings
