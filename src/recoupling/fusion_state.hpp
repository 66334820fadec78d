// Invariant tensors written in the basis of all-incoming left-associative fusion trees coupled
// to total spin 0, and the moves of the fusion-tree algebra on them: exchanging two adjacent
// legs, contracting two adjacent legs into a singlet. No magnetic number appears anywhere.
//
// A tree on legs of doubled spins s0 ... s(n-1) (n >= 2) is labelled by its path: the doubled
// internal spins k1 ... k(n-2), where k(i) couples k(i-1) with leg i (k0 = s0), and the tree is
// completed by coupling k(n-2) with the last leg to 0. These are exactly the OM configurations
// of the spins. A state holds W column vectors at once, each a sparse combination of paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/call_context.hpp"
#include "core/error.hpp"

namespace tavrin::recoupling {

using Path = std::vector<std::int32_t>;

struct PathHash {
    std::size_t operator()(const Path& path) const noexcept;
};

// One path's coefficients: (column, value) pairs, columns ascending and distinct.
using SparseRow = std::vector<std::pair<std::size_t, double>>;

class FusionState {
public:
    // Legs with their doubled spins and caller-chosen labels (used to find legs again after
    // moves). Starts with no rows.
    FusionState(std::vector<std::int32_t> spins, std::vector<std::size_t> labels);

    // Adds value to the coefficient of path in column.
    void add(const Path& path, std::size_t column, double value);

    // Exchanges the legs at positions i and i + 1: the same tensors, rewritten in the tree basis
    // of the new leg order.
    Status exchange(std::size_t i, CallContext& context);

    // Moves the leg at position from to position to by adjacent exchanges.
    Status move_leg(std::size_t from, std::size_t to, CallContext& context);

    // Brings the legs into the order of the given labels (a permutation of the current ones).
    Status arrange(std::span<const std::size_t> labels, CallContext& context);

    // Contracts the legs at positions i and i + 1 (equal spins) with the singlet: sums
    // <j m1 j m2 | 0 0> T[..., m1, m2, ...] over both magnetic numbers. Both legs disappear.
    Status contract_singlet(std::size_t i, CallContext& context);

    std::size_t position_of(std::size_t label) const;
    const std::vector<std::int32_t>& spins() const { return spins_; }
    const std::unordered_map<Path, SparseRow, PathHash>& rows() const { return rows_; }

private:
    std::vector<std::int32_t> spins_;
    std::vector<std::size_t> labels_;
    std::unordered_map<Path, SparseRow, PathHash> rows_;
};

// The path extended by its two ends: [s0, k1, ..., k(n-2), 0].
std::vector<std::int32_t> extended_path(const Path& path, std::span<const std::int32_t> spins);

}  // namespace tavrin::recoupling
