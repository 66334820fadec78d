// The key of a block plan: the structure of the legs involved (directions and spins, never the
// multiplicities), so that a plan serves every tensor of the same spins.
#pragma once

#include <cstdint>
#include <span>

#include "blocks/leg.hpp"
#include "symbols/plan_memo.hpp"

namespace tavrin::blocks {

// The number of legs, then for each its direction, its number of sectors and their spins.
inline void append_legs_to_key(PlanKey& key, std::span<const Leg> legs) {
    key.push_back(static_cast<std::int64_t>(legs.size()));
    for (const Leg& leg : legs) {
        key.push_back(leg.direction().code());
        key.push_back(static_cast<std::int64_t>(leg.sector_count()));
        for (const Sector& sector : leg.sectors()) key.push_back(sector.twice_j);
    }
}

template <class Integer>
void append_positions_to_key(PlanKey& key, std::span<const Integer> positions) {
    key.push_back(static_cast<std::int64_t>(positions.size()));
    for (const Integer p : positions) key.push_back(static_cast<std::int64_t>(p));
}

}  // namespace tavrin::blocks
