#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "coupling/coupling_rule.hpp"
#include "coupling/om_configurations.hpp"
#include "specs/cg_spec.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;

using Configs = std::vector<std::vector<std::int32_t>>;
constexpr std::int32_t kMaxSpin = std::numeric_limits<std::int32_t>::max();

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
        EnumerationCase{{}, {{}}}, EnumerationCase{{1}, {{}}}, EnumerationCase{{2, 2}, {{}}},
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
        // The questions agree with the enumeration without making it.
        EXPECT_EQ(admits_invariant(s), !expected.empty());
        EXPECT_EQ(count_invariants(s), expected.size());
        EXPECT_EQ(count_invariants_decimal(s), std::to_string(expected.size()));
    }
}

struct CountCase {
    std::vector<std::int32_t> spins;
    const char* count;
};

class InvariantCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(InvariantCount, InDecimalAndIn64Bits) {
    const auto& [spins, count] = GetParam();
    EXPECT_EQ(count_invariants_decimal(spins), count);
    EXPECT_EQ(admits_invariant(spins), std::string(count) != "0");
    const std::optional<std::uint64_t> fits = count_invariants(spins);
    if (std::string(count).size() < 20) {
        EXPECT_EQ(fits, std::stoull(count));
    } else {
        EXPECT_FALSE(fits) << "a count beyond 64 bits";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Spins, InvariantCount,
    ::testing::Values(
        // Fewer than three edges: one invariant or none, whatever from_edges accepts.
        CountCase{{}, "1"}, CountCase{{0}, "1"}, CountCase{{2}, "0"}, CountCase{{3, 3}, "1"},
        CountCase{{1, 3}, "0"}, CountCase{{1, 1, 1}, "0"}, CountCase{{2, 4, 0}, "0"},
        CountCase{{4, 4, 4, 4}, "5"},
        // 2m spins 1/2: the Catalan number C(m), past 64 bits from m = 37 on.
        CountCase{std::vector<std::int32_t>(36, 1), "477638700"},
        CountCase{std::vector<std::int32_t>(80, 1), "2622127042276492108820"},
        // Spins near the top of the 32-bit range, where listing is refused (too many
        // configurations; an internal spin 2j = 2^31).
        CountCase{{kMaxSpin, kMaxSpin, kMaxSpin, kMaxSpin}, "2147483648"},
        CountCase{{kMaxSpin, kMaxSpin, kMaxSpin, 1}, "2"}));

TEST(InvariantCount, RefusesRangesTooWideToCount) {
    const std::vector<std::int32_t> wide{kMaxSpin - 1, kMaxSpin - 1, 4, kMaxSpin - 1,
                                         kMaxSpin - 1};
    EXPECT_TRUE(admits_invariant(wide));
    EXPECT_FALSE(count_invariants(wide));
    EXPECT_FALSE(count_invariants_decimal(wide));
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
        // Two edges carry an invariant only when their spins are equal.
        RefusedCase{{1, 2}, "Two-edge CG tensor requires equal spins, got j=1/2 and j=1"},
        RefusedCase{{0, 2}, "Two-edge CG tensor requires equal spins, got j=0 and j=1"},
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

}  // namespace
}  // namespace tavrin
