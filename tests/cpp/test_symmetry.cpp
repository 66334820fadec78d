#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "builders/om_basis.hpp"
#include "core/cg_spec.hpp"
#include "core/contraction.hpp"
#include "core/spin.hpp"
#include "primitives/triangle.hpp"

namespace tavrin {
namespace {

using Configs = std::vector<std::vector<std::int32_t>>;
constexpr std::int32_t kMaxSpin = std::numeric_limits<std::int32_t>::max();

Spin spin(std::int32_t twice) { return *Spin::create(twice); }

std::vector<Edge> incoming_edges(const std::vector<std::int32_t>& spins) {
    std::vector<Edge> edges;
    for (std::int32_t s : spins) {
        edges.push_back(Edge::incoming(spin(s)));
    }
    return edges;
}

Configs configs_of(const CGSpec& spec) {
    Configs configs;
    for (std::size_t a = 0; a < spec.om_dimension(); ++a) {
        auto c = spec.config(a);
        configs.emplace_back(c.begin(), c.end());
    }
    return configs;
}

struct SpinCase {
    std::int32_t twice;
    const char* text;
    double value;
    std::uint64_t dimension;
    bool integer;
};

class SpinValues : public ::testing::TestWithParam<SpinCase> {};

TEST_P(SpinValues, TextValueDimensionParity) {
    const auto& c = GetParam();
    Spin s = spin(c.twice);
    EXPECT_EQ(s.to_string(), c.text);
    EXPECT_EQ(s.value(), c.value);
    EXPECT_EQ(s.dimension(), c.dimension);
    EXPECT_EQ(s.is_integer(), c.integer);
    EXPECT_EQ(s.is_half_integer(), !c.integer);
}

INSTANTIATE_TEST_SUITE_P(Spins, SpinValues,
                         ::testing::Values(SpinCase{0, "0", 0.0, 1, true},
                                           SpinCase{1, "1/2", 0.5, 2, false},
                                           SpinCase{2, "1", 1.0, 3, true},
                                           SpinCase{3, "3/2", 1.5, 4, false},
                                           SpinCase{kMaxSpin, "2147483647/2", 1073741823.5,
                                                    2147483648ULL, false}));

TEST(Spin, NegativeIsRefused) {
    auto s = Spin::create(-1);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().to_string(), "Invalid spin quantum number: -1");
}

TEST(Direction, SignsAndFlip) {
    EXPECT_EQ(Direction::incoming().sign(), 1);
    EXPECT_EQ(Direction::outgoing().sign(), -1);
    EXPECT_EQ(Direction::incoming().flip().flip(), Direction::incoming());
    EXPECT_EQ(*Direction::from_sign(-1), Direction::outgoing());
    for (std::int32_t sign : {0, 2, -2}) {
        auto d = Direction::from_sign(sign);
        ASSERT_FALSE(d);
        EXPECT_EQ(d.error().text(), "Invalid direction sign: " + std::to_string(sign));
    }
}

TEST(Edge, FlippedAndEquality) {
    EXPECT_EQ(Edge::outgoing(spin(1)).flipped(), Edge::incoming(spin(1)));
    EXPECT_NE(Edge::outgoing(spin(1)), Edge::incoming(spin(1)));
}

TEST(CouplingRange, ListsAndMembership) {
    EXPECT_EQ(coupling_range(1, 2), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(coupling_range(4, 4), (std::vector<std::int64_t>{0, 2, 4, 6, 8}));
    EXPECT_TRUE(couples(kMaxSpin, kMaxSpin, 2LL * kMaxSpin));
    EXPECT_TRUE(couples(kMaxSpin, kMaxSpin, 0));
    EXPECT_FALSE(couples(kMaxSpin, kMaxSpin, 1));
    EXPECT_FALSE(couples(kMaxSpin, 0, kMaxSpin - 2));
}

struct EnumerationCase {
    std::vector<std::int32_t> spins;
    Configs configs;
};

class Enumeration : public ::testing::TestWithParam<EnumerationCase> {};

TEST_P(Enumeration, ConfigurationsInOrder) {
    const auto& c = GetParam();
    auto spec = CGSpec::from_edges(incoming_edges(c.spins));
    ASSERT_TRUE(spec) << spec.error().to_string();
    EXPECT_EQ(configs_of(*spec), c.configs);
    EXPECT_EQ(spec->om_dimension(), c.configs.size());

    // Directions never change the configurations.
    std::vector<Edge> mixed = incoming_edges(c.spins);
    for (std::size_t i = 0; i < mixed.size(); i += 2) {
        mixed[i] = mixed[i].flipped();
    }
    EXPECT_EQ(configs_of(*CGSpec::from_edges(mixed)), c.configs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Enumeration,
    ::testing::Values(
        EnumerationCase{{}, {{}}}, EnumerationCase{{1}, {{}}}, EnumerationCase{{1, 2}, {{}}},
        EnumerationCase{{1, 1, 2}, {{2}}}, EnumerationCase{{2, 2, 2}, {{2}}},
        EnumerationCase{{1, 2, 3}, {{3}}}, EnumerationCase{{0, 0, 0}, {{0}}},
        EnumerationCase{{1, 1, 1, 1}, {{0, 1}, {2, 1}}},
        EnumerationCase{{2, 1, 1, 2}, {{1, 2}, {3, 2}}},
        EnumerationCase{{2, 2, 2, 2}, {{0, 2}, {2, 2}, {4, 2}}},
        EnumerationCase{{4, 4, 4, 4}, {{0, 4}, {2, 4}, {4, 4}, {6, 4}, {8, 4}}},
        EnumerationCase{{1, 1, 1, 1, 1, 1},
                        {{0, 1, 0, 1}, {0, 1, 2, 1}, {2, 1, 0, 1}, {2, 1, 2, 1}, {2, 3, 2, 1}}},
        // Dead branches are pruned without changing the result.
        EnumerationCase{{3, 1, 0, 0, 2}, {{2, 2, 2}}},
        // Spins at the top of the 32-bit range.
        EnumerationCase{{kMaxSpin, kMaxSpin, 0}, {{0}}},
        EnumerationCase{{kMaxSpin, 0, kMaxSpin}, {{kMaxSpin}}},
        EnumerationCase{{kMaxSpin, kMaxSpin, 0, 0}, {{0, 0}}},
        EnumerationCase{{kMaxSpin, 1, kMaxSpin - 1, 0}, {{kMaxSpin - 1, 0}}}));

// Reference: the plain walk over every coupling_range entry, for small random spin lists.
void naive_walk(const std::vector<std::int32_t>& s, std::vector<std::int32_t>& path,
                std::int64_t k, Configs& out) {
    const std::size_t n = s.size();
    if (path.size() == n - 2) {
        if (k == s[n - 1]) {
            out.push_back(path);
        }
        return;
    }
    for (std::int64_t next : coupling_range(k, s[path.size() + 1])) {
        path.push_back(static_cast<std::int32_t>(next));
        naive_walk(s, path, next, out);
        path.pop_back();
    }
}

TEST(Enumeration, MatchesPlainWalkOnManySpinLists) {
    std::uint32_t state = 12345;
    auto next = [&] { return (state = state * 1103515245u + 12345u) >> 16; };
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<std::int32_t> s(3 + next() % 5);
        for (auto& x : s) {
            x = static_cast<std::int32_t>(next() % 5);
        }
        Configs expected;
        std::vector<std::int32_t> path;
        for (std::int64_t k1 : coupling_range(s[0], s[1])) {
            path = {static_cast<std::int32_t>(k1)};
            naive_walk(s, path, k1, expected);
        }
        auto spec = CGSpec::from_edges(incoming_edges(s));
        if (expected.empty()) {
            EXPECT_FALSE(spec);
        } else {
            ASSERT_TRUE(spec);
            EXPECT_EQ(configs_of(*spec), expected);
        }
    }
}

struct RefusedCase {
    std::vector<std::int32_t> spins;
    const char* text;
};

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, WithMessage) {
    auto spec = CGSpec::from_edges(incoming_edges(GetParam().spins));
    ASSERT_FALSE(spec);
    EXPECT_EQ(spec.error().kind(), ErrorKind::InvalidCGTSpec);
    EXPECT_EQ(spec.error().text(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Spins, Refused,
    ::testing::Values(
        RefusedCase{{1, 1, 1},
                    "Edge spins [\"j=1/2\", \"j=1/2\", \"j=1/2\"] do not satisfy SU(2) angular "
                    "momentum conservation. Cannot construct valid fusion tree coupling to j=0. "
                    "Common causes: an odd number of half-integer spins or incompatible spin "
                    "values."},
        RefusedCase{{2, 4, 0},
                    "Edge spins [\"j=1\", \"j=2\", \"j=0\"] do not satisfy SU(2) angular "
                    "momentum conservation. Cannot construct valid fusion tree coupling to j=0. "
                    "Common causes: an odd number of half-integer spins or incompatible spin "
                    "values."},
        // An internal spin of 2^31 cannot be stored.
        RefusedCase{{kMaxSpin, kMaxSpin, kMaxSpin, 1},
                    "Internal spin 2j=2147483648 of the fusion tree exceeds the largest "
                    "supported 2j=2147483647"},
        RefusedCase{{kMaxSpin, kMaxSpin, kMaxSpin, kMaxSpin},
                    "The edge spins admit more OM configurations than one specification can "
                    "hold (limits: 16777216 configurations, 268435456 internal spins in all)"}));

TEST(CGSpec, InvertedAxes) {
    auto spec = *CGSpec::from_edges(incoming_edges({1, 1, 2}));
    EXPECT_EQ(*spec.with_inverted_axes({}), spec);
    const std::vector<std::uint64_t> twice_zero{0, 0};
    auto flipped = *spec.with_inverted_axes(twice_zero);
    EXPECT_EQ(flipped.signs(), (std::vector<std::int32_t>{-1, 1, 1}));
    EXPECT_EQ(*flipped.with_inverted_axes(twice_zero), spec);
    EXPECT_EQ(configs_of(flipped), configs_of(spec));

    const std::vector<std::uint64_t> three{3};
    EXPECT_EQ(spec.with_inverted_axes(three).error(), TavrinError::index_out_of_bounds(3, 3));
    const std::vector<std::uint64_t> five_four{5, 4};
    EXPECT_EQ(spec.with_inverted_axes(five_four).error(),
              TavrinError::index_out_of_bounds(5, 3));
}

TEST(CGSpec, InternalConstructorChecksLengths) {
    auto spec = CGSpec::from_parts(incoming_edges({1, 1, 1, 1}), {{0, 1}, {2}});
    ASSERT_FALSE(spec);
    EXPECT_EQ(spec.error().text(), "Expected 2 internal spins for 4 edges, got 1");
    EXPECT_TRUE(CGSpec::from_parts(incoming_edges({1, 1}), {{}}));
}

TEST(Contraction, LengthsMustMatch) {
    auto ok = Contraction::create({2}, {0});
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->axes_a(), (std::vector<std::uint64_t>{2}));
    EXPECT_TRUE(Contraction::create({0, 0}, {1, 1}));
    auto bad = Contraction::create({1, 2}, {0});
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().message,
              "assertion `left == right` failed: Contraction axes must have same length\n"
              "  left: 2\n right: 1");
}

}  // namespace
}  // namespace tavrin
