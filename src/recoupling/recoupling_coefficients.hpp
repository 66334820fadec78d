// The coefficients of the fusion-tree moves, from 6j symbols and phases (doubled spins). Each is
// evaluated exactly and rounded once, to a double-double: high is the nearest double to the
// exact coefficient, low what high leaves of it.
#pragma once

#include <cstdint>

#include "support/double_double.hpp"

namespace tavrin::recoupling {

// (-1)^(x/2) for an even doubled exponent x.
double sign_of_half(std::int64_t twice_exponent);

// <(a c)e', b; K | (a b)e, c; K>: the coefficient of the tree with b and c exchanged,
// (-1)^(b+c+e+e') sqrt((2e+1)(2e'+1)) {a b e; K c e'}. Memoised process-wide.
DoubleDouble exchange_coefficient(std::int32_t a, std::int32_t b, std::int32_t c,
                                  std::int32_t big_k, std::int32_t e, std::int32_t e_new);

// Exchanging the two legs of the first vertex: (-1)^(j0 + j1 - k1).
double first_vertex_exchange_phase(std::int32_t s0, std::int32_t s1, std::int32_t k1);

// Two adjacent legs of spin s contracted into a singlet, where the internal spin before them is
// `before` (and comes back after them) and the one between them e, together with the pair's
// weight `reversal` * sqrt(2s + 1) (reversal +1 or -1):
//   reversal * sqrt(2s+1) * (-1)^(2 before + 2s) sqrt(2e+1) {before s e; s before 0}
//   = reversal * (-1)^(before + s + e + 2 before + 2s) sqrt((2e+1) / (2 before + 1)),
// spins halved in the exponents. For the first two legs (before = 0) it is reversal *
// sqrt(2s+1).
DoubleDouble singlet_weight(std::int32_t before, std::int32_t s, std::int32_t e,
                            double reversal);

// 1 / sqrt(2k + 1) for a doubled spin k.
DoubleDouble inverse_sqrt_dimension(std::int32_t k);

}  // namespace tavrin::recoupling
