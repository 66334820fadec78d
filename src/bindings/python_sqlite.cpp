#include "bindings/python_sqlite.hpp"

#include <Python.h>
#include <dlfcn.h>

#include <optional>
#include <string>
#include <utility>

#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"
#include "cache/sqlite_library.hpp"

namespace tavrin::bindings {
namespace {

std::string utf8_of(PyObject* text) {
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, nullptr);
    if (utf8 == nullptr) throw_python_error();
    return utf8;
}

// "ModuleNotFoundError: No module named '_sqlite3'"; an exception that is not an Exception
// stays pending and is thrown on.
std::string take_ordinary_exception() {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw_python_error();
    PyRef exception = fetch_pending_exception();
    PyRef type_name =
        checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())),
                                       "__name__"));
    return utf8_of(type_name.get()) + ": " + utf8_of(checked(PyObject_Str(exception.get())).get());
}

// The file of the loaded extension module in the file system's encoding, or nothing for one
// built into the interpreter (no __file__, or not a string).
std::optional<std::string> file_of(PyObject* module) {
    PyRef file = PyRef::steal(PyObject_GetAttrString(module, "__file__"));
    if (!file) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
        PyErr_Clear();
        return std::nullopt;
    }
    if (!PyUnicode_Check(file.get())) return std::nullopt;
    PyRef encoded = checked(PyUnicode_EncodeFSDefault(file.get()));
    const char* bytes = PyBytes_AsString(encoded.get());
    if (bytes == nullptr) throw_python_error();
    return bytes;
}

void* function_in(void* handle, const char* name) { return ::dlsym(handle, name); }

SqliteLibrary find_pythons_sqlite() {
    PyRef module = PyRef::steal(PyImport_ImportModule("_sqlite3"));
    if (!module) {
        return std::unexpected("Python's sqlite3 module cannot be imported (" +
                               take_ordinary_exception() + ")");
    }
    const std::optional<std::string> file = file_of(module.get());
    // Already loaded by the import: RTLD_NOLOAD makes sure that nothing is loaded a second time.
    // Its handle's symbols include those of the libraries it links. A module built into the
    // interpreter has its functions among the program's.
    void* handle = file ? ::dlopen(file->c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)
                        : ::dlopen(nullptr, RTLD_NOW);
    const std::string library =
        "the SQLite of Python's sqlite3 module (" + (file ? *file : "built in") + ")";
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        return std::unexpected(library + " cannot be reached: " +
                               (reason != nullptr ? reason : "not loaded"));
    }
    // The handle is never closed: the functions stay in use until the process ends.
    return sqlite_library_from(&function_in, handle, library);
}

}  // namespace

void use_pythons_sqlite() { use_sqlite_library(find_pythons_sqlite()); }

}  // namespace tavrin::bindings
