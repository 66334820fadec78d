#include "coupling/clebsch_gordan.hpp"
#include "coupling/clebsch_gordan_exact.hpp"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <latch>
#include <limits>
#include <ostream>
#include <thread>
#include <vector>

namespace tavrin {
namespace {

using Args = std::array<std::int32_t, 6>;

double cg(const Args& a) { return clebsch_gordan(a[0], a[1], a[2], a[3], a[4], a[5]); }

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// ---------------------------------------------------------------------------------------------
// Reference: Racah's sum evaluated in 8192-bit floating point, factorials taken as exact
// integers. Independent of the library's integer evaluation; the cancellation of the sum costs
// far fewer bits than it carries for the spins used here.

class BigFloat {
public:
    BigFloat() { mpf_init2(value_, kPrecision); }
    ~BigFloat() { mpf_clear(value_); }
    BigFloat(const BigFloat&) = delete;
    BigFloat& operator=(const BigFloat&) = delete;
    mpf_ptr get() { return value_; }

    static constexpr mp_bitcnt_t kPrecision = 8192;

private:
    mpf_t value_;
};

void set_factorial(BigFloat& out, std::int64_t n) {
    mpz_t f;
    mpz_init(f);
    mpz_fac_ui(f, static_cast<unsigned long>(n));
    mpf_set_z(out.get(), f);
    mpz_clear(f);
}

void multiply_factorial(BigFloat& out, std::int64_t n) {
    BigFloat f;
    set_factorial(f, n);
    mpf_mul(out.get(), out.get(), f.get());
}

// Fills out with the coefficient; all magnetic numbers must lie within their spins.
void reference_cg(const Args& a, BigFloat& out) {
    const std::int64_t j1 = a[0], m1 = a[1], j2 = a[2], m2 = a[3], j = a[4], m = a[5];
    const std::int64_t t0 = (j1 + j2 - j) / 2, t1 = (j1 - m1) / 2, t2 = (j2 + m2) / 2;
    const std::int64_t p1 = (m1 + j - j2) / 2, p2 = (j - j1 - m2) / 2;

    BigFloat numerator, denominator;
    mpf_set_ui(numerator.get(), static_cast<unsigned long>(j + 1));
    for (std::int64_t n : {t0, (j1 - j2 + j) / 2, (j2 - j1 + j) / 2, (j + m) / 2, (j - m) / 2, t1,
                           (j1 + m1) / 2, (j2 - m2) / 2, t2}) {
        multiply_factorial(numerator, n);
    }
    set_factorial(denominator, (j1 + j2 + j) / 2 + 1);
    mpf_div(numerator.get(), numerator.get(), denominator.get());
    mpf_sqrt(numerator.get(), numerator.get());

    mpf_set_ui(out.get(), 0);
    const std::int64_t k_min = std::max({std::int64_t{0}, -p1, -p2});
    const std::int64_t k_max = std::min({t0, t1, t2});
    for (std::int64_t k = k_min; k <= k_max; ++k) {
        BigFloat d;
        mpf_set_ui(d.get(), 1);
        for (std::int64_t n : {k, t0 - k, t1 - k, t2 - k, k + p1, k + p2}) multiply_factorial(d, n);
        mpf_ui_div(d.get(), 1, d.get());
        if (k % 2 == 0) {
            mpf_add(out.get(), out.get(), d.get());
        } else {
            mpf_sub(out.get(), out.get(), d.get());
        }
    }
    mpf_mul(out.get(), out.get(), numerator.get());
}

// |value - reference| in units of the spacing of doubles at |value|.
double error_in_ulps(double value, BigFloat& reference) {
    if (!std::isfinite(value)) return INFINITY;
    BigFloat difference;
    mpf_set_d(difference.get(), value);
    mpf_sub(difference.get(), difference.get(), reference.get());
    mpf_abs(difference.get(), difference.get());
    const double spacing = std::nextafter(std::fabs(value), INFINITY) - std::fabs(value);
    BigFloat scaled;
    mpf_set_d(scaled.get(), spacing);
    mpf_div(difference.get(), difference.get(), scaled.get());
    return mpf_get_d(difference.get());
}

// ---------------------------------------------------------------------------------------------
// Racah's formula in double precision, bit for bit.

struct TableCase {
    Args args;
    double expected;
    bool memoised;
};

class CgTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(CgTable, ExactBitsAndMemoEffect) {
    const TableCase& c = GetParam();
    const std::size_t before = cg_memo_size();
    EXPECT_EQ(bits(cg(c.args)), bits(c.expected)) << cg(c.args);
    EXPECT_EQ(cg_memo_size() - before, c.memoised ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CgTable,
    ::testing::Values(TableCase{{1, 1, 1, -1, 0, 0}, 0.7071067811865476, true},
                      TableCase{{1, -1, 1, 1, 0, 0}, -0.7071067811865476, true},
                      TableCase{{1, 1, 1, 1, 2, 2}, 0.9999999999999999, true},
                      TableCase{{1, 1, 1, -1, 2, 0}, 0.7071067811865475, true},
                      TableCase{{2, 2, 2, -2, 0, 0}, 0.5773502691896257, true},
                      TableCase{{2, 0, 2, 0, 0, 0}, -0.5773502691896257, true},
                      TableCase{{2, 0, 2, 0, 2, 0}, 0.0, true},
                      TableCase{{1, 1, 2, 0, 1, 1}, 0.5773502691896258, true},
                      TableCase{{2, 0, 1, 1, 1, 1}, -0.5773502691896258, true},
                      TableCase{{3, 3, 3, -3, 0, 0}, 0.5, true},
                      TableCase{{4, 4, 2, -2, 2, 2}, 0.7745966692414833, true},
                      TableCase{{0, 0, 0, 0, 0, 0}, 1.0, true},
                      TableCase{{0, 0, 3, 1, 3, 1}, 1.0, true},
                      TableCase{{3, 1, 0, 0, 3, 1}, 1.0, true},
                      TableCase{{1, 1, 1, 1, 0, 0}, 0.0, false},
                      TableCase{{1, 1, 2, 0, 2, 1}, 0.0, false},
                      TableCase{{2, 0, 2, 0, 6, 0}, 0.0, false},
                      TableCase{{1, 1, 1, 1, 0, 2}, 0.0, true},
                      TableCase{{1, 3, 1, -3, 0, 0}, 0.0, true}));

// Up to the limit the double evaluation is kept, inaccurate digits and all; one step above it
// the result is the correctly rounded value. Both coefficients are ones the double evaluation
// gets wrong by dozens of ulp.
TEST(CgLimit, DoubleEvaluationUpToTheLimitExactAbove) {
    const Args at_limit{13, 9, 13, -9, 12, 0};  // j1 + j2 + J + 1 = 20
    ASSERT_EQ((at_limit[0] + at_limit[2] + at_limit[4]) / 2 + 1, kDoubleFactorialLimit);
    const double in_double = clebsch_gordan_racah_double(13, 9, 13, -9, 12, 0);
    EXPECT_EQ(bits(cg(at_limit)), bits(in_double));
    EXPECT_NE(bits(in_double), bits(clebsch_gordan_exact(13, 9, 13, -9, 12, 0)));

    const Args above_limit{13, 7, 17, -5, 10, 2};  // j1 + j2 + J + 1 = 21
    const double value = cg(above_limit);
    EXPECT_NE(bits(value), bits(clebsch_gordan_racah_double(13, 7, 17, -5, 10, 2)));
    BigFloat reference;
    reference_cg(above_limit, reference);
    EXPECT_LE(error_in_ulps(value, reference), 0.5);
}

// ---------------------------------------------------------------------------------------------
// Memo behaviour. Each test uses keys of its own, so the counts hold in any order.

TEST(CgMemo, RepeatedCallAddsNothingAndReturnsSameBits) {
    const Args key{5, 3, 7, -1, 6, 2};
    const std::size_t before = cg_memo_size();
    const double first = cg(key);
    EXPECT_EQ(cg_memo_size(), before + 1);
    EXPECT_EQ(bits(cg(key)), bits(first));
    EXPECT_EQ(cg_memo_size(), before + 1);
}

// Where the pinned and the correctly rounded values differ, each keeps a memo of its own: a
// repeat of either returns its own bits.
TEST(CgMemo, CorrectlyRoundedValuesKeepTheirOwnMemo) {
    ProcessStore& rounded = rounded_clebsch_gordan_memo();
    rounded.clear();
    const double exact = clebsch_gordan_exact(13, 9, 13, -9, 12, 0);
    const double pinned = clebsch_gordan_racah_double(13, 9, 13, -9, 12, 0);
    ASSERT_NE(bits(exact), bits(pinned));
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(bits(clebsch_gordan_correctly_rounded(13, 9, 13, -9, 12, 0)), bits(exact));
        EXPECT_EQ(bits(clebsch_gordan(13, 9, 13, -9, 12, 0)), bits(pinned));
    }
    EXPECT_EQ(rounded.statistics().hits, 1u);
    EXPECT_EQ(rounded.statistics().misses, 1u);
}

TEST(CgMemo, LargeSpinsAreMemoisedLikeSmallOnes) {
    const Args key{61, 61, 59, -59, 2, 2};
    const std::size_t before = cg_memo_size();
    const double first = cg(key);
    EXPECT_EQ(bits(cg(key)), bits(first));
    EXPECT_EQ(cg_memo_size(), before + 1);
}

TEST(CgMemo, ThreadsAskingForOneNewKeyLeaveOneEntry) {
    const Args key{301, 5, 299, -3, 300, 2};
    constexpr int kThreads = 8;
    const std::size_t before = cg_memo_size();
    std::vector<double> results(kThreads);
    std::latch start(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                results[static_cast<std::size_t>(t)] = cg(key);
            });
        }
    }
    EXPECT_EQ(cg_memo_size(), before + 1);
    for (double r : results) EXPECT_EQ(bits(r), bits(results[0]));
}

// ---------------------------------------------------------------------------------------------
// Large spins: exact evaluation rounded once.

class CgStretched : public ::testing::TestWithParam<std::int32_t> {};

// <j j; j j | 2j 2j> and <j -j; j -j | 2j -2j> are exactly 1; the double formula gives +inf
// from 2j = 53 on.
TEST_P(CgStretched, IsExactlyOne) {
    const std::int32_t s = GetParam();
    EXPECT_EQ(clebsch_gordan(s, s, s, s, 2 * s, 2 * s), 1.0);
    EXPECT_EQ(clebsch_gordan(s, -s, s, -s, 2 * s, -2 * s), 1.0);
    EXPECT_EQ(clebsch_gordan(s, s, s + 7, s + 7, 2 * s + 7, 2 * s + 7), 1.0);
}

INSTANTIATE_TEST_SUITE_P(DoubledSpins, CgStretched, ::testing::Values(19, 53, 100, 500, 2001));

struct SingletCase {
    std::int32_t two_j;
    std::int32_t two_m;
};

std::ostream& operator<<(std::ostream& out, const SingletCase& c) {
    return out << "two_j=" << c.two_j << " two_m=" << c.two_m;
}

class CgSinglet : public ::testing::TestWithParam<SingletCase> {};

// <j m; j -m | 0 0> = (-1)^(j - m) / sqrt(2j + 1), correctly rounded.
TEST_P(CgSinglet, MatchesClosedForm) {
    const auto [s, m] = GetParam();
    const double value = clebsch_gordan(s, m, s, -m, 0, 0);
    BigFloat reference;
    mpf_set_ui(reference.get(), static_cast<unsigned long>(s + 1));
    mpf_sqrt(reference.get(), reference.get());
    mpf_ui_div(reference.get(), 1, reference.get());
    if ((s - m) / 2 % 2 != 0) mpf_neg(reference.get(), reference.get());
    EXPECT_LE(error_in_ulps(value, reference), 0.5) << value;
}

INSTANTIATE_TEST_SUITE_P(Spins, CgSinglet,
                         ::testing::Values(SingletCase{21, 1}, SingletCase{21, -21},
                                           SingletCase{100, 0}, SingletCase{100, 34},
                                           SingletCase{501, -499}, SingletCase{2000, 2}));

class CgAgainstReference : public ::testing::TestWithParam<Args> {};

TEST_P(CgAgainstReference, IsCorrectlyRounded) {
    const Args& a = GetParam();
    const double value = cg(a);
    BigFloat reference;
    reference_cg(a, reference);
    ASSERT_TRUE(std::isfinite(value));
    EXPECT_NE(value, 0.0);
    EXPECT_LE(error_in_ulps(value, reference), 0.5) << value;
}

INSTANTIATE_TEST_SUITE_P(
    LargeSpins, CgAgainstReference,
    ::testing::Values(Args{40, 2, 40, -2, 40, 0}, Args{60, 2, 60, -2, 60, 0},
                      Args{101, 51, 99, -31, 100, 20}, Args{120, 0, 120, 0, 120, 0},
                      Args{200, 100, 150, -50, 250, 50}, Args{347, -11, 203, 7, 400, -4},
                      Args{1000, 2, 1000, -4, 1000, -2},
                      // Within 2^-12 ulp of a midpoint between doubles: rounding needs to know
                      // that the square root is inexact.
                      Args{23, -1, 34, 6, 17, 5}, Args{22, -8, 31, 3, 23, -5}));

// Coefficients <j -j; j m2 | J M> near the stretched one are of order 2^-2j: they leave the
// normal range of doubles near 2j = 1050 and drop below half the smallest subnormal near
// 2j = 1075. A subnormal is rounded once, at its own precision.
TEST(CgTinyValues, SubnormalIsCorrectlyRoundedAndUnderflowGivesZero) {
    const Args subnormal{1056, -1056, 1056, 1050, 2106, -6};
    const double value = cg(subnormal);
    EXPECT_NE(value, 0.0);
    EXPECT_LT(std::fabs(value), std::numeric_limits<double>::min());
    BigFloat reference;
    reference_cg(subnormal, reference);
    EXPECT_LE(error_in_ulps(value, reference), 0.5) << value;

    EXPECT_EQ(bits(cg({1100, -1100, 1100, 1100, 2200, 0})), bits(0.0));
}

// Zeros of the exact value: by symmetry, and from magnetic numbers beyond their spin.
class CgExactZero : public ::testing::TestWithParam<Args> {};

TEST_P(CgExactZero, IsPositiveZero) { EXPECT_EQ(bits(cg(GetParam())), bits(0.0)); }

INSTANTIATE_TEST_SUITE_P(LargeSpins, CgExactZero,
                         ::testing::Values(Args{40, 0, 40, 0, 42, 0},      // j1 + j2 + J odd
                                           Args{120, 0, 100, 0, 90, 0},    // j1 + j2 + J odd
                                           Args{41, 43, 41, -43, 0, 0},    // m1 > j1
                                           Args{40, 40, 40, 40, 40, 80},   // M > J
                                           Args{300, -2, 300, -302, 600, -304}));  // m2 < -j2

// Exchanging the two spins, or reversing every magnetic number, multiplies the coefficient by
// (-1)^(j1 + j2 - J); a correctly rounded evaluation keeps the magnitudes identical.
TEST(CgSymmetry, ExchangeAndReflectionKeepMagnitudeBitForBit) {
    const std::int32_t two_j1 = 21, two_j2 = 24, two_j = 25;
    const double phase = (two_j1 + two_j2 - two_j) / 2 % 2 == 0 ? 1.0 : -1.0;
    for (std::int32_t m1 = -two_j1; m1 <= two_j1; m1 += 2) {
        for (std::int32_t m2 = -two_j2; m2 <= two_j2; m2 += 2) {
            const std::int32_t m = m1 + m2;
            if (std::abs(m) > two_j) continue;
            const double value = clebsch_gordan(two_j1, m1, two_j2, m2, two_j, m);
            EXPECT_EQ(phase * clebsch_gordan(two_j2, m2, two_j1, m1, two_j, m), value);
            EXPECT_EQ(phase * clebsch_gordan(two_j1, -m1, two_j2, -m2, two_j, -m), value);
        }
    }
}

struct OrthonormalityCase {
    std::int32_t two_j1;
    std::int32_t two_j2;
    std::int32_t two_j;
    std::int32_t two_m;
};

std::ostream& operator<<(std::ostream& out, const OrthonormalityCase& c) {
    return out << "(" << c.two_j1 << ", " << c.two_j2 << ") -> (" << c.two_j << ", " << c.two_m
               << ")";
}

class CgOrthonormality : public ::testing::TestWithParam<OrthonormalityCase> {};

// For fixed J, M the coefficients over m1 form a unit vector, orthogonal to that of J + 1.
TEST_P(CgOrthonormality, UnitNormAndOrthogonalToNextSpin) {
    const auto [j1, j2, j, m] = GetParam();
    long double norm = 0.0L;
    long double overlap = 0.0L;
    for (std::int32_t m1 = -j1; m1 <= j1; m1 += 2) {
        const double value = clebsch_gordan(j1, m1, j2, m - m1, j, m);
        const double next = clebsch_gordan(j1, m1, j2, m - m1, j + 2, m);
        ASSERT_TRUE(std::isfinite(value) && std::isfinite(next)) << m1;
        norm += static_cast<long double>(value) * value;
        overlap += static_cast<long double>(value) * next;
    }
    EXPECT_NEAR(static_cast<double>(norm), 1.0, 1e-14);
    EXPECT_NEAR(static_cast<double>(overlap), 0.0, 1e-14);
}

INSTANTIATE_TEST_SUITE_P(
    LargeSpins, CgOrthonormality,
    ::testing::Values(OrthonormalityCase{40, 40, 38, 0}, OrthonormalityCase{60, 60, 60, 2},
                      OrthonormalityCase{101, 99, 100, 10}, OrthonormalityCase{200, 200, 0, 0},
                      OrthonormalityCase{200, 200, 200, -6}, OrthonormalityCase{200, 200, 398, 398},
                      OrthonormalityCase{150, 60, 170, 90}));

}  // namespace
}  // namespace tavrin
