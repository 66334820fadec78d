// The moves of the fusion-tree algebra obey the relations of the permutation group: an exchange
// undone by itself, and the braid relation of neighbouring exchanges. The recorded programs give
// the values of the moves.
#include "recoupling/tree_moves.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <utility>
#include <vector>

#include "specs/cg_spec.hpp"
#include "test_support.hpp"

namespace tavrin::recoupling {
namespace {

using Spins = std::vector<std::int32_t>;
using Path = std::vector<std::int32_t>;
// (path, column) -> value of the state after the moves.
using Values = std::map<std::pair<Path, std::uint32_t>, double>;

// Every configuration of the spins as its own column.
TreeMoves basis_state(const Spins& spins) {
    const CGSpec spec = testing::spec_of(spins, std::vector<int>(spins.size(), 1));
    std::vector<std::size_t> labels(spins.size());
    std::iota(labels.begin(), labels.end(), std::size_t{0});
    TreeMoves moves(spins, labels);
    for (std::size_t a = 0; a < spec.om_dimension(); ++a) {
        moves.add_initial(spec.config(a), static_cast<std::uint32_t>(a));
    }
    return moves;
}

Values values_of(TreeMoves& moves) {
    CallContext context;
    std::vector<double> high, low, scratch_high, scratch_low;
    SlotValues values{&high, &low};
    SlotValues scratch{&scratch_high, &scratch_low};
    const TreeProgram program = moves.take_program();
    EXPECT_TRUE(run_program(program, values, scratch, context));
    Values state;
    for (std::size_t row = 0; row < moves.row_count(); ++row) {
        const Path path(moves.path(row).begin(), moves.path(row).end());
        for (std::uint32_t slot = moves.row_begin(row); slot < moves.row_end(row); ++slot) {
            state[{path, moves.column(slot)}] =
                moves.sign(slot) * rounded(values[slot]);
        }
    }
    return state;
}

void expect_same_state(const Values& x, const Values& y) {
    for (const auto* side : {&x, &y}) {
        const Values& other = side == &x ? y : x;
        for (const auto& [key, value] : *side) {
            const auto found = other.find(key);
            EXPECT_NEAR(found == other.end() ? 0.0 : found->second, value, 1e-15);
        }
    }
}

class ExchangeRelations : public ::testing::TestWithParam<Spins> {};

TEST_P(ExchangeRelations, ExchangeTwiceIsTheIdentity) {
    const Spins& spins = GetParam();
    CallContext context;
    for (std::size_t i = 0; i + 1 < spins.size(); ++i) {
        TreeMoves moves = basis_state(spins);
        ASSERT_TRUE(moves.exchange(i, context));
        ASSERT_TRUE(moves.exchange(i, context));
        EXPECT_EQ(moves.spins(), spins);
        TreeMoves unmoved = basis_state(spins);
        expect_same_state(values_of(moves), values_of(unmoved));
    }
}

TEST_P(ExchangeRelations, BraidRelation) {
    const Spins& spins = GetParam();
    CallContext context;
    for (std::size_t i = 0; i + 2 < spins.size(); ++i) {
        TreeMoves left = basis_state(spins);
        TreeMoves right = basis_state(spins);
        for (std::size_t step : {i, i + 1, i}) ASSERT_TRUE(left.exchange(step, context));
        for (std::size_t step : {i + 1, i, i + 1}) ASSERT_TRUE(right.exchange(step, context));
        EXPECT_EQ(left.spins(), right.spins());
        expect_same_state(values_of(left), values_of(right));
    }
}

INSTANTIATE_TEST_SUITE_P(Spins, ExchangeRelations,
                         ::testing::Values(Spins{1, 1, 1, 1}, Spins{1, 2, 3, 4, 2},
                                           Spins{2, 2, 2, 2, 2, 2}, Spins{5, 3, 4, 6, 2},
                                           Spins{0, 1, 1, 2, 2}, Spins{12, 7, 9, 4}));

// (j j)0 on the first two legs: the singlet contraction keeps exactly the k1 = 0 part, with
// the pair's weight sqrt(2j + 1), and the rest of the tree continues from the third leg.
TEST(SingletContraction, KeepsTheSingletOfTheFirstPair) {
    CallContext context;
    TreeMoves moves = basis_state({2, 2, 3, 3});  // configurations [0, 3], [2, 3], [4, 3]
    ASSERT_TRUE(moves.contract_singlet(0, -1.0, context));
    EXPECT_EQ(moves.spins(), (Spins{3, 3}));
    const Values state = values_of(moves);
    ASSERT_EQ(state.size(), 1u);
    EXPECT_EQ(state.begin()->first, (std::pair<Path, std::uint32_t>{{}, 0}));
    EXPECT_EQ(state.begin()->second, -std::sqrt(3.0));
}

TEST(StopRequest, ExchangeReturnsInterrupted) {
    CallContext context([] { return true; });
    TreeMoves moves = basis_state({1, 1, 1, 1});
    auto result = moves.exchange(1, context);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ErrorKind::Interrupted);
}

}  // namespace
}  // namespace tavrin::recoupling
