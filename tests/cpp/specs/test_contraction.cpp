#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "specs/contraction.hpp"

namespace tavrin {
namespace {

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
