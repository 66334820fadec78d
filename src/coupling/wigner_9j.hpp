// Wigner 9j symbols {j1 j2 j3; j4 j5 j6; j7 j8 j9} from doubled spins, exact and rounded once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tavrin {

using NineSpins = std::array<std::int32_t, 9>;  // doubled, row by row

// True when the triads of every row and every column satisfy the coupling rule. Arguments
// must be non-negative.
bool nine_j_triads_hold(const NineSpins& two_j);

// The 9j symbol rounded to the nearest double (ties to even), from its sum over products of
// three 6j symbols evaluated exactly; 0.0 when a triad fails. Arguments must be non-negative.
double wigner_9j_exact(const NineSpins& two_j);

// The two evaluations behind it, for symbols whose triads hold: the fixed-width one (nothing
// where its integers do not suffice or the value is not a normal double) and the GMP one.
std::optional<double> wigner_9j_fixed_width(const NineSpins& two_j);
double wigner_9j_gmp(const NineSpins& two_j);

// The same value through a process-wide memo (one of the process-wide stores: at most its bound
// in bytes, the least recently used symbol out first); safe from any thread.
double wigner_9j(const NineSpins& two_j);

// The memo of 9j symbols, one of the process-wide stores.
inline constexpr const char* kNineJMemoName = "wigner_9j";
inline constexpr const char* kNineJMemoBytesVariable = "TAVRIN_WIGNER_9J_BYTES";
inline constexpr std::uint64_t kDefaultNineJMemoBytes = std::uint64_t{64} << 20;

}  // namespace tavrin
