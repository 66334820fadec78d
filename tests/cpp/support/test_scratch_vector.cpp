#include "support/scratch_vector.hpp"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

// A vector given back comes out again empty with its capacity; two alive at once are distinct.
TEST(ScratchVector, ReusedWithinTheThread) {
    const double* storage = nullptr;
    {
        ScratchVector first;
        first->assign(1000, 1.0);
        storage = first->data();
    }
    ScratchVector again;
    EXPECT_TRUE(again->empty());
    EXPECT_GE(again->capacity(), 1000u);
    EXPECT_EQ(again->data(), storage);
    ScratchVector other;
    other->assign(10, 2.0);
    EXPECT_NE(other->data(), again->data());
}

TEST(ScratchVector, LargeOnesAreNotKept) {
    {
        ScratchVector large;
        large->resize((std::size_t{1} << 20) / sizeof(double) + 1);
    }
    ScratchVector next;
    EXPECT_LE(next->capacity(), (std::size_t{1} << 20) / sizeof(double));
}

}  // namespace
}  // namespace tavrin
