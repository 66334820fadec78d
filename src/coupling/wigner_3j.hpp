// Wigner 3j symbols (j1 j2 j3; m1 m2 m3) from doubled quantum numbers, exact and rounded once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrin {

// The 3j symbol rounded to the nearest double (ties to even):
//   (j1 j2 j3; m1 m2 m3) = (-1)^(j1 - j2 - m3) <j1 m1; j2 m2 | j3 -m3> / sqrt(2 j3 + 1),
// 0.0 where m1 + m2 + m3 != 0, the triad (j1 j2 j3) fails or a magnetic number exceeds its
// spin. Callers guarantee non-negative doubled spins and magnetic numbers of the parity of
// their spin. Through a process-wide memo (its own lock, bounded like the 6j memo); safe to
// call from any thread.
double wigner_3j(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_m1, std::int32_t two_m2, std::int32_t two_m3);

// The same without the memo.
double wigner_3j_exact(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                       std::int32_t two_m1, std::int32_t two_m2, std::int32_t two_m3);

inline constexpr std::size_t kThreeJMemoCapacity = std::size_t{1} << 20;

}  // namespace tavrin
