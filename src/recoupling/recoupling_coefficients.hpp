// The coefficients of the fusion-tree moves, from 6j symbols and phases (doubled spins).
#pragma once

#include <cstdint>

namespace tavrin::recoupling {

// (-1)^(x/2) for an even doubled exponent x.
double sign_of_half(std::int64_t twice_exponent);

// <(a b)e, c; K | a, (b c)f; K> = (-1)^(a+b+c+K) sqrt((2e+1)(2f+1)) {a b e; c K f}.
double associator(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t big_k,
                  std::int32_t e, std::int32_t f);

// <(a c)e', b; K | (a b)e, c; K>: the coefficient of the tree with b and c exchanged,
// (-1)^(b+c+e+e') sqrt((2e+1)(2e'+1)) {a b e; K c e'}.
double exchange_coefficient(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t big_k,
                            std::int32_t e, std::int32_t e_new);

// Exchanging the two legs of the first vertex: (-1)^(j0 + j1 - k1).
double first_vertex_exchange_phase(std::int32_t s0, std::int32_t s1, std::int32_t k1);

}  // namespace tavrin::recoupling
