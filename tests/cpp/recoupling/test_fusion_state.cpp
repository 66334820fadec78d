// The moves of the fusion-tree algebra obey the relations of the permutation group: an exchange
// undone by itself, and the braid relation of neighbouring exchanges.
#include "recoupling/fusion_state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <numeric>
#include <vector>

#include "specs/cg_spec.hpp"
#include "test_support.hpp"

namespace tavrin::recoupling {
namespace {

// Every configuration of the spins as its own column.
FusionState basis_state(const std::vector<std::int32_t>& spins) {
    const CGSpec spec = testing::spec_of(spins, std::vector<int>(spins.size(), 1));
    std::vector<std::size_t> labels(spins.size());
    std::iota(labels.begin(), labels.end(), std::size_t{0});
    FusionState state(spins, labels);
    for (std::size_t a = 0; a < spec.om_dimension(); ++a) {
        const auto config = spec.config(a);
        state.add(Path(config.begin(), config.end()), a, 1.0);
    }
    return state;
}

double coefficient(const FusionState& state, const Path& path, std::size_t column) {
    const auto row = state.rows().find(path);
    if (row == state.rows().end()) return 0.0;
    for (const auto& [c, value] : row->second) {
        if (c == column) return value;
    }
    return 0.0;
}

void expect_same_state(const FusionState& x, const FusionState& y) {
    ASSERT_EQ(x.spins(), y.spins());
    for (const auto* pair : {&x, &y}) {
        const FusionState& other = pair == &x ? y : x;
        for (const auto& [path, row] : pair->rows()) {
            for (const auto& [column, value] : row) {
                EXPECT_NEAR(coefficient(other, path, column), value, 1e-14);
            }
        }
    }
}

using Spins = std::vector<std::int32_t>;

class ExchangeRelations : public ::testing::TestWithParam<Spins> {};

TEST_P(ExchangeRelations, ExchangeTwiceIsTheIdentity) {
    const Spins& spins = GetParam();
    CallContext context;
    for (std::size_t i = 0; i + 1 < spins.size(); ++i) {
        FusionState state = basis_state(spins);
        ASSERT_TRUE(state.exchange(i, context));
        ASSERT_TRUE(state.exchange(i, context));
        expect_same_state(state, basis_state(spins));
    }
}

TEST_P(ExchangeRelations, BraidRelation) {
    const Spins& spins = GetParam();
    CallContext context;
    for (std::size_t i = 0; i + 2 < spins.size(); ++i) {
        FusionState left = basis_state(spins);
        FusionState right = basis_state(spins);
        for (std::size_t step : {i, i + 1, i}) ASSERT_TRUE(left.exchange(step, context));
        for (std::size_t step : {i + 1, i, i + 1}) ASSERT_TRUE(right.exchange(step, context));
        expect_same_state(left, right);
    }
}

INSTANTIATE_TEST_SUITE_P(Spins, ExchangeRelations,
                         ::testing::Values(Spins{1, 1, 1, 1}, Spins{1, 2, 3, 4, 2},
                                           Spins{2, 2, 2, 2, 2, 2}, Spins{5, 3, 4, 6, 2},
                                           Spins{0, 1, 1, 2, 2}, Spins{12, 7, 9, 4}));

// (j j)0 on the first two legs: the singlet contraction keeps exactly the k1 = 0 part, with
// coefficient 1, and the rest of the tree continues from the third leg.
TEST(SingletContraction, KeepsTheSingletOfTheFirstPair) {
    CallContext context;
    FusionState state = basis_state({2, 2, 3, 3});  // configurations [0, 3], [2, 3], [4, 3]
    ASSERT_TRUE(state.contract_singlet(0, context));
    EXPECT_EQ(state.spins(), (Spins{3, 3}));
    ASSERT_EQ(state.rows().size(), 1u);
    EXPECT_EQ(coefficient(state, Path{}, 0), 1.0);
    EXPECT_EQ(coefficient(state, Path{}, 1), 0.0);
}

TEST(StopRequest, ExchangeReturnsInterrupted) {
    CallContext context([] { return true; });
    FusionState state = basis_state({1, 1, 1, 1});
    auto result = state.exchange(1, context);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ErrorKind::Interrupted);
}

}  // namespace
}  // namespace tavrin::recoupling
