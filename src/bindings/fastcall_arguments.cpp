#include "bindings/fastcall_arguments.hpp"

#include <optional>
#include <string>
#include <vector>

#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

[[noreturn]] void raise_type_error(const std::string& message) {
    set_python_error(PyExc_TypeError, message);
    throw_python_error();
}

std::string quoted(const char* name) { return std::string("'") + name + "'"; }

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string name_list(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        }
        text += quoted(names[i]);
    }
    return text;
}

// "name()", as the messages name a function; made only for a message.
std::string called(const char* function_name) { return std::string(function_name) + "()"; }

void check_positional_count(Py_ssize_t nargs, std::size_t parameters, const char* func) {
    if (nargs > static_cast<Py_ssize_t>(parameters)) {
        raise_type_error(called(func) + " takes " + std::to_string(parameters) +
                         " positional arguments but " + std::to_string(nargs) +
                         (nargs == 1 ? " was" : " were") + " given");
    }
}

std::optional<std::size_t> parameter_index(PyObject* keyword,
                                           std::span<const char* const> names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, names[i]) == 0) {
            return i;
        }
    }
    return std::nullopt;
}

std::string keyword_text(PyObject* keyword) {
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, nullptr);
    if (utf8 == nullptr) {
        throw_python_error();
    }
    return utf8;
}

// Keywords are taken in the order given; the first one that names no parameter or a
// parameter already bound decides the error.
void bind_keywords(std::span<PyObject*> bound, PyObject* const* values, PyObject* kwnames,
                   std::span<const char* const> names, const char* func) {
    const Py_ssize_t count = PyTuple_Size(kwnames);
    if (count < 0) {
        throw_python_error();
    }
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* keyword = PyTuple_GetItem(kwnames, k);  // borrowed
        if (keyword == nullptr) {
            throw_python_error();
        }
        const std::optional<std::size_t> index = parameter_index(keyword, names);
        if (!index) {
            raise_type_error(called(func) + " got an unexpected keyword argument '" +
                             keyword_text(keyword) + "'");
        }
        if (bound[*index] != nullptr) {
            raise_type_error(called(func) + " got multiple values for argument " +
                             quoted(names[*index]));
        }
        bound[*index] = values[k];
    }
}

void check_required_bound(std::span<PyObject*> bound, std::span<const char* const> names,
                          std::size_t required, const char* func) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < required; ++i) {
        if (bound[i] == nullptr) {
            missing.push_back(names[i]);
        }
    }
    if (!missing.empty()) {
        raise_type_error(called(func) + " missing " + std::to_string(missing.size()) +
                         " required positional argument" + (missing.size() > 1 ? "s" : "") +
                         ": " + name_list(missing));
    }
}

}  // namespace

void bind_fastcall_arguments(std::span<PyObject*> bound, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames, const char* function_name,
                             std::span<const char* const> names, std::size_t required) {
    check_positional_count(nargs, required, function_name);
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        bound[static_cast<std::size_t>(i)] = args[i];
    }
    if (kwnames != nullptr) {
        bind_keywords(bound, args + nargs, kwnames, names, function_name);
    }
    check_required_bound(bound, names, required, function_name);
}

}  // namespace tavrin::bindings
