// Wigner 3j symbols (j1 j2 j3; m1 m2 m3) from doubled quantum numbers, exact and rounded once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrin {

// The 3j symbol rounded to the nearest double (ties to even):
//   (j1 j2 j3; m1 m2 m3) = (-1)^(j1 - j2 - m3) <j1 m1; j2 m2 | j3 -m3> / sqrt(2 j3 + 1),
// 0.0 where m1 + m2 + m3 != 0, the triad (j1 j2 j3) fails or a magnetic number exceeds its
// spin. Callers guarantee non-negative doubled spins and magnetic numbers of the parity of
// their spin. Through a process-wide memo (one of the process-wide stores: at most its bound in
// bytes, the least recently used symbol out first); safe to call from any thread.
double wigner_3j(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_m1, std::int32_t two_m2, std::int32_t two_m3);

// The same without the memo.
double wigner_3j_exact(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                       std::int32_t two_m1, std::int32_t two_m2, std::int32_t two_m3);

// The memo of 3j symbols, one of the process-wide stores.
inline constexpr const char* kThreeJMemoName = "wigner_3j";
inline constexpr const char* kThreeJMemoBytesVariable = "TAVRIN_WIGNER_3J_BYTES";
inline constexpr std::uint64_t kDefaultThreeJMemoBytes = std::uint64_t{64} << 20;

}  // namespace tavrin
