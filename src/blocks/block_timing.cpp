#include "blocks/block_timing.hpp"

namespace tavrin::blocks {

namespace {
std::atomic<std::uint64_t> symbol_time{0};
std::atomic<std::uint64_t> block_loop_time{0};
}  // namespace

BlockTimings block_timings() {
    return {symbol_time.load(std::memory_order_relaxed),
            block_loop_time.load(std::memory_order_relaxed)};
}

void reset_block_timings() {
    symbol_time.store(0, std::memory_order_relaxed);
    block_loop_time.store(0, std::memory_order_relaxed);
}

void add_block_time(TimedWork work, std::uint64_t nanoseconds) {
    (work == TimedWork::Symbols ? symbol_time : block_loop_time)
        .fetch_add(nanoseconds, std::memory_order_relaxed);
}

}  // namespace tavrin::blocks
