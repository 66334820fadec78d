// Carrying a pending Python exception through C++ code to the call boundary.
#pragma once

#include <Python.h>

#include <string>

#include "bindings/py_ref.hpp"

namespace tavrin::bindings {

// Thrown when a C-API call has failed and set the Python error indicator; the call boundary
// leaves that exception in place.
struct PythonErrorSet {};

[[noreturn]] inline void throw_python_error() { throw PythonErrorSet{}; }

// Thrown by a conversion for a value it refuses (a negative position, say): the boundary raises
// ValueError with the message, which convert_argument first prefixes with the argument's name.
struct ArgumentValueError {
    std::string message;
};

// Takes over the new reference a C-API call returned; a null result means it failed.
inline PyRef checked(PyObject* new_reference) {
    if (new_reference == nullptr) {
        throw_python_error();
    }
    return PyRef::steal(new_reference);
}

// For C-API calls that report failure with -1.
inline int checked_status(int status) {
    if (status == -1) {
        throw_python_error();
    }
    return status;
}

// The pending exception, normalised and with its traceback attached, taken out of the error
// indicator; empty when none is pending.
PyRef fetch_pending_exception();

// Makes exception (a normalised exception instance) the pending exception again.
void restore_pending_exception(PyRef exception);

// Sets a Python exception of the given class with one argument, the message. Never throws; if
// the message cannot be made, the exception of that failure is set instead.
inline void set_python_error(PyObject* exception_class, const std::string& message) noexcept {
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(
        message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) {
        PyErr_SetObject(exception_class, text.get());
    }
}

// Sets ValueError with the message and throws PythonErrorSet for the boundary.
[[noreturn]] void raise_value_error(const std::string& message);

}  // namespace tavrin::bindings
