#include "symbols/magnetic_blocks.hpp"

#include <utility>

#include "support/assertion.hpp"

namespace tavrin {

ConservingTuples::ConservingTuples(std::vector<Leg> legs, std::optional<FixedIndex> fixed)
    : legs_(std::move(legs)), fixed_(fixed), reach_(legs_.size() + 1, 0),
      indices_(legs_.size(), 0) {
    for (std::size_t k = legs_.size(); k-- > 0;) {
        reach_[k] = reach_[k + 1] + legs_[k].twice_spin;
    }
    check_invariant(!fixed_ || (fixed_->leg < legs_.size() &&
                                fixed_->index <= static_cast<std::uint32_t>(
                                                     legs_[fixed_->leg].twice_spin)),
                    "fixed magnetic index within its leg");
}

std::pair<std::uint32_t, std::uint32_t> ConservingTuples::index_range(std::size_t leg) const {
    if (fixed_ && fixed_->leg == leg) {
        return {fixed_->index, fixed_->index};
    }
    return {0, static_cast<std::uint32_t>(legs_[leg].twice_spin)};
}

PhasedBasis::PhasedBasis(const Tensor& canonical, const CGSpec& spec)
    : data_(canonical.data().data()), om_(spec.om_dimension()) {
    const std::size_t n = spec.num_external();
    check_invariant(canonical.rank() == n + 1 && canonical.shape()[n] == om_,
                    "canonical basis matches its specification");
    legs_.reserve(n);
    for (const Edge& edge : spec.edges()) {
        legs_.push_back(Leg{edge.j.twice(), edge.is_incoming() ? 1 : -1});
    }
    first_.reserve(n);
    std::size_t index_count = 0;
    for (const Leg& leg : legs_) {
        index_count += static_cast<std::size_t>(leg.twice_spin) + 1;
    }
    indices_.reserve(index_count);
    std::vector<std::uint64_t> strides(n, 0);
    std::uint64_t stride = om_;
    for (std::size_t k = n; k-- > 0;) {
        strides[k] = stride;
        stride *= canonical.shape()[k];
    }
    for (std::size_t k = 0; k < n; ++k) {
        const bool reversed = spec.edges()[k].is_incoming() != (k + 1 < n);
        const auto twice = static_cast<std::uint32_t>(legs_[k].twice_spin);
        first_.push_back(indices_.size());
        for (std::uint32_t i = 0; i <= twice; ++i) {
            const std::uint32_t stored = reversed ? twice - i : i;
            indices_.push_back(StoredIndex{strides[k] * stored, reversed && stored % 2 != 0});
        }
    }
}

}  // namespace tavrin
