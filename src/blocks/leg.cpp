#include "blocks/leg.hpp"

#include <algorithm>
#include <string>

namespace tavrin::blocks {

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
        offset += sectors_[i].multiplicity * static_cast<std::uint64_t>(sectors_[i].twice_j + 1);
    }
    return offset;
}

std::uint64_t Leg::dense_dimension() const { return dense_offset(sectors_.size()); }

}  // namespace tavrin::blocks
