// Wigner 6j symbols {j1 j2 j3; j4 j5 j6} from doubled spins, evaluated exactly and rounded once.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The same value through a process-wide memo (one of the process-wide stores: at most its
// bound in bytes, the least recently used symbol out first). Safe to call from any thread.
double wigner_6j(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6);

inline constexpr const char* kSixJMemoName = "wigner_6j";
inline constexpr const char* kSixJMemoBytesVariable = "TAVRIN_WIGNER_6J_BYTES";
inline constexpr std::uint64_t kDefaultSixJMemoBytes = std::uint64_t{64} << 20;
ProcessStore& six_j_memo_store();

}  // namespace tavrin
