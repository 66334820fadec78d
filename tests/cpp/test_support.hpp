// Helpers shared by the C++ tests: building specifications and comparing bits.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cache/basis_cache.hpp"
#include "cache/cache_path.hpp"
#include "core/call_context.hpp"
#include "core/spin.hpp"
#include "specs/cg_spec.hpp"

namespace tavrin::testing {

inline Spin spin(std::int32_t twice) { return *Spin::create(twice); }

// Signs +1 (incoming) or -1 (outgoing), one per spin.
inline std::vector<Edge> edges_of(const std::vector<std::int32_t>& spins,
                                  const std::vector<int>& signs) {
    std::vector<Edge> edges;
    for (std::size_t i = 0; i < spins.size(); ++i) {
        edges.push_back(signs[i] > 0 ? Edge::incoming(spin(spins[i]))
                                     : Edge::outgoing(spin(spins[i])));
    }
    return edges;
}

// Edges 0 ... n-2 incoming, the last one outgoing.
inline std::vector<Edge> canonical(const std::vector<std::int32_t>& spins) {
    std::vector<int> signs(spins.size(), 1);
    if (!signs.empty()) {
        signs.back() = -1;
    }
    return edges_of(spins, signs);
}

inline CGSpec spec_of(const std::vector<std::int32_t>& spins, const std::vector<int>& signs) {
    return *CGSpec::from_edges(edges_of(spins, signs));
}

// Bitwise equality, so that -0.0 and 0.0 differ.
inline void expect_bits(std::span<const double> actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "at " << i;
        EXPECT_EQ(std::signbit(actual[i]), std::signbit(expected[i])) << "sign at " << i;
    }
}

// The cache database TAVRIN_CACHE_PATH names now, resolved as the bindings resolve it for a call.
inline std::shared_ptr<const std::string> database_in_environment() {
    const char* value = std::getenv(kCachePathVariable);
    return resolve_cache_database(value ? std::optional<std::string_view>(value) : std::nullopt);
}

// Makes the context's calls use that database.
inline CallContext& use_environment(CallContext& context) {
    context.set_cache_database(database_in_environment());
    return context;
}

// The row of that database for the spins (any shape), or nothing.
inline Result<std::optional<Tensor>> load_from_environment(std::span<const std::int32_t> spins) {
    auto found = load_cached_basis(*database_in_environment(), spins, nullptr);
    if (!found) return fail(std::move(found.error()));
    return std::move(found->basis);
}

// Points the basis cache at a fresh directory of its own for the test, removed afterwards, and
// gives the test a call context.
class CacheDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tavrin-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        ::setenv("TAVRIN_CACHE_PATH", dir_.c_str(), 1);
        use_environment(context_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
    CallContext context_;
};

}  // namespace tavrin::testing
