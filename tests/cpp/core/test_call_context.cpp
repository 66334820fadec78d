#include "core/call_context.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace tavrin {
namespace {

TEST(CallContext, WithoutAStopRequestRunsToTheEnd) {
    CallContext context;
    EXPECT_FALSE(context.should_stop());
    context.warn({"cause", "/path", "text"});
    EXPECT_EQ(context.warnings(), (std::vector<Warning>{{"cause", "/path", "text"}}));
}

// The request is asked at most once per interval, and a yes stays a yes.
TEST(CallContext, AsksAtMostOncePerIntervalAndRemembersAYes) {
    int asked = 0;
    bool answer = false;
    CallContext context([&] {
        ++asked;
        return answer;
    });
    EXPECT_FALSE(context.should_stop());
    answer = true;
    EXPECT_FALSE(context.should_stop()) << "asked again within the interval";
    EXPECT_EQ(asked, 1);
    std::this_thread::sleep_for(CallContext::kStopCheckInterval * 2);
    EXPECT_TRUE(context.should_stop());
    answer = false;
    EXPECT_TRUE(context.should_stop());
    EXPECT_EQ(asked, 2);
}

TEST(CallContext, FirstAskedOneIntervalAfterTheFirstQuestion) {
    int asked = 0;
    CallContext context(
        [&] {
            ++asked;
            return true;
        },
        CallContext::AfterAnInterval{});
    EXPECT_FALSE(context.should_stop());
    EXPECT_FALSE(context.should_stop());
    EXPECT_EQ(asked, 0);
    std::this_thread::sleep_for(CallContext::kStopCheckInterval * 2);
    EXPECT_TRUE(context.should_stop());
    EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace tavrin
