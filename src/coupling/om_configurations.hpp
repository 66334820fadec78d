// Enumeration of the OM configurations of a left-associative fusion tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace tavrin {

// Configurations stored back to back, each max(n - 2, 0) doubled internal spins long.
struct OmConfigurations {
    std::vector<std::int32_t> flat;
    std::size_t count = 0;
};

// Bounds that keep a specification within memory; exceeding one is an InvalidCGTSpec.
inline constexpr std::size_t kMaxOmConfigurations = std::size_t{1} << 24;
inline constexpr std::size_t kMaxOmEntries = std::size_t{1} << 28;

// The configurations of the doubled spins, in ascending lexicographic order. Fails with
// InvalidCGTSpec when n >= 3 and the spins cannot couple to total spin 0, when an internal spin
// would leave the 32-bit range, or when the list would exceed the bounds above.
Result<OmConfigurations> enumerate_om_configurations(std::span<const std::int32_t> spins);

}  // namespace tavrin
