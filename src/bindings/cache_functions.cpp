// The private module function _cache_database_path.
#include <string>

#include "bindings/boundary.hpp"
#include "bindings/call_environment.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slots.hpp"

namespace tavrin::bindings {

namespace {

PyObject* cache_database_path_function(PyObject*, PyObject*) {
    return guarded_object([] {
        const std::string path = *follow_call_environment();
        return checked(
            PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
    });
}

PyMethodDef cache_database_path_method = {"_cache_database_path",
                                          as_method(cache_database_path_function), METH_NOARGS,
                                          docs::cache_database_path};

}  // namespace

PyMethodDef& cache_database_path_definition() { return cache_database_path_method; }

}  // namespace tavrin::bindings
