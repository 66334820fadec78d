// Clebsch-Gordan coefficients computed exactly in integer arithmetic and rounded once.
#pragma once

#include <cstdint>
#include <optional>

namespace tavrin {

// What the exact evaluation rounds: the coefficient itself, or the coefficient divided by
// sqrt(2J + 1) and multiplied by the phase (-1)^(j1 - j2 + M), the 3j symbol
// (j1 j2 J; m1 m2 -M). The phase applies before the rounding, so an exact zero stays +0.0.
enum class CgValue { coefficient, three_j };

// <j1 m1; j2 m2 | J M> from doubled quantum numbers (or that over sqrt(2J + 1)), rounded to the
// nearest double (ties to even). Expects arguments that pass the selection rules (m1 + m2 = M,
// integral j1 + j2 + J, triangle rule) and magnetic numbers of the parity of their spin;
// |m| > j gives +0.0. Finite for every argument; values below the double range round to a
// signed zero. The fixed-width evaluation where it applies, the GMP one otherwise.
double clebsch_gordan_exact(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                            std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m,
                            CgValue value = CgValue::coefficient);

// The two evaluations behind it, same preconditions and results. The fixed-width one works on
// factorials up to kFactorialTableLimit with integers on the stack and gives nothing where
// they do not suffice (or the value is not a normal double); the GMP one has no bound.
std::optional<double> clebsch_gordan_fixed_width(std::int32_t two_j1, std::int32_t two_m1,
                                                 std::int32_t two_j2, std::int32_t two_m2,
                                                 std::int32_t two_j, std::int32_t two_m,
                                                 CgValue value);
double clebsch_gordan_gmp(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                          std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m,
                          CgValue value);

}  // namespace tavrin
