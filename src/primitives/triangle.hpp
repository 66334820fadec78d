// The SU(2) coupling rule on doubled spins.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrin {

// The doubled spins contained in the product of spins a/2 and b/2:
// |a - b|, |a - b| + 2, ..., a + b (min(a, b) + 1 entries). Values are 64-bit because a + b
// can leave the 32-bit range.
std::vector<std::int64_t> coupling_range(std::int64_t a, std::int64_t b);

// True when c is in coupling_range(a, b), decided without building the list.
bool couples(std::int64_t a, std::int64_t b, std::int64_t c);

}  // namespace tavrin
