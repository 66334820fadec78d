// The memos of symbol results: a repeat is a copy of the first result, fetching its bases as a
// computation would; errors are never kept; the methods keep apart.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "basis/basis_store.hpp"
#include "cache/basis_cache.hpp"
#include "specs/contraction.hpp"
#include "symbols/rsymbol.hpp"
#include "symbols/symbol_results.hpp"
#include "symbols/xsymbol.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;

const CGSpec kA = spec_of({1, 1, 2}, {1, 1, -1});
const CGSpec kB = spec_of({2, 1, 1}, {1, -1, -1});
const std::vector<std::uint64_t> kSwap{1, 0, 2, 3};
const CGSpec kFour = spec_of({1, 1, 1, 1}, {1, 1, 1, -1});

Contraction pair() { return *Contraction::create({2}, {0}); }

class SymbolResults : public CacheDirectory {
protected:
    void SetUp() override {
        CacheDirectory::SetUp();
        xsymbol_results().clear();
        rsymbol_results().clear();
    }
};

class SymbolResultsByMethod : public SymbolResults,
                              public ::testing::WithParamInterface<SymbolMethod> {};

TEST_P(SymbolResultsByMethod, ARepeatIsACopyOfTheFirstResult) {
    const Contraction pairs = pair();
    auto x1 = compute_xsymbol(kA, kB, pairs, context_, GetParam());
    auto x2 = compute_xsymbol(kA, kB, pairs, context_, GetParam());
    ASSERT_TRUE(x1 && x2);
    expect_bits(x2->data.data(), x1->data.row_major_values());
    EXPECT_EQ(x2->data.shape(), x1->data.shape());
    EXPECT_EQ(x2->spec_c, x1->spec_c);
    EXPECT_NE(x2->data.data().data(), x1->data.data().data());

    auto r1 = compute_rsymbol(kFour, kSwap, context_, GetParam());
    auto r2 = compute_rsymbol(kFour, kSwap, context_, GetParam());
    ASSERT_TRUE(r1 && r2);
    expect_bits(r2->data.data(), r1->data.row_major_values());
    EXPECT_EQ(r2->spec_permuted, r1->spec_permuted);

    for (SymbolResultStore* memo : {&xsymbol_results(), &rsymbol_results()}) {
        const StoreStatistics s = memo->statistics();
        EXPECT_EQ(s.hits, 1u);
        EXPECT_EQ(s.misses, 1u);
        EXPECT_GT(s.bytes, 0u);
    }
}

TEST_P(SymbolResultsByMethod, ErrorsAreNotKept) {
    const Contraction mismatched = *Contraction::create({0}, {0});  // 2j = 1 against 2j = 2
    for (int call = 0; call < 2; ++call) {
        auto x = compute_xsymbol(kA, kB, mismatched, context_, GetParam());
        ASSERT_FALSE(x);
        EXPECT_EQ(x.error().kind(), ErrorKind::IncompatibleEdges);
        const std::vector<std::uint64_t> repeated{0, 0, 1, 2};
        auto r = compute_rsymbol(kFour, repeated, context_, GetParam());
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), ErrorKind::InvalidCGTSpec);
    }
    for (SymbolResultStore* memo : {&xsymbol_results(), &rsymbol_results()}) {
        EXPECT_EQ(memo->statistics(), (StoreStatistics{0, 2, 0, kDefaultSymbolResultBytes}));
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, SymbolResultsByMethod,
                         ::testing::Values(SymbolMethod::Dense, SymbolMethod::Recoupling));

TEST_F(SymbolResults, TheMethodsKeepTheirOwnResults) {
    const Contraction pairs = pair();
    auto dense = compute_xsymbol(kA, kB, pairs, context_, SymbolMethod::Dense);
    auto recoupled = compute_xsymbol(kA, kB, pairs, context_, SymbolMethod::Recoupling);
    ASSERT_TRUE(dense && recoupled);
    EXPECT_EQ(xsymbol_results().statistics().misses, 2u);
    EXPECT_EQ(xsymbol_results().size(), 2u);
}

// A repeat under another cache database gives that database the rows a computation would.
TEST_F(SymbolResults, ARepeatStoresItsBasesUnderTheDatabaseInForce) {
    const Contraction pairs = pair();
    auto first = compute_xsymbol(kA, kB, pairs, context_);
    ASSERT_TRUE(first);
    const std::filesystem::path other = dir_ / "other";
    ::setenv("TAVRIN_CACHE_PATH", other.c_str(), 1);
    CallContext elsewhere;
    use_environment(elsewhere);
    auto repeat = compute_xsymbol(kA, kB, pairs, elsewhere);
    ASSERT_TRUE(repeat);
    EXPECT_EQ(xsymbol_results().statistics().hits, 1u);
    for (const CGSpec* spec : {&kA, &kB, static_cast<const CGSpec*>(&first->spec_c)}) {
        auto row = load_from_environment(spec->spins());
        ASSERT_TRUE(row);
        EXPECT_TRUE(row->has_value());
    }
}

// The cheap way out is taken only when every basis is in the in-process store, and changes
// nothing otherwise; the recoupling method needs no basis.
TEST_F(SymbolResults, FinishingCheaplyNeedsEveryBasisInTheStore) {
    const Contraction pairs = pair();
    ASSERT_TRUE(compute_xsymbol(kA, kB, pairs, context_));
    ASSERT_TRUE(compute_xsymbol(kA, kB, pairs, context_, SymbolMethod::Recoupling));
    ProcessStore& bases = process_basis_store().process_store();
    bases.clear();

    XSymbolCall recoupled(kA, kB, pairs, SymbolMethod::Recoupling);
    EXPECT_NE(recoupled.finish_if_cheap(context_), nullptr);
    XSymbolCall dense(kA, kB, pairs, SymbolMethod::Dense);
    EXPECT_EQ(dense.finish_if_cheap(context_), nullptr);
    EXPECT_EQ(bases.statistics().hits + bases.statistics().misses, 0u);
    ASSERT_TRUE(dense.finish(context_));  // fetched from the database, kept in the store

    XSymbolCall again(kA, kB, pairs, SymbolMethod::Dense);
    const SharedKnownSymbol known = again.finish_if_cheap(context_);
    ASSERT_NE(known, nullptr);
    EXPECT_EQ(known->derived_spec.num_external(), 4u);
    EXPECT_EQ(bases.statistics().hits, 3u);
}

// Each result is charged for what it holds: a bound below one result keeps none.
TEST_F(SymbolResults, KeepsNothingAboveItsShareOfTheBound) {
    const std::uint64_t bound = xsymbol_results().statistics().bound;
    auto x = compute_xsymbol(kA, kB, pair(), context_);
    ASSERT_TRUE(x);
    const std::uint64_t one = xsymbol_results().statistics().bytes;
    EXPECT_GT(one, x->data.size() * sizeof(double) + x->spec_c.heap_bytes());
    xsymbol_results().set_bound(one);  // an eighth of it is less than the entry
    xsymbol_results().clear();
    ASSERT_TRUE(compute_xsymbol(kA, kB, pair(), context_));
    EXPECT_EQ(xsymbol_results().size(), 0u);
    xsymbol_results().set_bound(bound);
}

// Threads repeat one symbol, cheaply or not, while another empties the memo and the store in
// front of the cache: every call returns the same values (memory faults show under the
// sanitizers).
TEST_F(SymbolResults, ThreadsRepeatASymbolWhileTheMemosEmpty) {
    const Contraction pairs = pair();
    auto expected = compute_xsymbol(kA, kB, pairs, context_);
    ASSERT_TRUE(expected);
    const std::vector<double> values = expected->data.row_major_values();
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> repeating;
    for (int t = 0; t < 3; ++t) {
        repeating.emplace_back([&] {
            CallContext context;
            use_environment(context);
            for (int call = 0; call < 2000; ++call) {
                XSymbolCall x(kA, kB, pairs, SymbolMethod::Dense);
                const SharedKnownSymbol known = x.finish_if_cheap(context);
                if (known) {
                    wrong += known->data.row_major_values() != values;
                } else {
                    auto computed = x.finish(context);
                    wrong += !computed || computed->data.row_major_values() != values;
                }
            }
        });
    }
    std::thread emptying([&] {
        while (!done.load()) {
            process_basis_store().process_store().clear();
            xsymbol_results().clear();
            std::this_thread::yield();
        }
    });
    for (std::thread& t : repeating) t.join();
    done.store(true);
    emptying.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace tavrin
