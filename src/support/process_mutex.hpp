// The lock of a piece of process-wide state that a child made by fork() can use at once.
#pragma once

#include <functional>
#include <mutex>

namespace tavrin {

// A mutex that fork() never copies in a held state. Every ProcessMutex of the process is taken
// before fork() (in the order they were made) and released after it, in the parent and in the
// child, so that the child finds each guarded state as consistent as the parent left it and no
// lock held by a thread the child does not have. `in_child`, when given, runs in the child with
// the mutex still held, for state that must not cross into another process (a database
// connection, say).
//
// fork() therefore waits until every operation holding one of these mutexes has ended. A holder
// must never wait for anything a forking thread may hold (the interpreter lock, for one), and
// two of them must never be held at once except in the order they were made.
class ProcessMutex {
public:
    explicit ProcessMutex(std::function<void()> in_child = {});
    ~ProcessMutex();
    ProcessMutex(const ProcessMutex&) = delete;
    ProcessMutex& operator=(const ProcessMutex&) = delete;

    void lock() { mutex_.lock(); }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

private:
    friend struct ForkHandlers;
    std::mutex mutex_;
    std::function<void()> in_child_;
};

}  // namespace tavrin
