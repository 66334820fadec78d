#include "core/call_context.hpp"

namespace tavrin {

bool CallContext::should_stop() {
    if (stopped_ || !stop_requested_) return stopped_;
    const auto now = std::chrono::steady_clock::now();
    if (wait_first_) {
        wait_first_ = false;
        next_check_ = now + kStopCheckInterval;
        return false;
    }
    if (now < next_check_) return false;
    next_check_ = now + kStopCheckInterval;
    stopped_ = stop_requested_();
    return stopped_;
}

}  // namespace tavrin
