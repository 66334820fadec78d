// Where the time of the block operations goes, counted for the whole process: the symbols
// their plans are made of, and the loops over blocks that do the arithmetic.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tavrin::blocks {

struct BlockTimings {
    std::uint64_t symbol_nanoseconds = 0;
    std::uint64_t block_loop_nanoseconds = 0;
};

enum class TimedWork { Symbols, BlockLoop };

BlockTimings block_timings();
void reset_block_timings();
void add_block_time(TimedWork work, std::uint64_t nanoseconds);

// Adds the time from its making to its end to one kind of work.
class TimedSection {
public:
    explicit TimedSection(TimedWork work)
        : work_(work), start_(std::chrono::steady_clock::now()) {}
    ~TimedSection() {
        const auto elapsed = std::chrono::steady_clock::now() - start_;
        add_block_time(work_, static_cast<std::uint64_t>(
                                  std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed)
                                      .count()));
    }
    TimedSection(const TimedSection&) = delete;
    TimedSection& operator=(const TimedSection&) = delete;

private:
    TimedWork work_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace tavrin::blocks
