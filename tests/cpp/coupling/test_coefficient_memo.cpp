#include "coupling/coefficient_memo.hpp"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(CoefficientMemo, StopsGrowingAtItsCapacity) {
    CoefficientMemo memo(2);
    memo.insert({1, 1, 1, -1, 0, 0}, 0.5);
    memo.insert({1, 1, 1, -1, 0, 0}, 0.5);  // the same key again: still one entry
    memo.insert({2, 0, 2, 0, 0, 0}, -0.25);
    memo.insert({2, 2, 2, -2, 0, 0}, 0.75);  // past the capacity: not kept
    EXPECT_EQ(memo.size(), 2u);
    EXPECT_EQ(memo.find({1, 1, 1, -1, 0, 0}), 0.5);
    EXPECT_EQ(memo.find({2, 0, 2, 0, 0, 0}), -0.25);
    EXPECT_EQ(memo.find({2, 2, 2, -2, 0, 0}), std::nullopt);
}

}  // namespace
}  // namespace tavrin
