#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "coupling/coupling_rule.hpp"

namespace tavrin {
namespace {

constexpr std::int32_t kMaxSpin = std::numeric_limits<std::int32_t>::max();

TEST(CouplingRange, ListsAndMembership) {
    EXPECT_EQ(coupling_range(1, 2), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(coupling_range(4, 4), (std::vector<std::int64_t>{0, 2, 4, 6, 8}));
    EXPECT_TRUE(couples(kMaxSpin, kMaxSpin, 2LL * kMaxSpin));
    EXPECT_TRUE(couples(kMaxSpin, kMaxSpin, 0));
    EXPECT_FALSE(couples(kMaxSpin, kMaxSpin, 1));
    EXPECT_FALSE(couples(kMaxSpin, 0, kMaxSpin - 2));
}

}  // namespace
}  // namespace tavrin
