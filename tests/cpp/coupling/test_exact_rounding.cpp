// Square roots of exact quotients rounded once: to the nearest double, and to a double-double
// whose low half carries what the high half leaves.
#include "coupling/exact_rounding.hpp"

#include <gtest/gtest.h>
#include <gmp.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "coupling/wigner_6j.hpp"

namespace tavrin {
namespace {

// |(high + low)^2 - p / q| / (p / q), exactly.
double relative_error_of_square(DoubleDouble root, std::uint64_t p, std::uint64_t q) {
    mpq_t value, square, exact;
    mpq_inits(value, square, exact, nullptr);
    mpq_set_d(value, root.high);
    mpq_set_d(square, root.low);
    mpq_add(value, value, square);
    mpq_mul(square, value, value);
    mpq_set_ui(exact, static_cast<unsigned long>(p), static_cast<unsigned long>(q));
    mpq_canonicalize(exact);
    mpq_sub(square, square, exact);
    mpq_div(square, square, exact);
    const double error = std::abs(mpq_get_d(square));
    mpq_clears(value, square, exact, nullptr);
    return error;
}

class QuotientRoots : public ::testing::TestWithParam<std::pair<std::uint64_t, std::uint64_t>> {};

TEST_P(QuotientRoots, HighIsTheNearestDoubleAndLowCarriesTheRest) {
    const auto [p, q] = GetParam();
    BigInt numerator, denominator;
    mpz_set_ui(numerator.get(), static_cast<unsigned long>(p));
    mpz_set_ui(denominator.get(), static_cast<unsigned long>(q));
    const DoubleDouble root = double_double_sqrt_of_quotient(numerator.get(), denominator.get());
    if (p <= q) {
        EXPECT_EQ(root.high, rounded_sqrt_of_quotient(numerator.get(), denominator.get()));
    }
    EXPECT_LE(std::abs(root.low), std::ldexp(std::abs(root.high), -53));
    EXPECT_LT(relative_error_of_square(root, p, q), 0x1p-100);
}

INSTANTIATE_TEST_SUITE_P(
    Quotients, QuotientRoots,
    ::testing::Values(std::pair{1u, 3u}, std::pair{2u, 1u}, std::pair{1u, 121u},
                      std::pair{3u, 4u}, std::pair{61u, 59u}, std::pair{1u, 2147483647u},
                      std::pair{4611686018427387847u, 3u}, std::pair{7u, 4611686018427387847u}));

TEST(QuotientRoots, PerfectSquaresHaveNoLowHalf) {
    BigInt numerator, denominator;
    mpz_set_ui(numerator.get(), 9);
    mpz_set_ui(denominator.get(), 64);
    EXPECT_EQ(double_double_sqrt_of_quotient(numerator.get(), denominator.get()),
              (DoubleDouble{0.375, 0.0}));
}

// sqrt(1) times the 6j symbol: the high half is the rounded symbol itself, to the bit.
TEST(ScaledSixJ, HighHalfIsTheRoundedSymbol) {
    int inexact = 0;
    for (std::int32_t a = 0; a <= 6; ++a) {
        for (std::int32_t b = 0; b <= 6; ++b) {
            for (std::int32_t e = 0; e <= 8; ++e) {
                const DoubleDouble scaled = scaled_wigner_6j_exact(1, a, b, e, 4, 3, 5);
                EXPECT_EQ(std::bit_cast<std::uint64_t>(scaled.high),
                          std::bit_cast<std::uint64_t>(wigner_6j_exact(a, b, e, 4, 3, 5)));
                inexact += scaled.low != 0.0;
            }
        }
    }
    EXPECT_GT(inexact, 10);
}

}  // namespace
}  // namespace tavrin
