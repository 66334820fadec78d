#include "recoupling/recoupling_coefficients.hpp"

#include <cmath>

#include "coupling/wigner_6j.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

double sign_of_half(std::int64_t twice_exponent) {
    check_invariant(twice_exponent % 2 == 0, "phase exponent should be an integer");
    return (twice_exponent / 2) % 2 == 0 ? 1.0 : -1.0;
}

namespace {

double dimension(std::int32_t two_j) { return static_cast<double>(two_j) + 1.0; }

}  // namespace

double associator(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t big_k,
                  std::int32_t e, std::int32_t f) {
    const double phase = sign_of_half(std::int64_t{a} + b + c + big_k);
    return phase * std::sqrt(dimension(e) * dimension(f)) * wigner_6j(a, b, e, c, big_k, f);
}

double exchange_coefficient(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t big_k,
                            std::int32_t e, std::int32_t e_new) {
    const double phase = sign_of_half(std::int64_t{b} + c + e + e_new);
    return phase * std::sqrt(dimension(e) * dimension(e_new)) *
           wigner_6j(a, b, e, big_k, c, e_new);
}

double first_vertex_exchange_phase(std::int32_t s0, std::int32_t s1, std::int32_t k1) {
    return sign_of_half(std::int64_t{s0} + s1 - k1);
}

}  // namespace tavrin::recoupling
