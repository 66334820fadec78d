// The tables, computed when the library is compiled: the primes by sieve, the exponents of
// n! by Legendre's formula e_p(n!) = sum_k floor(n / p^k).
#include "coupling/factorial_primes.hpp"

namespace tavrin::factorial_primes_detail {
namespace {

constexpr std::size_t kLimit = static_cast<std::size_t>(kFactorialTableLimit);

constexpr std::array<bool, kLimit + 1> composite_table() {
    std::array<bool, kLimit + 1> composite{};
    composite[0] = composite[1] = true;
    for (std::size_t p = 2; p * p <= kLimit; ++p) {
        if (composite[p]) continue;
        for (std::size_t q = p * p; q <= kLimit; q += p) composite[q] = true;
    }
    return composite;
}

constexpr std::array<std::uint32_t, kExponentSlots> prime_table() {
    const auto composite = composite_table();
    std::array<std::uint32_t, kExponentSlots> out{};
    out.fill(1);
    std::size_t count = 0;
    for (std::size_t n = 2; n <= kLimit; ++n) {
        if (composite[n]) continue;
        if (count == kTablePrimeCount) throw "more primes than kTablePrimeCount";
        out[count++] = static_cast<std::uint32_t>(n);
    }
    if (count != kTablePrimeCount) throw "fewer primes than kTablePrimeCount";
    return out;
}

constexpr std::array<std::uint8_t, kLimit + 1> counting_table() {
    const auto composite = composite_table();
    std::array<std::uint8_t, kLimit + 1> out{};
    std::uint8_t count = 0;
    for (std::size_t n = 0; n <= kLimit; ++n) {
        if (!composite[n]) ++count;
        out[n] = count;
    }
    return out;
}

constexpr std::array<std::array<std::int16_t, kExponentSlots>, kLimit + 1> exponent_table() {
    const auto p = prime_table();
    std::array<std::array<std::int16_t, kExponentSlots>, kLimit + 1> out{};
    for (std::size_t n = 0; n <= kLimit; ++n) {
        for (std::size_t i = 0; i < kTablePrimeCount; ++i) {
            std::size_t e = 0;
            for (std::size_t power = p[i]; power <= n; power *= p[i]) e += n / power;
            out[n][i] = static_cast<std::int16_t>(e);
        }
    }
    return out;
}

}  // namespace

constexpr std::array<std::uint32_t, kExponentSlots> primes = prime_table();
constexpr std::array<std::uint8_t, kFactorialTableLimit + 1> primes_up_to = counting_table();
constexpr std::array<std::array<std::int16_t, kExponentSlots>, kFactorialTableLimit + 1>
    factorial_exponents = exponent_table();

}  // namespace tavrin::factorial_primes_detail
