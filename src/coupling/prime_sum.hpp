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

// The ratio |term_{t+1} / term_t| of consecutive terms as two natural numbers below 2^64.
struct TermRatio {
    std::uint64_t numerator;
    std::uint64_t denominator;
};

// sum_{t = first}^{last} (-1)^t prod_i p_i^e_t[i], where term(t, e) adds e_t to the zero
// vector e (count entries, a multiple of the block) and ratio(t) is |term_{t+1} / term_t|.
// common is the entrywise minimum of the e_t, so every term divided by it is a natural number;
// the first is made from its exponents, each next one from the last by the ratio (an exact
// division). False when a term does not fit FixedNatural.
template <class Term, class Ratio>
[[nodiscard]] bool alternating_prime_sum(std::int64_t first, std::int64_t last,
                                         std::size_t count, Term&& term, Ratio&& ratio,
                                         PrimeSum& out) {
    std::fill_n(out.common.begin(), count, std::numeric_limits<std::int32_t>::max());
    PrimeExponents e;
    PrimeExponents first_term;
    for (std::int64_t t = first; t <= last; ++t) {
        PrimeExponents& v = t == first ? first_term : e;
        std::fill_n(v.begin(), count, 0);
        term(t, v);
        for (std::size_t i = 0; i < count; ++i) out.common[i] = std::min(out.common[i], v[i]);
    }
    for (std::size_t i = 0; i < count; ++i) first_term[i] -= out.common[i];
    FixedNatural value(1);
    if (!multiply_by_prime_powers(value, first_term, count)) return false;
    SignedSum sum;
    for (std::int64_t t = first;; ++t) {
        if (!sum.add(value, t % 2 != 0)) return false;
        if (t == last) break;
        const TermRatio r = ratio(t);
        if (!value.multiply_by_limb(r.numerator)) return false;
        value.divide_exactly(r.denominator);
    }
    out.sign = sum.take(out.magnitude);
    return true;
}

}  // namespace tavrin
