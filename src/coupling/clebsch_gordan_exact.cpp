// Exact Clebsch-Gordan coefficients.
//
// With the integer quantities of Racah's formula,
//   CG = sqrt(A / B) * sum_k (-1)^k / D_k,
// A = (2J+1) (j1+j2-J)! (j1-j2+J)! (j2-j1+J)! (J+M)! (J-M)! (j1-m1)! (j1+m1)! (j2-m2)! (j2+m2)!,
// B = (j1+j2+J+1)!. With G = k_max! (t0-k_min)! (t1-k_min)! (t2-k_min)! (k_max+p1)! (k_max+p2)!
// every G / D_k is an integer, so N = sum_k (-1)^k G / D_k is exact and
// CG^2 = A N^2 / (B G^2) is an exact rational. Its square root is taken as an integer square
// root of the scaled quotient, which gives the truncated root together with the knowledge
// whether the root is exact, enough to round once to the nearest double.
//
// The fixed-width evaluation writes the same value as sqrt(prod p^e) * N' with the factorials
// as prime exponents and N' the alternating sum divided by its terms' common prime factors.
#include "coupling/clebsch_gordan_exact.hpp"
#include "coupling/exact_rounding.hpp"
#include "coupling/prime_sum.hpp"

#include <gmp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tavrin {
namespace {

// The non-negative integer quantities of Racah's formula, from doubled arguments.
struct RacahIntegers {
    std::int64_t t0;            // j1 + j2 - J
    std::int64_t t1;            // j1 - m1
    std::int64_t t2;            // j2 + m2
    std::int64_t j1_j2_sum;     // j1 - j2 + J
    std::int64_t j2_j1_sum;     // j2 - j1 + J
    std::int64_t all_plus_one;  // j1 + j2 + J + 1
    std::int64_t j_plus_m;
    std::int64_t j_minus_m;
    std::int64_t j1_plus_m1;
    std::int64_t j2_minus_m2;
    std::int64_t two_j_plus_one;
    std::int64_t p1;  // m1 + J - j2
    std::int64_t p2;  // J - j1 - m2
    std::int64_t k_min;
    std::int64_t k_max;
};

RacahIntegers racah_integers(std::int64_t two_j1, std::int64_t two_m1, std::int64_t two_j2,
                             std::int64_t two_m2, std::int64_t two_j, std::int64_t two_m) {
    RacahIntegers r{};
    r.t0 = (two_j1 + two_j2 - two_j) / 2;
    r.t1 = (two_j1 - two_m1) / 2;
    r.t2 = (two_j2 + two_m2) / 2;
    r.j1_j2_sum = (two_j1 - two_j2 + two_j) / 2;
    r.j2_j1_sum = (two_j2 - two_j1 + two_j) / 2;
    r.all_plus_one = (two_j1 + two_j2 + two_j) / 2 + 1;
    r.j_plus_m = (two_j + two_m) / 2;
    r.j_minus_m = (two_j - two_m) / 2;
    r.j1_plus_m1 = (two_j1 + two_m1) / 2;
    r.j2_minus_m2 = (two_j2 - two_m2) / 2;
    r.two_j_plus_one = two_j + 1;
    r.p1 = (two_m1 + two_j - two_j2) / 2;
    r.p2 = (two_j - two_j1 - two_m2) / 2;
    r.k_min = std::max({std::int64_t{0}, -r.p1, -r.p2});
    r.k_max = std::min({r.t0, r.t1, r.t2});
    return r;
}

// The phase of the 3j symbol, (-1)^(j1 - j2 + M); +1 for the coefficient.
int phase(std::int64_t two_j1, std::int64_t two_j2, std::int64_t two_m, CgValue value) {
    if (value == CgValue::coefficient) return 1;
    return (two_j1 - two_j2 + two_m) / 2 % 2 == 0 ? 1 : -1;
}

// Some magnetic number lies outside [-j, j]: a factorial of a negative number vanishes.
bool magnetic_out_of_range(const RacahIntegers& r) {
    return r.t1 < 0 || r.t2 < 0 || r.j_plus_m < 0 || r.j_minus_m < 0 || r.j1_plus_m1 < 0 ||
           r.j2_minus_m2 < 0;
}

unsigned long as_ulong(std::int64_t n) { return static_cast<unsigned long>(n); }
std::uint64_t as_u64(std::int64_t n) { return static_cast<std::uint64_t>(n); }

void multiply_by_factorial(BigInt& product, std::int64_t n) {
    BigInt factorial;
    mpz_fac_ui(factorial.get(), as_ulong(n));
    mpz_mul(product.get(), product.get(), factorial.get());
}

// product *= (low + 1) (low + 2) ... high
void multiply_by_range(BigInt& product, std::int64_t low, std::int64_t high) {
    for (std::int64_t i = low + 1; i <= high; ++i) {
        mpz_mul_ui(product.get(), product.get(), as_ulong(i));
    }
}

// Fills common = G and sum = N = sum_k (-1)^k G / D_k. Consecutive terms differ by the
// factor (t0 - k)(t1 - k)(t2 - k) / ((k + 1)(k + 1 + p1)(k + 1 + p2)), and each G / D_k is an
// integer, so every division is exact.
void alternating_sum(const RacahIntegers& r, BigInt& sum, BigInt& common) {
    BigInt term;  // G / D_k, starting at k_min
    mpz_set_ui(term.get(), 1);
    multiply_by_range(term, r.k_min, r.k_max);
    multiply_by_range(term, r.k_min + r.p1, r.k_max + r.p1);
    multiply_by_range(term, r.k_min + r.p2, r.k_max + r.p2);
    mpz_set_ui(sum.get(), 0);
    for (std::int64_t k = r.k_min;; ++k) {
        if (k % 2 == 0) {
            mpz_add(sum.get(), sum.get(), term.get());
        } else {
            mpz_sub(sum.get(), sum.get(), term.get());
        }
        if (k == r.k_max) break;
        // Each factor is below 2^32, so a product of two fits in an unsigned long.
        mpz_mul_ui(term.get(), term.get(), as_ulong(r.t0 - k) * as_ulong(r.t1 - k));
        mpz_mul_ui(term.get(), term.get(), as_ulong(r.t2 - k));
        mpz_divexact_ui(term.get(), term.get(), as_ulong(k + 1) * as_ulong(k + 1 + r.p1));
        mpz_divexact_ui(term.get(), term.get(), as_ulong(k + 1 + r.p2));
    }
    mpz_set_ui(common.get(), 1);
    for (std::int64_t n : {r.k_max, r.t0 - r.k_min, r.t1 - r.k_min, r.t2 - r.k_min,
                           r.k_max + r.p1, r.k_max + r.p2}) {
        multiply_by_factorial(common, n);
    }
}

// A = (2J+1) (or 1) and the nine factorials under the square root's numerator.
void prefactor_numerator(const RacahIntegers& r, CgValue value, BigInt& a) {
    mpz_set_ui(a.get(), value == CgValue::coefficient ? as_ulong(r.two_j_plus_one) : 1);
    for (std::int64_t n : {r.t0, r.j1_j2_sum, r.j2_j1_sum, r.j_plus_m, r.j_minus_m, r.t1,
                           r.j1_plus_m1, r.j2_minus_m2, r.t2}) {
        multiply_by_factorial(a, n);
    }
}

// The exponents of A / B.
void add_prefactor(const RacahIntegers& r, CgValue value, std::size_t count, PrimeExponents& e) {
    if (value == CgValue::coefficient) add_integer(e, r.two_j_plus_one, 1, count);
    for (std::int64_t n : {r.t0, r.j1_j2_sum, r.j2_j1_sum, r.j_plus_m, r.j_minus_m, r.t1,
                           r.j1_plus_m1, r.j2_minus_m2, r.t2}) {
        add_factorial(e, n, 1, count);
    }
    add_factorial(e, r.all_plus_one, -1, count);
}

}  // namespace

std::optional<double> clebsch_gordan_fixed_width(std::int32_t two_j1, std::int32_t two_m1,
                                                 std::int32_t two_j2, std::int32_t two_m2,
                                                 std::int32_t two_j, std::int32_t two_m,
                                                 CgValue value) {
    const RacahIntegers r = racah_integers(two_j1, two_m1, two_j2, two_m2, two_j, two_m);
    if (magnetic_out_of_range(r) || r.k_min > r.k_max) return 0.0;
    // Every factorial of the formula is at most (j1 + j2 + J + 1)!.
    if (r.all_plus_one > kFactorialTableLimit) return std::nullopt;
    const std::size_t count = exponent_count(r.all_plus_one);
    PrimeSum sum;
    const bool fits = alternating_prime_sum(
        r.k_min, r.k_max, count,
        [&](std::int64_t k, PrimeExponents& e) {
            for (std::int64_t n : {k, r.t0 - k, r.t1 - k, r.t2 - k, k + r.p1, k + r.p2}) {
                add_factorial(e, n, -1, count);
            }
        },
        [&](std::int64_t k) {  // factors below 401: products of three fit 64 bits
            return TermRatio{as_u64(r.t0 - k) * as_u64(r.t1 - k) * as_u64(r.t2 - k),
                             as_u64(k + 1) * as_u64(k + 1 + r.p1) * as_u64(k + 1 + r.p2)};
        },
        sum);
    if (!fits) return std::nullopt;
    if (sum.sign == 0) return 0.0;
    PrimeExponents e{};
    add_prefactor(r, value, count, e);
    for (std::size_t i = 0; i < count; ++i) e[i] += 2 * sum.common[i];
    return round_prime_root(sum.sign * phase(two_j1, two_j2, two_m, value), sum.magnitude, e,
                            count);
}

double clebsch_gordan_exact(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                            std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m,
                            CgValue value) {
    if (const auto fixed = clebsch_gordan_fixed_width(two_j1, two_m1, two_j2, two_m2, two_j,
                                                      two_m, value)) {
        return *fixed;
    }
    return clebsch_gordan_gmp(two_j1, two_m1, two_j2, two_m2, two_j, two_m, value);
}

double clebsch_gordan_gmp(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                          std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m,
                          CgValue value) {
    const RacahIntegers r = racah_integers(two_j1, two_m1, two_j2, two_m2, two_j, two_m);
    if (magnetic_out_of_range(r) || r.k_min > r.k_max) return 0.0;

    BigInt sum;
    BigInt common;
    alternating_sum(r, sum, common);
    const int sign = mpz_sgn(sum.get()) * phase(two_j1, two_j2, two_m, value);
    if (sign == 0) return 0.0;

    BigInt numerator;  // A N^2
    prefactor_numerator(r, value, numerator);
    mpz_mul(sum.get(), sum.get(), sum.get());
    mpz_mul(numerator.get(), numerator.get(), sum.get());
    BigInt denominator;  // B G^2
    mpz_fac_ui(denominator.get(), as_ulong(r.all_plus_one));
    mpz_mul(common.get(), common.get(), common.get());
    mpz_mul(denominator.get(), denominator.get(), common.get());

    const double magnitude = rounded_sqrt_of_quotient(numerator.get(), denominator.get());
    return sign < 0 ? -magnitude : magnitude;
}

}  // namespace tavrin
