// A leg of a block tensor: a direction and the spins it carries, each with a multiplicity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/error.hpp"
#include "core/spin.hpp"

namespace tavrin::blocks {

// One spin 2j of a leg and how many multiplets of it the leg holds.
struct Sector {
    std::int32_t twice_j;
    std::uint64_t multiplicity;
    friend bool operator==(const Sector&, const Sector&) = default;
};

class Leg {
public:
    // Sectors in ascending spin, each spin once, every multiplicity at least 1, and a dense
    // dimension of at most 2^63 - 1; otherwise InvalidBlockTensor (a negative spin is
    // InvalidSpin).
    static Result<Leg> create(Direction direction, std::vector<Sector> sectors);

    Direction direction() const { return direction_; }
    const std::vector<Sector>& sectors() const { return sectors_; }
    std::size_t sector_count() const { return sectors_.size(); }
    std::int32_t twice_j(std::size_t sector) const { return sectors_[sector].twice_j; }
    std::uint64_t multiplicity(std::size_t sector) const { return sectors_[sector].multiplicity; }

    // The position of the sector of spin 2j, if the leg has one.
    std::optional<std::size_t> find(std::int32_t twice_j) const;

    // The dense axis: sectors in order, within a sector multiplet after multiplet, within a
    // multiplet m = -j ... j. Its length and where each sector starts on it.
    std::uint64_t dense_dimension() const;
    std::uint64_t dense_offset(std::size_t sector) const;

    Leg flipped() const { return Leg(direction_.flip(), sectors_); }
    Leg with_direction(Direction direction) const { return Leg(direction, sectors_); }

    friend bool operator==(const Leg&, const Leg&) = default;

private:
    Leg(Direction direction, std::vector<Sector> sectors)
        : direction_(direction), sectors_(std::move(sectors)) {}

    Direction direction_;
    std::vector<Sector> sectors_;
};

// The same spins and multiplicities: the condition for adding tensors or pairing legs.
inline bool same_sectors(const Leg& a, const Leg& b) { return a.sectors() == b.sectors(); }

}  // namespace tavrin::blocks
