// Pairs of edges of the same direction. Summing a magnetic index shared by two incoming (or two
// outgoing) edges is not an invariant contraction, so such pairs cannot be removed by a singlet
// contraction. Their magnetic sums are made here, over the pairs alone: either left open as legs
// placed after the legs of the result, pair by pair (only the tree part in which the result's
// legs couple to 0 contributes to the symbol; the other parts are orthogonal to every invariant
// of the result), or nested between A's and B's rearranged trees, where only the invariant part
// of what the pairs leave between A and B -- its trace, by Schur's lemma -- reaches C.
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

// How a pair's magnetic numbers meet: m_B = m_A, or (for opposite directions) the time reversal
// on the outgoing edge's side: sum_m (-1)^(j-m) x_(-m) y_m with A's edge outgoing,
// sum_m x_m (-1)^(j-m) y_(-m) with B's.
enum class Pairing { SameDirection, ReversedOnA, ReversedOnB };

struct NestedPair {
    std::int32_t spin;  // doubled
    Pairing pairing;
};

// The pairs (P_k, Q_1), (P_(k-1), Q_2), ..., (P_1, Q_k) between the tree of A's legs
// [..., K, P_1, ..., P_k] and the tree of B's legs [Q_1, ..., Q_k, ...], given innermost first:
// A's chain g_0 = K, g_1, ..., g_k = 0 (g_u the internal spin after P_u) and B's chain
// h_0 = Q_1, h_1, ..., h_(k-1) (h_t after Q_(t+1)), all doubled. The magnetic sum over the pairs
// leaves a matrix M between the magnetic numbers of g_0 and of h_(k-1); the result is
// tr M / (2K + 1), zero unless h_(k-1) = K: what the pairs give the X-symbol entry that joins
// these two paths. Summed pair by pair over the running magnetic numbers of both chains.
double nested_pairs_weight(std::span<const NestedPair> inner_first,
                           std::span<const std::int32_t> g, std::span<const std::int32_t> h);

}  // namespace tavrin::recoupling
