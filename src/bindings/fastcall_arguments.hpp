// Binding the arguments of a module function called with CPython's fast call with keywords.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

namespace tavrin::bindings {

// Matches the positional arguments args[0 .. nargs) and the keyword arguments (names in
// kwnames, values after the positional ones) to the parameters. The first `required` names are
// required and may be given by position or keyword; the names after them are optional and
// keyword-only (their slots stay null when not given). Fills bound (all null on entry, one slot
// per name) with borrowed handles in parameter order. Throws PythonErrorSet with a TypeError for
// surplus positional arguments, an unknown keyword, a parameter given twice or missing required
// parameters; keywords are examined in the order given.
void bind_fastcall_arguments(std::span<PyObject*> bound, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames, const char* function_name,
                             std::span<const char* const> names, std::size_t required);

inline void bind_fastcall_arguments(std::span<PyObject*> bound, PyObject* const* args,
                                    Py_ssize_t nargs, PyObject* kwnames,
                                    const char* function_name,
                                    std::span<const char* const> names) {
    bind_fastcall_arguments(bound, args, nargs, kwnames, function_name, names, names.size());
}

template <std::size_t N>
std::array<PyObject*, N> bind_fastcall_arguments(PyObject* const* args, Py_ssize_t nargs,
                                                 PyObject* kwnames, const char* function_name,
                                                 const std::array<const char*, N>& names) {
    std::array<PyObject*, N> bound{};
    bind_fastcall_arguments(bound, args, nargs, kwnames, function_name, names);
    return bound;
}

// The required parameters in front, then the optional keyword-only ones.
template <std::size_t N>
std::array<PyObject*, N> bind_fastcall_arguments(PyObject* const* args, Py_ssize_t nargs,
                                                 PyObject* kwnames, const char* function_name,
                                                 const std::array<const char*, N>& names,
                                                 std::size_t required) {
    std::array<PyObject*, N> bound{};
    bind_fastcall_arguments(bound, args, nargs, kwnames, function_name, names, required);
    return bound;
}

}  // namespace tavrin::bindings
