#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "basis/basis_store.hpp"
#include "basis/canonical_basis.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;

// A basis of `doubles` elements (8 bytes each).
SharedBasis basis_of(std::uint64_t doubles) {
    return std::make_shared<const Tensor>(Tensor::zeros({doubles}));
}

const std::vector<std::int32_t> kSpinsA{1, 1};
const std::vector<std::int32_t> kSpinsB{2, 2};
const std::vector<std::int32_t> kSpinsC{1, 1, 2};

TEST(BasisStore, KeyedByPathAndSpins) {
    BasisStore store(1000);
    const SharedBasis kept = basis_of(4);
    store.insert("/p/cgbasis.db", kSpinsA, kept);
    EXPECT_EQ(store.find("/p/cgbasis.db", kSpinsA), kept);
    EXPECT_EQ(store.find("/q/cgbasis.db", kSpinsA), nullptr);
    EXPECT_EQ(store.find("/p/cgbasis.db", kSpinsB), nullptr);
}

TEST(BasisStore, EvictsTheLeastRecentlyUsedToStayWithinItsBytes) {
    BasisStore store(3 * 80);
    store.insert("p", kSpinsA, basis_of(10));
    store.insert("p", kSpinsB, basis_of(10));
    store.insert("p", kSpinsC, basis_of(10));
    ASSERT_NE(store.find("p", kSpinsA), nullptr);  // now B is the oldest
    store.insert("q", kSpinsA, basis_of(10));
    EXPECT_EQ(store.find("p", kSpinsB), nullptr);
    EXPECT_NE(store.find("p", kSpinsA), nullptr);
    EXPECT_NE(store.find("p", kSpinsC), nullptr);
    EXPECT_EQ(store.bytes_held(), 3u * 80u);
}

TEST(BasisStore, ReplacingAKeyCountsItsBytesOnce) {
    BasisStore store(1000);
    store.insert("p", kSpinsA, basis_of(10));
    const SharedBasis second = basis_of(20);
    store.insert("p", kSpinsA, second);
    EXPECT_EQ(store.size(), 1u);
    EXPECT_EQ(store.bytes_held(), 160u);
    EXPECT_EQ(store.find("p", kSpinsA), second);
}

TEST(BasisStore, KeepsNothingLargerThanItsCapacity) {
    BasisStore store(80);
    store.insert("p", kSpinsA, basis_of(10));
    store.insert("p", kSpinsB, basis_of(11));
    EXPECT_EQ(store.find("p", kSpinsB), nullptr);
    EXPECT_NE(store.find("p", kSpinsA), nullptr);
}

TEST(BasisStore, ShrinkingEvictsAndZeroTurnsItOff) {
    BasisStore store(1000);
    store.insert("p", kSpinsA, basis_of(10));
    store.insert("p", kSpinsB, basis_of(10));
    store.set_capacity(100);
    EXPECT_EQ(store.size(), 1u);
    EXPECT_NE(store.find("p", kSpinsB), nullptr);
    store.set_capacity(0);
    EXPECT_EQ(store.size(), 0u);
    store.insert("p", kSpinsA, basis_of(0));
    EXPECT_EQ(store.size(), 0u);
}

struct CapacityCase {
    const char* value;
    std::uint64_t bytes;
};

class StoreCapacity : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(StoreCapacity, FromTheVariable) {
    EXPECT_EQ(basis_store_capacity_for(GetParam().value), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoreCapacity,
    ::testing::Values(CapacityCase{nullptr, kDefaultBasisStoreBytes},
                      CapacityCase{"", kDefaultBasisStoreBytes},
                      CapacityCase{"0", 0}, CapacityCase{"4096", 4096},
                      CapacityCase{"18446744073709551615", 18446744073709551615ull},
                      CapacityCase{"18446744073709551616", kDefaultBasisStoreBytes},
                      CapacityCase{"-1", kDefaultBasisStoreBytes},
                      CapacityCase{"2G", kDefaultBasisStoreBytes},
                      CapacityCase{" 1", kDefaultBasisStoreBytes}));

// The process store in front of the cache: a kept basis does not go back to the database; a
// request under another cache path does, and the store turned off always does.
class StoreInFrontOfCache : public CacheDirectory {
protected:
    void TearDown() override {
        ::unsetenv(kBasisStoreBytesVariable);
        CacheDirectory::TearDown();
    }
};

TEST_F(StoreInFrontOfCache, KeptBasisIsSharedNotLoadedAgain) {
    const auto spec = spec_of({1, 1, 2}, {1, 1, -1});
    auto first = shared_canonical_pattern_basis(spec, context_);
    auto second = shared_canonical_pattern_basis(spec_of({1, 1, 2}, {-1, 1, 1}), context_);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->get(), second->get());
}

TEST_F(StoreInFrontOfCache, AnotherCachePathGetsItsOwnRow) {
    const auto spec = spec_of({2, 2, 2}, {1, 1, -1});
    auto first = shared_canonical_pattern_basis(spec, context_);
    const std::filesystem::path other = dir_ / "other";
    ::setenv("TAVRIN_CACHE_PATH", other.c_str(), 1);
    auto second = shared_canonical_pattern_basis(spec, context_);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->get(), second->get());
    EXPECT_TRUE(std::filesystem::exists(other / "cgbasis.db"));
}

TEST_F(StoreInFrontOfCache, TurnedOffEveryRequestLoadsAgain) {
    ::setenv(kBasisStoreBytesVariable, "0", 1);
    const auto spec = spec_of({1, 1, 1, 1}, {1, 1, 1, -1});
    auto first = shared_canonical_pattern_basis(spec, context_);
    auto second = shared_canonical_pattern_basis(spec, context_);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->get(), second->get());
    EXPECT_EQ(**first, **second);
}

TEST(BasisStore, FollowsTheCapacityVariable) {
    BasisStore store(1000);
    store.insert("p", kSpinsA, basis_of(50));  // 400 bytes
    store.follow_capacity_variable("100");
    EXPECT_EQ(store.size(), 0u);
    store.set_capacity(1000);
    store.follow_capacity_variable("100");  // followed again after a capacity set directly
    store.insert("p", kSpinsA, basis_of(50));
    EXPECT_EQ(store.size(), 0u);
    store.follow_capacity_variable(nullptr);  // unset: the default
    store.insert("p", kSpinsA, basis_of(50));
    EXPECT_EQ(store.size(), 1u);
    store.follow_capacity_variable("0");
    EXPECT_EQ(store.bytes_held(), 0u);
}

TEST(BasisStore, RemembersTheLatestRequests) {
    BasisStore store(1 << 20);
    EXPECT_FALSE(store.requested_before("a", kSpinsA));
    EXPECT_TRUE(store.requested_before("a", kSpinsA));
    EXPECT_FALSE(store.requested_before("b", kSpinsA));
    const auto count = static_cast<std::int32_t>(BasisStore::kRememberedRequests);
    for (std::int32_t spin = 2; spin < 2 + count; ++spin) {
        EXPECT_FALSE(store.requested_before("a", std::vector<std::int32_t>{spin, spin}));
    }
    EXPECT_FALSE(store.requested_before("a", kSpinsA));  // the oldest, forgotten
    EXPECT_TRUE(store.requested_before("a", std::vector<std::int32_t>{3, 3}));
}

// A caller's copy is kept from the second request on: a basis asked for once is not copied
// again for the store.
TEST_F(StoreInFrontOfCache, CallersBasisKeptFromItsSecondRequest) {
    const auto spec = spec_of({2, 2, 2}, {1, 1, -1});
    BasisStore& store = process_basis_store();
    const std::size_t before = store.size();
    ASSERT_TRUE(canonical_basis(spec, context_));
    EXPECT_EQ(store.size(), before);
    ASSERT_TRUE(canonical_basis(spec, context_));
    EXPECT_EQ(store.size(), before + 1);
}

// Phases are applied to the caller's copy, never to the kept basis: a request with other
// directions after the first is the same bits as without the store.
TEST_F(StoreInFrontOfCache, CopiesForCallersCarryTheirOwnPhases) {
    const auto flipped = spec_of({1, 2, 3}, {-1, 1, 1});
    const auto canonical_pattern = spec_of({1, 2, 3}, {1, 1, -1});
    ::setenv(kBasisStoreBytesVariable, "0", 1);
    const Tensor without_store = *canonical_basis(flipped, context_);
    ::unsetenv(kBasisStoreBytesVariable);
    ASSERT_TRUE(canonical_basis(canonical_pattern, context_));
    const Tensor from_store = *canonical_basis(flipped, context_);
    expect_bits(from_store.data(), without_store.row_major_values());
    const Tensor again = *canonical_basis(canonical_pattern, context_);
    expect_bits(again.data(), (*shared_canonical_pattern_basis(canonical_pattern, context_))
                                  ->row_major_values());
}

}  // namespace
}  // namespace tavrin
