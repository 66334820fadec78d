// Pairs of edges of the same direction. Summing a magnetic index shared by two incoming (or two
// outgoing) edges is not an invariant contraction, so such pairs cannot be removed by a singlet
// contraction. They are left open as legs placed after the legs of the result, pair by pair;
// only the tree part in which the result's legs couple to 0 contributes to the symbol (the
// other parts are orthogonal to every invariant of the result), and that part carries the weight
// computed here.
#pragma once

#include <cstdint>
#include <span>

namespace tavrin::recoupling {

// The all-incoming tree of the open legs (the chain of doubled spins k(-1) = 0, k0, ...,
// k(2p-1) = 0 after each open leg; legs 2t and 2t + 1 have the spin pair_spins[t]) summed over
// magnetic numbers with both legs of every pair at the same value:
//   sum over m_0 ... m_(p-1) of T[m_0, m_0, m_1, m_1, ...].
// A short recursion over the running magnetic number of the chain: p pairs of spin j cost
// O(p (2j+1) * width of the running number), with no sum over the 2p legs independently.
double same_direction_weight(std::span<const std::int32_t> pair_spins,
                             std::span<const std::int32_t> chain);

}  // namespace tavrin::recoupling
