// Wigner 6j symbols {j1 j2 j3; j4 j5 j6} from doubled spins, evaluated exactly and rounded once.
#pragma once

#include <gmp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "coupling/prime_sum.hpp"
#include "support/double_double.hpp"
#include "support/process_store.hpp"

namespace tavrin {

// True when the four triads (j1 j2 j3), (j1 j5 j6), (j4 j2 j6), (j4 j5 j3) each satisfy the
// coupling rule (triangle and integral sum). Arguments must be non-negative.
bool six_j_triads_hold(std::int64_t two_j1, std::int64_t two_j2, std::int64_t two_j3,
                       std::int64_t two_j4, std::int64_t two_j5, std::int64_t two_j6);

// The 6j symbol rounded to the nearest double (ties to even), from Racah's formula evaluated
// in exact rational arithmetic; 0.0 when a triad fails. Arguments must be non-negative.
double wigner_6j_exact(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                       std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6);

// The two evaluations behind wigner_6j_exact, for symbols whose triads hold. The fixed-width
// one works on factorials up to kFactorialTableLimit with integers on the stack and gives
// nothing where they do not suffice (or the value is not a normal double); the GMP one has no
// bound.
std::optional<double> wigner_6j_fixed_width(std::int32_t two_j1, std::int32_t two_j2,
                                            std::int32_t two_j3, std::int32_t two_j4,
                                            std::int32_t two_j5, std::int32_t two_j6);
double wigner_6j_gmp(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                     std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6);

// sqrt(scale) times the 6j symbol, evaluated exactly and rounded once to a double-double: high
// the nearest double, low what it leaves (see double_double_sqrt_of_quotient). Zero when a
// triad fails. For recoupling coefficients sqrt((2e+1)(2f+1)) {...}.
DoubleDouble scaled_wigner_6j_exact(std::uint64_t scale, std::int32_t two_j1,
                                    std::int32_t two_j2, std::int32_t two_j3,
                                    std::int32_t two_j4, std::int32_t two_j5,
                                    std::int32_t two_j6);

// The same value through a process-wide memo (one of the process-wide stores: at most its
// bound in bytes, the least recently used symbol out first). Safe to call from any thread.
double wigner_6j(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6);

// Racah's formula in parts, for the 9j symbol's sum of products of 6j symbols:
//   {j1 j2 j3; j4 j5 j6} = D(j1 j2 j3) D(j1 j5 j6) D(j4 j2 j6) D(j4 j5 j3) S(alpha, beta).
struct RacahSumBounds {
    std::array<std::int64_t, 4> alpha;  // the triad sums
    std::array<std::int64_t, 3> beta;   // the sums of two opposite pairs
    std::int64_t first() const;         // the range of the sum's index
    std::int64_t last() const;
    std::int64_t largest_factorial() const;
};
RacahSumBounds racah_sum_bounds(std::int64_t two_j1, std::int64_t two_j2, std::int64_t two_j3,
                                std::int64_t two_j4, std::int64_t two_j5, std::int64_t two_j6);

// e += sign * the exponents of D(a b c)^2, from doubled spins of a triad that holds.
void add_triad_delta_squared(PrimeExponents& e, std::int64_t two_a, std::int64_t two_b,
                             std::int64_t two_c, std::int32_t sign, std::size_t count);
// S with the fixed-width arithmetic; false when a term does not fit.
[[nodiscard]] bool racah_prime_sum(const RacahSumBounds& bounds, std::size_t count,
                                   PrimeSum& out);

// D(a b c)^2 and S as exact rationals.
void triad_delta_squared(std::int64_t two_a, std::int64_t two_b, std::int64_t two_c,
                         mpq_ptr out);
void racah_sum(const RacahSumBounds& bounds, mpq_ptr sum);

inline constexpr const char* kSixJMemoName = "wigner_6j";
inline constexpr const char* kSixJMemoBytesVariable = "TAVRIN_WIGNER_6J_BYTES";
inline constexpr std::uint64_t kDefaultSixJMemoBytes = std::uint64_t{64} << 20;
ProcessStore& six_j_memo_store();

}  // namespace tavrin
