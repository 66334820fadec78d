#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "basis/canonical_basis.hpp"
#include "cache/basis_cache.hpp"
#include "cache/npy_blob.hpp"
#include "test_support.hpp"

namespace tavrin {
namespace {

using namespace tavrin::testing;
using Values = std::vector<double>;

struct BasisCase {
    std::vector<std::int32_t> spins;
    std::vector<int> signs;
    Shape shape;
    Values values;
};

class CanonicalBasisValues : public CacheDirectory,
                             public ::testing::WithParamInterface<BasisCase> {};

TEST_P(CanonicalBasisValues, BitForBit) {
    const auto& c = GetParam();
    auto basis = canonical_basis(spec_of(c.spins, c.signs), context_);
    ASSERT_TRUE(basis) << basis.error().to_string();
    EXPECT_EQ(basis->shape(), c.shape);
    expect_bits(basis->data(), c.values);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CanonicalBasisValues,
    ::testing::Values(
        BasisCase{{1, 1}, {1, -1}, {2, 2, 1}, {0.7071067811865475, 0.0, 0.0, 0.7071067811865475}},
        BasisCase{{1, 1}, {1, 1}, {2, 2, 1}, {-0.0, 0.7071067811865475, -0.7071067811865475, 0.0}},
        BasisCase{{2, 2},
                  {1, 1},
                  {3, 3, 1},
                  {0.0, -0.0, 0.5773502691896258, 0.0, -0.5773502691896258, 0.0,
                   0.5773502691896258, -0.0, 0.0}},
        BasisCase{{1, 1, 0},
                  {1, 1, -1},
                  {2, 2, 1, 1},
                  {0.0, -0.7071067811865476, 0.7071067811865476, 0.0}}));

TEST_F(CacheDirectory, CanonicalBasisFourSpinHalf) {
    auto basis = *canonical_basis(spec_of({1, 1, 1, 1}, {1, 1, 1, -1}), context_);
    EXPECT_EQ(basis.shape(), (Shape{2, 2, 2, 2, 2}));
    const std::vector<std::pair<std::vector<std::uint64_t>, double>> checks{
        {{0, 1, 0, 0, 0}, -0.5},
        {{1, 0, 0, 0, 0}, 0.5},
        {{0, 0, 1, 0, 1}, -0.5773502691896256},
        {{1, 1, 0, 1, 1}, 0.5773502691896256},
        {{0, 1, 0, 0, 1}, 0.28867513459481287}};
    for (const auto& [index, value] : checks) {
        EXPECT_EQ(basis.get(index), value);
    }
}

TEST_F(CacheDirectory, CanonicalBasisErrors) {
    for (std::size_t n : {0u, 1u}) {
        auto basis = canonical_basis(spec_of(std::vector<std::int32_t>(n, 2), std::vector<int>(n, 1)), context_);
        ASSERT_FALSE(basis);
        EXPECT_EQ(basis.error().text(), "Cannot build canonical basis with " + std::to_string(n) +
                                            " external edges (minimum is 2)");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_)) << "the cache is not touched";
    // from_edges refuses two different spins; the internal constructor does not check them.
    auto unequal = canonical_basis(*CGSpec::from_parts(edges_of({1, 3}, {1, -1}), {{}}), context_);
    ASSERT_FALSE(unequal);
    EXPECT_EQ(unequal.error().text(),
              "Two-edge CG tensor requires equal spins, got j=1/2 and j=3/2");
}

TEST_F(CacheDirectory, OtherDirectionsAreServedFromTheCacheWithPhases) {
    auto first = *canonical_basis(spec_of({1, 2, 1}, {1, 1, -1}), context_);
    auto flipped = *canonical_basis(spec_of({1, 2, 1}, {-1, 1, -1}), context_);
    first.reverse_axis(0);
    first.scale_slice(0, 0, -1.0);
    EXPECT_EQ(flipped, first);
}

// A stop requested once a basis is built (two edges: the first check is the one before storing)
// or while it is built: the call is interrupted and nothing is stored.
TEST_F(CacheDirectory, StopRequestedBeforeStoringStoresNothing) {
    for (const std::vector<std::int32_t>& spins : {std::vector<std::int32_t>{2, 2},
                                                    std::vector<std::int32_t>{2, 2, 2, 2}}) {
        CallContext stopping([] { return true; });
        use_environment(stopping);
        auto basis = canonical_basis(spec_of(spins, std::vector<int>(spins.size(), 1)), stopping);
        ASSERT_FALSE(basis);
        EXPECT_EQ(basis.error().kind(), ErrorKind::Interrupted);
        auto stored = load_from_environment(spins);
        ASSERT_TRUE(stored);
        EXPECT_FALSE(stored->has_value());
    }
}

// Orthonormality of the OM slices for several spin lists and direction patterns.
TEST_F(CacheDirectory, SlicesAreOrthonormal) {
    const std::vector<std::pair<std::vector<std::int32_t>, std::vector<int>>> cases{
        {{1, 1, 1, 1, 1, 1}, {1, -1, 1, 1, -1, 1}},
        {{2, 2, 2, 2}, {-1, -1, -1, -1}},
        {{3, 1, 2, 4}, {1, 1, 1, -1}},
        {{4, 4, 4}, {1, -1, 1}}};
    for (const auto& [spins, signs] : cases) {
        auto basis = *canonical_basis(spec_of(spins, signs), context_);
        const std::size_t om = basis.shape().back();
        const std::size_t rows = basis.size() / om;
        for (std::size_t a = 0; a < om; ++a) {
            for (std::size_t b = 0; b < om; ++b) {
                double dot = 0.0;
                for (std::size_t i = 0; i < rows; ++i) {
                    dot += basis.data()[i * om + a] * basis.data()[i * om + b];
                }
                EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-14);
            }
        }
    }
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

using namespace tavrin::testing;

// A cache that cannot be used costs no result: the basis is built, and the call context carries
// one warning per failed cache operation, naming cause and path.
struct UnusableCacheCase {
    const char* label;
    std::function<void(const std::filesystem::path& dir)> spoil;
    std::vector<std::string> causes;
};

void PrintTo(const UnusableCacheCase& c, std::ostream* os) { *os << c.label; }

class UnusableCache : public CacheDirectory,
                      public ::testing::WithParamInterface<UnusableCacheCase> {};

TEST_P(UnusableCache, BasisIsBuiltAndTheFailuresWarned) {
    const CGSpec spec = spec_of({1, 1, 2}, {1, -1, 1});
    CallContext reference_context;
    use_environment(reference_context);
    const auto reference = canonical_basis(spec, reference_context);
    ASSERT_TRUE(reference);
    // Another directory: the connection to the first one would go on serving it.
    const std::filesystem::path spoiled = dir_ / "spoiled";
    const std::filesystem::path database = spoiled / "cgbasis.db";
    GetParam().spoil(spoiled);
    ::setenv("TAVRIN_CACHE_PATH", spoiled.c_str(), 1);
    use_environment(context_);

    const auto basis = canonical_basis(spec, context_);
    ASSERT_TRUE(basis) << basis.error().to_string();
    EXPECT_EQ(*basis, *reference);
    std::vector<std::string> causes;
    for (const Warning& warning : context_.warnings()) {
        causes.push_back(warning.cause);
        EXPECT_EQ(warning.path, database.string());
        EXPECT_EQ(warning.message.rfind("tavrin basis cache " + database.string() + ": " +
                                            warning.cause + "; the basis was computed ",
                                        0),
                  0u)
            << warning.message;
    }
    EXPECT_EQ(causes, GetParam().causes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusableCache,
    ::testing::Values(
        UnusableCacheCase{"NotADatabase",
                          [](const std::filesystem::path& dir) {
                              std::filesystem::create_directories(dir);
                              std::ofstream(dir / "cgbasis.db") << std::string(4096, 'x');
                          },
                          {"Failed to create table: file is not a database",
                           "Failed to create table: file is not a database"}},
        UnusableCacheCase{"DirectoryIsAFile",
                          [](const std::filesystem::path& dir) {
                              std::ofstream(dir) << "x";
                          },
                          {"Failed to create cache directory: File exists",
                           "Failed to create cache directory: File exists"}},
        UnusableCacheCase{
            "WrongShapeRow",
            [](const std::filesystem::path& dir) {
                std::filesystem::create_directories(dir);
                sqlite3* db = nullptr;
                sqlite3_open((dir / "cgbasis.db").c_str(), &db);
                sqlite3_exec(db, "CREATE TABLE cgbasis (spins BLOB PRIMARY KEY, data BLOB)",
                             nullptr, nullptr, nullptr);
                const auto blob = *write_npy_blob(Tensor::zeros({2, 2}));
                sqlite3_stmt* statement = nullptr;
                sqlite3_prepare_v2(db,
                                   "INSERT INTO cgbasis VALUES (X'010000000100000002000000', ?)",
                                   -1, &statement, nullptr);
                sqlite3_bind_blob(statement, 1, blob.data(), static_cast<int>(blob.size()),
                                  SQLITE_TRANSIENT);
                sqlite3_step(statement);
                sqlite3_finalize(statement);
                sqlite3_close(db);
            },
            {"Stored basis has shape [2, 2] but the spins require [2, 2, 3, 1]; the row was not "
             "written by this library"}}),
    [](const auto& test) { return std::string(test.param.label); });

}  // namespace
}  // namespace tavrin
