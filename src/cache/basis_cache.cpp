#include "cache/basis_cache.hpp"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <expected>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "cache/cache_path.hpp"
#include "cache/file_system.hpp"
#include "cache/npy_blob.hpp"
#include "cache/sqlite_handles.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin {
namespace {

// rowid and length let a large blob be read straight into the tensor (typeof and length do not
// load it); a small one comes with the row, sparing the opening of a blob handle.
constexpr std::string_view kFindStatement =
    "SELECT rowid, typeof(data), length(data), "
    "CASE WHEN length(data) <= 16384 THEN data END FROM cgbasis WHERE spins = ?1";
// A row that exists is never replaced: two writers of one key store the same bytes.
constexpr std::string_view kInsertStatement =
    "INSERT OR IGNORE INTO cgbasis (spins, data) VALUES (?1, zeroblob(?2))";

constexpr int kOpenFlags =
    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
constexpr int kReadOnlyFlags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;

// Enough for the header of every basis up to a few dozen edges; longer ones are read twice.
constexpr std::size_t kHeaderGuess = 256;

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

std::optional<FileIdentity> identity_of(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

struct OpenCache {
    std::filesystem::path path;
    // The value of the variable the path came from (nothing: unset); the same value means the
    // same path, which spares building and comparing paths on every call.
    std::optional<std::string> variable;
    Connection connection;  // declared before the statements, so closed after them
    Statement find;
    Statement insert;
    Statement begin;
    Statement commit;
    Statement rollback;
    pid_t owner = 0;  // the process that opened the connection
    std::optional<FileIdentity> identity;
    bool journal_chosen = false;
};

// The only process-wide state of the cache. Never destroyed: the connection stays open until
// the process ends.
struct CacheLock {
    std::mutex mutex;
    bool poisoned = false;
    std::optional<OpenCache> state;
};

CacheLock& cache_lock() {
    static CacheLock* const lock = new CacheLock;
    return *lock;
}

bool is_read_only_failure(int code) {
    return (code & 0xFF) == SQLITE_READONLY || (code & 0xFF) == SQLITE_CANTOPEN;
}

std::filesystem::path directory_of(const std::filesystem::path& path) {
    return path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
}

// Where the file system is shared between hosts, the write-ahead log is unsafe even for
// readers (its index lives in shared memory): a file left in that mode goes back to the
// rollback journal. Failing here costs nothing that counts, so failures are ignored.
void leave_write_ahead_log_on_network(sqlite3* connection, const std::filesystem::path& path) {
    if (is_network_file_system(directory_of(path))) {
        (void)execute(connection, "PRAGMA journal_mode=DELETE");
    }
}

// A process that opens the cache while no other has it open reads the whole write-ahead log
// first. SQLite folds the log into the file after 1000 pages, which with large pages is tens of
// megabytes (every small row adds two or three pages): the log is folded after this many bytes
// instead.
constexpr std::int64_t kLogBytes = std::int64_t{4} << 20;

void bound_log_length(sqlite3* connection) {
    const auto page_size = query_integer(connection, "PRAGMA page_size");
    if (!page_size || *page_size <= 0) return;
    const std::int64_t pages = std::max<std::int64_t>(16, kLogBytes / *page_size);
    (void)execute(connection, "PRAGMA wal_autocheckpoint=" + std::to_string(pages));
}

// Write-ahead logging makes a commit cost no fsync on a local disk; where it is unsafe or
// impossible (no right to create the log beside the file), the rollback journal stays. Chosen
// before the connection's first write, so that readers pay nothing for it. Its failure costs
// speed only and is ignored.
void choose_journal_for_writing(sqlite3* connection, const std::filesystem::path& path) {
    const std::filesystem::path directory = directory_of(path);
    if (is_network_file_system(directory)) return;
    if (::access(directory.c_str(), W_OK) != 0) return;
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) return;
    if (execute(connection, "PRAGMA journal_mode=WAL")) {
        (void)execute(connection, "PRAGMA synchronous=NORMAL");
        (void)execute(connection, "PRAGMA journal_size_limit=" + std::to_string(kLogBytes));
        bound_log_length(connection);
    }
}

// A large row leaves a log as large behind, which every process that opens the file first
// would read through: it is folded into the file and the log truncated at once (skipped when
// readers still use it; SQLite's own checkpoints follow later).
constexpr std::size_t kCheckpointAfterBytes = std::size_t{1} << 20;

void fold_log_after_large_row(sqlite3* connection, std::size_t row_bytes) {
    if (row_bytes < kCheckpointAfterBytes) return;
    // Without waiting for readers: the busy timeout is lifted for the checkpoint alone.
    sqlite3_busy_timeout(connection, 0);
    (void)sqlite3_wal_checkpoint_v2(connection, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                    nullptr);
    sqlite3_busy_timeout(connection, kBusyTimeoutMilliseconds);
}

// An SQLite URI for a plain path: the characters URIs give a meaning to are escaped.
std::string immutable_uri(const std::filesystem::path& path) {
    std::string uri = "file:";
    for (const char character : std::filesystem::absolute(path).string()) {
        const auto c = static_cast<unsigned char>(character);
        if (c == '%' || c == '?' || c == '#' || c < 0x20) {
            constexpr const char* digits = "0123456789ABCDEF";
            uri += '%';
            uri += digits[c >> 4];
            uri += digits[c & 0xF];
        } else {
            uri += character;
        }
    }
    return uri + "?immutable=1";
}

// Opens the database read-write (creating it), or, when it exists but can only be read (a
// write-ahead log in a directory without write permission), as an immutable file for reading.
std::expected<Connection, TavrinError> open_cache_database(const std::filesystem::path& path,
                                                          bool is_new_file) {
    auto connection = open_connection(path.string(), kOpenFlags);
    if (!connection) {
        return std::unexpected(
            TavrinError::cache_error("Failed to open database: " + connection.error().message));
    }
    leave_write_ahead_log_on_network(connection->get(), path);
    // Large pages for a new file (an existing one keeps its own): a large row is then read in
    // 64 KiB pieces instead of 4 KiB ones.
    if (is_new_file) (void)execute(connection->get(), "PRAGMA page_size=65536");
    auto table = execute(connection->get(), kCacheTableStatement);
    if (table) return std::move(*connection);

    const bool plain_path = !path.string().starts_with("file:");
    if (plain_path && is_read_only_failure(table.error().code) &&
        ::access(path.c_str(), R_OK) == 0 && ::access((path.string() + "-wal").c_str(), F_OK) != 0) {
        auto reader = open_connection(immutable_uri(path), kReadOnlyFlags);
        if (reader && execute(reader->get(), kCacheTableStatement)) return std::move(*reader);
    }
    return std::unexpected(
        TavrinError::cache_error("Failed to create table: " + table.error().message));
}

Status create_cache_directory_for(const std::filesystem::path& path) {
    if (const std::error_code error = create_cache_directory(path)) {
        return fail(TavrinError::cache_error("Failed to create cache directory: " +
                                             error.message()));
    }
    return {};
}

// Lets go of a connection inherited through fork(): SQLite connections must not cross into
// another process (the file locks belong to the parent), so it is neither used nor closed.
void abandon(OpenCache& cache) {
    (void)cache.find.release();
    (void)cache.insert.release();
    (void)cache.begin.release();
    (void)cache.commit.release();
    (void)cache.rollback.release();
    (void)cache.connection.release();
}

void close_at_exit() { close_cache_connection(); }

// Makes the state hold a connection for the current cache path. A failure leaves it untouched.
Status acquire_cache_connection(std::optional<OpenCache>& state) {
    const char* value = std::getenv(kCachePathVariable);
    if (state && state->owner != ::getpid()) {
        abandon(*state);
        state.reset();
    }
    if (state && (state->variable ? value != nullptr && *state->variable == value
                                   : value == nullptr)) {
        return {};
    }
    std::optional<std::string> variable;
    if (value != nullptr) variable.emplace(value);
    std::filesystem::path path = cache_path_for(value);
    if (state && state->path == path) {
        state->variable = std::move(variable);
        return {};
    }

    // The directory is made only when the database is not there yet.
    struct stat info {};
    const bool database_exists = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (!database_exists) {
        if (auto created = create_cache_directory_for(path); !created) return created;
    }
    auto connection = open_cache_database(path, !database_exists || info.st_size == 0);
    if (!connection) return fail(std::move(connection.error()));
    // The old connection's statements go first, then the connection itself.
    state.reset();
    state.emplace();
    // The file seen before opening it, when there was one: a file replaced in between is found
    // replaced at the first write, which then opens it afresh.
    state->identity = database_exists ? std::optional(FileIdentity{info.st_dev, info.st_ino})
                                      : identity_of(path);
    state->path = std::move(path);
    state->variable = std::move(variable);
    state->connection = std::move(*connection);
    state->owner = ::getpid();
    static const bool closes_at_exit = std::atexit(close_at_exit) == 0;
    (void)closes_at_exit;
    return {};
}

// Runs `operation` on the open cache with the cache lock held for its whole duration. An
// exception other than std::bad_alloc leaving the operation poisons the lock for good.
template <class Operation>
auto with_open_cache(Operation&& operation)
    -> std::invoke_result_t<Operation&, std::optional<OpenCache>&> {
    CacheLock& lock = cache_lock();
    const std::lock_guard guard(lock.mutex);
    if (lock.poisoned) return fail(TavrinError::cache_error(kPoisonedLockMessage));
    try {
        if (auto acquired = acquire_cache_connection(lock.state); !acquired) {
            return fail(std::move(acquired.error()));
        }
        if (!lock.state || !lock.state->connection) {
            return fail(TavrinError::cache_error("Database connection not initialized"));
        }
        return operation(lock.state);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        lock.poisoned = true;
        throw;
    }
}

// The statement kept in `slot`, prepared on first use.
std::expected<sqlite3_stmt*, SqliteFailure> prepared(sqlite3* connection, Statement& slot,
                                                     std::string_view sql) {
    if (!slot) {
        auto statement = prepare(connection, sql);
        if (!statement) return std::unexpected(std::move(statement.error()));
        slot = std::move(*statement);
    }
    return slot.get();
}

std::string column_type_name(std::string_view sql_type) {
    if (sql_type == "integer") return "Integer";
    if (sql_type == "real") return "Real";
    if (sql_type == "text") return "Text";
    return "Null";
}

// Incremental blob I/O on one row's data, closed when the use ends.
class BlobHandle {
public:
    BlobHandle(const BlobHandle&) = delete;
    BlobHandle& operator=(const BlobHandle&) = delete;
    ~BlobHandle() { sqlite3_blob_close(blob_); }

    static std::expected<BlobHandle, SqliteFailure> open(sqlite3* connection,
                                                         sqlite3_int64 rowid, bool write) {
        sqlite3_blob* blob = nullptr;
        if (sqlite3_blob_open(connection, "main", "cgbasis", "data", rowid, write ? 1 : 0,
                              &blob) != SQLITE_OK) {
            sqlite3_blob_close(blob);
            return std::unexpected(last_failure(connection));
        }
        return BlobHandle(connection, blob);
    }
    BlobHandle(BlobHandle&& other) noexcept
        : connection_(other.connection_), blob_(std::exchange(other.blob_, nullptr)) {}

    SqliteResult read(void* out, std::size_t size, std::size_t offset) const {
        if (size == 0) return {};
        if (sqlite3_blob_read(blob_, out, static_cast<int>(size), static_cast<int>(offset)) !=
            SQLITE_OK) {
            return std::unexpected(last_failure(connection_));
        }
        return {};
    }
    SqliteResult write(const void* data, std::size_t size, std::size_t offset) const {
        if (size == 0) return {};
        if (sqlite3_blob_write(blob_, data, static_cast<int>(size), static_cast<int>(offset)) !=
            SQLITE_OK) {
            return std::unexpected(last_failure(connection_));
        }
        return {};
    }

private:
    BlobHandle(sqlite3* connection, sqlite3_blob* blob) : connection_(connection), blob_(blob) {}
    sqlite3* connection_;
    sqlite3_blob* blob_;
};

// A row written by this library: its elements go straight from the blob into the tensor's
// storage. Nothing when the blob is not in our own exact layout.
std::expected<std::optional<Tensor>, SqliteFailure> read_own_layout(const BlobHandle& blob,
                                                                    std::size_t size) {
    std::vector<std::uint8_t> header(std::min(size, kHeaderGuess));
    if (auto read = blob.read(header.data(), header.size(), 0); !read) {
        return std::unexpected(std::move(read.error()));
    }
    const auto header_size = npy_header_size(header);
    if (!header_size || *header_size > size) return std::nullopt;
    const auto header_bytes = static_cast<std::size_t>(*header_size);
    if (header_bytes > header.size()) {
        header.resize(header_bytes);
        if (auto read = blob.read(header.data(), header.size(), 0); !read) {
            return std::unexpected(std::move(read.error()));
        }
    }
    auto shape = shape_of_own_npy_header({header.data(), header_bytes});
    if (!shape) return std::nullopt;
    const std::uint64_t count = Tensor::element_count(*shape);
    if ((size - header_bytes) / sizeof(double) != count ||
        (size - header_bytes) % sizeof(double) != 0) {
        return std::nullopt;
    }
    Tensor tensor = Tensor::uninitialised(std::move(*shape));
    const std::span<double> values = tensor.data();
    if (auto read = blob.read(values.data(), values.size_bytes(), header_bytes); !read) {
        return std::unexpected(std::move(read.error()));
    }
    little_endian_to_native(values);
    return std::optional<Tensor>(std::move(tensor));
}

Result<std::optional<Tensor>> decode_blob(std::span<const std::uint8_t> bytes) {
    auto tensor = read_npy_blob(bytes);
    if (!tensor) {
        return fail(TavrinError::cache_error("Failed to deserialize array: " + tensor.error()));
    }
    return std::optional<Tensor>(std::move(*tensor));
}

// A small blob that came with the row: one copy of its elements into the tensor.
Result<std::optional<Tensor>> decode_small_blob(std::span<const std::uint8_t> bytes) {
    const auto header_size = npy_header_size(bytes);
    if (header_size && *header_size <= bytes.size()) {
        const auto header_bytes = static_cast<std::size_t>(*header_size);
        auto shape = shape_of_own_npy_header(bytes.first(header_bytes));
        if (shape && Tensor::element_count(*shape) * sizeof(double) ==
                         bytes.size() - header_bytes) {
            Tensor tensor = Tensor::uninitialised(std::move(*shape));
            const std::span<double> values = tensor.data();
            if (!values.empty()) {
                std::memcpy(values.data(), bytes.data() + header_bytes, values.size_bytes());
            }
            little_endian_to_native(values);
            return std::optional<Tensor>(std::move(tensor));
        }
    }
    return decode_blob(bytes);
}

Result<std::optional<Tensor>> read_row(sqlite3* connection, sqlite3_int64 rowid,
                                       std::size_t size) {
    auto blob = BlobHandle::open(connection, rowid, false);
    if (!blob) return fail(TavrinError::cache_error("Query failed: " + blob.error().message));
    auto own = read_own_layout(*blob, size);
    if (!own) return fail(TavrinError::cache_error("Query failed: " + own.error().message));
    if (*own) return std::move(*own);

    std::vector<std::uint8_t> bytes(size);
    if (auto read = blob->read(bytes.data(), bytes.size(), 0); !read) {
        return fail(TavrinError::cache_error("Query failed: " + read.error().message));
    }
    return decode_blob(bytes);
}

Result<std::optional<Tensor>> find_and_read(OpenCache& cache, std::span<const std::uint8_t> key) {
    sqlite3* connection = cache.connection.get();
    auto find = prepared(connection, cache.find, kFindStatement);
    if (!find) {
        return fail(TavrinError::cache_error("Failed to prepare query: " + find.error().message));
    }
    // The statement stays active while the blob is read, so both see one snapshot.
    const StatementUse use(*find);
    if (auto bound = bind_all(connection, use.get(), {key}); !bound) {
        return fail(TavrinError::cache_error("Query failed: " + bound.error().message));
    }
    const int code = sqlite3_step(use.get());
    if (code == SQLITE_DONE) return std::optional<Tensor>{};
    if (code != SQLITE_ROW) {
        return fail(TavrinError::cache_error("Query failed: " + last_failure(connection).message));
    }
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(use.get(), 1));
    const std::string_view sql_type = type != nullptr ? type : "null";
    if (sql_type != "blob") {
        return fail(TavrinError::cache_error("Query failed: Invalid column type " +
                                             column_type_name(sql_type) + " at index: 0, name: data"));
    }
    const sqlite3_int64 rowid = sqlite3_column_int64(use.get(), 0);
    const auto size = static_cast<std::size_t>(sqlite3_column_int64(use.get(), 2));
    if (sqlite3_column_type(use.get(), 3) == SQLITE_BLOB) {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(use.get(), 3));
        return decode_small_blob({data, static_cast<std::size_t>(sqlite3_column_bytes(use.get(), 3))});
    }
    if (size == 0) return decode_blob({});
    return read_row(connection, rowid, size);
}

Result<std::optional<Tensor>> query_basis(OpenCache& cache, std::span<const std::uint8_t> key) {
    auto found = find_and_read(cache, key);
    // Prepared afresh next time: a statement that failed may refer to a schema that is gone.
    if (!found) cache.find.reset();
    return found;
}

// Writes the blob of the new row `rowid` straight from the tensor's storage.
SqliteResult write_row(sqlite3* connection, sqlite3_int64 rowid,
                       std::span<const std::uint8_t> header, const Tensor& basis) {
    auto blob = BlobHandle::open(connection, rowid, true);
    if (!blob) return std::unexpected(std::move(blob.error()));
    if (auto written = blob->write(header.data(), header.size(), 0); !written) return written;
    const std::span<const double> values = basis.data();
    if constexpr (std::endian::native == std::endian::little) {
        return blob->write(values.data(), values.size_bytes(), header.size());
    } else {
        std::vector<double> chunk;
        constexpr std::size_t kChunk = 1 << 16;
        for (std::size_t at = 0; at < values.size(); at += kChunk) {
            const auto part = values.subspan(at, std::min(kChunk, values.size() - at));
            chunk.assign(part.begin(), part.end());
            little_endian_to_native(chunk);  // the same swap in the other direction
            auto written = blob->write(chunk.data(), chunk.size() * sizeof(double),
                                       header.size() + at * sizeof(double));
            if (!written) return written;
        }
        return {};
    }
}

SqliteResult run(sqlite3* connection, Statement& slot, std::string_view sql) {
    auto statement = prepared(connection, slot, sql);
    if (!statement) return std::unexpected(std::move(statement.error()));
    const StatementUse use(*statement);
    return step_to_done(connection, use.get());
}

// Inserts the row in one transaction, or leaves the table as it was.
SqliteResult insert_in_transaction(OpenCache& cache, std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> header, const Tensor& basis) {
    sqlite3* connection = cache.connection.get();
    if (!cache.journal_chosen) {
        choose_journal_for_writing(connection, cache.path);
        cache.journal_chosen = true;
    }
    if (auto begun = run(connection, cache.begin, "BEGIN IMMEDIATE"); !begun) return begun;
    auto inserted = [&]() -> SqliteResult {
        auto insert = prepared(connection, cache.insert, kInsertStatement);
        if (!insert) return std::unexpected(std::move(insert.error()));
        const StatementUse use(*insert);
        if (sqlite3_bind_parameter_count(use.get()) != 2) {
            return std::unexpected(SqliteFailure{"Wrong number of parameters"});
        }
        const auto size = static_cast<sqlite3_int64>(header.size() + basis.data().size_bytes());
        if (sqlite3_bind_blob(use.get(), 1, key.data(), static_cast<int>(key.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK ||
            sqlite3_bind_int64(use.get(), 2, size) != SQLITE_OK) {
            return std::unexpected(last_failure(connection));
        }
        if (auto done = step_to_done(connection, use.get()); !done) return done;
        if (sqlite3_changes(connection) == 0) return {};  // stored by someone else already
        return write_row(connection, sqlite3_last_insert_rowid(connection), header, basis);
    }();
    if (inserted) inserted = run(connection, cache.commit, "COMMIT");
    if (inserted) fold_log_after_large_row(connection, header.size() + basis.data().size_bytes());
    if (!inserted && !sqlite3_get_autocommit(connection)) {
        (void)run(connection, cache.rollback, "ROLLBACK");
    }
    if (!inserted) cache.insert.reset();
    return inserted;
}

// True when the file the connection writes to is no longer the one at the cache path (removed
// or replaced under the process).
bool file_was_replaced(const OpenCache& cache) {
    if (!cache.identity) return false;  // nothing to compare with (an SQLite URI, for one)
    const auto now = identity_of(cache.path);
    return !now || *now != *cache.identity;
}

// Opens the cache path afresh, recreating directory and database.
Status reopen(std::optional<OpenCache>& state) {
    state.reset();
    return acquire_cache_connection(state);
}

Status insert_basis(std::optional<OpenCache>& state, std::span<const std::uint8_t> key,
                    const Tensor& basis) {
    const auto header = npy_header(basis.shape());
    if (!header) {
        return fail(TavrinError::cache_error("Failed to serialize array: " + header.error()));
    }
    if (file_was_replaced(*state)) {
        if (auto reopened = reopen(state); !reopened) return reopened;
    }
    auto inserted = insert_in_transaction(*state, key, *header, basis);
    if (!inserted &&
        (inserted.error().code == SQLITE_READONLY_DBMOVED || file_was_replaced(*state))) {
        // Removed or replaced while this write ran: one more try on the file now there.
        if (auto reopened = reopen(state); !reopened) return reopened;
        inserted = insert_in_transaction(*state, key, *header, basis);
    }
    if (!inserted) {
        return fail(TavrinError::cache_error("Failed to insert data: " + inserted.error().message));
    }
    return {};
}

}  // namespace

std::vector<std::uint8_t> spin_key(std::span<const std::int32_t> spins) {
    std::vector<std::uint8_t> key;
    key.reserve(4 * spins.size());
    for (const std::int32_t spin : spins) {
        append_little_endian(key, static_cast<std::uint32_t>(spin), 4);
    }
    return key;
}

Result<std::optional<Tensor>> load_cached_basis(std::span<const std::int32_t> spins) {
    return with_open_cache(
        [&](std::optional<OpenCache>& state) { return query_basis(*state, spin_key(spins)); });
}

Status store_cached_basis(std::span<const std::int32_t> spins, const Tensor& basis) {
    return with_open_cache([&](std::optional<OpenCache>& state) {
        return insert_basis(state, spin_key(spins), basis);
    });
}

void close_cache_connection() {
    CacheLock& lock = cache_lock();
    const std::unique_lock guard(lock.mutex, std::try_to_lock);
    if (!guard.owns_lock() || !lock.state) return;
    if (lock.state->owner != ::getpid()) abandon(*lock.state);
    lock.state.reset();
}

Status run_inside_cache_operation(const std::function<void()>& body) {
    return with_open_cache([&](std::optional<OpenCache>&) -> Status {
        body();
        return {};
    });
}

}  // namespace tavrin
