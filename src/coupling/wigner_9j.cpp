// The 9j symbol as a sum over products of three 6j symbols,
//   {j1 j2 j3; j4 j5 j6; j7 j8 j9}
//     = sum_x (-1)^(2x) (2x + 1) {j1 j4 j7; j8 j9 x} {j2 j5 j8; j4 x j6} {j3 j6 j9; x j1 j2}.
// Of the twelve triangle factors D of the three 6j symbols, the six of the rows and columns
// appear once, the three that hold x twice, so
//   9j = D(rows and columns) * sum_x (-1)^(2x) (2x + 1) D(j1 j9 x)^2 D(j4 j8 x)^2 D(j2 j6 x)^2
//                                * S1(x) S2(x) S3(x)
// with the Racah sums S of the 6j symbols: the sum is an exact rational, and the square of the
// symbol one too, rounded once by its square root.
#include "coupling/wigner_9j.hpp"

#include <gmp.h>

#include <algorithm>
#include <array>

#include "coupling/coefficient_memo.hpp"
#include "coupling/coupling_rule.hpp"
#include "coupling/exact_rounding.hpp"
#include "coupling/wigner_6j.hpp"

namespace tavrin {
namespace {

using Triad = std::array<std::int64_t, 3>;

// The rows and columns.
std::array<Triad, 6> outer_triads(const NineSpins& j) {
    return {{{j[0], j[1], j[2]}, {j[3], j[4], j[5]}, {j[6], j[7], j[8]},
             {j[0], j[3], j[6]}, {j[1], j[4], j[7]}, {j[2], j[5], j[8]}}};
}

// The doubled values of x: the pairs (j1, j9), (j4, j8) and (j2, j6) each couple to x.
struct SummationRange {
    std::int64_t first;
    std::int64_t last;  // step 2
};

SummationRange summation_range(const NineSpins& j) {
    const auto low = [](std::int64_t a, std::int64_t b) { return a > b ? a - b : b - a; };
    return {std::max({low(j[0], j[8]), low(j[3], j[7]), low(j[1], j[5])}),
            std::min({std::int64_t{j[0]} + j[8], std::int64_t{j[3]} + j[7],
                      std::int64_t{j[1]} + j[5]})};
}

// The 6j symbols of the sum at x, as {a b c; d e f}.
std::array<RacahSumBounds, 3> six_j_sums(const NineSpins& j, std::int64_t x) {
    return {racah_sum_bounds(j[0], j[3], j[6], j[7], j[8], x),
            racah_sum_bounds(j[1], j[4], j[7], j[3], x, j[5]),
            racah_sum_bounds(j[2], j[5], j[8], x, j[0], j[1])};
}

std::array<Triad, 3> triads_with_x(const NineSpins& j, std::int64_t x) {
    return {{{j[0], j[8], x}, {j[3], j[7], x}, {j[1], j[5], x}}};
}

std::int64_t largest_factorial(const NineSpins& j, const SummationRange& range) {
    std::int64_t largest = range.last + 1;  // 2x + 1
    for (const Triad& t : outer_triads(j)) largest = std::max(largest, (t[0] + t[1] + t[2]) / 2 + 1);
    for (std::int64_t x = range.first; x <= range.last; x += 2) {
        for (const RacahSumBounds& sum : six_j_sums(j, x)) {
            largest = std::max(largest, sum.largest_factorial());
        }
    }
    return largest;
}

// A running sum of terms sign * R * prod p^e with natural R: every term is held relative to the
// entrywise minimum of the exponents seen so far.
class PrimeAccumulator {
public:
    explicit PrimeAccumulator(std::size_t count) : count_(count) {}

    [[nodiscard]] bool add(int sign, FixedNatural value, const PrimeExponents& e) {
        if (empty_) {
            std::copy_n(e.begin(), count_, common_.begin());
            empty_ = false;
            return sum_.add(value, sign < 0);
        }
        PrimeExponents lowered;   // what the sum so far must be multiplied by
        PrimeExponents relative;  // what the new term must be multiplied by
        bool lowers = false;
        for (std::size_t i = 0; i < count_; ++i) {
            const std::int32_t common = std::min(common_[i], e[i]);
            lowered[i] = common_[i] - common;
            relative[i] = e[i] - common;
            lowers = lowers || lowered[i] != 0;
            common_[i] = common;
        }
        if (lowers && !sum_.scale(lowered, count_)) return false;
        return multiply_by_prime_powers(value, relative, count_) && sum_.add(value, sign < 0);
    }

    // The sum, consumed.
    PrimeSum take() {
        PrimeSum out;
        out.common = common_;
        out.sign = empty_ ? 0 : sum_.take(out.magnitude);
        return out;
    }

private:
    class ScalableSum {
    public:
        [[nodiscard]] bool add(const FixedNatural& term, bool negative) {
            return (negative ? negative_ : positive_).add(term);
        }
        [[nodiscard]] bool scale(const PrimeExponents& d, std::size_t count) {
            return multiply_by_prime_powers(positive_, d, count) &&
                   multiply_by_prime_powers(negative_, d, count);
        }
        int take(FixedNatural& magnitude) {
            SignedSum sum;
            if (!sum.add(positive_, false) || !sum.add(negative_, true)) return 0;
            return sum.take(magnitude);
        }

    private:
        FixedNatural positive_;
        FixedNatural negative_;
    };

    std::size_t count_;
    bool empty_ = true;
    PrimeExponents common_{};
    ScalableSum sum_;
};

// Never destroyed, so it outlives every thread that may call in; made with the library, so
// that it is listed before its first use.
NineJMemo& nine_j_memo() {
    static NineJMemo* const memo =
        new NineJMemo(kNineJMemoName, kNineJMemoBytesVariable, kDefaultNineJMemoBytes);
    return *memo;
}
[[maybe_unused]] const bool made_at_start = (nine_j_memo(), true);

}  // namespace

bool nine_j_triads_hold(const NineSpins& j) {
    return std::ranges::all_of(outer_triads(j),
                               [](const Triad& t) { return couples(t[0], t[1], t[2]); });
}

std::optional<double> wigner_9j_fixed_width(const NineSpins& j) {
    const SummationRange range = summation_range(j);
    if (range.first > range.last) return 0.0;
    const std::int64_t largest = largest_factorial(j, range);
    if (largest > kFactorialTableLimit) return std::nullopt;
    const std::size_t count = exponent_count(largest);

    PrimeAccumulator total(count);
    for (std::int64_t x = range.first; x <= range.last; x += 2) {
        PrimeExponents e;
        std::fill_n(e.begin(), count, 0);
        add_integer(e, x + 1, 1, count);
        for (const Triad& t : triads_with_x(j, x)) {
            add_triad_delta_squared(e, t[0], t[1], t[2], 1, count);
        }
        FixedNatural product(1);
        int sign = x % 2 == 0 ? 1 : -1;
        for (const RacahSumBounds& bounds : six_j_sums(j, x)) {
            PrimeSum sum;
            if (!racah_prime_sum(bounds, count, sum)) return std::nullopt;
            sign *= sum.sign;
            if (sign == 0) break;
            if (!product.assign_product(product, sum.magnitude)) return std::nullopt;
            for (std::size_t i = 0; i < count; ++i) e[i] += sum.common[i];
        }
        if (sign != 0 && !total.add(sign, product, e)) return std::nullopt;
    }
    PrimeSum sum = total.take();
    if (sum.sign == 0) return 0.0;
    PrimeExponents e;
    std::fill_n(e.begin(), count, 0);
    for (const Triad& t : outer_triads(j)) add_triad_delta_squared(e, t[0], t[1], t[2], 1, count);
    for (std::size_t i = 0; i < count; ++i) e[i] += 2 * sum.common[i];
    return round_prime_root(sum.sign, sum.magnitude, e, count);
}

double wigner_9j_gmp(const NineSpins& j) {
    const SummationRange range = summation_range(j);
    BigRational total;
    BigRational term;
    BigRational factor;
    for (std::int64_t x = range.first; x <= range.last; x += 2) {
        mpq_set_si(term.get(), x % 2 == 0 ? x + 1 : -(x + 1), 1);
        for (const Triad& t : triads_with_x(j, x)) {
            triad_delta_squared(t[0], t[1], t[2], factor.get());
            mpq_mul(term.get(), term.get(), factor.get());
        }
        for (const RacahSumBounds& bounds : six_j_sums(j, x)) {
            racah_sum(bounds, factor.get());
            mpq_mul(term.get(), term.get(), factor.get());
        }
        mpq_add(total.get(), total.get(), term.get());
    }
    const int sign = mpq_sgn(total.get());
    if (sign == 0) return 0.0;
    BigRational square;
    mpq_mul(square.get(), total.get(), total.get());
    for (const Triad& t : outer_triads(j)) {
        triad_delta_squared(t[0], t[1], t[2], factor.get());
        mpq_mul(square.get(), square.get(), factor.get());
    }
    const double magnitude =
        rounded_sqrt_of_quotient(mpq_numref(square.get()), mpq_denref(square.get()));
    return sign < 0 ? -magnitude : magnitude;
}

double wigner_9j_exact(const NineSpins& j) {
    if (!nine_j_triads_hold(j)) return 0.0;
    if (const auto fixed = wigner_9j_fixed_width(j)) return *fixed;
    return wigner_9j_gmp(j);
}

double wigner_9j(const NineSpins& j) {
    if (!nine_j_triads_hold(j)) return 0.0;
    return find_or_compute(nine_j_memo(), j, [&] { return wigner_9j_exact(j); });
}

}  // namespace tavrin
