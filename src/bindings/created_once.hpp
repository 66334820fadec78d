// A process-wide value made once, by exactly one thread, on first need.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

namespace tavrin::bindings {

// The first caller makes the value; a caller arriving while it is being made waits with the
// interpreter lock released (making it may run Python code that lets other threads in). A
// failed attempt (make throws) leaves nothing behind and the next caller tries again. The
// value lives for the rest of the process: Python objects kept here are never released. Call
// with the interpreter lock held.
template <class T>
class CreatedOnce {
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
    std::mutex mutex_;
    std::optional<T> value_;
    std::atomic<bool> ready_{false};
};

}  // namespace tavrin::bindings
