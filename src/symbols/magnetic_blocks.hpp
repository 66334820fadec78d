// The block structure of canonical bases: a basis is non-zero only where the magnetic numbers
// are conserved (sum of sign * m over the edges is 0, sign +1 incoming, -1 outgoing), and a
// basis of any directions is read from the canonical-pattern storage by index reversal and sign.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "specs/cg_spec.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

struct Leg {
    std::int32_t twice_spin;
    std::int32_t sign;  // +1 incoming, -1 outgoing
};

// Leg `leg` (a position in the list handed to the enumeration) takes only this index.
struct FixedIndex {
    std::size_t leg;
    std::uint32_t index;
};

// Calls visit(indices) for every index tuple of the legs (index i of a leg of doubled spin s
// stands for 2m = 2i - s) with sum of sign * 2m equal to 0, in lexicographic order, until visit
// returns false. Returns false when the walk was stopped so.
class ConservingTuples {
public:
    ConservingTuples(std::vector<Leg> legs, std::optional<FixedIndex> fixed);

    template <class Visit>
    bool for_each(Visit&& visit) {
        if (legs_.empty()) {
            return visit(std::span<const std::uint32_t>(indices_));
        }
        return descend(0, 0, visit);
    }

private:
    std::pair<std::uint32_t, std::uint32_t> index_range(std::size_t leg) const;

    template <class Visit>
    bool descend(std::size_t leg, std::int64_t charge, Visit& visit) {
        const Leg& l = legs_[leg];
        if (leg + 1 == legs_.size()) {
            // The last leg's index is determined by the charge of the others.
            const std::int64_t twice_index = l.twice_spin - l.sign * charge;
            if (twice_index < 0 || twice_index % 2 != 0) {
                return true;
            }
            const auto i = static_cast<std::uint32_t>(twice_index / 2);
            const auto [low, high] = index_range(leg);
            if (i < low || i > high) {
                return true;
            }
            indices_[leg] = i;
            return visit(std::span<const std::uint32_t>(indices_));
        }
        const auto [low, high] = index_range(leg);
        for (std::uint32_t i = low; i <= high; ++i) {
            const std::int64_t next =
                charge + l.sign * (2 * static_cast<std::int64_t>(i) - l.twice_spin);
            if (next > reach_[leg + 1] || next < -reach_[leg + 1]) {
                continue;
            }
            indices_[leg] = i;
            if (!descend(leg + 1, next, visit)) {
                return false;
            }
        }
        return true;
    }

    std::vector<Leg> legs_;
    std::optional<FixedIndex> fixed_;
    std::vector<std::int64_t> reach_;  // largest |charge| the legs from k on can cancel
    std::vector<std::uint32_t> indices_;
};

// A canonical basis of some directions as read from the canonical-pattern storage B0:
// B[..., i, ..., a] = (-1)^(s - i) B0[..., s - i, ..., a] on every edge whose direction differs
// from the canonical pattern, without making the phased copy.
class PhasedBasis {
public:
    PhasedBasis(const Tensor& canonical, const CGSpec& spec);

    std::uint64_t om() const { return om_; }
    Leg leg(std::size_t edge) const { return legs_[edge]; }
    const std::vector<Leg>& legs() const { return legs_; }
    const double* data() const { return data_; }

    // Offset (in doubles) of index i of the edge within B0, and whether it negates the entry.
    std::uint64_t offset(std::size_t edge, std::uint32_t i) const {
        return indices_[first_[edge] + i].offset;
    }
    bool negates(std::size_t edge, std::uint32_t i) const {
        return indices_[first_[edge] + i].negates;
    }

private:
    const double* data_;
    std::uint64_t om_;
    std::vector<Leg> legs_;
    // Per edge and index, looked up for every non-zero row: the offset and the sign.
    struct StoredIndex {
        std::uint64_t offset;
        bool negates;
    };
    std::vector<std::size_t> first_;
    std::vector<StoredIndex> indices_;
};

// A canonical-pattern basis and the CGSpec (directions included) it stands for.
struct BasisOperand {
    const Tensor& canonical;
    const CGSpec& spec;
};

}  // namespace tavrin
