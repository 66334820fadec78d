// Clebsch-Gordan coefficients computed exactly in integer arithmetic and rounded once.
#pragma once

#include <cstdint>

namespace tavrin {

// <j1 m1; j2 m2 | J M> from doubled quantum numbers, rounded to the nearest double (ties to
// even). Expects arguments that pass the selection rules (m1 + m2 = M, integral j1 + j2 + J,
// triangle rule) and magnetic numbers of the parity of their spin; |m| > j gives +0.0.
// Finite for every argument; values below the double range round to a signed zero.
double clebsch_gordan_exact(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                            std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m);

}  // namespace tavrin
