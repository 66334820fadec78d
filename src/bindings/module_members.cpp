#include "bindings/module_members.hpp"

#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

// The module's __all__ list, created empty if it does not exist yet. Returns a new reference.
PyRef all_list(PyObject* module) {
    PyObject* namespace_dict = PyModule_GetDict(module);  // borrowed
    if (namespace_dict == nullptr) {
        throw_python_error();
    }
    PyObject* existing = PyDict_GetItemString(namespace_dict, "__all__");  // borrowed
    if (existing != nullptr) {
        return PyRef::borrow(existing);
    }
    PyRef created = checked(PyList_New(0));
    checked_status(PyModule_AddObjectRef(module, "__all__", created.get()));
    return created;
}

void add_member(PyObject* module, const char* name, PyObject* member) {
    checked_status(PyModule_AddObjectRef(module, name, member));
    PyRef name_text = checked(PyUnicode_FromString(name));
    checked_status(PyList_Append(all_list(module).get(), name_text.get()));
}

PyRef bound_function(PyObject* module, PyMethodDef& definition) {
    PyRef module_name = checked(PyModule_GetNameObject(module));
    return checked(PyCMethod_New(&definition, module, module_name.get(), nullptr));
}

}  // namespace

void add_class(PyObject* module, const char* name, PyTypeObject* type) {
    add_member(module, name, reinterpret_cast<PyObject*>(type));
}

void add_function(PyObject* module, PyMethodDef& definition) {
    add_member(module, definition.ml_name, bound_function(module, definition).get());
}

void add_private_function(PyObject* module, PyMethodDef& definition) {
    checked_status(PyModule_AddObjectRef(module, definition.ml_name,
                                         bound_function(module, definition).get()));
}

}  // namespace tavrin::bindings
