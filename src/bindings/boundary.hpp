// The single boundary between C++ and CPython: no C++ exception gets past it.
#pragma once

#include <Python.h>

#include <exception>
#include <expected>
#include <new>
#include <string>
#include <utility>

#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"
#include "core/error.hpp"
#include "support/assertion.hpp"

namespace tavrin::bindings {

// The Python exception each C++ exception stands for:
//   PythonErrorSet    -> the exception already set
//   TavrinError       -> ValueError or RuntimeError with its Python message
//   ArgumentValueError -> ValueError with its message
//   AssertionFailure  -> InternalFault with the assertion text
//   std::bad_alloc    -> MemoryError
//   other std::exception -> InternalFault
void set_python_error_for(const PythonErrorSet&) noexcept;
void set_python_error_for(const TavrinError& error) noexcept;
void set_python_error_for(const ArgumentValueError& error) noexcept;
void set_python_error_for(const AssertionFailure& failure) noexcept;
void set_python_error_for(const std::bad_alloc&) noexcept;
void set_python_error_for(const std::exception& error) noexcept;

// Sets the Python exception a library error stands for: ValueError or RuntimeError with its
// Python message.
void set_library_error(const TavrinError& error) noexcept;

// Runs body and returns its result; if body throws, calls handle with the exception inside its
// handler (where `throw;` passes it on) and returns what handle returns.
//
// The clauses name the root of every exception type thrown in the tree instead of catching
// everything: while the interpreter finalises, CPython ends a thread that asks for the
// interpreter lock with pthread_exit, and that forced unwinding must pass through every frame
// to the thread's start with cleanups only. (libstdc++ lets a `catch (...)` rethrow it; libc++abi,
// the runtime of the wheels, cannot, and would end the process.) For the same reason nothing
// between an entry point and a call that takes the interpreter lock back may be noexcept.
template <class Body, class Handle>
auto on_exception(Body&& body, Handle&& handle) -> decltype(std::forward<Body>(body)()) {
    try {
        return std::forward<Body>(body)();
    } catch (const PythonErrorSet& error) {
        return handle(error);
    } catch (const TavrinError& error) {
        return handle(error);
    } catch (const ArgumentValueError& error) {
        return handle(error);
    } catch (const AssertionFailure& failure) {
        return handle(failure);
    } catch (const std::bad_alloc& error) {
        return handle(error);
    } catch (const std::exception& error) {
        return handle(error);
    }
}

// Runs body and returns its result; if body throws, sets the matching Python exception and
// returns on_error. Every entry point from CPython goes through here.
template <class R, class Body>
R guarded(R on_error, Body&& body) {
    return on_exception(std::forward<Body>(body), [&](const auto& error) -> R {
        set_python_error_for(error);
        return on_error;
    });
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
