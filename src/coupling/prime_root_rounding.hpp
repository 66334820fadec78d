// Rounding once the exact values of the fixed-width evaluation: sign * M * sqrt(prod p_i^e_i)
// with M a natural number and e a vector of prime exponents.
#pragma once

#include <cstddef>
#include <optional>

#include "coupling/factorial_primes.hpp"
#include "coupling/fixed_natural.hpp"

namespace tavrin {

// The nearest double (ties to even) to sign * magnitude * sqrt(prod_{i < count} p_i^e[i]), for
// a non-zero magnitude and a sign of +-1. Nothing when an intermediate integer does not fit
// FixedNatural or the value is not a normal double (the unbounded evaluation handles both).
std::optional<double> round_prime_root(int sign, const FixedNatural& magnitude,
                                       const PrimeExponents& e, std::size_t count);

// magnitude *= prod_{i < count} p_i^d[i] for non-negative d; false when it does not fit.
[[nodiscard]] bool multiply_by_prime_powers(FixedNatural& magnitude, const PrimeExponents& d,
                                            std::size_t count);

}  // namespace tavrin
