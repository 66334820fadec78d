#include "coupling/coupling_rule.hpp"

#include <algorithm>

namespace tavrin {

std::vector<std::int64_t> coupling_range(std::int64_t a, std::int64_t b) {
    const CouplingBounds bounds = coupling_bounds(a, b);
    std::vector<std::int64_t> range;
    range.reserve(static_cast<std::size_t>(std::min(a, b) + 1));
    for (std::int64_t k = bounds.low; k <= bounds.high; k += 2) {
        range.push_back(k);
    }
    return range;
}

}  // namespace tavrin
