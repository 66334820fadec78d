#include "bindings/warnings.hpp"

#include <Python.h>

#include "bindings/python_error.hpp"

namespace tavrin::bindings {

void report_warnings(const std::vector<Warning>& warnings) {
    for (const Warning& warning : warnings) {
        checked_status(PyErr_WarnEx(PyExc_RuntimeWarning, warning.message.c_str(), 1));
    }
}

}  // namespace tavrin::bindings
