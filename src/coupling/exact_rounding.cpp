// The square root is taken as an integer square root of the scaled quotient, which gives the
// truncated root together with the knowledge whether the root is exact: enough to round once.
#include "coupling/exact_rounding.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tavrin {
namespace {

bool any_bit_below(mpz_srcptr value, mp_bitcnt_t bit) {
    return bit > 0 && mpz_scan1(value, 0) < bit;
}

}  // namespace

double rounded_sqrt_of_quotient(mpz_srcptr numerator, mpz_srcptr denominator) {
    // Scale by 4^s so that the integer root carries at least 66 significant bits.
    constexpr std::int64_t kRootBits = 66;
    const auto size_difference = static_cast<std::int64_t>(mpz_sizeinbase(numerator, 2)) -
                                 static_cast<std::int64_t>(mpz_sizeinbase(denominator, 2));
    const std::int64_t s = std::max<std::int64_t>(0, (2 * kRootBits + 4 - size_difference + 1) / 2);

    BigInt scaled;
    BigInt quotient;
    BigInt remainder;
    mpz_mul_2exp(scaled.get(), numerator, static_cast<mp_bitcnt_t>(2 * s));
    mpz_tdiv_qr(quotient.get(), remainder.get(), scaled.get(), denominator);
    bool exact = mpz_sgn(remainder.get()) == 0;
    BigInt root;  // floor(sqrt(quotient)) = floor(sqrt(scaled / denominator))
    mpz_sqrtrem(root.get(), remainder.get(), quotient.get());
    exact = exact && mpz_sgn(remainder.get()) == 0;

    // The value is root * 2^-s (plus a fraction below one unit of root when inexact). Keep
    // 53 bits, or fewer where the result is subnormal (unit 2^-1074).
    const auto root_bits = static_cast<std::int64_t>(mpz_sizeinbase(root.get(), 2));
    const std::int64_t shift = std::max(root_bits - 53, s - 1074);
    const auto dropped = static_cast<mp_bitcnt_t>(shift);
    BigInt mantissa;
    mpz_fdiv_q_2exp(mantissa.get(), root.get(), dropped);
    const bool half_or_more = mpz_tstbit(root.get(), dropped - 1) != 0;
    const bool above_half = any_bit_below(root.get(), dropped - 1) || !exact;
    if (half_or_more && (above_half || mpz_odd_p(mantissa.get()))) {
        mpz_add_ui(mantissa.get(), mantissa.get(), 1);
    }
    const auto significand = static_cast<double>(mpz_get_ui(mantissa.get()));
    return std::ldexp(significand, static_cast<int>(shift - s));
}

DoubleDouble double_double_sqrt_of_quotient(mpz_srcptr numerator, mpz_srcptr denominator) {
    // The integer root of numerator * 4^s / denominator carries 128 or more bits; scaling the
    // denominator instead when the quotient itself is that large.
    constexpr std::int64_t kRootBits = 128;
    const auto size_difference = static_cast<std::int64_t>(mpz_sizeinbase(numerator, 2)) -
                                 static_cast<std::int64_t>(mpz_sizeinbase(denominator, 2));
    const std::int64_t s = (2 * kRootBits + 4 - size_difference + 1) / 2;
    BigInt scaled_numerator;
    BigInt scaled_denominator;
    mpz_mul_2exp(scaled_numerator.get(), numerator,
                 static_cast<mp_bitcnt_t>(std::max<std::int64_t>(2 * s, 0)));
    mpz_mul_2exp(scaled_denominator.get(), denominator,
                 static_cast<mp_bitcnt_t>(std::max<std::int64_t>(-2 * s, 0)));
    BigInt quotient;
    BigInt remainder;
    mpz_tdiv_qr(quotient.get(), remainder.get(), scaled_numerator.get(), scaled_denominator.get());
    bool exact = mpz_sgn(remainder.get()) == 0;
    BigInt root;  // the value is root * 2^-s, plus less than one unit of root when inexact
    mpz_sqrtrem(root.get(), remainder.get(), quotient.get());
    exact = exact && mpz_sgn(remainder.get()) == 0;

    const auto root_bits = static_cast<std::int64_t>(mpz_sizeinbase(root.get(), 2));
    const auto dropped = static_cast<mp_bitcnt_t>(root_bits - 53);
    BigInt mantissa;
    mpz_fdiv_q_2exp(mantissa.get(), root.get(), dropped);
    const bool half_or_more = mpz_tstbit(root.get(), dropped - 1) != 0;
    const bool above_half = any_bit_below(root.get(), dropped - 1) || !exact;
    if (half_or_more && (above_half || mpz_odd_p(mantissa.get()))) {
        mpz_add_ui(mantissa.get(), mantissa.get(), 1);
    }
    const auto exponent = static_cast<int>(static_cast<std::int64_t>(dropped) - s);
    const double high = std::ldexp(static_cast<double>(mpz_get_ui(mantissa.get())), exponent);
    // What high leaves: root - mantissa * 2^dropped, a signed number below 2^dropped.
    BigInt rest;
    mpz_mul_2exp(rest.get(), mantissa.get(), dropped);
    mpz_sub(rest.get(), root.get(), rest.get());
    long rest_exponent = 0;
    const double rest_scaled = mpz_get_d_2exp(&rest_exponent, rest.get());
    const double low =
        std::ldexp(rest_scaled, static_cast<int>(rest_exponent - static_cast<long>(s)));
    return {high, low};
}

}  // namespace tavrin
