#include "cache/basis_cache.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/cache_path.hpp"
#include "cache/file_system.hpp"
#include "cache/npy_blob.hpp"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Spins = std::vector<std::int32_t>;

// ---------------------------------------------------------------------------------------------
// Helpers

// One directory per test process, holding one directory per test; removed when the tests end.
// Test names are unique, so no two tests of a process ever see the same cache path.
class ScratchRoot : public ::testing::Environment {
public:
    static const fs::path& path() { return path_; }

    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "tavrin_cache_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        path_ = pattern;
        // Lets the unprivileged child processes below reach their directories.
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }

private:
    static inline fs::path path_;
};

const auto* const scratch_root = ::testing::AddGlobalTestEnvironment(new ScratchRoot);

std::string error_text(const Status& status) { return status ? "" : status.error().text(); }
template <class T>
std::string error_text(const Result<T>& result) {
    return result ? "" : result.error().text();
}

// The cache operations on the database the variable names now, as the library's callers resolve
// it; a row of any shape is taken.
std::string database() {
    const char* value = std::getenv(kCachePathVariable);
    return *resolve_cache_database(value ? std::optional<std::string_view>(value) : std::nullopt);
}
Result<std::optional<Tensor>> load(std::span<const std::int32_t> spins) {
    auto found = load_cached_basis(database(), spins, nullptr);
    if (!found) return fail(std::move(found.error()));
    return std::move(found->basis);
}
Status store(std::span<const std::int32_t> spins, const Tensor& basis) {
    return store_cached_basis(database(), spins, basis);
}
Status run_inside(const std::function<void()>& body) {
    return run_inside_cache_operation(database(), body);
}

Tensor make_tensor(Shape shape, std::vector<double> values) {
    return *Tensor::from_row_major(std::move(shape), std::move(values));
}

bool same_bits(const Tensor& a, const Tensor& b) {
    return a.shape() == b.shape() && a.size() == b.size() &&
           (a.size() == 0 ||
            std::memcmp(a.data().data(), b.data().data(), a.size() * sizeof(double)) == 0);
}

// Direct access to a cache file, as another program sharing it would have.
class RawDatabase {
public:
    explicit RawDatabase(const fs::path& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~RawDatabase() { sqlite3_close(db_); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    // Empty on success, SQLite's message otherwise.
    std::string exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return "";
        std::string text = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return text;
    }

    // Column 0 of every row, as text.
    std::vector<std::string> texts(const std::string& sql) {
        std::vector<std::string> rows;
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(statement, 0);
            rows.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
        sqlite3_finalize(statement);
        return rows;
    }

    std::string single_text(const std::string& sql) {
        const auto rows = texts(sql);
        if (rows.size() == 1) return rows[0];
        std::string count = std::to_string(rows.size());
        return count.append(" rows");
    }

private:
    sqlite3* db_ = nullptr;
};

std::string sql_blob(const Bytes& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string literal = "X'";
    for (const std::uint8_t byte : bytes) {
        literal += digits[byte >> 4];
        literal += digits[byte & 0xF];
    }
    return literal + "'";
}

void write_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class CurrentDirectoryGuard {
public:
    explicit CurrentDirectoryGuard(const fs::path& directory) : saved_(fs::current_path()) {
        fs::current_path(directory);
    }
    ~CurrentDirectoryGuard() { fs::current_path(saved_); }

private:
    fs::path saved_;
};

// Each test gets its own cache directory (not yet created) in TAVRIN_CACHE_PATH.
class CacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        dir_ = ScratchRoot::path() / name;
        fs::create_directories(dir_);
        use_cache_directory(cache_dir());
    }

    fs::path cache_dir() const { return dir_ / "cache"; }
    fs::path database() const { return cache_dir() / "cgbasis.db"; }

    static void use_cache_directory(const fs::path& directory) {
        setenv(kCachePathVariable, directory.c_str(), 1);
    }

    fs::path dir_;
};

const Spins kSpins = {1, 1, 2};
const Tensor kBasis = make_tensor({2, 2, 1}, {0.7071067811865475, 0.0, -0.0, 0.7071067811865475});

// ---------------------------------------------------------------------------------------------
// The key and the path rules

struct KeyCase {
    Spins spins;
    Bytes key;
};

class SpinKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(SpinKey, FourLittleEndianBytesPerSpinInEdgeOrder) {
    EXPECT_EQ(spin_key(GetParam().spins), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpinKey,
    ::testing::Values(KeyCase{{1, 1, 2}, {1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}},
                      KeyCase{{1, 2, 1}, {1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}},
                      KeyCase{{0x01020304}, {4, 3, 2, 1}},
                      KeyCase{{std::numeric_limits<std::int32_t>::max(), 256},
                              {0xFF, 0xFF, 0xFF, 0x7F, 0, 1, 0, 0}},
                      KeyCase{{}, {}}));

struct PathCase {
    const char* label;
    std::optional<std::string> value;  // nullopt: variable unset
    std::string path;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.label; }

class CachePathRules : public ::testing::TestWithParam<PathCase> {};

TEST_P(CachePathRules, FromVariableValue) {
    const auto& c = GetParam();
    EXPECT_EQ(cache_path_for(c.value ? c.value->c_str() : nullptr).native(), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CachePathRules,
    ::testing::Values(
        PathCase{"Unset", std::nullopt, ".tavrin/cgbasis.db"},
        PathCase{"Empty", "", "cgbasis.db"},
        PathCase{"Relative", "cache", "cache/cgbasis.db"},
        PathCase{"TrailingSlash", "cache/", "cache/cgbasis.db"},
        PathCase{"Absolute", "/var/cache/t", "/var/cache/t/cgbasis.db"},
        PathCase{"TwoByteUtf8", "caf\xC3\xA9", "caf\xC3\xA9/cgbasis.db"},
        PathCase{"FourByteUtf8", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80/cgbasis.db"},
        PathCase{"Uri", "file:cache", "file:cache/cgbasis.db"},
        PathCase{"InvalidByte", "\xFF", ".tavrin/cgbasis.db"},
        PathCase{"StrayContinuation", "dir\x80", ".tavrin/cgbasis.db"},
        PathCase{"Overlong", "\xC0\xAF", ".tavrin/cgbasis.db"},
        PathCase{"Surrogate", "\xED\xA0\x80", ".tavrin/cgbasis.db"},
        PathCase{"AboveMaximum", "\xF4\x90\x80\x80", ".tavrin/cgbasis.db"},
        PathCase{"Truncated", "x\xE2\x82", ".tavrin/cgbasis.db"}),
    [](const auto& test) { return std::string(test.param.label); });

// ---------------------------------------------------------------------------------------------
// Location and layout of the database

TEST_F(CacheTest, CreatesMissingAncestorsAndTheTable) {
    use_cache_directory(dir_ / "a" / "b" / "c");
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");

    RawDatabase db(dir_ / "a" / "b" / "c" / "cgbasis.db");
    EXPECT_EQ(db.single_text("PRAGMA page_size"), "65536");
    EXPECT_EQ(db.texts("SELECT name FROM sqlite_master WHERE type = 'table'"),
              std::vector<std::string>{"cgbasis"});
    // SQLite keeps the statement from the table name on, after "CREATE TABLE ".
    EXPECT_EQ(db.single_text("SELECT sql FROM sqlite_master WHERE name = 'cgbasis'"),
              "CREATE TABLE cgbasis (\n"
              "            spins BLOB PRIMARY KEY,\n"
              "            data BLOB NOT NULL\n"
              "        )");
}

// Records the text of every statement run on connections opened while it is installed.
class StatementLog {
public:
    StatementLog() {
        entries().clear();
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&install));
    }
    ~StatementLog() { sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&install)); }
    StatementLog(const StatementLog&) = delete;
    StatementLog& operator=(const StatementLog&) = delete;

    // The statements run since the last call.
    std::vector<std::string> take() { return std::exchange(entries(), {}); }

private:
    static std::vector<std::string>& entries() {
        static std::vector<std::string> log;
        return log;
    }
    static int install(sqlite3* db, const char**, const sqlite3_api_routines*) {
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &record, nullptr);
        return SQLITE_OK;
    }
    static int record(unsigned, void*, void* statement, void*) {
        entries().emplace_back(sqlite3_sql(static_cast<sqlite3_stmt*>(statement)));
        return 0;
    }
};

TEST_F(CacheTest, RunsTheTableStatementOnEveryOpening) {
    const std::string table =
        "CREATE TABLE IF NOT EXISTS cgbasis (\n"
        "            spins BLOB PRIMARY KEY,\n"
        "            data BLOB NOT NULL\n"
        "        )";
    const std::string wal = "PRAGMA journal_mode=WAL";
    const std::string synchronous = "PRAGMA synchronous=NORMAL";
    const std::string size_limit = "PRAGMA journal_size_limit=4194304";
    const std::string page_size = "PRAGMA page_size=65536";
    const std::string query =
        "SELECT rowid, typeof(data), length(data), CASE WHEN length(data) <= 16384 THEN data END "
        "FROM cgbasis WHERE spins = ?1";
    const std::string insert =
        "INSERT OR IGNORE INTO cgbasis (spins, data) VALUES (?1, zeroblob(?2))";
    ASSERT_EQ(table.size(), 113u);
    EXPECT_EQ(kCacheTableStatement, table);

    StatementLog log;
    ASSERT_EQ(error_text(load(kSpins)), "");
    EXPECT_EQ(log.take(), (std::vector<std::string>{page_size, table, query}));
    // The journal is chosen before the first write of a connection: readers pay nothing for it.
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{wal, synchronous, size_limit, "PRAGMA page_size",
                                        "PRAGMA wal_autocheckpoint=64", "BEGIN IMMEDIATE", insert,
                                        "COMMIT"}));
    ASSERT_EQ(error_text(store(Spins{2, 2}, kBasis)), "");
    EXPECT_EQ(log.take(), (std::vector<std::string>{"BEGIN IMMEDIATE", insert, "COMMIT"}));

    use_cache_directory(dir_ / "elsewhere");
    ASSERT_EQ(error_text(load(kSpins)), "");
    use_cache_directory(cache_dir());
    ASSERT_EQ(error_text(load(kSpins)), "");
    // The page size is chosen for a new file only.
    EXPECT_EQ(log.take(), (std::vector<std::string>{page_size, table, query, table, query}));
}

struct DefaultLocationCase {
    const char* label;
    std::optional<std::string> value;
    const char* database;  // relative to the current directory
};

void PrintTo(const DefaultLocationCase& c, std::ostream* os) { *os << c.label; }

class CacheDefaultLocation : public CacheTest,
                             public ::testing::WithParamInterface<DefaultLocationCase> {};

TEST_P(CacheDefaultLocation, RelativeToCurrentDirectoryOfFirstUse) {
    const auto& c = GetParam();
    // Opens another database first: the relative path may still be open from an earlier test.
    ASSERT_EQ(error_text(load(kSpins)), "");
    fs::create_directories(dir_ / "first" / "empty");
    fs::create_directories(dir_ / "second");
    CurrentDirectoryGuard in_first(dir_ / "first");
    if (c.value) {
        setenv(kCachePathVariable, c.value->c_str(), 1);
    } else {
        unsetenv(kCachePathVariable);
    }

    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    EXPECT_TRUE(fs::is_regular_file(dir_ / "first" / c.database));
    EXPECT_TRUE(fs::is_empty(dir_ / "first" / "empty"));

    // The open connection stays with the directory it was opened in.
    fs::current_path(dir_ / "second");
    const auto loaded = load(kSpins);
    ASSERT_TRUE(loaded && *loaded);
    EXPECT_TRUE(fs::is_empty(dir_ / "second"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheDefaultLocation,
    ::testing::Values(DefaultLocationCase{"Unset", std::nullopt, ".tavrin/cgbasis.db"},
                      DefaultLocationCase{"InvalidUtf8", "\xFF\xFE", ".tavrin/cgbasis.db"},
                      DefaultLocationCase{"Empty", "", "cgbasis.db"}),
    [](const auto& test) { return std::string(test.param.label); });

TEST_F(CacheTest, FollowsTheVariableBetweenCalls) {
    const Spins other = {2, 2};
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");

    use_cache_directory(dir_ / "elsewhere");
    auto loaded = load(kSpins);
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(*loaded);
    ASSERT_EQ(error_text(store(other, kBasis)), "");
    EXPECT_TRUE(fs::exists(dir_ / "elsewhere" / "cgbasis.db"));

    use_cache_directory(cache_dir());
    loaded = load(kSpins);
    ASSERT_TRUE(loaded && *loaded);
    loaded = load(other);
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(*loaded);
}

// ---------------------------------------------------------------------------------------------
// Storing and loading

class CacheRoundTrip : public CacheTest, public ::testing::WithParamInterface<Tensor> {};

TEST_P(CacheRoundTrip, LoadsTheStoredBitsBack) {
    ASSERT_EQ(error_text(store(kSpins, GetParam())), "");
    const auto loaded = load(kSpins);
    ASSERT_TRUE(loaded && *loaded) << error_text(loaded);
    EXPECT_TRUE(same_bits(**loaded, GetParam()));
}

// Values that tell every element and byte apart.
Tensor counting_tensor(Shape shape) {
    std::vector<double> values(Tensor::element_count(shape));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = 1.0 / static_cast<double>(i + 3);
    return make_tensor(std::move(shape), std::move(values));
}

// 80 axes of length 1 and one of 3000: a header of more than 256 bytes, a blob beyond 16 KiB.
Shape long_header_shape() {
    Shape shape(80, 1);
    shape.push_back(3000);
    return shape;
}

// Small rows come with the query, large ones through a blob handle straight into the tensor;
// a header longer than the first read of a large row is read again.
INSTANTIATE_TEST_SUITE_P(
    Shapes, CacheRoundTrip,
    ::testing::Values(kBasis, make_tensor({}, {-0.0}), make_tensor({0, 3}, {}),
                      make_tensor({3}, {std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::denorm_min()}),
                      counting_tensor({2047}), counting_tensor({2048}), counting_tensor({9, 9, 9, 7}),
                      counting_tensor(long_header_shape())));

TEST_F(CacheTest, MissesAreNotErrors) {
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    for (const Spins& spins : {Spins{1, 2, 1}, Spins{1, 1}, Spins{1, 1, 2, 0}, Spins{}}) {
        const auto loaded = load(spins);
        ASSERT_TRUE(loaded) << error_text(loaded);
        EXPECT_FALSE(*loaded);
    }
}

// A row once stored is never overwritten: two writers of one key store the same bytes, and a
// row this library cannot use is left for whoever wrote it.
TEST_F(CacheTest, StoringAgainKeepsTheRow) {
    const Tensor other = make_tensor({2, 2, 1}, {1.0, 2.0, 3.0, 4.0});
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    ASSERT_EQ(error_text(store(kSpins, other)), "");
    ASSERT_EQ(error_text(store(Spins{2, 2}, kBasis)), "");

    const auto loaded = load(kSpins);
    ASSERT_TRUE(loaded && *loaded);
    EXPECT_TRUE(same_bits(**loaded, kBasis));
    RawDatabase db(database());
    EXPECT_EQ(db.single_text("SELECT count(*) FROM cgbasis"), "2");
    EXPECT_EQ(db.single_text("SELECT count(*) FROM cgbasis WHERE spins = " +
                             sql_blob(spin_key(kSpins))),
              "1");
}

// ---------------------------------------------------------------------------------------------
// Journal and file system

struct JournalCase {
    const char* label;
    std::optional<bool> network;  // what the detection is made to report; nothing: detect
    std::string journal;
};

void PrintTo(const JournalCase& c, std::ostream* os) { *os << c.label; }

class CacheJournal : public CacheTest, public ::testing::WithParamInterface<JournalCase> {
protected:
    void TearDown() override { override_network_file_system_detection(std::nullopt); }
};

// Write-ahead logging where the disk is local; the rollback journal where the file system is
// shared between hosts, also for a file that was in write-ahead-log mode before.
TEST_P(CacheJournal, ModeFollowsTheFileSystem) {
    fs::create_directories(cache_dir());
    {
        RawDatabase earlier(database());
        ASSERT_EQ(earlier.exec("PRAGMA journal_mode=WAL"), "");
    }
    override_network_file_system_detection(GetParam().network);
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    const auto loaded = load(kSpins);
    ASSERT_TRUE(loaded && *loaded && same_bits(**loaded, kBasis));
    RawDatabase db(database());
    EXPECT_EQ(db.single_text("PRAGMA journal_mode"), GetParam().journal);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheJournal,
    ::testing::Values(JournalCase{"Detected", std::nullopt, "wal"},
                      JournalCase{"Local", false, "wal"},
                      JournalCase{"Network", true, "delete"}),
    [](const auto& test) { return std::string(test.param.label); });

std::uintmax_t size_or_zero(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// Each small row adds two or three 64 KiB pages to the log, which a process opening the cache
// alone would read through: the log is folded into the file after a few megabytes, and the last
// connection to close leaves none behind.
TEST_F(CacheTest, WriteAheadLogStaysShortAndGoesWithTheLastConnection) {
    const fs::path log = database().string() + "-wal";
    std::uintmax_t longest = 0;
    for (std::int32_t spin = 1; spin <= 200; ++spin) {
        ASSERT_EQ(error_text(store(Spins{spin, spin, 0}, kBasis)), "");
        longest = std::max(longest, size_or_zero(log));
    }
    EXPECT_GT(longest, 0u);
    EXPECT_LE(longest, std::uintmax_t{5} << 20);

    close_cache_connection();
    EXPECT_FALSE(fs::exists(log));
    const auto loaded = load(Spins{200, 200, 0});
    ASSERT_TRUE(loaded && *loaded && same_bits(**loaded, kBasis));
}

TEST(FileSystem, TemporaryDirectoryIsLocal) {
    EXPECT_FALSE(is_network_file_system(fs::temp_directory_path()));
    EXPECT_TRUE(is_network_file_system("/no/such/directory/anywhere"));
}

// ---------------------------------------------------------------------------------------------
// The file removed or replaced under the process

TEST_F(CacheTest, DirectoryRemovedUnderTheConnection) {
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    fs::remove_all(cache_dir());
    ASSERT_EQ(error_text(store(Spins{2, 2}, kBasis)), "");
    RawDatabase db(database());
    EXPECT_EQ(db.texts("SELECT hex(spins) FROM cgbasis"),
              std::vector<std::string>{"0200000002000000"});
}

TEST_F(CacheTest, DatabaseReplacedUnderTheConnection) {
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    const fs::path other = dir_ / "other.db";
    {
        RawDatabase replacement(other);
        ASSERT_EQ(replacement.exec(std::string(kCacheTableStatement)), "");
    }
    for (const char* suffix : {"-wal", "-shm"}) fs::remove(database().string() + suffix);
    fs::rename(other, database());

    ASSERT_EQ(error_text(store(Spins{2, 2}, kBasis)), "");
    const auto loaded = load(Spins{2, 2});
    ASSERT_TRUE(loaded && *loaded);
    RawDatabase db(database());
    EXPECT_EQ(db.texts("SELECT hex(spins) FROM cgbasis"),
              std::vector<std::string>{"0200000002000000"});
    EXPECT_EQ(db.single_text("PRAGMA integrity_check"), "ok");
}

// ---------------------------------------------------------------------------------------------
// Failures

// A fault put in the way of the cache, and its removal.
struct FaultCase {
    const char* label;
    const char* cache_subpath;  // TAVRIN_CACHE_PATH relative to the test directory
    std::function<void(const fs::path& test_dir)> inject;
    std::function<void(const fs::path& test_dir)> remove;
    std::string message;  // "{path}" stands for the database path
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class CacheFaults : public CacheTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CacheFaults, FailEveryOperationUntilRemoved) {
    const auto& c = GetParam();
    const fs::path cache = dir_ / c.cache_subpath;
    c.inject(dir_);
    use_cache_directory(cache);

    std::string expected = c.message;
    if (const auto at = expected.find("{path}"); at != std::string::npos) {
        expected.replace(at, 6, (cache / "cgbasis.db").string());
    }
    EXPECT_EQ(error_text(load(kSpins)), expected);
    EXPECT_EQ(error_text(store(kSpins, kBasis)), expected);

    c.remove(dir_);
    EXPECT_EQ(error_text(store(kSpins, kBasis)), "");
    const auto loaded = load(kSpins);
    ASSERT_TRUE(loaded && *loaded) << error_text(loaded);
}

void make_regular_file(const fs::path& dir) { write_file(dir / "file", "not a directory"); }
void remove_regular_file(const fs::path& dir) { fs::remove(dir / "file"); }

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheFaults,
    ::testing::Values(
        FaultCase{"DirectoryUnderRegularFile", "file/cache", make_regular_file,
                  remove_regular_file, "Failed to create cache directory: Not a directory"},
        FaultCase{"RegularFileAsDirectory", "file", make_regular_file, remove_regular_file,
                  "Failed to create cache directory: File exists"},
        FaultCase{"GarbageDatabase", "cache",
                  [](const fs::path& dir) {
                      fs::create_directories(dir / "cache");
                      write_file(dir / "cache" / "cgbasis.db", std::string(4096, 'x'));
                  },
                  [](const fs::path& dir) { fs::remove(dir / "cache" / "cgbasis.db"); },
                  "Failed to create table: file is not a database"},
        FaultCase{"DirectoryAsDatabase", "cache",
                  [](const fs::path& dir) { fs::create_directories(dir / "cache" / "cgbasis.db"); },
                  [](const fs::path& dir) { fs::remove(dir / "cache" / "cgbasis.db"); },
                  "Failed to open database: unable to open database file: {path}"}),
    [](const auto& test) { return std::string(test.param.label); });

struct ColumnTypeCase {
    const char* type;
    const char* value;
};

void PrintTo(const ColumnTypeCase& c, std::ostream* os) { *os << c.type; }

class CacheColumnType : public CacheTest, public ::testing::WithParamInterface<ColumnTypeCase> {};

TEST_P(CacheColumnType, NonBlobDataFailsTheQuery) {
    // A table made by other software, without the NOT NULL constraint.
    fs::create_directories(cache_dir());
    RawDatabase db(database());
    ASSERT_EQ(db.exec("CREATE TABLE cgbasis (spins BLOB PRIMARY KEY, data BLOB);"
                      "INSERT INTO cgbasis VALUES (" +
                      sql_blob(spin_key(kSpins)) + ", " + GetParam().value + ")"),
              "");
    EXPECT_EQ(error_text(load(kSpins)),
              std::string("Query failed: Invalid column type ") + GetParam().type +
                  " at index: 0, name: data");
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheColumnType,
                         ::testing::Values(ColumnTypeCase{"Integer", "42"},
                                           ColumnTypeCase{"Real", "1.5"},
                                           ColumnTypeCase{"Text", "'text'"},
                                           ColumnTypeCase{"Null", "NULL"}),
                         [](const auto& test) { return std::string(test.param.type); });

TEST_F(CacheTest, UndecodableBlobIsAnErrorNotAMiss) {
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    const Bytes garbage = {0x93, 'N', 'U', 'M', 'P', 'Y', 9, 0};
    RawDatabase db(database());
    ASSERT_EQ(db.exec("UPDATE cgbasis SET data = " + sql_blob(garbage)), "");

    const auto decoded = read_npy_blob(garbage);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(error_text(load(kSpins)),
              "Failed to deserialize array: " + decoded.error());
}

TEST_F(CacheTest, TableDroppedByAnotherConnection) {
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    RawDatabase db(database());
    ASSERT_EQ(db.exec("DROP TABLE cgbasis"), "");

    // The connection learns of the change when its statement runs, and then prepares no more.
    EXPECT_EQ(error_text(load(kSpins)), "Query failed: no such table: cgbasis");
    EXPECT_EQ(error_text(load(kSpins)),
              "Failed to prepare query: no such table: cgbasis");
    EXPECT_EQ(error_text(store(kSpins, kBasis)),
              "Failed to insert data: no such table: cgbasis");
}

// Runs `scenario` in a child process that, when the tests run as root, has given up root's power
// to ignore permission bits. The scenario returns what went wrong, or nothing.
void expect_unprivileged(const fs::path& dir, const std::function<std::string()>& scenario) {
    EXPECT_EXIT(
        {
            if (geteuid() == 0) {
                constexpr uid_t kNobody = 65534;
                if (chown(dir.c_str(), kNobody, kNobody) != 0 || setgid(kNobody) != 0 ||
                    setuid(kNobody) != 0) {
                    std::fputs("cannot drop root privileges", stderr);
                    std::_Exit(2);
                }
            }
            const std::string problem = scenario();
            std::fputs(problem.c_str(), stderr);
            std::_Exit(problem.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

std::string mismatch(const std::string& what, const std::string& actual,
                     const std::string& expected) {
    return actual == expected ? "" : what + ": got '" + actual + "', expected '" + expected + "'\n";
}

TEST_F(CacheTest, ReadOnlyDirectories) {
    expect_unprivileged(dir_, [&] {
        const fs::path locked = dir_ / "locked";
        fs::create_directory(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        std::string problems;

        use_cache_directory(locked / "cache");
        problems += mismatch("below it", error_text(load(kSpins)),
                             "Failed to create cache directory: Permission denied");
        use_cache_directory(locked);
        problems += mismatch("in it", error_text(load(kSpins)),
                             "Failed to open database: unable to open database file: " +
                                 (locked / "cgbasis.db").string());

        fs::permissions(locked, fs::perms::owner_all);
        problems += mismatch("unlocked", error_text(store(kSpins, kBasis)), "");
        return problems;
    });
}

// A cache filled by someone else (here: before the directory was locked) still serves hits
// through a fresh connection; only storing fails.
TEST_F(CacheTest, ReadOnlyCacheServesHits) {
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    // Closing the connection folds the write-ahead log into the file and removes it.
    use_cache_directory(dir_ / "elsewhere");
    ASSERT_EQ(error_text(load(kSpins)), "");
    ASSERT_FALSE(fs::exists(database().string() + "-wal"));

    expect_unprivileged(dir_, [&] {
        // Run as root, the child is no longer the owner and cannot write there anyway.
        std::error_code ignored;
        fs::permissions(cache_dir(), fs::perms::owner_read | fs::perms::owner_exec, ignored);
        use_cache_directory(cache_dir());
        const auto loaded = load(kSpins);
        if (!loaded) return "load: " + error_text(loaded);
        if (!*loaded || !same_bits(**loaded, kBasis)) return std::string("load: not the row");
        const auto missing = load(Spins{2, 2});
        if (!missing || *missing) return std::string("miss: ") + error_text(missing);
        return mismatch("store", error_text(store(Spins{2, 2}, kBasis)),
                        "Failed to insert data: attempt to write a readonly database");
    });
}

TEST_F(CacheTest, LockedBeyondTheBusyTimeout) {
    ASSERT_EQ(error_text(load(kSpins)), "");
    RawDatabase other(database());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), "");
    EXPECT_EQ(error_text(store(kSpins, kBasis)),
              "Failed to insert data: database is locked");
    ASSERT_EQ(other.exec("COMMIT"), "");
    EXPECT_EQ(error_text(store(kSpins, kBasis)), "");
}

TEST_F(CacheTest, WaitsForALockReleasedWithinTheBusyTimeout) {
    ASSERT_EQ(error_text(load(kSpins)), "");
    RawDatabase other(database());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), "");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.exec("COMMIT");
    });
    EXPECT_EQ(error_text(store(kSpins, kBasis)), "");
    release.join();
}

// ---------------------------------------------------------------------------------------------
// The cache lock

struct FaultInsideCase {
    const char* label;
    void (*raise)();
    std::string later_error;  // of the next operation; empty: it succeeds
};

void PrintTo(const FaultInsideCase& c, std::ostream* os) { *os << c.label; }

class CacheLockFault : public CacheTest, public ::testing::WithParamInterface<FaultInsideCase> {};

// In a child process: a poisoned lock stays poisoned for the rest of the process.
TEST_P(CacheLockFault, PropagatesAndDecidesThePoisoning) {
    const auto& c = GetParam();
    EXPECT_EXIT(
        {
            bool propagated = false;
            try {
                (void)run_inside(c.raise);
            } catch (...) {
                propagated = true;
            }
            const std::string problems =
                mismatch("propagated", propagated ? "yes" : "no", "yes") +
                mismatch("load", error_text(load(kSpins)), c.later_error) +
                mismatch("store", error_text(store(kSpins, kBasis)), c.later_error);
            std::fputs(problems.c_str(), stderr);
            std::_Exit(problems.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheLockFault,
    ::testing::Values(
        FaultInsideCase{"LogicError", [] { throw std::logic_error("fault"); },
                        kPoisonedLockMessage},
        FaultInsideCase{"ForeignException", [] { throw 7; }, kPoisonedLockMessage},
        FaultInsideCase{"OutOfMemory", [] { throw std::bad_alloc(); }, ""}),
    [](const auto& test) { return std::string(test.param.label); });

// ---------------------------------------------------------------------------------------------
// Several processes sharing one file

// A connection opened before fork() belongs to the parent: the child opens its own, and both
// go on writing into one consistent file.
TEST_F(CacheTest, ChildOfForkOpensItsOwnConnection) {
    ASSERT_EQ(error_text(store(kSpins, kBasis)), "");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        StatementLog log;
        bool ok = static_cast<bool>(store(Spins{7, 7}, kBasis));
        const auto statements = log.take();
        ok = ok && std::find(statements.begin(), statements.end(), kCacheTableStatement) !=
                       statements.end();
        for (int r = 0; r < 20 && ok; ++r) ok = static_cast<bool>(store(Spins{8, r}, kBasis));
        std::_Exit(ok ? 0 : 1);
    }
    for (int r = 0; r < 20; ++r) {
        ASSERT_EQ(error_text(store(Spins{9, r}, kBasis)), "");
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    for (const Spins& key : {Spins{7, 7}, Spins{8, 19}, Spins{9, 19}}) {
        const auto found = load(key);
        ASSERT_TRUE(found && *found);
    }
}

TEST_F(CacheTest, ProcessesShareOneFile) {
    constexpr int kProcesses = 4;
    constexpr int kRounds = 25;
    const Tensor shared = make_tensor({2}, {0.25, -0.5});

    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int r = 0; r < kRounds && ok; ++r) {
                const Spins own = {p, r};
                const Tensor value = make_tensor({1}, {p * 100.0 + r});
                ok = store(own, value) && store(Spins{-1, r}, shared);
                const auto mine = load(own);
                const auto common = load(Spins{-1, r});
                ok = ok && mine && *mine && same_bits(**mine, value) && common && *common &&
                     same_bits(**common, shared);
            }
            std::_Exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    RawDatabase db(database());
    EXPECT_EQ(db.single_text("SELECT count(*) FROM cgbasis"),
              std::to_string(kProcesses * kRounds + kRounds));
    EXPECT_EQ(db.single_text("PRAGMA integrity_check"), "ok");
}

}  // namespace
}  // namespace tavrin
