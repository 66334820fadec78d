// Clebsch-Gordan coefficients with a process-wide memo.
//
// Which evaluation computes a coefficient (after the selection rules, the memo and the trivial
// couplings with a spin 0):
// - Racah's formula in double precision, with the fixed order of operations below, while the
//   largest factorial argument j1 + j2 + J + 1 is at most kDoubleFactorialLimit = 20. This
//   keeps the formula's results bit for bit for small spins (every vertex with 2j <= 12 on all
//   three legs, every tabulated value); the limit is no higher because the error grows with it.
//   Measured over every coefficient with that bound against the exact value, the double
//   evaluation stays within 2.5 * 2^-53 = 2.8e-16 in absolute terms (2.5 ulp of a value in
//   [1/2, 1)); relative to small coefficients its cancellation costs up to a few hundred ulp
//   from j1 + j2 + J + 1 = 11 on, and it returns values of order 1e-17 where the exact value
//   is 0.
// - Above it, the exact evaluation of clebsch_gordan_exact.cpp, rounded once to the nearest double. The
//   double formula only gets worse there: its absolute error passes 1e-15 at
//   j1 + j2 + J + 1 = 32 and reaches 1e-13 for 2j1 = 2j2 = 40 and 1e-11 for 2j1 = 2j2 = 60,
//   and its factorials overflow from 171! on (+inf or NaN from 2j = 53 on, a silent 0.0 from
//   j1 + j2 + J = 170), so it cannot serve large spins.
#include "coupling/clebsch_gordan.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "coupling/clebsch_gordan_exact.hpp"
#include "coupling/coefficient_memo.hpp"
#include "coupling/coupling_rule.hpp"

namespace tavrin {
namespace {

// Never destroyed, so it outlives every thread that may call in; made with the library, so
// that it is listed before its first use.
CoefficientMemo& cg_memo() {
    static CoefficientMemo* const memo = new CoefficientMemo(
        kClebschGordanMemoName, kClebschGordanMemoBytesVariable, kDefaultClebschGordanMemoBytes);
    return *memo;
}
CoefficientMemo& rounded_memo() {
    static CoefficientMemo* const memo =
        new CoefficientMemo(kRoundedClebschGordanMemoName, kRoundedClebschGordanMemoBytesVariable,
                            kDefaultRoundedClebschGordanMemoBytes);
    return *memo;
}
[[maybe_unused]] const bool made_at_start = (cg_memo(), rounded_memo(), true);

bool fails_selection_rules(std::int64_t two_j1, std::int64_t two_m1, std::int64_t two_j2,
                           std::int64_t two_m2, std::int64_t two_j, std::int64_t two_m) {
    return two_m1 + two_m2 != two_m || !couples(two_j1, two_j2, two_j);
}

// The trivial couplings with a spin 0, or nothing.
bool trivial_coupling(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                      std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m, double& value) {
    if (two_j1 == 0) {
        value = two_j2 == two_j && two_m2 == two_m ? 1.0 : 0.0;
        return true;
    }
    if (two_j2 == 0) {
        value = two_j1 == two_j && two_m1 == two_m ? 1.0 : 0.0;
        return true;
    }
    return false;
}

// Truncation toward zero, saturating at the 32-bit limits; NaN gives 0.
std::int32_t to_int(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (x <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(x);
}

// n! by repeated multiplication; 0 for negative n.
double factorial(std::int64_t n) {
    if (n < 0) return 0.0;
    double r = 1.0;
    for (std::int64_t i = 1; i <= n; ++i) r = static_cast<double>(i) * r;
    return r;
}

double compute(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
               std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m) {
    double value = 0.0;
    if (trivial_coupling(two_j1, two_m1, two_j2, two_m2, two_j, two_m, value)) return value;
    const std::int64_t largest_factorial_argument =
        (std::int64_t{two_j1} + two_j2 + two_j) / 2 + 1;
    if (largest_factorial_argument <= kDoubleFactorialLimit) {
        return clebsch_gordan_racah_double(two_j1, two_m1, two_j2, two_m2, two_j, two_m);
    }
    return clebsch_gordan_exact(two_j1, two_m1, two_j2, two_m2, two_j, two_m);
}

}  // namespace

double clebsch_gordan_racah_double(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                                   std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m) {
    const double j1 = two_j1 * 0.5;
    const double m1 = two_m1 * 0.5;
    const double j2 = two_j2 * 0.5;
    const double m2 = two_m2 * 0.5;
    const double J = two_j * 0.5;
    const double M = two_m * 0.5;

    const std::int32_t t0 = to_int((j1 + j2) - J);
    const std::int32_t t1 = to_int(j1 - m1);
    const std::int32_t t2 = to_int(j2 + m2);

    const double delta = factorial(t0) * factorial(to_int((j1 - j2) + J)) *
                         factorial(to_int((j2 - j1) + J)) /
                         factorial(to_int(((j1 + j2) + J) + 1));
    if (delta == 0.0) return 0.0;
    const double p = ((J + J) + 1) * factorial(to_int(J + M)) * factorial(to_int(J - M)) *
                     factorial(t1) * factorial(to_int(j1 + m1)) * factorial(to_int(j2 - m2)) *
                     factorial(t2);
    const double prefactor = std::sqrt(delta) * std::sqrt(p);

    const std::int64_t k_min = std::max({std::int64_t{0}, std::int64_t{to_int((j2 - J) - m1)},
                                          std::int64_t{to_int((j1 - J) + m2)}});
    const std::int64_t k_max = std::min({t0, t1, t2});
    const std::int64_t p1 = to_int(m1 + (J - j2));
    const std::int64_t p2 = to_int((J - j1) - m2);
    double sum = 0.0;
    for (std::int64_t k = k_min; k <= k_max; ++k) {
        const double denominator = factorial(k) * factorial(t0 - k) * factorial(t1 - k) *
                                   factorial(t2 - k) * factorial(k + p1) * factorial(k + p2);
        const double sign = k % 2 == 0 ? 1.0 : -1.0;
        sum += sign / denominator;
    }
    return prefactor * sum;
}

double clebsch_gordan(std::int32_t two_j1, std::int32_t two_m1, std::int32_t two_j2,
                      std::int32_t two_m2, std::int32_t two_j, std::int32_t two_m) {
    if (fails_selection_rules(two_j1, two_m1, two_j2, two_m2, two_j, two_m)) return 0.0;
    return find_or_compute(cg_memo(), {two_j1, two_m1, two_j2, two_m2, two_j, two_m}, [&] {
        return compute(two_j1, two_m1, two_j2, two_m2, two_j, two_m);
    });
}

double clebsch_gordan_correctly_rounded(std::int32_t two_j1, std::int32_t two_m1,
                                        std::int32_t two_j2, std::int32_t two_m2,
                                        std::int32_t two_j, std::int32_t two_m) {
    if (fails_selection_rules(two_j1, two_m1, two_j2, two_m2, two_j, two_m)) return 0.0;
    const std::int64_t largest_factorial_argument =
        (std::int64_t{two_j1} + two_j2 + two_j) / 2 + 1;
    if (largest_factorial_argument > kDoubleFactorialLimit) {
        return clebsch_gordan(two_j1, two_m1, two_j2, two_m2, two_j, two_m);
    }
    return find_or_compute(rounded_memo(), {two_j1, two_m1, two_j2, two_m2, two_j, two_m}, [&] {
        return clebsch_gordan_exact(two_j1, two_m1, two_j2, two_m2, two_j, two_m);
    });
}

std::size_t cg_memo_size() {
    return cg_memo().size();
}

ProcessStore& clebsch_gordan_memo() { return cg_memo(); }
ProcessStore& rounded_clebsch_gordan_memo() { return rounded_memo(); }

}  // namespace tavrin
