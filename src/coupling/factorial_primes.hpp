// Factorials as products of primes: n! = prod_i p_i^e_i(n) for n up to kFactorialTableLimit,
// the arithmetic of the coefficients' fixed-width exact evaluation. A ratio of factorials is a
// vector of (possibly negative) exponents; multiplying ratios adds vectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrin {

inline constexpr std::int64_t kFactorialTableLimit = 400;
inline constexpr std::size_t kTablePrimeCount = 78;  // the primes up to 400
// Vectors are processed in blocks of this many entries, so that the loops vectorise.
inline constexpr std::size_t kExponentBlock = 8;
inline constexpr std::size_t kExponentSlots = 80;  // kTablePrimeCount rounded up to blocks

// prod_i p_i^e[i] over the table's primes, p_0 = 2. A computation whose factorials stay at or
// below n uses only the first exponent_count(n) entries: a whole number of blocks, the entries
// past the primes up to n being zero in every factorial.
using PrimeExponents = std::array<std::int32_t, kExponentSlots>;

namespace factorial_primes_detail {
extern const std::array<std::uint32_t, kExponentSlots> primes;
extern const std::array<std::uint8_t, kFactorialTableLimit + 1> primes_up_to;
extern const std::array<std::array<std::int16_t, kExponentSlots>, kFactorialTableLimit + 1>
    factorial_exponents;
}  // namespace factorial_primes_detail

// The i-th prime for i < kTablePrimeCount, 1 past it (a factor that changes nothing).
inline std::uint32_t table_prime(std::size_t i) { return factorial_primes_detail::primes[i]; }

// The number of primes p <= n, for 0 <= n <= kFactorialTableLimit.
inline std::size_t primes_up_to(std::int64_t n) {
    return factorial_primes_detail::primes_up_to[static_cast<std::size_t>(n)];
}

// The entries of a vector that factorials up to n! use: primes_up_to(n) rounded up to blocks.
inline std::size_t exponent_count(std::int64_t n) {
    return (primes_up_to(n) + kExponentBlock - 1) / kExponentBlock * kExponentBlock;
}

// e += sign * (the exponents of n!) over the first `count` entries (a multiple of the block),
// 0 <= n <= the table's limit, sign +1 or -1 (added or subtracted: SSE2 has no 32-bit
// multiplication, and these loops must vectorise).
inline void add_factorial(PrimeExponents& e, std::int64_t n, std::int32_t sign,
                          std::size_t count) {
    const std::int16_t* row =
        factorial_primes_detail::factorial_exponents[static_cast<std::size_t>(n)].data();
    std::int32_t* out = e.data();
    const std::size_t blocks = count / kExponentBlock;
    if (sign > 0) {
        for (std::size_t i = 0; i < blocks * kExponentBlock; ++i) out[i] += row[i];
    } else {
        for (std::size_t i = 0; i < blocks * kExponentBlock; ++i) out[i] -= row[i];
    }
}

// The exponents of the integer n = n! / (n-1)!, 1 <= n <= the table's limit.
inline void add_integer(PrimeExponents& e, std::int64_t n, std::int32_t sign,
                        std::size_t count) {
    add_factorial(e, n, sign, count);
    add_factorial(e, n - 1, -sign, count);
}

}  // namespace tavrin
