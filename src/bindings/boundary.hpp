// The single boundary between C++ and CPython: no C++ exception gets past it.
#pragma once

#include <Python.h>
#include <cxxabi.h>

#include <expected>
#include <string>
#include <utility>

#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"
#include "core/error.hpp"

namespace tavrin::bindings {

// Turns the C++ exception being handled into the Python exception it stands for:
//   PythonErrorSet    -> the exception already set
//   TavrinError       -> ValueError or RuntimeError with its Python message
//   AssertionFailure  -> InternalFault with the assertion text
//   std::bad_alloc    -> MemoryError
//   anything else     -> InternalFault
// Call only from inside a catch block.
void set_python_error_from_current_exception() noexcept;

// Sets the Python exception a library error stands for: ValueError or RuntimeError with its
// Python message.
void set_library_error(const TavrinError& error) noexcept;

// Runs body and returns its result; if body throws, sets the matching Python exception and
// returns on_error. Every entry point from CPython goes through here. (A library error is
// caught by its own clause: rethrowing it to classify it would unwind a second time.)
//
// Not noexcept, and neither may be anything between an entry point and a call that takes the
// interpreter lock back: while the interpreter finalises, CPython ends a thread that asks for
// the lock with pthread_exit, whose forced unwinding must pass through to the thread's start.
template <class R, class Body>
R guarded(R on_error, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (const TavrinError& error) {
        set_library_error(error);
        return on_error;
    } catch (...) {
        set_python_error_from_current_exception();
        return on_error;
    }
}

// For entry points returning an object: body returns a PyRef; the result is a new reference,
// or null with an exception set.
template <class Body>
PyObject* guarded_object(Body&& body) {
    return guarded<PyObject*>(nullptr, [&] { return std::forward<Body>(body)().release(); });
}

// The value of a library result as a new reference, or, for an error, an empty reference with
// the error's Python exception set (the boundary returns it as the failed call's null) -- for
// entry points whose errors are ordinary answers: a C++ throw costs microseconds to unwind.
template <class T, class E, class Convert>
PyRef value_or_library_error(std::expected<T, E>&& result, Convert&& convert) {
    if (!result) {
        set_library_error(result.error());
        return {};
    }
    return std::forward<Convert>(convert)(std::move(*result));
}

// The value of a library result; its error is thrown for the boundary to convert.
template <class T, class E>
T take(std::expected<T, E>&& result) {
    if (!result) {
        throw std::move(result).error();
    }
    return std::move(*result);
}

}  // namespace tavrin::bindings
