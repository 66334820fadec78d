#include "blocks/leg.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace tavrin::blocks {

namespace {

// The states of a sector on the dense axis, multiplicity * (2j + 1), and the sum of them over a
// leg: empty beyond 2^63 - 1, the largest length an axis of a tensor can have.
std::optional<std::uint64_t> sector_states(const Sector& sector) {
    std::uint64_t states = 0;
    const std::uint64_t dimension = static_cast<std::uint64_t>(sector.twice_j) + 1;
    if (__builtin_mul_overflow(sector.multiplicity, dimension, &states)) {
        return std::nullopt;
    }
    return states;
}

bool fits_an_axis(const std::vector<Sector>& sectors) {
    constexpr auto kLongestAxis =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t total = 0;
    for (const Sector& sector : sectors) {
        const auto states = sector_states(sector);
        if (!states || __builtin_add_overflow(total, *states, &total) || total > kLongestAxis) {
            return false;
        }
    }
    return true;
}

}  // namespace

Result<Leg> Leg::create(Direction direction, std::vector<Sector> sectors) {
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        if (sectors[i].twice_j < 0) {
            return fail(TavrinError::invalid_spin(sectors[i].twice_j));
        }
        if (sectors[i].multiplicity == 0) {
            return fail(TavrinError::invalid_block_tensor(
                "the sector of spin 2j = " + std::to_string(sectors[i].twice_j) +
                " has multiplicity 0"));
        }
        if (i > 0 && sectors[i].twice_j <= sectors[i - 1].twice_j) {
            return fail(TavrinError::invalid_block_tensor(
                "the sectors of a leg are listed in ascending spin, each spin once; got 2j = " +
                std::to_string(sectors[i].twice_j) + " after 2j = " +
                std::to_string(sectors[i - 1].twice_j)));
        }
    }
    if (!fits_an_axis(sectors)) {
        return fail(TavrinError::invalid_block_tensor(
            "the leg's dense dimension, the sum of multiplicity * (2j + 1) over its sectors, "
            "exceeds 2^63 - 1"));
    }
    return Leg(direction, std::move(sectors));
}

std::optional<std::size_t> Leg::find(std::int32_t twice_j) const {
    const auto at = std::ranges::lower_bound(sectors_, twice_j, {}, &Sector::twice_j);
    if (at == sectors_.end() || at->twice_j != twice_j) return std::nullopt;
    return static_cast<std::size_t>(at - sectors_.begin());
}

std::uint64_t Leg::dense_offset(std::size_t sector) const {
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < sector; ++i) {
        offset += *sector_states(sectors_[i]);  // checked when the leg was made
    }
    return offset;
}

std::uint64_t Leg::dense_dimension() const { return dense_offset(sectors_.size()); }

}  // namespace tavrin::blocks
