// What the block tensors refuse, and how they say it: legs whose dense axis would not fit,
// tensors that would not fit in memory or in a NumPy array, leg positions out of range, blocks
// of the wrong sectors or shape, and computations asked to stop.
#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <string>

#include "block_test_support.hpp"
#include "blocks/block_contraction.hpp"
#include "blocks/lanczos.hpp"

namespace tavrin::blocks {
namespace {

using namespace tavrin::blocks::testing;

constexpr std::uint64_t kLongestAxis = std::numeric_limits<std::int64_t>::max();

struct DenseDimensionCase {
    std::vector<Sector> sectors;
    std::uint64_t dimension;  // 0: refused
};

class DenseDimension : public ::testing::TestWithParam<DenseDimensionCase> {};

TEST_P(DenseDimension, IsExactOrTheLegRefused) {
    const auto made = Leg::create(Direction::incoming(), GetParam().sectors);
    if (GetParam().dimension == 0) {
        ASSERT_FALSE(made);
        EXPECT_EQ(made.error().kind(), ErrorKind::InvalidBlockTensor);
        EXPECT_NE(made.error().text().find("exceeds 2^63 - 1"), std::string::npos);
    } else {
        ASSERT_TRUE(made);
        EXPECT_EQ(made->dense_dimension(), GetParam().dimension);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Legs, DenseDimension,
    ::testing::Values(
        DenseDimensionCase{{{2147483647, 1}}, std::uint64_t{1} << 31},
        DenseDimensionCase{{{0, std::uint64_t{1} << 62}, {2147483647, 2}},
                           (std::uint64_t{1} << 62) + (std::uint64_t{1} << 32)},
        DenseDimensionCase{{{0, kLongestAxis}}, kLongestAxis},
        DenseDimensionCase{{{0, std::uint64_t{1} << 62}, {1, std::uint64_t{1} << 62}}, 0},
        DenseDimensionCase{{{0, kLongestAxis}, {1, 1}}, 0},
        DenseDimensionCase{{{3, std::uint64_t{1} << 62}}, 0},
        DenseDimensionCase{{{2147483647, std::uint64_t{1} << 33}}, 0}),
    [](const ::testing::TestParamInfo<DenseDimensionCase>& param) {
        return param.param.dimension == 0 ? "Refused" + std::to_string(param.index)
                                          : "Exact" + std::to_string(param.index);
    });

class BlockErrors : public CacheDirectory {};

TEST_F(BlockErrors, BlocksBeyondPhysicalMemoryBeforeAllocatingThem) {
    const Leg wide = leg(1, {{0, std::uint64_t{1} << 22}});
    // 2^44 numbers in one block; 2^66 in one, past 64 bits.
    EXPECT_THROW((void)BlockTensor::zeros({wide, wide.flipped()}), std::bad_alloc);
    EXPECT_THROW((void)BlockTensor::random({wide, wide, wide.flipped()}, 1), std::bad_alloc);
    // Many blocks, each small enough (2 GiB), together too large (4 TiB).
    std::vector<Sector> many;
    for (std::int32_t j = 0; j < 4096; j += 2) many.push_back({j, std::uint64_t{1} << 14});
    const Leg spins = leg(1, many);
    EXPECT_THROW((void)BlockTensor::zeros({spins, spins.flipped()}), std::bad_alloc);
}

TEST_F(BlockErrors, MoreLegsThanANumpyBlockHoldsAxes) {
    const Leg scalar = leg(1, {{0, 1}});
    EXPECT_TRUE(BlockTensor::zeros(std::vector<Leg>(kMaxLegs, scalar)));
    const auto refused = BlockTensor::zeros(std::vector<Leg>(kMaxLegs + 1, scalar));
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().text().find("at most 31 legs"), std::string::npos);
}

TEST(LegPosition, SaysWhichLegsTheTensorHas) {
    EXPECT_TRUE(check_leg_position("leg", 1, 2));
    const std::pair<std::size_t, const char*> cases[] = {
        {0, "axes_b = 3: a tensor of 0 legs has no legs"},
        {1, "axes_b = 3: a tensor of 1 leg has leg 0"},
        {3, "axes_b = 3: a tensor of 3 legs has legs 0 ... 2"},
    };
    for (const auto& [rank, message] : cases) {
        EXPECT_EQ(check_leg_position("axes_b", 3, rank).error(),
                  TavrinError::invalid_block_tensor(message));
    }
}

TEST_F(BlockErrors, BlocksNamedByTheirSpins) {
    const Leg half = leg(1, {{1, 2}});
    const Leg pair = leg(-1, {{0, 1}, {2, 1}});
    const std::vector<Leg> legs{half, half, pair};
    const auto wrong_shape =
        BlockTensor::from_blocks(legs, {{{0, 0, 1}, Tensor::zeros({2, 2})}});
    EXPECT_EQ(wrong_shape.error().text(),
              "blocks[(1, 1, 2)] has shape (2, 2), expected (2, 2, 1, 1) (the multiplicities "
              "of its sectors, then its OM dimension)");
    const auto twice = BlockTensor::from_blocks(
        legs, {{{0, 0, 0}, Tensor::zeros({2, 2, 1, 1})}, {{0, 0, 0}, Tensor::zeros({2, 2, 1, 1})}});
    EXPECT_EQ(twice.error().text(), "blocks[(1, 1, 0)] is given twice");
    const auto inadmissible = BlockTensor::from_blocks(
        {half, leg(1, {{2, 1}}), pair}, {{{0, 0, 0}, Tensor::zeros({2, 1, 1, 1})}});
    EXPECT_NE(inadmissible.error().text().find("blocks[(1, 2, 0)]: the legs admit no block"),
              std::string::npos);
}

TEST_F(BlockErrors, WorkAskedToStop) {
    CallContext stopping([] { return true; });
    const Leg wide = leg(1, {{0, 1}, {2, 1}, {4, 1}});
    EXPECT_EQ(BlockTensor::zeros({wide, wide, wide.flipped()}, stopping).error().kind(),
              ErrorKind::Interrupted);
    EXPECT_EQ(BlockTensor::random({wide, wide.flipped()}, 1, stopping).error().kind(),
              ErrorKind::Interrupted);
    // With the plan kept by a first contraction, the second stops in its loop over groups.
    const BlockTensor t = *BlockTensor::random({wide, wide.flipped()}, 3);
    const std::vector<std::size_t> one{1}, zero{0};
    ASSERT_TRUE(contract(t, t, one, zero, context_));
    EXPECT_EQ(contract(t, t, one, zero, stopping).error().kind(), ErrorKind::Interrupted);
}

TEST_F(BlockErrors, LanczosStartsThatAreNotFiniteOrZero) {
    const Leg half = leg(1, {{1, 1}});
    const BlockTensor h = *BlockTensor::random({half, half.flipped(), half, half.flipped()}, 5);
    const std::vector<ChainStep> chain{{h, {0, 1}, {3, 2}, true}};
    BlockTensor start = *BlockTensor::random({half, half.flipped()}, 6);
    start.blocks()[0].data.data()[0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(lowest_eigenpair(chain, start, 10, 1e-12, context_)
                  .error()
                  .text()
                  .find("the start vector is not finite"),
              std::string::npos);
    const std::vector<ChainStep> wrong{chain[0], {h, {0, 2}, {3, 2}, true}};
    EXPECT_EQ(apply_chain(wrong, start, context_).error().text(),
              "chain step 1: current_axes = 2: a tensor of 2 legs has legs 0 ... 1");
}

}  // namespace
}  // namespace tavrin::blocks
