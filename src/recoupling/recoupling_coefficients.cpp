#include "recoupling/recoupling_coefficients.hpp"

#include <gmp.h>

#include "coupling/coefficient_memo.hpp"
#include "coupling/exact_rounding.hpp"
#include "coupling/wigner_6j.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

namespace {

std::uint64_t dimension(std::int32_t two_j) { return static_cast<std::uint64_t>(two_j) + 1; }

// The exchange coefficients computed so far, one of the process-wide stores. Never destroyed,
// so it outlives every thread that may call in; made with the library, so that it is listed
// before its first use.
using ExchangeMemo = BoundedStore<CoefficientKey, DoubleDouble, CoefficientKeyHash>;
ExchangeMemo& exchange_memo() {
    static ExchangeMemo* const memo =
        new ExchangeMemo("exchange_coefficients", "TAVRIN_EXCHANGE_COEFFICIENTS_BYTES",
                         std::uint64_t{64} << 20);
    return *memo;
}
[[maybe_unused]] const bool made_at_start = (exchange_memo(), true);

DoubleDouble sqrt_of_quotient(std::uint64_t numerator, std::uint64_t denominator) {
    BigInt top;
    BigInt bottom;
    mpz_set_ui(top.get(), static_cast<unsigned long>(numerator));
    mpz_set_ui(bottom.get(), static_cast<unsigned long>(denominator));
    return double_double_sqrt_of_quotient(top.get(), bottom.get());
}

}  // namespace

double sign_of_half(std::int64_t twice_exponent) {
    check_invariant(twice_exponent % 2 == 0, "phase exponent should be an integer");
    return (twice_exponent / 2) % 2 == 0 ? 1.0 : -1.0;
}

DoubleDouble exchange_coefficient(std::int32_t a, std::int32_t b, std::int32_t c,
                                  std::int32_t big_k, std::int32_t e, std::int32_t e_new) {
    if (!six_j_triads_hold(a, b, e, big_k, c, e_new)) return {};
    const CoefficientKey key{a, b, c, big_k, e, e_new};
    ExchangeMemo& memo = exchange_memo();
    if (const auto known = memo.find(key)) return *known;
    DoubleDouble value =
        scaled_wigner_6j_exact(dimension(e) * dimension(e_new), a, b, e, big_k, c, e_new);
    if (sign_of_half(std::int64_t{b} + c + e + e_new) < 0) value = negated(value);
    memo.insert(key, value, 0);
    return value;
}

double first_vertex_exchange_phase(std::int32_t s0, std::int32_t s1, std::int32_t k1) {
    return sign_of_half(std::int64_t{s0} + s1 - k1);
}

DoubleDouble singlet_weight(std::int32_t before, std::int32_t s, std::int32_t e,
                            double reversal) {
    const double phase = sign_of_half(std::int64_t{before} + s + e) *
                         ((std::int64_t{before} + s) % 2 == 0 ? 1.0 : -1.0) * reversal;
    const DoubleDouble magnitude = sqrt_of_quotient(dimension(e), dimension(before));
    return phase < 0 ? negated(magnitude) : magnitude;
}

DoubleDouble inverse_sqrt_dimension(std::int32_t k) { return sqrt_of_quotient(1, dimension(k)); }

}  // namespace tavrin::recoupling
