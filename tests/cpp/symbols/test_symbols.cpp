#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "basis/basis_store.hpp"
#include "cache/basis_cache.hpp"
#include "specs/contraction.hpp"
#include "symbols/conjugate.hpp"
#include "symbols/rsymbol.hpp"
#include "symbols/xsymbol.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;
using Values = std::vector<double>;

TEST_F(CacheDirectory, XSymbolShapeExample) {
    auto a = spec_of({1, 1, 2}, {1, 1, -1});
    auto b = spec_of({2, 1, 1}, {1, -1, -1});
    auto x = compute_xsymbol(a, b, *Contraction::create({2}, {0}), context_);
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
                             *Contraction::create(c.axes_a, c.axes_b), context_);
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
                   "Invalid CGSpec: Two-edge CG tensor requires equal spins, got j=0 and j=1"}));

struct RErrorCase {
    std::vector<std::uint64_t> permutation;
    const char* text;
};

class RSymbolErrors : public CacheDirectory, public ::testing::WithParamInterface<RErrorCase> {};

TEST_P(RSymbolErrors, Message) {
    auto r = compute_rsymbol(spec_of({1, 1, 2}, {1, 1, -1}), GetParam().permutation, context_);
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
    auto r = compute_rsymbol(spec, swap, context_);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data.shape(), (Shape{2, 2}));
    // Exchanging two spin-1/2 edges of the first vertex: singlet odd, triplet even.
    EXPECT_NEAR(r->data.get(std::vector<std::uint64_t>{0, 0}), -1.0, 1e-14);
    EXPECT_NEAR(r->data.get(std::vector<std::uint64_t>{1, 1}), 1.0, 1e-14);
    EXPECT_NEAR(r->data.get(std::vector<std::uint64_t>{0, 1}), 0.0, 1e-14);
}

bool same_bits(const Tensor& a, const Tensor& b) {
    return a.shape() == b.shape() &&
           std::memcmp(a.data().data(), b.data().data(), a.size() * sizeof(double)) == 0;
}

bool database_holds(const CGSpec& spec) {
    const auto loaded = load_from_environment(spec.spins());
    return loaded && loaded->has_value();
}

// A symbol asked for again is summed by the plan made the first time: the same bits, and its
// bases are still fetched and stored, here into the database of a new cache path.
TEST_F(CacheDirectory, RepeatedSymbolsAreTheSameBitsAndStillStoreTheirBases) {
    process_basis_store().set_bound(0);
    const auto a = spec_of({2, 2, 2, 2}, {1, 1, -1, 1});
    const auto b = spec_of({2, 2, 2}, {1, 1, -1});
    const auto contraction = *Contraction::create({2, 3}, {0, 2});
    const std::vector<std::uint64_t> permutation{2, 0, 3, 1};
    auto x = compute_xsymbol(a, b, contraction, context_);
    auto r = compute_rsymbol(a, permutation, context_);
    ASSERT_TRUE(x && r);

    ::setenv("TAVRIN_CACHE_PATH", (dir_ / "again").c_str(), 1);
    use_environment(context_);
    auto x_again = compute_xsymbol(a, b, contraction, context_);
    auto r_again = compute_rsymbol(a, permutation, context_);
    process_basis_store().set_bound(kDefaultBasisStoreBytes);
    ASSERT_TRUE(x_again && r_again);
    EXPECT_TRUE(same_bits(x->data, x_again->data));
    EXPECT_TRUE(same_bits(r->data, r_again->data));
    EXPECT_EQ(x_again->spec_c.edges(), x->spec_c.edges());
    EXPECT_EQ(r_again->spec_permuted.edges(), r->spec_permuted.edges());
    for (const CGSpec* spec :
         std::initializer_list<const CGSpec*>{&a, &b, &x->spec_c, &r->spec_permuted}) {
        EXPECT_TRUE(database_holds(*spec));
    }
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
