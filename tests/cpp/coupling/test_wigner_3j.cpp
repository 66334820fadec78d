#include "coupling/wigner_3j.hpp"
#include "coupling/clebsch_gordan_exact.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

namespace tavrin {
namespace {

using ThreeJ = std::array<std::int32_t, 6>;  // two_j1, two_j2, two_j3, two_m1, two_m2, two_m3

double three_j(const ThreeJ& a) { return wigner_3j_exact(a[0], a[1], a[2], a[3], a[4], a[5]); }
std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Uniform in [0, n].
std::int32_t up_to(std::mt19937& rng, std::int32_t n) {
    return static_cast<std::int32_t>(rng() % (static_cast<std::uint32_t>(n) + 1));
}

ThreeJ random_three_j(std::mt19937& rng, std::int32_t limit) {
    for (;;) {
        const std::int32_t j1 = up_to(rng, limit), j2 = up_to(rng, limit);
        const std::int32_t j3 = std::abs(j1 - j2) + 2 * up_to(rng, std::min(j1, j2));
        const std::int32_t m1 = 2 * up_to(rng, j1) - j1;
        const std::int32_t m2 = 2 * up_to(rng, j2) - j2;
        if (std::abs(m1 + m2) <= j3) return {j1, j2, j3, m1, m2, -m1 - m2};
    }
}

// An odd permutation of the columns, and m -> -m, each multiply by (-1)^(j1 + j2 + j3); an
// even permutation changes nothing. The exact evaluation gives identical bits up to that sign.
TEST(ThreeJSymmetry, PermutationsAndReflectionGiveIdenticalBitsUpToTheirSign) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 3000; ++trial) {
        const ThreeJ a = random_three_j(rng, trial < 2500 ? 12 : 200);
        const double value = three_j(a);
        const double odd = (a[0] + a[1] + a[2]) / 2 % 2 == 0 ? value : -value;
        EXPECT_EQ(bits(three_j({a[1], a[2], a[0], a[4], a[5], a[3]})), bits(value));
        EXPECT_EQ(bits(three_j({a[1], a[0], a[2], a[4], a[3], a[5]}) + 0.0), bits(odd + 0.0));
        EXPECT_EQ(bits(three_j({a[0], a[1], a[2], -a[3], -a[4], -a[5]}) + 0.0), bits(odd + 0.0));
    }
}

// The 3j symbol is the coefficient over sqrt(2 j3 + 1) rounded once: within half a unit in
// the last place of that quotient of two doubles, and exactly the coefficient where j3 = 0.
// Exact zeros are +0.0 whatever the phase.
TEST(ThreeJAndClebschGordan, DifferByThePhaseAndTheRootOfTheDimension) {
    std::mt19937 rng(4);
    for (int trial = 0; trial < 3000; ++trial) {
        const ThreeJ a = random_three_j(rng, 40);
        const double cg = clebsch_gordan_exact(a[0], a[3], a[1], a[4], a[2], -a[5]);
        const double phase = (a[0] - a[1] - a[5]) / 2 % 2 == 0 ? 1.0 : -1.0;
        const double expected = phase * cg / std::sqrt(a[2] + 1.0);
        EXPECT_NEAR(three_j(a), expected, std::abs(expected) * 3e-16);
        if (cg == 0.0) {
            EXPECT_EQ(bits(three_j(a)), bits(0.0));
        }
    }
    EXPECT_EQ(three_j({5, 5, 0, 3, -3, 0}),
              clebsch_gordan_exact(5, 3, 5, -3, 0, 0));  // phase (-1)^(j1 - j2 - m3) = 1
}

// sum_{m1, m2} (2 j3 + 1) (j1 j2 j3; m1 m2 m3)^2 = 1 for every m3 within j3.
TEST(ThreeJOrthogonality, SquaresOverTheMagneticNumbersSumToOne) {
    for (const auto& [j1, j2, j3] : {std::array{6, 4, 4}, std::array{9, 7, 4}, std::array{20, 21, 11}}) {
        for (std::int32_t m3 = -j3; m3 <= j3; m3 += 2) {
            double sum = 0.0;
            for (std::int32_t m1 = -j1; m1 <= j1; m1 += 2) {
                const double value = wigner_3j(j1, j2, j3, m1, -m1 - m3, m3);
                sum += (j3 + 1) * value * value;
            }
            EXPECT_NEAR(sum, 1.0, 1e-14);
        }
    }
}

TEST(ThreeJMemo, GivesTheExactEvaluationsBits) {
    std::mt19937 rng(6);
    for (int trial = 0; trial < 200; ++trial) {
        const ThreeJ a = random_three_j(rng, 60);
        EXPECT_EQ(bits(wigner_3j(a[0], a[1], a[2], a[3], a[4], a[5])), bits(three_j(a)));
        EXPECT_EQ(bits(wigner_3j(a[0], a[1], a[2], a[3], a[4], a[5])), bits(three_j(a)));
    }
}

}  // namespace
}  // namespace tavrin
