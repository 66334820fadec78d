// The cache tool's private view of the cache: the function _cache_database_path and the
// string _cache_table_statement.
#include <string>

#include "bindings/boundary.hpp"
#include "bindings/call_environment.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slots.hpp"
#include "cache/basis_cache.hpp"

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

void add_cache_table_statement(PyObject* module) {
    PyRef statement = checked(PyUnicode_FromStringAndSize(
        kCacheTableStatement.data(), static_cast<Py_ssize_t>(kCacheTableStatement.size())));
    checked_status(PyModule_AddObjectRef(module, "_cache_table_statement", statement.get()));
}

}  // namespace tavrin::bindings
