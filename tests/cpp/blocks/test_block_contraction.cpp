// Block contraction against the dense contraction of the dense tensors.
#include <gtest/gtest.h>

#include <numeric>

#include "block_test_support.hpp"
#include "blocks/block_contraction.hpp"

namespace tavrin::blocks {
namespace {

using namespace tavrin::blocks::testing;

struct ContractionShape {
    std::size_t rank_a;
    std::size_t rank_b;
    std::vector<std::size_t> axes_a;
    std::vector<std::size_t> axes_b;
    std::int32_t widest;
};

class BlockContraction : public CacheDirectory,
                         public ::testing::WithParamInterface<ContractionShape> {};

// Every direction pattern of A; B's paired legs opposite to A's, its other legs random.
TEST_P(BlockContraction, MatchesTheDenseContraction) {
    const ContractionShape& shape = GetParam();
    std::mt19937 rng(17);
    int compared = 0;
    for (const std::vector<int>& signs_a : direction_patterns(shape.rank_a)) {
        std::vector<Leg> legs_a = random_legs(rng, signs_a, shape.widest);
        std::vector<int> signs_b(shape.rank_b);
        for (int& s : signs_b) s = std::bernoulli_distribution(0.5)(rng) ? 1 : -1;
        std::vector<Leg> legs_b = random_legs(rng, signs_b, shape.widest);
        for (std::size_t p = 0; p < shape.axes_a.size(); ++p) {
            legs_b[shape.axes_b[p]] = legs_a[shape.axes_a[p]].flipped();
        }
        const BlockTensor a = *BlockTensor::random(legs_a, rng());
        const BlockTensor b = *BlockTensor::random(legs_b, rng());
        auto c = contract(a, b, shape.axes_a, shape.axes_b, context_);
        ASSERT_TRUE(c) << c.error().to_string();
        const Tensor expected =
            tensordot(*to_dense(a, context_), *to_dense(b, context_), shape.axes_a, shape.axes_b);
        const Tensor actual = *to_dense(*c, context_);
        EXPECT_LT(largest_difference(actual, expected), 1e-12);
        compared += has_entries(a) && has_entries(b);
    }
    EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BlockContraction,
    ::testing::Values(ContractionShape{3, 3, {2}, {0}, 3}, ContractionShape{3, 3, {0}, {2}, 3},
                      ContractionShape{3, 4, {1, 2}, {0, 3}, 2},
                      ContractionShape{4, 3, {3, 0}, {1, 2}, 2},
                      ContractionShape{2, 3, {1}, {0}, 3}, ContractionShape{4, 4, {1, 2}, {2, 1}, 2},
                      ContractionShape{3, 3, {0, 1, 2}, {2, 0, 1}, 2},
                      ContractionShape{4, 2, {3}, {0}, 2}));

}  // namespace
}  // namespace tavrin::blocks
