#include "support/process_store.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "support/process_mutex.hpp"

namespace tavrin {
namespace {

struct IntHash {
    std::size_t operator()(int key) const noexcept { return std::hash<int>{}(key); }
};
using Store = BoundedStore<int, int, IntHash>;

// The bytes one more entry costs with `owned` bytes of its own (the bucket array aside).
std::uint64_t entry_bytes(std::uint64_t owned) {
    Store probe("probe", "PROBE_BYTES", 1 << 20);
    probe.insert(0, 0, owned);
    const std::uint64_t one = probe.statistics().bytes;
    probe.insert(1, 0, owned);
    return probe.statistics().bytes - one;
}

TEST(BoundedStore, KeepsWithinItsBytesTheLeastRecentlyUsedOutFirst) {
    Store store("lru", "LRU_BYTES", 1 << 20);
    for (int k = 1; k <= 3; ++k) ASSERT_TRUE(store.insert(k, 10 * k, 100));
    const std::uint64_t three = store.statistics().bytes;
    store.set_bound(three);
    EXPECT_EQ(store.find(1), 10);  // 1 is now the most recent, 2 the least
    EXPECT_TRUE(store.insert(4, 40, 100));
    EXPECT_EQ(store.find(2), std::nullopt);
    EXPECT_EQ(store.find(1), 10);
    EXPECT_EQ(store.find(3), 30);
    EXPECT_EQ(store.find(4), 40);
    EXPECT_LE(store.statistics().bytes, three);
}

TEST(BoundedStore, CountsHitsMissesAndPlaceholders) {
    Store store("counts", "COUNTS_BYTES", 1 << 20);
    store.insert(1, 0, 0);
    store.insert(2, 5, 0);
    EXPECT_EQ(store.find(3), std::nullopt);
    EXPECT_EQ(store.find(2), 5);
    const auto placeholder = [](int value) { return value != 0; };
    EXPECT_EQ(store.find(1, placeholder), 0);  // found, but counted a miss
    const StoreStatistics s = store.statistics();
    EXPECT_EQ(s.hits, 1u);
    EXPECT_EQ(s.misses, 2u);
    EXPECT_EQ(s.bound, 1u << 20);
}

TEST(BoundedStore, ReplacingAKeyCountsItsBytesOnce) {
    Store store("replace", "REPLACE_BYTES", 1 << 20);
    store.insert(1, 1, 100);
    const std::uint64_t one = store.statistics().bytes;
    store.insert(1, 2, 100);
    EXPECT_EQ(store.size(), 1u);
    EXPECT_EQ(store.statistics().bytes, one);
    EXPECT_EQ(store.find(1), 2);
    EXPECT_FALSE(store.insert_if_absent(1, 3, 100));
    EXPECT_EQ(store.find(1), 2);
}

TEST(BoundedStore, KeepsNoEntryAboveItsShareOfTheBound) {
    Store store("share", "SHARE_BYTES", 8 * entry_bytes(1000), 8);
    EXPECT_FALSE(store.insert(1, 1, 1001));
    EXPECT_TRUE(store.insert(2, 2, 1000));
    EXPECT_EQ(store.find(1), std::nullopt);
}

TEST(BoundedStore, ShrinkingEvictsZeroTurnsItOffAndClearingEmpties) {
    Store store("shrink", "SHRINK_BYTES", 1 << 20);
    for (int k = 0; k < 5; ++k) store.insert(k, k, 0);
    (void)store.find(0);
    const std::uint64_t smaller = store.statistics().bytes - 2 * entry_bytes(0);
    store.set_bound(smaller);
    EXPECT_LE(store.statistics().bytes, smaller);
    EXPECT_EQ(store.size(), 3u);
    EXPECT_EQ(store.find(0), 0);
    store.clear();
    EXPECT_EQ(store.statistics(), (StoreStatistics{0, 0, 0, smaller}));
    store.set_bound(0);
    EXPECT_FALSE(store.insert(1, 1, 0));
    EXPECT_EQ(store.size(), 0u);
}

// Touching is all or nothing: one missing key or placeholder and nothing is counted or moved.
TEST(BoundedStore, TouchesEveryKeyOrNone) {
    Store store("touch", "TOUCH_BYTES", 1 << 20);
    for (int k = 1; k <= 3; ++k) store.insert(k, k, 0);
    const auto real = [](int value) { return value != 2; };  // 2 stands for a placeholder
    for (const std::vector<int>& keys : {std::vector<int>{1, 4}, std::vector<int>{1, 2}}) {
        EXPECT_FALSE(store.touch_all(std::span<const int>(keys), real));
    }
    EXPECT_EQ(store.statistics().hits + store.statistics().misses, 0u);
    const std::vector<int> keys{3, 1};
    EXPECT_TRUE(store.touch_all(std::span<const int>(keys), real));
    EXPECT_EQ(store.statistics().hits, 2u);
    // 2 is now the least recently used, then 3: room for one entry less evicts 2 alone.
    store.set_bound(store.statistics().bytes - entry_bytes(0));
    EXPECT_EQ(store.find(2), std::nullopt);
    EXPECT_EQ(store.find(3), 3);
}

// Where a touch found its entries serves the next one while nothing has left the store, and only
// for the keys it was found for; once an entry leaves, the keys are looked up again.
TEST(BoundedStore, TouchesWhatItFoundBeforeUntilAnEntryLeaves) {
    Store store("found", "FOUND_BYTES", 1 << 20);
    for (int k = 1; k <= 4; ++k) store.insert(k, k, 0);
    const auto any = [](int) { return true; };
    Store::Found found;
    const std::vector<int> first{1, 2};
    const std::vector<int> other{3, 4};
    EXPECT_TRUE(store.touch_all(std::span<const int>(first), any, &found));
    EXPECT_TRUE(store.touch_all(std::span<const int>(other), any, &found));  // other keys
    store.insert(4, 40, 0);  // replaced: the old entry left
    EXPECT_TRUE(store.touch_all(std::span<const int>(other), any, &found));
    store.set_bound(0);
    store.set_bound(1 << 20);
    store.insert(3, 3, 0);
    EXPECT_FALSE(store.touch_all(std::span<const int>(other), any, &found));
    EXPECT_EQ(store.statistics().hits, 6u);
}

struct BoundCase {
    std::optional<std::string_view> text;
    std::uint64_t bound;
};

class BoundText : public ::testing::TestWithParam<BoundCase> {};

TEST_P(BoundText, DecimalBytesOrTheDefault) {
    EXPECT_EQ(bound_from_text(GetParam().text, 77), GetParam().bound);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BoundText,
    ::testing::Values(BoundCase{std::nullopt, 77}, BoundCase{"", 77}, BoundCase{"0", 0},
                      BoundCase{"4096", 4096},
                      BoundCase{"18446744073709551615", 18446744073709551615ull},
                      BoundCase{"18446744073709551616", 77}, BoundCase{"-1", 77},
                      BoundCase{"2G", 77}, BoundCase{" 1", 77}));

// A bound set directly holds until the variable's text changes.
TEST(BoundedStore, FollowsItsVariableOnlyWhenItChanges) {
    Store store("follow", "FOLLOW_BYTES", 1000);
    store.follow_bound_variable("100");
    EXPECT_EQ(store.statistics().bound, 100u);
    store.set_bound(5000);
    store.follow_bound_variable("100");
    EXPECT_EQ(store.statistics().bound, 5000u);
    store.follow_bound_variable(std::nullopt);
    EXPECT_EQ(store.statistics().bound, 1000u);
    store.follow_bound_variable("0");
    EXPECT_EQ(store.statistics().bound, 0u);
}

TEST(ProcessStores, AreFoundByName) {
    Store store("a_store_of_this_test", "A_STORE_BYTES", 64);
    EXPECT_EQ(find_process_store("a_store_of_this_test"), &store);
    EXPECT_EQ(find_process_store("no such store"), nullptr);
    EXPECT_EQ(store.bound_variable(), "A_STORE_BYTES");
    EXPECT_EQ(store.default_bound(), 64u);
}

// Runs `in_child` in a child forked while another thread takes and releases the mutex (or works
// on the store) as fast as it can; the child must finish within a few seconds.
void fork_while_busy(const std::function<void()>& busy, const std::function<void()>& in_child) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done.load()) busy();
    });
    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            ::alarm(5);  // a child that hangs is killed, and the test fails
            in_child();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
    done.store(true);
    worker.join();
}

TEST(ProcessMutex, ChildOfForkFindsItReleasedAndItsHookRun) {
    static std::atomic<int> hooks{0};
    ProcessMutex mutex([] { hooks.fetch_add(1); });
    fork_while_busy(
        [&] {
            const std::lock_guard guard(mutex);
        },
        [&] {
            const std::lock_guard guard(mutex);
            if (hooks.load() != 1) ::_exit(3);
        });
}

TEST(BoundedStore, ChildOfForkUsesTheStoreAsItWas) {
    Store store("forked", "FORKED_BYTES", 1 << 16);
    int k = 0;
    fork_while_busy([&] { store.insert(k++ % 5000, 1, 0); },
                    [&] {
                        for (int i = 0; i < 5000; ++i) store.insert(i, 2, 0);
                        if (store.statistics().bytes > (1 << 16)) ::_exit(4);
                    });
}

}  // namespace
}  // namespace tavrin
