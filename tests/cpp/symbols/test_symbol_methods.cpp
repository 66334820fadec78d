// The recoupling method against the dense definition, on random specifications, permutations and
// contractions: every direction pattern, pairs of equal and opposite directions, empty and full
// contractions, spins up to 2j = 12, up to 10 edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numeric>
#include <optional>
#include <random>
#include <vector>

#include "coupling/wigner_6j.hpp"
#include "symbols/rsymbol.hpp"
#include "symbols/xsymbol.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using testing::CacheDirectory;
using testing::spin;

constexpr double kTolerance = 1e-13;
constexpr std::uint64_t kMaxBasisElements = 1u << 18;

std::uint64_t basis_elements(const CGSpec& spec) {
    std::uint64_t count = spec.om_dimension();
    for (std::int32_t s : spec.spins()) count *= static_cast<std::uint64_t>(s) + 1;
    return count;
}

std::vector<Edge> random_directions(const std::vector<std::int32_t>& spins, std::mt19937& rng) {
    std::vector<Edge> edges;
    for (std::int32_t s : spins) {
        edges.push_back(rng() % 2 == 0 ? Edge::incoming(spin(s)) : Edge::outgoing(spin(s)));
    }
    return edges;
}

// Spins of n edges that couple to 0, each at most max_twice, or nothing after a few tries.
std::optional<std::vector<std::int32_t>> random_spins(std::size_t n, std::int32_t max_twice,
                                                      std::mt19937& rng) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        std::vector<std::int32_t> spins;
        std::int32_t k = 0;
        for (std::size_t i = 0; i + 1 < n; ++i) {
            const auto s = static_cast<std::int32_t>(rng() % static_cast<unsigned>(max_twice + 1));
            spins.push_back(s);
            const std::int32_t low = std::abs(k - s);
            const std::int32_t steps = (k + s - low) / 2;
            k = low + 2 * static_cast<std::int32_t>(rng() % static_cast<unsigned>(steps + 1));
        }
        if (k <= max_twice) {
            spins.push_back(k);
            return spins;
        }
    }
    return std::nullopt;
}

void expect_close(const Tensor& recoupled, const Tensor& dense) {
    ASSERT_EQ(recoupled.shape(), dense.shape());
    for (std::size_t i = 0; i < dense.size(); ++i) {
        EXPECT_NEAR(recoupled.data()[i], dense.data()[i], kTolerance) << "at flat index " << i;
    }
}

class RandomRSymbol : public CacheDirectory, public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomRSymbol, AgreesWithDense) {
    std::mt19937 rng(GetParam());
    for (;;) {
        const std::size_t n = 2 + rng() % 9;
        const std::int32_t max_twice = n <= 4 ? 12 : (n <= 6 ? 4 : 2);
        const auto spins = random_spins(n, max_twice, rng);
        if (!spins) continue;
        auto spec = CGSpec::from_edges(random_directions(*spins, rng));
        if (!spec || basis_elements(*spec) > kMaxBasisElements) continue;
        std::vector<std::uint64_t> permutation(n);
        std::iota(permutation.begin(), permutation.end(), std::uint64_t{0});
        std::shuffle(permutation.begin(), permutation.end(), rng);
        auto dense = compute_rsymbol(*spec, permutation, context_, SymbolMethod::Dense);
        auto recoupled = compute_rsymbol(*spec, permutation, context_, SymbolMethod::Recoupling);
        ASSERT_EQ(dense.has_value(), recoupled.has_value());
        if (!dense) {
            EXPECT_EQ(recoupled.error(), dense.error());
            return;
        }
        EXPECT_EQ(recoupled->spec_permuted, dense->spec_permuted);
        expect_close(recoupled->data, dense->data);
        return;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomRSymbol, ::testing::Range(1u, 61u));

struct XCase {
    CGSpec a;
    CGSpec b;
    Contraction pairs;
};

// A random A, a choice of k of its edges, and a B holding edges of those spins (directions
// random, so pairs of equal and of opposite directions both occur) among random others.
std::optional<XCase> random_xcase(std::mt19937& rng, bool full) {
    const std::size_t n_a = 2 + rng() % 5;
    const std::int32_t max_twice = n_a <= 3 ? 12 : 4;
    const auto spins_a = random_spins(n_a, max_twice, rng);
    if (!spins_a) return std::nullopt;
    auto a = CGSpec::from_edges(random_directions(*spins_a, rng));
    if (!a) return std::nullopt;
    std::vector<std::uint64_t> order_a(n_a);
    std::iota(order_a.begin(), order_a.end(), std::uint64_t{0});
    std::shuffle(order_a.begin(), order_a.end(), rng);
    const std::size_t k = full ? n_a : rng() % (n_a + 1);
    std::vector<std::uint64_t> axes_a(order_a.begin(), order_a.begin() + static_cast<long>(k));
    std::vector<std::int32_t> spins_b;
    for (std::uint64_t e : axes_a) spins_b.push_back((*spins_a)[e]);
    const std::size_t extra = full ? 0 : rng() % 4;
    for (std::size_t i = 0; i < extra; ++i) {
        spins_b.push_back(static_cast<std::int32_t>(rng() % 5));
    }
    if (spins_b.size() < 2) return std::nullopt;
    std::vector<std::uint64_t> position(spins_b.size());
    std::iota(position.begin(), position.end(), std::uint64_t{0});
    std::shuffle(position.begin(), position.end(), rng);
    std::vector<std::int32_t> placed(spins_b.size());
    for (std::size_t i = 0; i < spins_b.size(); ++i) placed[position[i]] = spins_b[i];
    auto b = CGSpec::from_edges(random_directions(placed, rng));
    if (!b) return std::nullopt;
    std::vector<std::uint64_t> axes_b(position.begin(), position.begin() + static_cast<long>(k));
    if (basis_elements(*a) > kMaxBasisElements || basis_elements(*b) > kMaxBasisElements) {
        return std::nullopt;
    }
    return XCase{*a, *b, *Contraction::create(axes_a, axes_b)};
}

class RandomXSymbol : public CacheDirectory, public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomXSymbol, AgreesWithDense) {
    std::mt19937 rng(GetParam());
    const bool full = GetParam() % 10 == 0;
    for (;;) {
        const auto c = random_xcase(rng, full);
        if (!c) continue;
        auto dense = compute_xsymbol(c->a, c->b, c->pairs, context_, SymbolMethod::Dense);
        if (dense && basis_elements(dense->spec_c) > kMaxBasisElements) continue;
        auto recoupled =
            compute_xsymbol(c->a, c->b, c->pairs, context_, SymbolMethod::Recoupling);
        ASSERT_EQ(dense.has_value(), recoupled.has_value());
        if (!dense) {
            EXPECT_EQ(recoupled.error(), dense.error());
            if (!full) continue;  // a C without configurations: draw again
            return;
        }
        EXPECT_EQ(recoupled->spec_c, dense->spec_c);
        expect_close(recoupled->data, dense->data);
        return;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomXSymbol, ::testing::Range(1u, 81u));

// Textbook identities, checked on the dense definition and by recoupling.

double half_sign(std::int64_t twice) { return (twice / 2) % 2 == 0 ? 1.0 : -1.0; }

class TextbookIdentities : public CacheDirectory,
                           public ::testing::WithParamInterface<std::vector<std::int32_t>> {};

// Exchanging edges 0 and 1 multiplies configuration (k1, ...) by (-1)^(j0 + j1 - k1).
TEST_P(TextbookIdentities, ExchangePhaseOfTheFirstVertex) {
    const auto& spins = GetParam();
    const CGSpec spec = *CGSpec::from_edges(testing::canonical(spins));
    std::vector<std::uint64_t> swap(spins.size());
    std::iota(swap.begin(), swap.end(), std::uint64_t{0});
    std::swap(swap[0], swap[1]);
    for (SymbolMethod method : {SymbolMethod::Dense, SymbolMethod::Recoupling}) {
        auto r = compute_rsymbol(spec, swap, context_, method);
        ASSERT_TRUE(r);
        const std::size_t om = spec.om_dimension();
        for (std::size_t a = 0; a < om; ++a) {
            for (std::size_t b = 0; b < om; ++b) {
                const double expected =
                    a == b ? half_sign(spins[0] + spins[1] - spec.config(a)[0]) : 0.0;
                EXPECT_NEAR(r->data.data()[a * om + b], expected, kTolerance);
            }
        }
    }
}

// Four edges (j0 j1 j2 in, J out), edges 1 and 2 exchanged:
// R[k, k'] = (-1)^(j1 + j2 + k + k') sqrt((2k+1)(2k'+1)) {j0 j1 k; J j2 k'}.
class FourEdgeRecoupling : public TextbookIdentities {};

TEST_P(FourEdgeRecoupling, SixJCoefficientsOfTheMiddleExchange) {
    const auto& spins = GetParam();
    const CGSpec spec = *CGSpec::from_edges(testing::canonical(spins));
    auto r = compute_rsymbol(spec, std::vector<std::uint64_t>{0, 2, 1, 3}, context_,
                             SymbolMethod::Dense);
    ASSERT_TRUE(r);
    const std::size_t om_p = r->spec_permuted.om_dimension();
    for (std::size_t a = 0; a < spec.om_dimension(); ++a) {
        for (std::size_t b = 0; b < om_p; ++b) {
            const std::int32_t k = spec.config(a)[0];
            const std::int32_t k_new = r->spec_permuted.config(b)[0];
            const double expected = half_sign(spins[1] + spins[2] + k + k_new) *
                                    std::sqrt((k + 1.0) * (k_new + 1.0)) *
                                    wigner_6j(spins[0], spins[1], k, spins[3], spins[2], k_new);
            EXPECT_NEAR(r->data.data()[a * om_p + b], expected, kTolerance);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Spins, TextbookIdentities,
                         ::testing::Values(std::vector<std::int32_t>{1, 1, 1, 1},
                                           std::vector<std::int32_t>{2, 2, 2, 2},
                                           std::vector<std::int32_t>{3, 4, 5, 2},
                                           std::vector<std::int32_t>{4, 3, 3, 6},
                                           std::vector<std::int32_t>{2, 1, 2, 1, 2}));

INSTANTIATE_TEST_SUITE_P(Spins, FourEdgeRecoupling,
                         ::testing::Values(std::vector<std::int32_t>{1, 1, 1, 1},
                                           std::vector<std::int32_t>{2, 2, 2, 2},
                                           std::vector<std::int32_t>{3, 4, 5, 2},
                                           std::vector<std::int32_t>{4, 3, 3, 6},
                                           std::vector<std::int32_t>{12, 9, 7, 6}));

// Several pairs of equal directions at once, integer and half-integer spins: their non-invariant
// parts couple among themselves, so the result is no product of per-pair factors.
struct SameDirectionCase {
    std::vector<std::int32_t> spins_a;
    std::vector<int> signs_a;
    std::vector<std::int32_t> spins_b;
    std::vector<int> signs_b;
    std::vector<std::uint64_t> axes_a;
    std::vector<std::uint64_t> axes_b;
};

class SameDirectionPairs : public CacheDirectory,
                           public ::testing::WithParamInterface<SameDirectionCase> {};

TEST_P(SameDirectionPairs, AgreeWithDense) {
    const auto& c = GetParam();
    const CGSpec a = testing::spec_of(c.spins_a, c.signs_a);
    const CGSpec b = testing::spec_of(c.spins_b, c.signs_b);
    const Contraction pairs = *Contraction::create(c.axes_a, c.axes_b);
    auto dense = compute_xsymbol(a, b, pairs, context_, SymbolMethod::Dense);
    auto recoupled = compute_xsymbol(a, b, pairs, context_, SymbolMethod::Recoupling);
    ASSERT_TRUE(dense && recoupled);
    double largest = 0.0;
    for (double v : dense->data.data()) largest = std::max(largest, std::abs(v));
    EXPECT_GT(largest, 1e-3) << "a case with a vanishing symbol shows nothing";
    expect_close(recoupled->data, dense->data);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameDirectionPairs,
    ::testing::Values(
        // The shape example with A2 and B0 both outgoing: -1/3 of the invariant pairing.
        SameDirectionCase{{1, 1, 2}, {1, 1, -1}, {2, 1, 1}, {-1, -1, -1}, {2}, {0}},
        // Two spin-1 pairs, both incoming on both sides.
        SameDirectionCase{{2, 2, 2, 2}, {1, 1, 1, -1}, {2, 2, 2, 2}, {1, 1, 1, -1}, {0, 1},
                          {0, 1}},
        // Two spin-1/2 pairs of equal directions and one opposite pair.
        SameDirectionCase{{1, 1, 1, 1, 2}, {1, 1, -1, 1, -1}, {1, 1, 1, 1, 2},
                          {1, -1, -1, 1, 1}, {0, 1, 2}, {0, 1, 2}},
        // Three same-direction pairs of mixed spins, a free edge on each side.
        SameDirectionCase{{1, 2, 3, 2}, {1, 1, 1, -1}, {3, 2, 1, 2}, {1, 1, 1, 1}, {0, 1, 2},
                          {2, 1, 0}},
        // Four same-direction pairs, everything outgoing.
        SameDirectionCase{{1, 1, 2, 2, 2}, {-1, -1, -1, -1, -1}, {2, 2, 1, 1, 2},
                          {-1, -1, -1, -1, -1}, {0, 1, 2, 3}, {2, 3, 0, 1}}));

}  // namespace
}  // namespace tavrin
