#include "bindings/arguments.hpp"

#include "bindings/py_ref.hpp"

namespace tavrin::bindings {

namespace {

// The pending exception, normalised, taken out of the error indicator.
struct FetchedException {
    PyRef type;
    PyRef value;
    PyRef traceback;
};

FetchedException fetch_exception() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    return {PyRef::steal(type), PyRef::steal(value), PyRef::steal(traceback)};
}

}  // namespace

void name_argument_in_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
        return;
    }
    const FetchedException original = fetch_exception();
    PyRef message = checked(PyObject_Str(original.value.get()));
    PyRef named_message = checked(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    PyRef renamed =
        checked(PyObject_CallFunctionObjArgs(PyExc_TypeError, named_message.get(), nullptr));
    if (PyObject* cause = PyException_GetCause(original.value.get())) {
        PyException_SetCause(renamed.get(), cause);  // takes over the reference
    }
    PyErr_SetObject(PyExc_TypeError, renamed.get());
}

}  // namespace tavrin::bindings
