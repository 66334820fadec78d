// Permutation, conjugation and flipped legs against the same operations on dense tensors.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "block_test_support.hpp"
#include "blocks/block_permutation.hpp"

namespace tavrin::blocks {
namespace {

using namespace tavrin::blocks::testing;

// X'[..., m, ...] = (-1)^(j - m) X[..., -m, ...] on one axis, sector by sector and multiplet by
// multiplet; its inverse is (-1)^(2j) times it.
Tensor flipped_axis(const Tensor& dense, const Leg& leg, std::size_t axis, bool inverse) {
    Tensor out = Tensor::zeros(dense.shape());
    const Shape& shape = dense.shape();
    std::uint64_t inner = 1;
    for (std::size_t k = axis + 1; k < shape.size(); ++k) inner *= shape[k];
    std::uint64_t outer = 1;
    for (std::size_t k = 0; k < axis; ++k) outer *= shape[k];
    for (std::size_t s = 0; s < leg.sector_count(); ++s) {
        const std::int64_t twice_j = leg.twice_j(s);
        for (std::uint64_t t = 0; t < leg.multiplicity(s); ++t) {
            const std::uint64_t start =
                leg.dense_offset(s) + t * static_cast<std::uint64_t>(twice_j + 1);
            for (std::int64_t i = 0; i <= twice_j; ++i) {
                double sign = (twice_j - i) % 2 == 0 ? 1.0 : -1.0;
                if (inverse && twice_j % 2 != 0) sign = -sign;
                const std::uint64_t to = start + static_cast<std::uint64_t>(i);
                const std::uint64_t from = start + static_cast<std::uint64_t>(twice_j - i);
                for (std::uint64_t o = 0; o < outer; ++o) {
                    for (std::uint64_t e = 0; e < inner; ++e) {
                        out.data()[(o * shape[axis] + to) * inner + e] =
                            sign * dense.data()[(o * shape[axis] + from) * inner + e];
                    }
                }
            }
        }
    }
    return out;
}

class LegOperations : public CacheDirectory, public ::testing::WithParamInterface<std::size_t> {
protected:
    // Random tensors of every direction pattern of the parameter's number of legs.
    template <class Check>
    void for_each_pattern(Check&& check) {
        std::mt19937 rng(5 + static_cast<unsigned>(GetParam()));
        int checked = 0;
        for (const std::vector<int>& signs : direction_patterns(GetParam())) {
            const BlockTensor t = *BlockTensor::random(random_legs(rng, signs, 3), rng());
            if (!has_entries(t)) continue;
            check(t, rng);
            ++checked;
        }
        EXPECT_GT(checked, 0);
    }
};

TEST_P(LegOperations, PermutationMovesTheDenseAxes) {
    for_each_pattern([&](const BlockTensor& t, std::mt19937& rng) {
        std::vector<std::size_t> permutation(t.rank());
        std::iota(permutation.begin(), permutation.end(), 0);
        std::shuffle(permutation.begin(), permutation.end(), rng);
        auto permuted = permute(t, permutation, context_);
        ASSERT_TRUE(permuted) << permuted.error().to_string();
        const Tensor expected = to_dense(t, context_)->permute_axes(permutation);
        EXPECT_LT(largest_difference(*to_dense(*permuted, context_), expected), 1e-12);
    });
}

TEST_P(LegOperations, ConjugateKeepsTheDenseTensorWithEveryDirectionReversed) {
    for_each_pattern([&](const BlockTensor& t, std::mt19937&) {
        const BlockTensor c = conjugate(t);
        for (std::size_t k = 0; k < t.rank(); ++k) {
            EXPECT_EQ(c.legs()[k], t.legs()[k].flipped());
        }
        EXPECT_LT(largest_difference(*to_dense(c, context_), *to_dense(t, context_)), 1e-12);
    });
}

TEST_P(LegOperations, FlippingALegMapsItsDenseAxis) {
    for_each_pattern([&](const BlockTensor& t, std::mt19937&) {
        for (std::size_t k = 0; k < t.rank(); ++k) {
            auto flipped = flip_leg(t, k);
            ASSERT_TRUE(flipped);
            const bool inverse = t.legs()[k].direction().is_outgoing();
            const Tensor expected =
                flipped_axis(*to_dense(t, context_), t.legs()[k], k, inverse);
            EXPECT_LT(largest_difference(*to_dense(*flipped, context_), expected), 1e-12) << k;
            EXPECT_TRUE(all_close(*flip_leg(*flipped, k), t, 0.0, 0.0));
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Legs, LegOperations, ::testing::Values(2, 3, 4));

class Refused : public CacheDirectory {};

TEST_F(Refused, PermutationsThatDoNotNameEveryLegOnce) {
    const BlockTensor t = *BlockTensor::zeros({leg(1, {{1, 1}}), leg(1, {{1, 1}}),
                                               leg(-1, {{0, 1}, {2, 1}})});
    for (const std::vector<std::size_t>& wrong :
         {std::vector<std::size_t>{0, 1}, {0, 1, 1}, {0, 1, 3}}) {
        auto permuted = permute(t, wrong, context_);
        ASSERT_FALSE(permuted);
        EXPECT_EQ(permuted.error().kind(), ErrorKind::InvalidBlockTensor);
    }
    EXPECT_EQ(flip_leg(t, 3).error(),
              TavrinError::invalid_block_tensor("leg = 3: a tensor of 3 legs has legs 0 ... 2"));
}

}  // namespace
}  // namespace tavrin::blocks
