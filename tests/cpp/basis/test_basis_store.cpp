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

// Everything an entry keeps counts: with the bound at what ten bases' elements alone take, far
// fewer than ten fit, and what is held never passes the bound.
TEST(BasisStore, CountsKeysAndBookkeepingAgainstItsBound) {
    const std::string path(200, 'p');
    BasisStore store(10 * 96);
    for (std::int32_t k = 0; k < 100; ++k) {
        store.insert(path, std::vector<std::int32_t>{k, k}, basis_of(12));
        EXPECT_LE(store.bytes_held(), 10u * 96u);
    }
    EXPECT_LT(store.size(), 5u);
    EXPECT_GE(store.size(), 1u);
    const std::uint64_t one = store.bytes_held() / store.size();
    EXPECT_GT(one, 96u + path.size());
}

TEST(BasisStore, KeepsNothingLargerThanItsBound) {
    BasisStore store(1000);
    store.insert("p", kSpinsA, basis_of(200));
    EXPECT_EQ(store.find("p", kSpinsA), nullptr);
    EXPECT_FALSE(store.has_room_for(*basis_of(200)));
    EXPECT_TRUE(store.has_room_for(*basis_of(10)));
}

// The process store in front of the cache: a kept basis does not go back to the database; a
// request under another cache path does, and the store turned off always does.
class StoreInFrontOfCache : public CacheDirectory {
protected:
    void TearDown() override {
        process_basis_store().set_bound(kDefaultBasisStoreBytes);
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
    use_environment(context_);
    auto second = shared_canonical_pattern_basis(spec, context_);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->get(), second->get());
    EXPECT_TRUE(std::filesystem::exists(other / "cgbasis.db"));
}

TEST_F(StoreInFrontOfCache, TurnedOffEveryRequestLoadsAgain) {
    process_basis_store().set_bound(0);
    const auto spec = spec_of({1, 1, 1, 1}, {1, 1, 1, -1});
    auto first = shared_canonical_pattern_basis(spec, context_);
    auto second = shared_canonical_pattern_basis(spec, context_);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->get(), second->get());
    EXPECT_EQ(**first, **second);
}

// A noted request is an entry without a basis: it counts its key against the bound, leaves
// like a basis, and a basis kept later replaces it.
TEST(BasisStore, RemembersRequestsWithinItsBound) {
    BasisStore store(1 << 20);
    EXPECT_FALSE(store.requested_before("a", kSpinsA));
    EXPECT_TRUE(store.requested_before("a", kSpinsA));
    EXPECT_FALSE(store.requested_before("b", kSpinsA));
    EXPECT_EQ(store.find("a", kSpinsA), nullptr);
    EXPECT_GT(store.bytes_held(), 0u);
    store.insert("a", kSpinsA, basis_of(4));
    EXPECT_NE(store.find("a", kSpinsA), nullptr);
    EXPECT_TRUE(store.requested_before("a", kSpinsA));

    BasisStore small(1024);
    for (std::int32_t spin = 0; spin < 1000; ++spin) {
        (void)small.requested_before("a", std::vector<std::int32_t>{spin, spin});
    }
    EXPECT_LE(small.bytes_held(), 1024u);
    EXPECT_FALSE(small.requested_before("a", std::vector<std::int32_t>{0, 0}));  // forgotten
}

// A caller's copy is kept from the second request on: a basis asked for once is not copied
// again for the store.
TEST_F(StoreInFrontOfCache, CallersBasisKeptFromItsSecondRequest) {
    const auto spec = spec_of({2, 2, 2}, {1, 1, -1});
    BasisStore& store = process_basis_store();
    const std::string& database = *context_.cache_database();
    ASSERT_TRUE(canonical_basis(spec, context_));
    EXPECT_EQ(store.find(database, spec.spins()), nullptr);
    ASSERT_TRUE(canonical_basis(spec, context_));
    EXPECT_NE(store.find(database, spec.spins()), nullptr);
}

// Phases are applied to the caller's copy, never to the kept basis: a request with other
// directions after the first is the same bits as without the store.
TEST_F(StoreInFrontOfCache, CopiesForCallersCarryTheirOwnPhases) {
    const auto flipped = spec_of({1, 2, 3}, {-1, 1, 1});
    const auto canonical_pattern = spec_of({1, 2, 3}, {1, 1, -1});
    process_basis_store().set_bound(0);
    const Tensor without_store = *canonical_basis(flipped, context_);
    process_basis_store().set_bound(kDefaultBasisStoreBytes);
    ASSERT_TRUE(canonical_basis(canonical_pattern, context_));
    const Tensor from_store = *canonical_basis(flipped, context_);
    expect_bits(from_store.data(), without_store.row_major_values());
    const Tensor again = *canonical_basis(canonical_pattern, context_);
    expect_bits(again.data(), (*shared_canonical_pattern_basis(canonical_pattern, context_))
                                  ->row_major_values());
}

}  // namespace
}  // namespace tavrin
