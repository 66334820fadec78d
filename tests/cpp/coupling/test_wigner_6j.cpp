#include "coupling/wigner_6j.hpp"
#include "coupling/coupling_rule.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

namespace tavrin {
namespace {

using SixJ = std::array<std::int32_t, 6>;

double six_j(const SixJ& a) { return wigner_6j_exact(a[0], a[1], a[2], a[3], a[4], a[5]); }

struct KnownValue {
    SixJ args;
    double value;
};

// Closed forms (doubled spins below): {1 1 1; 1 1 1} = 1/6, {1/2 1/2 1; 1/2 1/2 1} = 1/6,
// {a b c; b a 0} = (-1)^(a+b+c) / sqrt((2a+1)(2b+1)) and, by symmetry,
// {a a 0; b b c} = (-1)^(a+b+c) / sqrt((2a+1)(2b+1)).
class SixJKnownValues : public ::testing::TestWithParam<KnownValue> {};

// Within one unit in the last place: the references are rounded more than once.
TEST_P(SixJKnownValues, EqualsClosedForm) {
    EXPECT_NEAR(six_j(GetParam().args), GetParam().value, std::abs(GetParam().value) * 2.3e-16);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SixJKnownValues,
    ::testing::Values(KnownValue{{2, 2, 2, 2, 2, 2}, 1.0 / 6.0},
                      KnownValue{{1, 1, 2, 1, 1, 2}, 1.0 / 6.0},
                      KnownValue{{2, 2, 0, 2, 2, 2}, -1.0 / 3.0},
                      KnownValue{{1, 1, 0, 1, 1, 0}, -0.5},
                      KnownValue{{2, 4, 2, 4, 2, 0}, 1.0 / std::sqrt(15.0)},
                      KnownValue{{3, 1, 2, 1, 3, 0}, -1.0 / std::sqrt(8.0)},
                      KnownValue{{0, 0, 0, 0, 0, 0}, 1.0},
                      // A triad that fails: (1/2, 1/2, 1/2) has a half-integer sum.
                      KnownValue{{1, 1, 1, 1, 1, 1}, 0.0},
                      // Triangle rule fails in (j1 j5 j6).
                      KnownValue{{2, 2, 2, 2, 2, 6}, 0.0}));

// The 24 symmetries of the tetrahedron: any permutation of the columns, and swapping upper and
// lower entries in two columns. An exact evaluation must give identical bits for all of them.
TEST(SixJSymmetry, TetrahedralSymmetriesGiveIdenticalBits) {
    std::mt19937 rng(7);
    int nonzero = 0;
    for (int trial = 0; trial < 5000; ++trial) {
        SixJ a{};
        for (auto& v : a) v = static_cast<std::int32_t>(rng() % 13);
        const double value = six_j(a);
        if (value != 0.0) ++nonzero;
        const SixJ column_swapped{a[1], a[0], a[2], a[4], a[3], a[5]};
        const SixJ column_rotated{a[1], a[2], a[0], a[4], a[5], a[3]};
        const SixJ flipped{a[3], a[4], a[2], a[0], a[1], a[5]};
        for (const SixJ& other : {column_swapped, column_rotated, flipped}) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(six_j(other)),
                      std::bit_cast<std::uint64_t>(value));
        }
    }
    EXPECT_GT(nonzero, 20);
}

// sum_x (2x+1)(2f+1) {a b x; c d f} {a b x; c d g} = delta(f, g) for f, g allowed by the
// triads (a d f) and (c b f).
TEST(SixJOrthogonality, RowsAreOrthonormal) {
    const std::array<std::array<std::int32_t, 4>, 4> cases{
        {{2, 4, 4, 2}, {3, 5, 4, 6}, {12, 11, 9, 10}, {1, 1, 1, 1}}};
    for (const auto& [a, b, c, d] : cases) {
        for (std::int32_t f = 0; f <= 30; ++f) {
            for (std::int32_t g = 0; g <= 30; ++g) {
                if (!couples(a, d, f) || !couples(c, b, f) || !couples(a, d, g) ||
                    !couples(c, b, g)) {
                    continue;
                }
                double sum = 0.0;
                for (std::int32_t x = 0; x <= 30; ++x) {
                    sum += (x + 1.0) * (f + 1.0) * wigner_6j(a, b, x, c, d, f) *
                           wigner_6j(a, b, x, c, d, g);
                }
                EXPECT_NEAR(sum, f == g ? 1.0 : 0.0, 1e-14) << a << " " << b << " " << c << " "
                                                            << d << " " << f << " " << g;
            }
        }
    }
}

TEST(SixJLarge, StaysFiniteWhereFactorialsOverflowDoubles) {
    // 2j = 400: factorials up to 601! are far beyond the double range.
    const double value = wigner_6j_exact(400, 400, 400, 400, 400, 400);
    EXPECT_TRUE(std::isfinite(value));
    EXPECT_NE(value, 0.0);
    EXPECT_LT(std::abs(value), 1e-3);
}

}  // namespace
}  // namespace tavrin
