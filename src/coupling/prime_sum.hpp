// Alternating sums of ratios of factorials in the fixed-width exact evaluation: the terms'
// prime exponents share a common part, and what remains of each term is a natural number.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "coupling/factorial_primes.hpp"
#include "coupling/fixed_natural.hpp"
#include "coupling/prime_root_rounding.hpp"

namespace tavrin {

// sign * magnitude * prod_i p_i^common[i]
struct PrimeSum {
    PrimeExponents common{};
    FixedNatural magnitude;
    int sign = 0;
};

// sum_{t = first}^{last} (-1)^t prod_i p_i^e_t[i], where term(t, e) adds e_t to the zero
// vector e (count entries, a multiple of the block). common is the entrywise minimum of the
// e_t, so every term divided by it is a natural number. False when a term does not fit
// FixedNatural.
template <class Term>
[[nodiscard]] bool alternating_prime_sum(std::int64_t first, std::int64_t last,
                                         std::size_t count, Term&& term, PrimeSum& out) {
    // The vectors of the first terms are kept for the second pass; later ones are recomputed.
    constexpr std::int64_t kKeptTerms = 24;
    std::array<PrimeExponents, kKeptTerms> kept;
    const auto vector_of = [&](std::int64_t t, PrimeExponents& scratch) -> PrimeExponents& {
        PrimeExponents& e = t - first < kKeptTerms ? kept[static_cast<std::size_t>(t - first)]
                                                   : scratch;
        std::fill_n(e.begin(), count, 0);
        term(t, e);
        return e;
    };
    PrimeExponents scratch;
    std::fill_n(out.common.begin(), count, std::numeric_limits<std::int32_t>::max());
    for (std::int64_t t = first; t <= last; ++t) {
        const PrimeExponents& e = vector_of(t, scratch);
        for (std::size_t i = 0; i < count; ++i) out.common[i] = std::min(out.common[i], e[i]);
    }
    SignedSum sum;
    for (std::int64_t t = first; t <= last; ++t) {
        PrimeExponents& e = t - first < kKeptTerms ? kept[static_cast<std::size_t>(t - first)]
                                                   : vector_of(t, scratch);
        for (std::size_t i = 0; i < count; ++i) e[i] -= out.common[i];
        FixedNatural value(1);
        if (!multiply_by_prime_powers(value, e, count) || !sum.add(value, t % 2 != 0)) {
            return false;
        }
    }
    out.sign = sum.take(out.magnitude);
    return true;
}

}  // namespace tavrin
