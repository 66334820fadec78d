#include "support/process_mutex.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace tavrin {

// Every ProcessMutex alive, in the order they were made, and the handlers fork() runs.
struct ForkHandlers {
    std::mutex registry_lock;
    std::vector<ProcessMutex*> mutexes;

    static ForkHandlers& instance() {
        // Never destroyed: fork() may run while the process ends.
        static ForkHandlers* const handlers = [] {
            auto* made = new ForkHandlers;
            if (::pthread_atfork(&before_fork, &in_parent, &in_child) != 0) std::abort();
            return made;
        }();
        return *handlers;
    }

    static void before_fork() {
        ForkHandlers& handlers = instance();
        handlers.registry_lock.lock();
        for (ProcessMutex* mutex : handlers.mutexes) mutex->mutex_.lock();
    }
    static void in_parent() {
        ForkHandlers& handlers = instance();
        for (auto it = handlers.mutexes.rbegin(); it != handlers.mutexes.rend(); ++it) {
            (*it)->mutex_.unlock();
        }
        handlers.registry_lock.unlock();
    }
    // The child has only the thread that forked, which holds every mutex: the same thread
    // releases them.
    static void in_child() {
        ForkHandlers& handlers = instance();
        for (ProcessMutex* mutex : handlers.mutexes) {
            if (mutex->in_child_) mutex->in_child_();
        }
        for (auto it = handlers.mutexes.rbegin(); it != handlers.mutexes.rend(); ++it) {
            (*it)->mutex_.unlock();
        }
        handlers.registry_lock.unlock();
    }
};

ProcessMutex::ProcessMutex(std::function<void()> in_child) : in_child_(std::move(in_child)) {
    ForkHandlers& handlers = ForkHandlers::instance();
    const std::lock_guard guard(handlers.registry_lock);
    handlers.mutexes.push_back(this);
}

ProcessMutex::~ProcessMutex() {
    ForkHandlers& handlers = ForkHandlers::instance();
    const std::lock_guard guard(handlers.registry_lock);
    std::erase(handlers.mutexes, this);
}

}  // namespace tavrin
