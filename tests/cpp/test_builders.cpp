#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "builders/builders.hpp"
#include "builders/conjugate.hpp"
#include "builders/rsymbol.hpp"
#include "builders/xsymbol.hpp"
#include "core/cg_spec.hpp"

namespace tavrin {
namespace {

using Values = std::vector<double>;

Spin spin(std::int32_t twice) { return *Spin::create(twice); }

std::vector<Edge> edges_of(const std::vector<std::int32_t>& spins, const std::vector<int>& signs) {
    std::vector<Edge> edges;
    for (std::size_t i = 0; i < spins.size(); ++i) {
        edges.push_back(signs[i] > 0 ? Edge::incoming(spin(spins[i]))
                                     : Edge::outgoing(spin(spins[i])));
    }
    return edges;
}

std::vector<Edge> canonical(const std::vector<std::int32_t>& spins) {
    std::vector<int> signs(spins.size(), 1);
    if (!signs.empty()) {
        signs.back() = -1;
    }
    return edges_of(spins, signs);
}

CGSpec spec_of(const std::vector<std::int32_t>& spins, const std::vector<int>& signs) {
    return *CGSpec::from_edges(edges_of(spins, signs));
}

// Bitwise equality, so that -0.0 and 0.0 differ.
void expect_bits(std::span<const double> actual, const Values& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "at " << i;
        EXPECT_EQ(std::signbit(actual[i]), std::signbit(expected[i])) << "sign at " << i;
    }
}

class CacheDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tavrin-builders-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        ::setenv("TAVRIN_CACHE_PATH", dir_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

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
        OmErrorCase{{2, 4}, "Two-edge CG tensor requires equal spins, got j=2/2 and j=4/2"}));

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
        auto basis = *build_canonical_basis(spins);
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

struct BasisCase {
    std::vector<std::int32_t> spins;
    std::vector<int> signs;
    Shape shape;
    Values values;
};

class CanonicalBasisValues : public CacheDirectory,
                             public ::testing::WithParamInterface<BasisCase> {};

TEST_P(CanonicalBasisValues, BitForBit) {
    const auto& c = GetParam();
    auto basis = canonical_basis(spec_of(c.spins, c.signs));
    ASSERT_TRUE(basis) << basis.error().to_string();
    EXPECT_EQ(basis->shape(), c.shape);
    expect_bits(basis->data(), c.values);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CanonicalBasisValues,
    ::testing::Values(
        BasisCase{{1, 1}, {1, -1}, {2, 2, 1}, {0.7071067811865475, 0.0, 0.0, 0.7071067811865475}},
        BasisCase{{1, 1}, {1, 1}, {2, 2, 1}, {-0.0, 0.7071067811865475, -0.7071067811865475, 0.0}},
        BasisCase{{2, 2},
                  {1, 1},
                  {3, 3, 1},
                  {0.0, -0.0, 0.5773502691896258, 0.0, -0.5773502691896258, 0.0,
                   0.5773502691896258, -0.0, 0.0}},
        BasisCase{{1, 1, 0},
                  {1, 1, -1},
                  {2, 2, 1, 1},
                  {0.0, -0.7071067811865476, 0.7071067811865476, 0.0}}));

TEST_F(CacheDirectory, CanonicalBasisFourSpinHalf) {
    auto basis = *canonical_basis(spec_of({1, 1, 1, 1}, {1, 1, 1, -1}));
    EXPECT_EQ(basis.shape(), (Shape{2, 2, 2, 2, 2}));
    const std::vector<std::pair<std::vector<std::uint64_t>, double>> checks{
        {{0, 1, 0, 0, 0}, -0.5},
        {{1, 0, 0, 0, 0}, 0.5},
        {{0, 0, 1, 0, 1}, -0.5773502691896256},
        {{1, 1, 0, 1, 1}, 0.5773502691896256},
        {{0, 1, 0, 0, 1}, 0.28867513459481287}};
    for (const auto& [index, value] : checks) {
        EXPECT_EQ(basis.get(index), value);
    }
}

TEST_F(CacheDirectory, CanonicalBasisErrors) {
    for (std::size_t n : {0u, 1u}) {
        auto basis = canonical_basis(spec_of(std::vector<std::int32_t>(n, 2), std::vector<int>(n, 1)));
        ASSERT_FALSE(basis);
        EXPECT_EQ(basis.error().text(), "Cannot build canonical basis with " + std::to_string(n) +
                                            " external edges (minimum is 2)");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_)) << "the cache is not touched";
    auto unequal = canonical_basis(spec_of({1, 3}, {1, -1}));
    ASSERT_FALSE(unequal);
    EXPECT_EQ(unequal.error().text(),
              "Two-edge CG tensor requires equal spins, got j=1/2 and j=3/2");
}

TEST_F(CacheDirectory, OtherDirectionsAreServedFromTheCacheWithPhases) {
    auto first = *canonical_basis(spec_of({1, 2, 1}, {1, 1, -1}));
    auto flipped = *canonical_basis(spec_of({1, 2, 1}, {-1, 1, -1}));
    first.reverse_axis(0);
    first.scale_slice(0, 0, -1.0);
    EXPECT_EQ(flipped, first);
}

// Orthonormality of the OM slices for several spin lists and direction patterns.
TEST_F(CacheDirectory, SlicesAreOrthonormal) {
    const std::vector<std::pair<std::vector<std::int32_t>, std::vector<int>>> cases{
        {{1, 1, 1, 1, 1, 1}, {1, -1, 1, 1, -1, 1}},
        {{2, 2, 2, 2}, {-1, -1, -1, -1}},
        {{3, 1, 2, 4}, {1, 1, 1, -1}},
        {{4, 4, 4}, {1, -1, 1}}};
    for (const auto& [spins, signs] : cases) {
        auto basis = *canonical_basis(spec_of(spins, signs));
        const std::size_t om = basis.shape().back();
        const std::size_t rows = basis.size() / om;
        for (std::size_t a = 0; a < om; ++a) {
            for (std::size_t b = 0; b < om; ++b) {
                double dot = 0.0;
                for (std::size_t i = 0; i < rows; ++i) {
                    dot += basis.data()[i * om + a] * basis.data()[i * om + b];
                }
                EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-14);
            }
        }
    }
}

TEST_F(CacheDirectory, XSymbolShapeExample) {
    auto a = spec_of({1, 1, 2}, {1, 1, -1});
    auto b = spec_of({2, 1, 1}, {1, -1, -1});
    auto x = compute_xsymbol(a, b, *Contraction::create({2}, {0}));
    ASSERT_TRUE(x) << x.error().to_string();
    EXPECT_EQ(x->data.shape(), (Shape{1, 1, 2}));
    EXPECT_EQ(x->spec_c.num_external(), 4u);
    EXPECT_EQ(x->spec_c.om_dimension(), 2u);
    EXPECT_EQ(x->spec_c.signs(), (std::vector<std::int32_t>{1, 1, -1, -1}));
}

struct XErrorCase {
    std::vector<std::int32_t> spins_a;
    std::vector<std::int32_t> spins_b;
    std::vector<std::uint64_t> axes_a;
    std::vector<std::uint64_t> axes_b;
    const char* message;
};

class XSymbolErrors : public CacheDirectory, public ::testing::WithParamInterface<XErrorCase> {};

TEST_P(XSymbolErrors, FirstFailureWins) {
    const auto& c = GetParam();
    auto x = compute_xsymbol(spec_of(c.spins_a, std::vector<int>(c.spins_a.size(), 1)),
                             spec_of(c.spins_b, std::vector<int>(c.spins_b.size(), 1)),
                             *Contraction::create(c.axes_a, c.axes_b));
    ASSERT_FALSE(x);
    EXPECT_EQ(x.error().python_message(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, XSymbolErrors,
    ::testing::Values(
        XErrorCase{{1, 1, 2}, {1, 1, 2}, {3}, {0},
                   "Tavrin error: Edge index 3 out of bounds (number of edges: 3)"},
        XErrorCase{{1, 1, 2}, {1, 1, 2}, {5}, {7},
                   "Tavrin error: Edge index 5 out of bounds (number of edges: 3)"},
        XErrorCase{{1, 1, 2}, {1, 1, 2}, {2, 9}, {0, 0},
                   "Tavrin error: Incompatible edge spins for contraction: J1=2, J2=1"},
        XErrorCase{{1, 1, 2}, {1, 1, 2}, {0, 0}, {0, 1},
                   "Invalid contraction: Edge index 0 appears more than once in axes_a"},
        XErrorCase{{1, 1, 2}, {1, 1, 2}, {0, 1}, {1, 1},
                   "Invalid contraction: Edge index 1 appears more than once in axes_b"},
        XErrorCase{{1, 1, 2}, {1, 1, 2}, {0, 1, 2}, {0, 1, 2},
                   "Invalid CGSpec: Cannot build canonical basis with 0 external edges (minimum "
                   "is 2)"},
        XErrorCase{{1, 1, 0}, {1, 1, 2}, {0, 1}, {0, 1},
                   "Invalid CGSpec: Two-edge CG tensor requires equal spins, got j=0/2 and "
                   "j=2/2"}));

struct RErrorCase {
    std::vector<std::uint64_t> permutation;
    const char* text;
};

class RSymbolErrors : public CacheDirectory, public ::testing::WithParamInterface<RErrorCase> {};

TEST_P(RSymbolErrors, Message) {
    auto r = compute_rsymbol(spec_of({1, 1, 2}, {1, 1, -1}), GetParam().permutation);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Permutations, RSymbolErrors,
    ::testing::Values(
        RErrorCase{{0, 0}, "Permutation length 2 does not match number of external edges 3"},
        RErrorCase{{0, 1, 3}, "Permutation index 3 out of range (max 2)"},
        RErrorCase{{0, 0, 1}, "Permutation index 0 appears more than once"},
        RErrorCase{{0, 3, 0}, "Permutation index 3 out of range (max 2)"},
        RErrorCase{{0, 0, 5}, "Permutation index 0 appears more than once"}));

TEST_F(CacheDirectory, RSymbolOfIdentityIsTheOverlap) {
    auto spec = spec_of({1, 1, 1, 1}, {1, 1, 1, 1});
    const std::vector<std::uint64_t> swap{1, 0, 2, 3};
    auto r = compute_rsymbol(spec, swap);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data.shape(), (Shape{2, 2}));
    // Exchanging two spin-1/2 edges of the first vertex: singlet odd, triplet even.
    EXPECT_NEAR(r->data.get(std::vector<std::uint64_t>{0, 0}), -1.0, 1e-14);
    EXPECT_NEAR(r->data.get(std::vector<std::uint64_t>{1, 1}), 1.0, 1e-14);
    EXPECT_NEAR(r->data.get(std::vector<std::uint64_t>{0, 1}), 0.0, 1e-14);
}

struct ConjugateCase {
    std::vector<std::int32_t> spins;
    std::vector<int> signs;
    double phase;
};

class Conjugation : public ::testing::TestWithParam<ConjugateCase> {};

TEST_P(Conjugation, PhaseAndDirections) {
    const auto& c = GetParam();
    const auto spec = spec_of(c.spins, c.signs);
    auto conj = compute_conjugate(spec);
    ASSERT_TRUE(conj);
    EXPECT_EQ(conj->phase, c.phase);
    std::vector<std::int32_t> flipped;
    for (int s : c.signs) {
        flipped.push_back(-s);
    }
    EXPECT_EQ(conj->conj_spec.signs(), flipped);
    EXPECT_EQ(compute_conjugate(conj->conj_spec)->conj_spec, spec);
}

INSTANTIATE_TEST_SUITE_P(Cases, Conjugation,
                         ::testing::Values(ConjugateCase{{1, 1, 2}, {1, 1, -1}, 1.0},
                                           ConjugateCase{{1, 1, 1, 1}, {1, 1, 1, 1}, -1.0},
                                           ConjugateCase{{1, 1, 2}, {-1, -1, 1}, 1.0},
                                           ConjugateCase{{3}, {1}, -1.0},
                                           ConjugateCase{{4}, {1}, 1.0},
                                           ConjugateCase{{}, {}, 1.0},
                                           ConjugateCase{{2, 2, 2, 2}, {1, 1, 1, 1}, 1.0}));

TEST(FsPhase, ParityOfTwiceJ) {
    EXPECT_EQ(fs_phase_for_spin(spin(0)), 1.0);
    EXPECT_EQ(fs_phase_for_spin(spin(2)), 1.0);
    EXPECT_EQ(fs_phase_for_spin(spin(1)), -1.0);
    EXPECT_EQ(fs_phase_for_spin(spin(3)), -1.0);
}

}  // namespace
}  // namespace tavrin
