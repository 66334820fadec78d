#include "support/physical_memory.hpp"

#include <unistd.h>

#include <limits>

namespace tavrin {

namespace {

std::uint64_t read_physical_memory() noexcept {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_bytes = sysconf(_SC_PAGESIZE);
    std::uint64_t bytes = 0;
    if (pages <= 0 || page_bytes <= 0 ||
        __builtin_mul_overflow(static_cast<std::uint64_t>(pages),
                               static_cast<std::uint64_t>(page_bytes), &bytes)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return bytes;
}

}  // namespace

std::uint64_t physical_memory_bytes() noexcept {
    static const std::uint64_t bytes = read_physical_memory();
    return bytes;
}

}  // namespace tavrin
