#include "bindings/boundary.hpp"

namespace tavrin::bindings {

namespace {

constexpr const char* internal_fault_doc =
    "A failed internal assertion of tavrin.\n"
    "\n"
    "Raised instead of ending the process when the library finds its own invariants broken.\n"
    "Derives directly from BaseException, so ``except Exception`` does not catch it.";

// Borrowed; created on first call and kept for the rest of the process. Null with an
// exception set when it cannot be created.
PyObject* internal_fault_class() noexcept {
    static PyObject* cached = nullptr;
    if (cached == nullptr) {
        PyObject* created = PyErr_NewExceptionWithDoc("tavrin.InternalFault", internal_fault_doc,
                                                      PyExc_BaseException, nullptr);
        if (cached == nullptr) {
            cached = created;
        } else {
            Py_XDECREF(created);
        }
    }
    return cached;
}

}  // namespace

void raise_internal_fault(const std::string& message) noexcept {
    PyObject* exception_class = internal_fault_class();
    if (exception_class != nullptr) {
        set_python_error(exception_class, message);
    }
}

}  // namespace tavrin::bindings
