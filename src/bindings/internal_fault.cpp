#include "bindings/internal_fault.hpp"

#include <Python.h>

#include "bindings/created_once.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

constexpr const char* internal_fault_doc =
    "A failed internal assertion of tavrin.\n"
    "\n"
    "Raised instead of ending the process when the library finds its own invariants broken.\n"
    "Derives directly from BaseException, so ``except Exception`` does not catch it.";

// Borrowed; the class lives for the rest of the process. Throws PythonErrorSet when it
// cannot be created.
PyObject* internal_fault_class() {
    static CreatedOnce<PyObject*> fault_class;
    return fault_class.get([] {
        return checked(PyErr_NewExceptionWithDoc("tavrin.InternalFault", internal_fault_doc,
                                                 PyExc_BaseException, nullptr))
            .release();
    });
}

std::string text_of(PyObject* exception) {
    PyRef text = checked(PyObject_Str(exception));
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
    if (utf8 == nullptr) {
        throw_python_error();
    }
    return utf8;
}

}  // namespace

void raise_internal_fault(const std::string& message) noexcept {
    try {
        set_python_error(internal_fault_class(), message);
    } catch (...) {
        // The class could not be made: the exception of that failure is pending.
        if (!PyErr_Occurred()) PyErr_NoMemory();
    }
}

void throw_internal_fault_from_pending(const std::string& summary) {
    PyRef cause = fetch_pending_exception();
    if (!cause) {
        raise_internal_fault(summary);
        throw_python_error();
    }
    raise_internal_fault(summary + ": " + text_of(cause.get()));
    PyRef fault = fetch_pending_exception();
    PyException_SetCause(fault.get(), cause.release());  // takes over the reference
    restore_pending_exception(std::move(fault));
    throw_python_error();
}

}  // namespace tavrin::bindings
