// The block contractions against the dense sums, on random cases of every direction pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dense_reference.hpp"
#include "specs/contraction.hpp"
#include "symbols/rsymbol.hpp"
#include "symbols/xsymbol.hpp"
#include "symbols/xsymbol_blocks.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;

constexpr double kTolerance = 1e-14;
// Largest dense basis of a random case, in elements: big enough for 2j = 20 on three or four
// edges and for eight spin-1/2 edges, small enough to build every basis in a test.
constexpr std::uint64_t kMaxElements = 60000;

void expect_close(const Tensor& actual, const Tensor& expected) {
    ASSERT_EQ(actual.shape(), expected.shape());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual.data()[i], expected.data()[i], kTolerance) << "at " << i;
    }
}

std::uint64_t dense_elements(const CGSpec& spec) {
    std::uint64_t count = spec.om_dimension();
    for (const Edge& edge : spec.edges()) {
        count *= static_cast<std::uint64_t>(edge.j.twice() + 1);
    }
    return count;
}

// A specification worth computing: some OM configuration, a basis of bounded size, and two
// edges of equal spin when there are only two.
std::optional<CGSpec> usable(const std::vector<std::int32_t>& spins, const std::vector<int>& signs) {
    auto spec = CGSpec::from_edges(edges_of(spins, signs));
    if (!spec || spec->om_dimension() == 0 || dense_elements(*spec) > kMaxElements ||
        spins.size() < 2 || (spins.size() == 2 && spins[0] != spins[1])) {
        return std::nullopt;
    }
    return std::move(*spec);
}

int random_sign(std::mt19937& rng) { return std::bernoulli_distribution(0.5)(rng) ? 1 : -1; }

// Mostly non-zero spins up to `widest`, sometimes 0.
std::int32_t random_spin(std::mt19937& rng, std::int32_t widest) {
    if (std::bernoulli_distribution(0.1)(rng)) {
        return 0;
    }
    return std::uniform_int_distribution<std::int32_t>(1, widest)(rng);
}

// The widest spin that keeps n edges near the size bound, at most 2j = 20.
std::int32_t widest_spin_for(std::size_t n) {
    const double per_edge = std::pow(static_cast<double>(kMaxElements) / 4.0, 1.0 / double(n));
    return std::clamp(static_cast<std::int32_t>(per_edge) - 1, 1, 20);
}

struct XCase {
    CGSpec a;
    CGSpec b;
    CGSpec c;
    Contraction contraction;
};

std::optional<XCase> random_xcase(std::mt19937& rng) {
    // Few edges (where the spins are widest) as often as many.
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    const std::size_t total = 4 + static_cast<std::size_t>(u * u * 11.0);
    const std::size_t n_a = std::uniform_int_distribution<std::size_t>(2, total - 2)(rng);
    const std::size_t n_b = total - n_a;
    const std::size_t pairs =
        std::uniform_int_distribution<std::size_t>(0, std::min({n_a, n_b, total / 2 - 1}))(rng);
    const std::int32_t widest = widest_spin_for(std::max({n_a, n_b, total - 2 * pairs}));
    std::vector<std::int32_t> spins_a(n_a);
    std::vector<std::int32_t> spins_b(n_b);
    std::vector<int> signs_a(n_a);
    std::vector<int> signs_b(n_b);
    for (std::size_t k = 0; k < n_a; ++k) {
        spins_a[k] = random_spin(rng, widest);
        signs_a[k] = random_sign(rng);
    }
    for (std::size_t k = 0; k < n_b; ++k) {
        spins_b[k] = random_spin(rng, widest);
        signs_b[k] = random_sign(rng);
    }
    std::vector<std::uint64_t> axes_a(n_a);
    std::vector<std::uint64_t> axes_b(n_b);
    std::iota(axes_a.begin(), axes_a.end(), 0);
    std::iota(axes_b.begin(), axes_b.end(), 0);
    std::shuffle(axes_a.begin(), axes_a.end(), rng);
    std::shuffle(axes_b.begin(), axes_b.end(), rng);
    axes_a.resize(pairs);
    axes_b.resize(pairs);
    std::vector<Edge> edges_c;
    for (std::size_t p = 0; p < pairs; ++p) {
        spins_b[axes_b[p]] = spins_a[axes_a[p]];
    }
    std::vector<std::int32_t> spins_c;
    std::vector<int> signs_c;
    for (std::size_t k = 0; k < n_a; ++k) {
        if (std::find(axes_a.begin(), axes_a.end(), k) == axes_a.end()) {
            spins_c.push_back(spins_a[k]);
            signs_c.push_back(signs_a[k]);
        }
    }
    for (std::size_t k = 0; k < n_b; ++k) {
        if (std::find(axes_b.begin(), axes_b.end(), k) == axes_b.end()) {
            spins_c.push_back(spins_b[k]);
            signs_c.push_back(signs_b[k]);
        }
    }
    auto a = usable(spins_a, signs_a);
    auto b = usable(spins_b, signs_b);
    auto c = usable(spins_c, signs_c);
    if (!a || !b || !c) {
        return std::nullopt;
    }
    return XCase{*a, *b, *c, *Contraction::create(axes_a, axes_b)};
}

struct RCase {
    CGSpec spec;
    std::vector<std::uint64_t> permutation;
};

std::optional<RCase> random_rcase(std::mt19937& rng) {
    const std::size_t n = std::uniform_int_distribution<std::size_t>(2, 10)(rng);
    const std::int32_t widest = widest_spin_for(n);
    std::vector<std::int32_t> spins(n);
    std::vector<int> signs(n);
    for (std::size_t k = 0; k < n; ++k) {
        spins[k] = random_spin(rng, widest);
        signs[k] = random_sign(rng);
    }
    std::vector<std::uint64_t> permutation(n);
    std::iota(permutation.begin(), permutation.end(), 0);
    std::shuffle(permutation.begin(), permutation.end(), rng);
    auto spec = usable(spins, signs);
    if (!spec) {
        return std::nullopt;
    }
    return RCase{*spec, permutation};
}

std::string describe(const CGSpec& spec) {
    std::string text;
    for (const Edge& edge : spec.edges()) {
        text += std::to_string(edge.j.twice()) + (edge.is_incoming() ? "in " : "out ");
    }
    return text;
}

class RandomSymbols : public CacheDirectory, public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomSymbols, XSymbolMatchesTheDenseSum) {
    std::mt19937 rng(GetParam());
    std::optional<XCase> x_case;
    while (!x_case) {
        x_case = random_xcase(rng);
    }
    SCOPED_TRACE("A " + describe(x_case->a) + "B " + describe(x_case->b) + "C " +
                 describe(x_case->c) + "pairs " + std::to_string(x_case->contraction.axes_a().size()));
    auto x = compute_xsymbol(x_case->a, x_case->b, x_case->contraction, context_);
    ASSERT_TRUE(x) << x.error().to_string();
    EXPECT_EQ(x->spec_c, x_case->c);
    const Tensor dense =
        dense_xsymbol(x_case->a, x_case->b, x_case->c, x_case->contraction, context_);
    expect_close(x->data, dense);
    // Every order of summation, not only the one chosen for this case.
    const SharedBasis a = *shared_canonical_pattern_basis(x_case->a, context_);
    const SharedBasis b = *shared_canonical_pattern_basis(x_case->b, context_);
    const SharedBasis c = *shared_canonical_pattern_basis(x_case->c, context_);
    for (XSumOrder order :
         {XSumOrder::PairsFirst, XSumOrder::BWithCFirst, XSumOrder::AWithCFirst}) {
        SCOPED_TRACE("order " + std::to_string(static_cast<int>(order)));
        auto summed = contract_xsymbol_blocks({*a, x_case->a}, {*b, x_case->b}, {*c, x_case->c},
                                              x_case->contraction, context_, order);
        ASSERT_TRUE(summed);
        expect_close(*summed, dense);
    }
}

TEST_P(RandomSymbols, RSymbolMatchesTheDenseSum) {
    std::mt19937 rng(GetParam() + 1000);
    std::optional<RCase> r_case;
    while (!r_case) {
        r_case = random_rcase(rng);
    }
    SCOPED_TRACE(describe(r_case->spec));
    auto r = compute_rsymbol(r_case->spec, r_case->permutation, context_);
    ASSERT_TRUE(r) << r.error().to_string();
    expect_close(r->data,
                 dense_rsymbol(r_case->spec, r->spec_permuted, r_case->permutation, context_));
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomSymbols, ::testing::Range(0u, 48u));

// Wide spins on few edges, which random cases of many edges rarely reach.
struct WideCase {
    std::vector<std::int32_t> spins_a;
    std::vector<int> signs_a;
    std::vector<std::int32_t> spins_b;
    std::vector<int> signs_b;
    std::vector<std::uint64_t> axes_a;
    std::vector<std::uint64_t> axes_b;
};

class WideSpins : public CacheDirectory, public ::testing::WithParamInterface<WideCase> {};

TEST_P(WideSpins, XSymbolMatchesTheDenseSum) {
    const auto& w = GetParam();
    const auto a = spec_of(w.spins_a, w.signs_a);
    const auto b = spec_of(w.spins_b, w.signs_b);
    const auto contraction = *Contraction::create(w.axes_a, w.axes_b);
    auto x = compute_xsymbol(a, b, contraction, context_);
    ASSERT_TRUE(x) << x.error().to_string();
    expect_close(x->data, dense_xsymbol(a, b, x->spec_c, contraction, context_));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WideSpins,
    ::testing::Values(
        WideCase{{16, 16, 16}, {1, 1, -1}, {16, 16, 16}, {1, -1, -1}, {2}, {0}},
        WideCase{{16, 16, 16}, {1, 1, -1}, {16, 16, 16}, {-1, -1, -1}, {2}, {0}},
        WideCase{{20, 10, 10}, {1, -1, 1}, {10, 20, 12, 2}, {1, 1, -1, -1}, {0, 1}, {1, 0}},
        WideCase{{19, 20, 3}, {-1, 1, 1}, {20, 19, 1}, {1, -1, 1}, {1}, {0}},
        WideCase{{20, 20}, {1, -1}, {20, 20}, {1, 1}, {}, {}}));

// Every direction pattern of one contraction and one permutation: the phases of flipped edges
// and the choice between the fixed-m shortcut and the full sum.
class DirectionPatterns : public CacheDirectory, public ::testing::WithParamInterface<unsigned> {
protected:
    static std::vector<int> signs(unsigned bits, std::size_t from, std::size_t count) {
        std::vector<int> result;
        for (std::size_t k = from; k < from + count; ++k) {
            result.push_back((bits >> k) & 1u ? -1 : 1);
        }
        return result;
    }
};

TEST_P(DirectionPatterns, XSymbol) {
    const unsigned bits = GetParam();
    const auto a = spec_of({1, 2, 3}, signs(bits, 0, 3));
    const auto b = spec_of({3, 1, 2, 2}, signs(bits, 3, 4));
    const auto contraction = *Contraction::create({2, 0}, {0, 1});
    auto x = compute_xsymbol(a, b, contraction, context_);
    ASSERT_TRUE(x) << x.error().to_string();
    expect_close(x->data, dense_xsymbol(a, b, x->spec_c, contraction, context_));
}

TEST_P(DirectionPatterns, RSymbol) {
    const unsigned bits = GetParam() & 0x1fu;
    const auto spec = spec_of({2, 1, 3, 2, 2}, signs(bits, 0, 5));
    const std::vector<std::uint64_t> permutation{3, 0, 4, 2, 1};
    auto r = compute_rsymbol(spec, permutation, context_);
    ASSERT_TRUE(r) << r.error().to_string();
    expect_close(r->data, dense_rsymbol(spec, r->spec_permuted, permutation, context_));
}

INSTANTIATE_TEST_SUITE_P(AllSigns, DirectionPatterns, ::testing::Range(0u, 128u));

// A pair of two incoming (or two outgoing) edges is not an invariant contraction: the sum may
// not be taken at one fixed m and scaled.
struct PairingCase {
    int sign_b0;
    std::vector<double> expected;
};

class PairDirections : public CacheDirectory, public ::testing::WithParamInterface<PairingCase> {};

TEST_P(PairDirections, XSymbolValues) {
    const auto a = spec_of({1, 1, 2}, {1, 1, -1});
    const auto b = spec_of({2, 1, 1}, {GetParam().sign_b0, -1, -1});
    auto x = compute_xsymbol(a, b, *Contraction::create({2}, {0}), context_);
    ASSERT_TRUE(x) << x.error().to_string();
    ASSERT_EQ(x->data.shape(), (Shape{1, 1, 2}));
    for (std::size_t k = 0; k < 2; ++k) {
        EXPECT_NEAR(x->data.data()[k], GetParam().expected[k], 1e-8) << "at " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, PairDirections,
                         ::testing::Values(PairingCase{1, {0.0, 0.57735027}},
                                           PairingCase{-1, {0.0, -0.19245009}}));

TEST_F(CacheDirectory, SameDirectionSpinHalfPairGivesZero) {
    const auto a = spec_of({1, 1, 2}, {1, 1, -1});
    const auto b = spec_of({1, 1, 2}, {1, 1, -1});
    auto x = compute_xsymbol(a, b, *Contraction::create({0}, {0}), context_);
    ASSERT_TRUE(x) << x.error().to_string();
    for (double v : x->data.data()) {
        EXPECT_NEAR(v, 0.0, kTolerance);
    }
}

// With the bases at hand, the contractions themselves give way to a stop request.
TEST_F(CacheDirectory, SymbolsStopWhenAsked) {
    const auto a = spec_of({1, 1, 2}, {1, 1, -1});
    const auto b = spec_of({2, 1, 1}, {1, -1, -1});
    const auto contraction = *Contraction::create({2}, {0});
    const std::vector<std::uint64_t> permutation{1, 0, 2};
    ASSERT_TRUE(compute_xsymbol(a, b, contraction, context_));
    ASSERT_TRUE(compute_rsymbol(a, permutation, context_));
    CallContext stopping([] { return true; });
    auto x = compute_xsymbol(a, b, contraction, stopping);
    ASSERT_FALSE(x);
    EXPECT_EQ(x.error().kind(), ErrorKind::Interrupted);
    auto r = compute_rsymbol(a, permutation, stopping);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::Interrupted);
}

}  // namespace
}  // namespace tavrin
