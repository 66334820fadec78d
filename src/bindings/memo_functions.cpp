// The module functions memo_info, clear_memos and set_memo_bound, and the MemoInfo record.
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/boundary.hpp"
#include "bindings/call_environment.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/memo_docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slots.hpp"
#include "bindings/to_python.hpp"
#include "support/process_store.hpp"

namespace tavrin::bindings {

namespace {

constexpr const char* kMemoInfoName = "MemoInfo";

std::string memo_names() {
    std::string names;
    for (const ProcessStore* store : process_stores()) {
        names += (names.empty() ? "'" : ", '") + store->name() + "'";
    }
    return names;
}

PyObject* memo_info_function(PyObject* module, PyObject*) {
    return guarded_object([&] {
        (void)follow_call_environment();
        PyRef record = checked(PyObject_GetAttrString(module, kMemoInfoName));
        PyRef result = checked(PyDict_New());
        for (ProcessStore* store : process_stores()) {
            const StoreStatistics s = store->statistics();
            PyRef info = checked(PyObject_CallFunctionObjArgs(
                record.get(), to_python(s.hits).get(), to_python(s.misses).get(),
                to_python(s.bytes).get(), to_python(s.bound).get(), nullptr));
            checked_status(PyDict_SetItemString(result.get(), store->name().c_str(), info.get()));
        }
        return result;
    });
}

PyObject* clear_memos_function(PyObject*, PyObject*) {
    return guarded_object([&] {
        (void)follow_call_environment();
        for (ProcessStore* store : process_stores()) store->clear();
        return PyRef::borrow(Py_None);
    });
}

std::string to_store_name(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        PyRef type_name = checked(PyType_GetQualName(Py_TYPE(object)));
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'str'",
                     type_name.get());
        throw_python_error();
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) throw_python_error();
    return {text, static_cast<std::size_t>(size)};
}

std::uint64_t to_byte_count(PyObject* object) {
    PyRef integer = checked(PyNumber_Index(object));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw_python_error();
    if (overflow < 0 || (overflow == 0 && value < 0)) {
        throw ArgumentValueError{"a bound is at least 0 bytes"};
    }
    if (overflow > 0) {
        const unsigned long long large = PyLong_AsUnsignedLongLong(integer.get());
        if (large == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
            throw_python_error();
        }
        return large;
    }
    return static_cast<std::uint64_t>(value);
}

PyObject* set_memo_bound_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return guarded_object([&] {
        const auto [name, nbytes] = bind_fastcall_arguments<2>(args, nargs, kwnames,
                                                               "set_memo_bound",
                                                               {"name", "nbytes"});
        const std::string store_name = convert_argument("name", name, to_store_name);
        const std::uint64_t bound = convert_argument("nbytes", nbytes, to_byte_count);
        (void)follow_call_environment();
        ProcessStore* store = find_process_store(store_name);
        if (store == nullptr) {
            raise_value_error("no memo is named '" + store_name + "'; the memos are " +
                              memo_names());
        }
        store->set_bound(bound);
        return PyRef::borrow(Py_None);
    });
}

PyMethodDef memo_info_method = {"memo_info", as_method(memo_info_function), METH_NOARGS,
                                docs::memo_info};
PyMethodDef clear_memos_method = {"clear_memos", as_method(clear_memos_function), METH_NOARGS,
                                  docs::clear_memos};
PyMethodDef set_memo_bound_method = {"set_memo_bound", as_method(set_memo_bound_function),
                                     METH_FASTCALL | METH_KEYWORDS, docs::set_memo_bound};

}  // namespace

PyMethodDef& memo_info_definition() { return memo_info_method; }
PyMethodDef& clear_memos_definition() { return clear_memos_method; }
PyMethodDef& set_memo_bound_definition() { return set_memo_bound_method; }

void add_memo_info_type(PyObject* module) {
    PyRef collections = checked(PyImport_ImportModule("collections"));
    PyRef record = checked(PyObject_CallMethod(collections.get(), "namedtuple", "s(ssss)",
                                               kMemoInfoName, "hits", "misses", "bytes",
                                               "bound"));
    checked_status(PyObject_SetAttrString(record.get(), "__module__",
                                          to_python(std::string_view("tavrin")).get()));
    checked_status(PyObject_SetAttrString(
        record.get(), "__doc__",
        to_python(std::string_view("The use of one process-wide memo: hits and misses since it "
                                   "was last emptied, bytes held and bound in bytes."))
            .get()));
    checked_status(PyModule_AddObjectRef(module, kMemoInfoName, record.get()));
}

}  // namespace tavrin::bindings
