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

namespace {

void keep_python_error() noexcept {
    if (!PyErr_Occurred()) {
        raise_internal_fault("a failed Python call left no exception set");
    }
}

}  // namespace

void set_python_error_from_current_exception() noexcept {
    try {
        try {
            throw;
        } catch (const PythonErrorSet&) {
            keep_python_error();
        } catch (const TavrinError& error) {
            set_library_error(error);
        } catch (const ArgumentValueError& error) {
            set_python_error(PyExc_ValueError, error.message);
        } catch (const AssertionFailure& failure) {
            raise_internal_fault(failure.message);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& error) {
            raise_internal_fault(std::string("unexpected C++ exception: ") + error.what());
        } catch (...) {
            raise_internal_fault("unexpected C++ exception of unknown type");
        }
    } catch (...) {
        // Only building a message can fail here, and only for lack of memory.
        PyErr_NoMemory();
    }
}

}  // namespace tavrin::bindings
