// Racah's formula for the 6j symbol,
//   {j1 j2 j3; j4 j5 j6} = D(j1 j2 j3) D(j1 j5 j6) D(j4 j2 j6) D(j4 j5 j3) S,
//   D(a b c)^2 = (a+b-c)! (a-b+c)! (-a+b+c)! / (a+b+c+1)!,
//   S = sum_t (-1)^t (t+1)! / [prod_i (t - alpha_i)! prod_k (beta_k - t)!],
// with alpha_i the four triad sums and beta_k the three sums of two opposite pairs. S is summed
// as an exact rational, so the square of the symbol is an exact rational rounded once by its
// square root; doubles would lose the cancellation of the alternating sum for large spins.
#include "coupling/wigner_6j.hpp"

#include <gmp.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <unordered_map>

#include "coupling/coefficient_memo.hpp"
#include "coupling/coupling_rule.hpp"
#include "coupling/exact_rounding.hpp"

namespace tavrin {
namespace {

unsigned long as_ulong(std::int64_t n) { return static_cast<unsigned long>(n); }

void multiply_by_factorial(mpz_ptr product, std::int64_t n) {
    BigInt factorial;
    mpz_fac_ui(factorial.get(), as_ulong(n));
    mpz_mul(product, product, factorial.get());
}

// Never destroyed, so it outlives every thread that may call in; made with the library, so
// that it is listed before its first use.
CoefficientMemo& six_j_memo() {
    static CoefficientMemo* const memo =
        new CoefficientMemo(kSixJMemoName, kSixJMemoBytesVariable, kDefaultSixJMemoBytes);
    return *memo;
}
[[maybe_unused]] const bool made_at_start = (six_j_memo(), true);

}  // namespace

std::int64_t RacahSumBounds::first() const { return *std::max_element(alpha.begin(), alpha.end()); }
std::int64_t RacahSumBounds::last() const { return *std::min_element(beta.begin(), beta.end()); }
std::int64_t RacahSumBounds::largest_factorial() const {
    // (t + 1)! and (beta_k - t)! at the ends of the range; the (t - alpha_i)! are smaller.
    return std::max(last() + 1, *std::max_element(beta.begin(), beta.end()) - first());
}

RacahSumBounds racah_sum_bounds(std::int64_t j1, std::int64_t j2, std::int64_t j3,
                                std::int64_t j4, std::int64_t j5, std::int64_t j6) {
    // Every sum below is a sum of doubled spins of one triad or two opposite pairs, hence even.
    return {{(j1 + j2 + j3) / 2, (j1 + j5 + j6) / 2, (j4 + j2 + j6) / 2, (j4 + j5 + j3) / 2},
            {(j1 + j2 + j4 + j5) / 2, (j2 + j3 + j5 + j6) / 2, (j3 + j1 + j6 + j4) / 2}};
}

void add_triad_delta_squared(PrimeExponents& e, std::int64_t a, std::int64_t b, std::int64_t c,
                             std::int32_t sign, std::size_t count) {
    // The doubled sums a + b - c etc. are even: halve after forming them.
    add_factorial(e, (a + b - c) / 2, sign, count);
    add_factorial(e, (a - b + c) / 2, sign, count);
    add_factorial(e, (-a + b + c) / 2, sign, count);
    add_factorial(e, (a + b + c) / 2 + 1, -sign, count);
}

bool racah_prime_sum(const RacahSumBounds& bounds, std::size_t count, PrimeSum& out) {
    return alternating_prime_sum(
        bounds.first(), bounds.last(), count,
        [&](std::int64_t t, PrimeExponents& e) {
            add_factorial(e, t + 1, 1, count);
            for (std::int64_t a : bounds.alpha) add_factorial(e, t - a, -1, count);
            for (std::int64_t b : bounds.beta) add_factorial(e, b - t, -1, count);
        },
        [&](std::int64_t t) {  // factors below 401: products of four fit 64 bits
            TermRatio r{static_cast<std::uint64_t>(t + 2), 1};
            for (std::int64_t b : bounds.beta) r.numerator *= static_cast<std::uint64_t>(b - t);
            for (std::int64_t a : bounds.alpha) {
                r.denominator *= static_cast<std::uint64_t>(t + 1 - a);
            }
            return r;
        },
        out);
}

void triad_delta_squared(std::int64_t a, std::int64_t b, std::int64_t c, mpq_ptr out) {
    mpz_set_ui(mpq_numref(out), 1);
    multiply_by_factorial(mpq_numref(out), (a + b - c) / 2);
    multiply_by_factorial(mpq_numref(out), (a - b + c) / 2);
    multiply_by_factorial(mpq_numref(out), (-a + b + c) / 2);
    mpz_fac_ui(mpq_denref(out), as_ulong((a + b + c) / 2 + 1));
    mpq_canonicalize(out);
}

// S as an exact rational. Consecutive terms differ by the factor
// -(t+2) prod_k (beta_k - t) / prod_i (t + 1 - alpha_i).
void racah_sum(const RacahSumBounds& bounds, mpq_ptr sum) {
    const auto& alpha = bounds.alpha;
    const auto& beta = bounds.beta;
    const std::int64_t t_min = bounds.first();
    const std::int64_t t_max = bounds.last();
    BigRational term;
    BigInt denominator;
    mpz_fac_ui(mpq_numref(term.get()), as_ulong(t_min + 1));
    mpz_set_ui(denominator.get(), 1);
    for (std::int64_t a : alpha) multiply_by_factorial(denominator.get(), t_min - a);
    for (std::int64_t b : beta) multiply_by_factorial(denominator.get(), b - t_min);
    mpz_set(mpq_denref(term.get()), denominator.get());
    mpq_canonicalize(term.get());
    if (t_min % 2 != 0) mpq_neg(term.get(), term.get());
    mpq_set_ui(sum, 0, 1);
    BigRational factor;
    for (std::int64_t t = t_min;; ++t) {
        mpq_add(sum, sum, term.get());
        if (t == t_max) break;
        mpz_set_si(mpq_numref(factor.get()), -(t + 2));
        for (std::int64_t b : beta) mpz_mul_ui(mpq_numref(factor.get()), mpq_numref(factor.get()), as_ulong(b - t));
        mpz_set_ui(mpq_denref(factor.get()), 1);
        for (std::int64_t a : alpha) mpz_mul_ui(mpq_denref(factor.get()), mpq_denref(factor.get()), as_ulong(t + 1 - a));
        mpq_canonicalize(factor.get());
        mpq_mul(term.get(), term.get(), factor.get());
    }
}

bool six_j_triads_hold(std::int64_t two_j1, std::int64_t two_j2, std::int64_t two_j3,
                       std::int64_t two_j4, std::int64_t two_j5, std::int64_t two_j6) {
    return couples(two_j1, two_j2, two_j3) && couples(two_j1, two_j5, two_j6) &&
           couples(two_j4, two_j2, two_j6) && couples(two_j4, two_j5, two_j3);
}

std::optional<double> wigner_6j_fixed_width(std::int32_t two_j1, std::int32_t two_j2,
                                            std::int32_t two_j3, std::int32_t two_j4,
                                            std::int32_t two_j5, std::int32_t two_j6) {
    const RacahSumBounds bounds = racah_sum_bounds(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6);
    const std::int64_t largest = bounds.largest_factorial();
    if (largest > kFactorialTableLimit) return std::nullopt;
    const std::size_t count = exponent_count(largest);
    PrimeSum sum;
    if (!racah_prime_sum(bounds, count, sum)) return std::nullopt;
    if (sum.sign == 0) return 0.0;
    PrimeExponents e{};
    const std::int64_t j1 = two_j1, j2 = two_j2, j3 = two_j3, j4 = two_j4, j5 = two_j5,
                       j6 = two_j6;
    add_triad_delta_squared(e, j1, j2, j3, 1, count);
    add_triad_delta_squared(e, j1, j5, j6, 1, count);
    add_triad_delta_squared(e, j4, j2, j6, 1, count);
    add_triad_delta_squared(e, j4, j5, j3, 1, count);
    for (std::size_t i = 0; i < count; ++i) e[i] += 2 * sum.common[i];
    return round_prime_root(sum.sign, sum.magnitude, e, count);
}

namespace {

// The square of a 6j symbol whose triads hold as numerator / denominator, and its sign (0 when
// it vanishes).
int six_j_square(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6,
                 mpz_ptr numerator, mpz_ptr denominator) {
    BigRational sum;
    racah_sum(racah_sum_bounds(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6), sum.get());
    const int sign = mpq_sgn(sum.get());
    if (sign == 0) return 0;
    const std::int64_t j1 = two_j1, j2 = two_j2, j3 = two_j3, j4 = two_j4, j5 = two_j5,
                       j6 = two_j6;
    mpz_set_ui(numerator, 1);
    mpz_set_ui(denominator, 1);
    for (const auto& [a, b, c] : {std::array{j1, j2, j3}, std::array{j1, j5, j6},
                                  std::array{j4, j2, j6}, std::array{j4, j5, j3}}) {
        // The doubled sums a + b - c etc. are even: halve after forming them.
        multiply_by_factorial(numerator, (a + b - c) / 2);
        multiply_by_factorial(numerator, (a - b + c) / 2);
        multiply_by_factorial(numerator, (-a + b + c) / 2);
        multiply_by_factorial(denominator, (a + b + c) / 2 + 1);
    }
    BigInt square;
    mpz_mul(square.get(), mpq_numref(sum.get()), mpq_numref(sum.get()));
    mpz_mul(numerator, numerator, square.get());
    mpz_mul(square.get(), mpq_denref(sum.get()), mpq_denref(sum.get()));
    mpz_mul(denominator, denominator, square.get());
    return sign;
}

}  // namespace

double wigner_6j_gmp(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                     std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6) {
    BigInt numerator;
    BigInt denominator;
    const int sign = six_j_square(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6,
                                  numerator.get(), denominator.get());
    if (sign == 0) return 0.0;
    const double magnitude = rounded_sqrt_of_quotient(numerator.get(), denominator.get());
    return sign < 0 ? -magnitude : magnitude;
}

DoubleDouble scaled_wigner_6j_exact(std::uint64_t scale, std::int32_t two_j1,
                                    std::int32_t two_j2, std::int32_t two_j3,
                                    std::int32_t two_j4, std::int32_t two_j5,
                                    std::int32_t two_j6) {
    if (scale == 0 || !six_j_triads_hold(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6)) {
        return {};
    }
    BigInt numerator;
    BigInt denominator;
    const int sign = six_j_square(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6,
                                  numerator.get(), denominator.get());
    if (sign == 0) return {};
    mpz_mul_ui(numerator.get(), numerator.get(), static_cast<unsigned long>(scale));
    const DoubleDouble magnitude =
        double_double_sqrt_of_quotient(numerator.get(), denominator.get());
    return sign < 0 ? negated(magnitude) : magnitude;
}

double wigner_6j_exact(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                       std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6) {
    if (!six_j_triads_hold(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6)) return 0.0;
    if (const auto fixed =
            wigner_6j_fixed_width(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6)) {
        return *fixed;
    }
    return wigner_6j_gmp(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6);
}

double wigner_6j(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_j4, std::int32_t two_j5, std::int32_t two_j6) {
    if (!six_j_triads_hold(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6)) return 0.0;
    return find_or_compute(six_j_memo(), {two_j1, two_j2, two_j3, two_j4, two_j5, two_j6}, [&] {
        return wigner_6j_exact(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6);
    });
}

ProcessStore& six_j_memo_store() { return six_j_memo(); }

}  // namespace tavrin
