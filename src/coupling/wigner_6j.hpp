// Wigner 6j symbols {j1 j2 j3; j4 j5 j6} from doubled spins, evaluated exactly and rounded once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/double_double.hpp"

namespace tavrin {

// True when the four triads (j1 j2 j3), (j1 j5 j6), (j4 j2 j6), (j4 j5 j3) each satisfy the
// coupling rule (triangle and integral sum). Arguments must be non-negative.
bool six_j_triads_hold(std::int64_t two_j1, std::int64_t two_j2, std::int64_t two_j3,
                       std::int64_t two_j4, std::int64_t two_j5, std::int64_t two_j6);

// The 6j symbol rounded to the nearest double (ties to even), from Racah's formula evaluated
// in exact rational arithmetic; 0.0 when a triad fails. Arguments must be non-negative.
double wigner_6j_exact(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                       std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6);

// sqrt(scale) times the 6j symbol, evaluated exactly and rounded once to a double-double: high
// the nearest double, low what it leaves (see double_double_sqrt_of_quotient). Zero when a
// triad fails. For recoupling coefficients sqrt((2e+1)(2f+1)) {...}.
DoubleDouble scaled_wigner_6j_exact(std::uint64_t scale, std::int32_t two_j1,
                                    std::int32_t two_j2, std::int32_t two_j3,
                                    std::int32_t two_j4, std::int32_t two_j5,
                                    std::int32_t two_j6);

// wigner_6j_exact through a process-wide memo (guarded by its own lock, bounded: once full,
// further values are computed without being kept). Safe to call from any thread.
double wigner_6j(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6);

inline constexpr std::size_t kSixJMemoCapacity = std::size_t{1} << 20;

}  // namespace tavrin
