#include "bindings/created_once.hpp"

#include <pthread.h>

#include <cstdlib>
#include <new>
#include <vector>

namespace tavrin::bindings {
namespace {

// Every value of the process; made with the interpreter lock held, so never two at once.
std::vector<CreatedOnceState*>& all_values() {
    static auto* const values = new std::vector<CreatedOnceState*>;  // never destroyed
    return *values;
}

}  // namespace

CreatedOnceState::CreatedOnceState() {
    static const bool registered =
        ::pthread_atfork(nullptr, nullptr, &CreatedOnceState::renew_locks_in_child) == 0;
    if (!registered) std::abort();
    all_values().push_back(this);
}

void CreatedOnceState::renew_locks_in_child() {
    for (CreatedOnceState* value : all_values()) {
        if (!value->ready_.load(std::memory_order_relaxed)) {
            new (&value->mutex_) std::mutex;
        }
    }
}

}  // namespace tavrin::bindings
