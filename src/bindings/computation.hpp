// Running one library computation for an entry point: the call context it carries, the
// interpreter lock released while it runs, Ctrl-C, the warnings it reports afterwards, and its
// result or error.
#pragma once

#include <Python.h>

#include <optional>
#include <type_traits>
#include <utility>

#include "bindings/boundary.hpp"
#include "bindings/call_environment.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"
#include "bindings/warnings.hpp"
#include "core/call_context.hpp"

namespace tavrin::bindings {

// The interpreter lock released by `release` and taken back by `restore`, and taken again
// briefly by `with_lock` in between. Other Python threads run meanwhile; the library's own
// locks guard its shared state, and none of them is held while the interpreter lock is awaited.
//
// No destructor takes the lock back and nothing here is noexcept: while the interpreter
// finalises, CPython ends a thread that asks for the lock with pthread_exit, and the forced
// unwinding must reach the thread's start (a destructor is noexcept, and one run while another
// exception unwinds would end the process either way).
class InterpreterLock {
public:
    void release() { state_ = PyEval_SaveThread(); }
    void restore() { PyEval_RestoreThread(state_); }

    // Runs body (noexcept) with the interpreter lock held.
    template <class Body>
    auto with_lock(Body&& body) {
        static_assert(std::is_nothrow_invocable_v<Body>);
        PyEval_RestoreThread(state_);
        auto result = std::forward<Body>(body)();
        state_ = PyEval_SaveThread();
        return result;
    }

private:
    PyThreadState* state_ = nullptr;
};

// Calls compute(context) with the interpreter lock released. The context names the cache
// database the caller's environment gives, read once here (see follow_call_environment). Its
// stop request (asked at most every CallContext::kStopCheckInterval) takes the lock back for a
// moment and runs the signal handlers: a handler's exception (KeyboardInterrupt on Ctrl-C) is
// kept and the computation told to stop; it then returns Interrupted without storing anything
// half-built, and the kept exception is raised. Otherwise the warnings the computation
// collected are reported as Python warnings and the value of its result returned; its error
// is thrown for the boundary. compute must not touch Python objects.
//
// cheap(context) is offered the call first, with the interpreter lock still held: when it can
// finish at once (nothing to wait for: a lookup in a memo, say) it keeps what it found where
// its caller will look and returns true; the lock is then never given up and nothing is
// returned here. Otherwise it returns false, and compute(context) runs as above. cheap must
// not wait, touch Python objects or warn.
template <class Cheap, class Compute>
auto run_computation_unless(Cheap&& cheap, Compute&& compute)
    -> std::optional<typename std::invoke_result_t<Compute, CallContext&>::value_type> {
    // A signal that arrived before the call is handled before any work; the computation is
    // asked again only after the interval.
    if (PyErr_CheckSignals() != 0) {
        throw_python_error();
    }
    PyRef signal_exception;
    InterpreterLock lock;
    CallContext context(
        [&] {
            return lock.with_lock([&]() noexcept {
                if (PyErr_CheckSignals() == 0) return false;
                signal_exception = fetch_pending_exception();
                return true;
            });
        },
        CallContext::AfterAnInterval{});
    context.set_cache_database(follow_call_environment());
    if (std::forward<Cheap>(cheap)(context)) return std::nullopt;
    lock.release();
    // A C++ exception takes the lock back on its way out; a thread being ended unwinds past
    // on_exception's handlers and must not take it again.
    using Outcome = decltype(std::forward<Compute>(compute)(context));
    auto outcome = on_exception([&] { return std::forward<Compute>(compute)(context); },
                                [&](const auto&) -> Outcome {
                                    lock.restore();
                                    throw;
                                });
    lock.restore();
    if (signal_exception) {
        // Raised even if the computation got to its end: the interrupt is not lost.
        restore_pending_exception(std::move(signal_exception));
        throw_python_error();
    }
    report_warnings(context.warnings());
    return take(std::move(outcome));
}

// Without a cheap way out: compute's value.
template <class Compute>
auto run_computation(Compute&& compute) {
    return *run_computation_unless([](CallContext&) { return false; },
                                   std::forward<Compute>(compute));
}

}  // namespace tavrin::bindings
