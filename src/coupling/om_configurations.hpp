// Enumeration of the OM configurations of a left-associative fusion tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

// The configurations of the doubled spins, in ascending lexicographic order: one empty
// configuration for fewer than three edges. Fails with InvalidCGTSpec when two edges have
// different spins, when n >= 3 and the spins cannot couple to total spin 0, when an internal spin
// would leave the 32-bit range, or when the list would exceed the bounds above.
Result<OmConfigurations> enumerate_om_configurations(std::span<const std::int32_t> spins);

// The error of two edges of different spins (doubled spins a and b).
TavrinError two_edge_spin_mismatch(std::int32_t a, std::int32_t b);

// Whether edges of these doubled spins carry an invariant tensor (couple to total spin 0):
// their sum is even and no spin exceeds the sum of the others. True for no edges; for one edge
// only spin 0; for two edges only equal spins. Directions play no part.
bool admits_invariant(std::span<const std::int32_t> spins) noexcept;

// The number of invariant tensors of edges of these doubled spins: the number of configurations
// enumerate_om_configurations lists for two or more edges, 1 for no edge, and 1 or 0 for one
// edge (spin 0 or not). Counted without listing them, in O(n * w) for internal spins ranging
// over w values. Empty when the count does not fit 64 bits (count_invariants_decimal then gives
// it) or when an internal spin ranges over more than kMaxCountWidth values.
std::optional<std::uint64_t> count_invariants(std::span<const std::int32_t> spins);

// The same count in decimal, of any size; empty when the range of an internal spin is too wide.
std::optional<std::string> count_invariants_decimal(std::span<const std::int32_t> spins);

inline constexpr std::size_t kMaxCountWidth = std::size_t{1} << 21;

}  // namespace tavrin
