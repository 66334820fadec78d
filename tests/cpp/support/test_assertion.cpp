#include "support/assertion.hpp"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(AssertionFailure, ComparesTwoLengths) {
    EXPECT_EQ(AssertionFailure::not_equal("Contraction axes must have same length", 2, 1).message,
              "assertion `left == right` failed: Contraction axes must have same length\n"
              "  left: 2\n right: 1");
}

// The check stays in release builds, where a plain assert would vanish.
TEST(CheckInvariant, ThrowsTheFailureInEveryBuildType) {
    EXPECT_NO_THROW(check_invariant(true, "holds"));
    try {
        check_invariant(false, "X-symbol should be 3-dimensional");
        FAIL() << "no AssertionFailure";
    } catch (const AssertionFailure& failure) {
        EXPECT_EQ(failure.message, "assertion failed: X-symbol should be 3-dimensional");
    }
}

}  // namespace
}  // namespace tavrin
