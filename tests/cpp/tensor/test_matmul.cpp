#include "tensor/matmul.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

namespace tavrin {
namespace {

// Random values of mixed magnitude, about a third of them exactly zero, so that any change
// in the order of accumulation shows in the last bits.
std::vector<double> random_values(std::uint64_t count, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-20, 20);
    std::vector<double> values(count);
    for (double& x : values) x = (rng() % 3 == 0) ? 0.0 : std::ldexp(uniform(rng), exponent(rng));
    return values;
}

std::vector<double> reference_product(const std::vector<double>& a, const std::vector<double>& b,
                                      std::uint64_t P, std::uint64_t K, std::uint64_t Q) {
    std::vector<double> c(P * Q, 0.0);
    for (std::uint64_t p = 0; p < P; ++p) {
        for (std::uint64_t q = 0; q < Q; ++q) {
            double sum = 0.0;
            for (std::uint64_t k = 0; k < K; ++k) {
                if (a[p * K + k] != 0.0) sum += a[p * K + k] * b[k * Q + q];
            }
            c[p * Q + q] = sum;
        }
    }
    return c;
}

struct ProductShape {
    std::uint64_t P, K, Q;
};

void PrintTo(const ProductShape& s, std::ostream* os) {
    *os << "[" << s.P << ", " << s.K << "] x [" << s.K << ", " << s.Q << "]";
}

class AscendingKProduct : public ::testing::TestWithParam<ProductShape> {};

TEST_P(AscendingKProduct, MatchesAscendingKSumBitForBit) {
    const auto [P, K, Q] = GetParam();
    std::mt19937_64 rng(P * 1000003 + K * 1009 + Q);
    const std::vector<double> a = random_values(P * K, rng);
    const std::vector<double> b = random_values(K * Q, rng);
    std::vector<double> c(P * Q, 0.0);
    matmul_accumulate_ascending_k(a.data(), b.data(), c.data(), P, K, Q);
    const std::vector<double> expected = reference_product(a, b, P, K, Q);
    for (std::uint64_t i = 0; i < P * Q; ++i) {
        ASSERT_EQ(c[i], expected[i]) << "element " << i;
    }
}

// Shapes below, at and across the kernel's block sizes, and with every extent zero once.
INSTANTIATE_TEST_SUITE_P(Shapes, AscendingKProduct,
                         ::testing::Values(ProductShape{1, 1, 1}, ProductShape{3, 5, 7},
                                           ProductShape{4, 128, 256}, ProductShape{3, 129, 257},
                                           ProductShape{5, 300, 600}, ProductShape{7, 1, 513},
                                           ProductShape{0, 4, 3}, ProductShape{3, 0, 4},
                                           ProductShape{3, 4, 0}));

TEST(AscendingKProductOrder, AddsTermsFromFirstToLast) {
    // (1e16 + 1) rounds back to 1e16, so only the ascending order gives exactly 0.
    const std::vector<double> a{1.0, 1.0, 1.0};
    const std::vector<double> b{1e16, 1.0, -1e16};
    double c = 0.0;
    matmul_accumulate_ascending_k(a.data(), b.data(), &c, 1, 3, 1);
    EXPECT_EQ(c, 0.0);
}

TEST(AscendingKProductOrder, SkipsZeroEntriesOfTheLeftFactor) {
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<double> a{0.0, 2.0};
    const std::vector<double> b{infinity, 3.0};
    double c = 0.0;
    matmul_accumulate_ascending_k(a.data(), b.data(), &c, 1, 2, 1);
    EXPECT_EQ(c, 6.0);
}

TEST(AscendingKProductOrder, AddsOntoTheInitialContents) {
    const std::vector<double> a{1.0, 2.0};
    const std::vector<double> b{3.0, 4.0};
    double c = 0.5;
    matmul_accumulate_ascending_k(a.data(), b.data(), &c, 1, 2, 1);
    EXPECT_EQ(c, 11.5);
}

}  // namespace
}  // namespace tavrin
