#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "basis/basis_builder.hpp"
#include "basis/fusion_tree.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;
using Values = std::vector<double>;

TEST(CgTensor, SingletAndStretched) {
    expect_bits(cg_tensor(1, 1, 0).data(), {0.0, -0.7071067811865476, 0.7071067811865476, 0.0});
    EXPECT_EQ(cg_tensor(1, 1, 2).data()[0], 0.9999999999999999);
    EXPECT_EQ(cg_tensor(1, 1, 2).shape(), (Shape{2, 2, 3}));
}

TEST(ContractLastFirst, ShapesAndErrors) {
    auto bad = contract_last_first(Tensor::zeros({2, 3}), Tensor::zeros({4, 5}));
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().to_string(),
              "Invalid contraction: Incompatible contraction dimensions: 3 vs 4");
    auto scalar = contract_last_first(Tensor::zeros({}), Tensor::zeros({3}));
    ASSERT_FALSE(scalar);
    EXPECT_EQ(scalar.error().text(), "Cannot contract scalar tensors");
    EXPECT_EQ(contract_last_first(Tensor::zeros({2, 3}), Tensor::zeros({3}))->shape(),
              (Shape{2}));
    auto empty_k = contract_last_first(Tensor::zeros({2, 0}), Tensor::zeros({0, 2}));
    expect_bits(empty_k->data(), {0.0, 0.0, 0.0, 0.0});
}

TEST(ContractLastFirst, AccumulatesInAscendingOrder) {
    // 1e16 + 1 - 1e16 depends on the order: ascending k gives 0, other orders 1.
    auto a = *Tensor::from_row_major({1, 3}, {1.0, 1.0, 1.0});
    auto b = *Tensor::from_row_major({3, 1}, {1e16, 1.0, -1e16});
    expect_bits(contract_last_first(a, b)->data(), {0.0});
}

struct OmTensorCase {
    std::vector<std::int32_t> config;
    std::vector<std::pair<std::vector<std::uint64_t>, double>> nonzero;
};

class FourSpinHalf : public ::testing::TestWithParam<OmTensorCase> {};

TEST_P(FourSpinHalf, NonZeroElements) {
    const auto edges = canonical({1, 1, 1, 1});
    auto t = build_om_tensor(edges, GetParam().config);
    ASSERT_TRUE(t);
    Tensor expected = Tensor::zeros({2, 2, 2, 2});
    for (const auto& [index, value] : GetParam().nonzero) {
        expected.set(index, value);
    }
    expect_bits(t->data(), expected.row_major_values());
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, FourSpinHalf,
    ::testing::Values(OmTensorCase{{0, 1},
                                   {{{0, 1, 0, 0}, -0.7071067811865476},
                                    {{0, 1, 1, 1}, -0.7071067811865476},
                                    {{1, 0, 0, 0}, 0.7071067811865476},
                                    {{1, 0, 1, 1}, 0.7071067811865476}}},
                      OmTensorCase{{2, 1},
                                   {{{0, 0, 1, 0}, -0.8164965809277259},
                                    {{1, 1, 0, 1}, 0.8164965809277259},
                                    {{0, 1, 0, 0}, 0.408248290463863},
                                    {{1, 0, 0, 0}, 0.408248290463863},
                                    {{0, 1, 1, 1}, -0.408248290463863},
                                    {{1, 0, 1, 1}, -0.408248290463863}}}));

struct OmErrorCase {
    std::vector<std::int32_t> spins;
    const char* text;
};

class OmTensorErrors : public ::testing::TestWithParam<OmErrorCase> {};

TEST_P(OmTensorErrors, Message) {
    auto t = build_om_tensor(canonical(GetParam().spins), {});
    ASSERT_FALSE(t);
    EXPECT_EQ(t.error().text(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, OmTensorErrors,
    ::testing::Values(
        OmErrorCase{{1}, "Cannot build OM tensor with 1 external edges (minimum is 2)"},
        OmErrorCase{{}, "build_fusion_tree_recursive requires n >= 4, got n = 0"},
        OmErrorCase{{1, 3}, "Two-edge CG tensor requires equal spins, got j=1/2 and j=3/2"},
        OmErrorCase{{2, 4}, "Two-edge CG tensor requires equal spins, got j=1 and j=2"}));

TEST(BuildOmTensor, TwoEqualSpinsGiveIdentity) {
    EXPECT_EQ(*build_om_tensor(canonical({3, 3}), {}), Tensor::identity(4));
}

// The canonical basis shares partial trees between configurations; it must equal, to the bit,
// the per-configuration construction divided by the norm.
TEST(BuildCanonicalBasis, MatchesPerConfigurationTrees) {
    const std::vector<std::vector<std::int32_t>> spin_lists{
        {1, 1, 1, 1, 1, 1}, {2, 2, 2, 2, 2}, {1, 2, 3, 2, 1, 1}, {3, 3, 2, 2}, {4, 1, 3}};
    for (const auto& spins : spin_lists) {
        auto spec = *CGSpec::from_edges(canonical(spins));
        CallContext context;
        auto basis = *build_canonical_basis(spins, context);
        const double norm = std::sqrt(static_cast<double>(spins.back()) + 1.0);
        const std::size_t om = spec.om_dimension();
        for (std::size_t a = 0; a < om; ++a) {
            auto t = build_om_tensor(spec.edges(), spec.config(a))->divided_by(norm);
            for (std::size_t i = 0; i < t.size(); ++i) {
                ASSERT_EQ(basis.data()[i * om + a], t.data()[i]);
            }
        }
    }
}

TEST(BuildCanonicalBasis, StopsWhenTheCallerAsks) {
    CallContext context([] { return true; });
    auto basis = build_canonical_basis(std::vector<std::int32_t>{1, 1, 1, 1, 1, 1}, context);
    ASSERT_FALSE(basis);
    EXPECT_EQ(basis.error().kind(), ErrorKind::Interrupted);
}

}  // namespace
}  // namespace tavrin
