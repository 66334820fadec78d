// The SU(2) coupling rule on doubled spins.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrin {

// The doubled spins contained in the product of spins a/2 and b/2 run from `low` to `high`
// in steps of 2 (min(a, b) + 1 of them). 64-bit because a + b can leave the 32-bit range.
struct CouplingBounds {
    std::int64_t low;
    std::int64_t high;
};

inline CouplingBounds coupling_bounds(std::int64_t a, std::int64_t b) {
    return {a > b ? a - b : b - a, a + b};
}

// |a - b|, |a - b| + 2, ..., a + b.
std::vector<std::int64_t> coupling_range(std::int64_t a, std::int64_t b);

// True when c is in coupling_range(a, b) (triangle and parity rule), decided without the list.
inline bool couples(std::int64_t a, std::int64_t b, std::int64_t c) {
    const CouplingBounds bounds = coupling_bounds(a, b);
    return c >= bounds.low && c <= bounds.high && (a + b - c) % 2 == 0;
}

}  // namespace tavrin
