#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "core/spin.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;

constexpr std::int32_t kMaxSpin = std::numeric_limits<std::int32_t>::max();

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

}  // namespace
}  // namespace tavrin
