#include "bindings/boundary.hpp"

#include <exception>
#include <new>

#include "bindings/internal_fault.hpp"
#include "core/error.hpp"
#include "support/assertion.hpp"

namespace tavrin::bindings {

void set_library_error(const TavrinError& error) noexcept {
    PyObject* exception_class = error.is_value_error() ? PyExc_ValueError : PyExc_RuntimeError;
    try {
        set_python_error(exception_class, error.python_message());
    } catch (...) {
        PyErr_NoMemory();  // only building the message can fail
    }
}

void set_python_error_for(const PythonErrorSet&) noexcept {
    if (!PyErr_Occurred()) {
        raise_internal_fault("a failed Python call left no exception set");
    }
}

void set_python_error_for(const TavrinError& error) noexcept { set_library_error(error); }

void set_python_error_for(const ArgumentValueError& error) noexcept {
    set_python_error(PyExc_ValueError, error.message);
}

void set_python_error_for(const AssertionFailure& failure) noexcept {
    raise_internal_fault(failure.message);
}

void set_python_error_for(const std::bad_alloc&) noexcept { PyErr_NoMemory(); }

void set_python_error_for(const std::exception& error) noexcept {
    try {
        raise_internal_fault(std::string("unexpected C++ exception: ") + error.what());
    } catch (...) {
        PyErr_NoMemory();  // only building the message can fail
    }
}

}  // namespace tavrin::bindings
