#include "primitives/triangle.hpp"

#include <algorithm>

namespace tavrin {

namespace {
std::int64_t abs_difference(std::int64_t a, std::int64_t b) { return a > b ? a - b : b - a; }
}  // namespace

std::vector<std::int64_t> coupling_range(std::int64_t a, std::int64_t b) {
    std::vector<std::int64_t> range;
    range.reserve(static_cast<std::size_t>(std::min(a, b) + 1));
    for (std::int64_t k = abs_difference(a, b); k <= a + b; k += 2) {
        range.push_back(k);
    }
    return range;
}

bool couples(std::int64_t a, std::int64_t b, std::int64_t c) {
    return c >= abs_difference(a, b) && c <= a + b && (a + b - c) % 2 == 0;
}

}  // namespace tavrin
