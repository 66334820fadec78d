// A process-wide value made once, by exactly one thread, on first need.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

namespace tavrin::bindings {

// What every CreatedOnce shares: its lock, and whether the value is ready. A child made by
// fork() while another thread was making a value (its lock held, the interpreter lock let go)
// would wait for that thread for ever: in the child, the lock of every value not yet made is
// made afresh, and the child makes the value itself.
class CreatedOnceState {
protected:
    CreatedOnceState();
    CreatedOnceState(const CreatedOnceState&) = delete;
    CreatedOnceState& operator=(const CreatedOnceState&) = delete;

    std::mutex mutex_;
    std::atomic<bool> ready_{false};

private:
    static void renew_locks_in_child();
};

// The first caller makes the value; a caller arriving while it is being made waits with the
// interpreter lock released (making it may run Python code that lets other threads in). A
// failed attempt (make throws) leaves nothing behind and the next caller tries again. The
// value lives for the rest of the process: Python objects kept here are never released. Call
// with the interpreter lock held.
template <class T>
class CreatedOnce : private CreatedOnceState {
public:
    template <class Make>
    const T& get(Make&& make) {
        if (ready_.load(std::memory_order_acquire)) {
            return *value_;
        }
        std::unique_lock lock(mutex_, std::defer_lock);
        {
            PyThreadState* state = PyEval_SaveThread();
            lock.lock();
            PyEval_RestoreThread(state);
        }
        if (!ready_.load(std::memory_order_relaxed)) {
            value_.emplace(std::forward<Make>(make)());
            ready_.store(true, std::memory_order_release);
        }
        return *value_;
    }

private:
    std::optional<T> value_;
};

}  // namespace tavrin::bindings
