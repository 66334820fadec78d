// Real SU(2) Clebsch-Gordan coefficients <j1 m1; j2 m2 | J M> (Condon-Shortley phases) from
// doubled quantum numbers, memoised process-wide.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/process_store.hpp"

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
// memo already holds exact values (largest factorial argument above kDoubleFactorialLimit) and
// through a memo of its own below. Same preconditions as clebsch_gordan.
double clebsch_gordan_correctly_rounded(std::int32_t two_j1, std::int32_t two_m1,
                                        std::int32_t two_j2, std::int32_t two_m2,
                                        std::int32_t two_j, std::int32_t two_m);

// The memo of coefficients, one of the process-wide stores: at most its bound in bytes, the
// least recently used coefficient out first (computed again, to the same bits, when asked for
// again).
inline constexpr const char* kClebschGordanMemoName = "clebsch_gordan";
inline constexpr const char* kClebschGordanMemoBytesVariable = "TAVRIN_CLEBSCH_GORDAN_BYTES";
inline constexpr std::uint64_t kDefaultClebschGordanMemoBytes = std::uint64_t{256} << 20;
ProcessStore& clebsch_gordan_memo();

// The memo of correctly rounded coefficients at and below kDoubleFactorialLimit, where they may
// differ from the pinned ones.
inline constexpr const char* kRoundedClebschGordanMemoName = "clebsch_gordan_rounded";
inline constexpr const char* kRoundedClebschGordanMemoBytesVariable =
    "TAVRIN_CLEBSCH_GORDAN_ROUNDED_BYTES";
inline constexpr std::uint64_t kDefaultRoundedClebschGordanMemoBytes = std::uint64_t{64} << 20;
ProcessStore& rounded_clebsch_gordan_memo();

// The number of coefficients memoised now.
std::size_t cg_memo_size();

// Racah's formula in double precision with its fixed order of operations, without memo,
// selection rules or the exact fallback. Meaningful only while j1 + j2 + J + 1 stays small.
double clebsch_gordan_racah_double(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                                   std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m);

}  // namespace tavrin
