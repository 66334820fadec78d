#include "coupling/wigner_9j.hpp"
#include "coupling/wigner_6j.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

namespace tavrin {
namespace {

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Uniform in [0, n].
std::int32_t up_to(std::mt19937& rng, std::int32_t n) {
    return static_cast<std::int32_t>(rng() % (static_cast<std::uint32_t>(n) + 1));
}

std::int32_t coupled(std::mt19937& rng, std::int32_t a, std::int32_t b) {
    return std::abs(a - b) + 2 * up_to(rng, std::min(a, b));
}

NineSpins random_nine_j(std::mt19937& rng, std::int32_t limit) {
    for (;;) {
        NineSpins j{};
        for (std::size_t k : {0u, 1u, 3u, 4u}) j[k] = up_to(rng, limit);
        j[2] = coupled(rng, j[0], j[1]), j[5] = coupled(rng, j[3], j[4]);
        j[6] = coupled(rng, j[0], j[3]), j[7] = coupled(rng, j[1], j[4]);
        j[8] = coupled(rng, j[2], j[5]);
        if (nine_j_triads_hold(j)) return j;
    }
}

// Transposing keeps the symbol; exchanging two rows or two columns multiplies it by
// (-1)^(sum of all nine spins). The exact evaluation gives identical bits up to that sign.
TEST(NineJSymmetry, TranspositionAndExchangesGiveIdenticalBitsUpToTheirSign) {
    std::mt19937 rng(9);
    for (int trial = 0; trial < 400; ++trial) {
        const NineSpins j = random_nine_j(rng, trial < 350 ? 8 : 24);
        const double value = wigner_9j_exact(j);
        std::int64_t total = 0;
        for (std::int32_t v : j) total += v;
        const double exchanged = total / 2 % 2 == 0 ? value : -value;
        const NineSpins transposed{j[0], j[3], j[6], j[1], j[4], j[7], j[2], j[5], j[8]};
        const NineSpins rows{j[3], j[4], j[5], j[0], j[1], j[2], j[6], j[7], j[8]};
        const NineSpins columns{j[0], j[2], j[1], j[3], j[5], j[4], j[6], j[8], j[7]};
        EXPECT_EQ(bits(wigner_9j_exact(transposed)), bits(value));
        EXPECT_EQ(bits(wigner_9j_exact(rows) + 0.0), bits(exchanged + 0.0));
        EXPECT_EQ(bits(wigner_9j_exact(columns) + 0.0), bits(exchanged + 0.0));
    }
}

// {a b e; c d e; f f 0} = (-1)^(b + c + e + f) {a b e; d c f} / sqrt((2e + 1)(2f + 1)).
TEST(NineJWithAZero, IsASixJSymbol) {
    std::mt19937 rng(10);
    int nonzero = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        const auto draw = [&] { return up_to(rng, 30); };
        const std::int32_t a = draw(), b = draw(), c = draw(), d = draw();
        const std::int32_t e = coupled(rng, a, b), f = coupled(rng, a, c);
        const double six_j = wigner_6j_exact(a, b, e, d, c, f);
        const double phase = (b + c + e + f) / 2 % 2 == 0 ? 1.0 : -1.0;
        const double expected = phase * six_j / std::sqrt((e + 1.0) * (f + 1.0));
        const double value = wigner_9j_exact({a, b, e, c, d, e, f, f, 0});
        EXPECT_NEAR(value, expected, std::abs(expected) * 4e-16) << a << b << c << d << e << f;
        if (value != 0.0) ++nonzero;
    }
    EXPECT_GT(nonzero, 200);
}

TEST(NineJMemo, GivesTheExactEvaluationsBits) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 100; ++trial) {
        const NineSpins j = random_nine_j(rng, 16);
        EXPECT_EQ(bits(wigner_9j(j)), bits(wigner_9j_exact(j)));
        EXPECT_EQ(bits(wigner_9j(j)), bits(wigner_9j_exact(j)));
    }
    EXPECT_EQ(wigner_9j({1, 1, 1, 1, 1, 1, 1, 1, 1}), 0.0);  // a triad fails
}

}  // namespace
}  // namespace tavrin
