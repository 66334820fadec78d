// Binding the arguments of a method call to its parameters and naming failed conversions.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "bindings/python_error.hpp"

namespace tavrin::bindings {

// Binds args and kwargs to the named parameters, all required, positionally or by keyword;
// CPython's own TypeError for missing, surplus or unknown arguments. Returns borrowed handles.
template <std::size_t N>
std::array<PyObject*, N> bind_arguments(PyObject* args, PyObject* kwargs,
                                        const char* function_name,
                                        const std::array<const char*, N>& names) {
    const std::string format = std::string(N, 'O') + ":" + function_name;
    std::array<char*, N + 1> keywords{};  // null-terminated
    for (std::size_t i = 0; i < N; ++i) {
        keywords[i] = const_cast<char*>(names[i]);
    }
    std::array<PyObject*, N> bound{};
    const int parsed = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return PyArg_ParseTupleAndKeywords(args, kwargs, format.c_str(), keywords.data(),
                                           &bound[I]...);
    }(std::make_index_sequence<N>{});
    if (parsed == 0) {
        throw_python_error();
    }
    return bound;
}

// Replaces a pending TypeError by a new TypeError "argument '{name}': {message}" that takes
// over the old one's cause; leaves any other pending exception as it is.
void name_argument_in_type_error(const char* name);

// Converts one argument. A TypeError or an ArgumentValueError of the conversion is re-raised
// naming the argument; any other failure (e.g. OverflowError) passes unchanged.
template <class Convert>
decltype(auto) convert_argument(const char* name, PyObject* argument, Convert&& convert) {
    try {
        return std::forward<Convert>(convert)(argument);
    } catch (const PythonErrorSet&) {
        name_argument_in_type_error(name);
        throw;
    } catch (ArgumentValueError& error) {
        error.message = std::string("argument '") + name + "': " + error.message;
        throw;
    }
}

}  // namespace tavrin::bindings
