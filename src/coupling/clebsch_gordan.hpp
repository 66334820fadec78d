// Real SU(2) Clebsch-Gordan coefficients <j1 m1; j2 m2 | J M> (Condon-Shortley phases) from
// doubled quantum numbers, memoised process-wide.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrin {

// Coefficients whose largest factorial argument, j1 + j2 + J + 1, is at most this value are
// evaluated by Racah's formula in double precision; larger ones exactly (see clebsch_gordan.cpp).
inline constexpr std::int64_t kDoubleFactorialLimit = 20;

// <two_j1/2 two_m1/2; two_j2/2 two_m2/2 | two_j/2 two_m/2>. Callers guarantee non-negative
// doubled spins and magnetic numbers of the parity of their spin; |m| > j gives zero.
// Never fails; safe to call from any thread.
double clebsch_gordan(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                      std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m);

// The coefficient rounded to the nearest double, for callers that want the value itself rather
// than the pinned evaluation the bases are built from: 0.0 where a selection rule fails or a
// magnetic number exceeds its spin; otherwise the exact evaluation, through the memo where the
// memo already holds exact values (largest factorial argument above kDoubleFactorialLimit).
// Same preconditions as clebsch_gordan.
double clebsch_gordan_correctly_rounded(std::int32_t two_j1, std::int32_t two_m1,
                                        std::int32_t two_j2, std::int32_t two_m2,
                                        std::int32_t two_j, std::int32_t two_m);

// The number of coefficients memoised so far.
std::size_t cg_memo_size();

// The memo keeps at most this many coefficients (about 256 MiB); later ones are computed again
// whenever they are asked for, with the same values.
inline constexpr std::size_t kCgMemoCapacity = std::size_t{1} << 22;

// Racah's formula in double precision with its fixed order of operations, without memo,
// selection rules or the exact fallback. Meaningful only while j1 + j2 + J + 1 stays small.
double clebsch_gordan_racah_double(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                                   std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m);

}  // namespace tavrin
