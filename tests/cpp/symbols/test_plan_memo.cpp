#include "symbols/plan_memo.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace tavrin {
namespace {

using Memo = PlanMemo<int>;

std::shared_ptr<const int> plan(int value) { return std::make_shared<const int>(value); }

// Each entry below costs its 700 bytes, its key's and 128 of bookkeeping: 844, an eighth of
// the bound.
TEST(PlanMemo, KeepsWithinItsBytesTheLeastRecentlyUsedOutFirst) {
    Memo memo(8 * 844);
    for (int k = 1; k <= 8; ++k) {
        memo.insert({k}, plan(k), 700);
    }
    ASSERT_NE(memo.find({1}), nullptr);  // 1 is now the most recent, 2 the least
    memo.insert({9}, plan(9), 700);
    EXPECT_EQ(memo.size(), 8u);
    EXPECT_EQ(memo.find({2}), nullptr);
    EXPECT_EQ(*memo.find({1}), 1);
    EXPECT_EQ(*memo.find({9}), 9);
}

TEST(PlanMemo, LargePlansAndSecondInsertionsAreNotKept) {
    Memo memo(8 * 844);
    memo.insert({1, 2}, plan(1), 701);  // above an eighth of the bound with its key
    EXPECT_EQ(memo.find({1, 2}), nullptr);
    memo.insert({1}, plan(1), 10);
    memo.insert({1}, plan(2), 10);
    EXPECT_EQ(*memo.find({1}), 1);
    EXPECT_EQ(memo.find({2}), nullptr);
}

}  // namespace
}  // namespace tavrin
