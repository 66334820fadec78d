#include "cache/basis_cache.hpp"

#include <sqlite3.h>
#include <unistd.h>

#include <climits>
#include <expected>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "cache/cache_path.hpp"
#include "cache/npy_blob.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin {
namespace {

constexpr const char* kQueryStatement = "SELECT data FROM cgbasis WHERE spins = ?";
constexpr const char* kInsertStatement =
    "INSERT OR REPLACE INTO cgbasis (spins, data) VALUES (?1, ?2)";

constexpr int kOpenFlags =
    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
// SQLITE_OPEN_EXRESCODE, which libraries older than 3.37.0 do not know.
constexpr int kOpenExtendedResultCodes = 0x02000000;
constexpr int kFirstExtendedResultCodesVersion = 3037000;
// Another process holding the file is waited for this long before a statement fails.
constexpr int kBusyTimeoutMilliseconds = 5000;

struct ConnectionCloser {
    void operator()(sqlite3* connection) const { sqlite3_close(connection); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const {
        sqlite3_reset(statement);
        sqlite3_finalize(statement);
    }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// An SQLite failure, described by its message.
using SqliteResult = std::expected<void, std::string>;

std::string error_message(sqlite3* connection) { return sqlite3_errmsg(connection); }

struct OpenCache {
    std::filesystem::path path;
    Connection connection;
    pid_t owner;  // the process that opened the connection
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

std::expected<Connection, std::string> open_database(const std::filesystem::path& path) {
    int flags = kOpenFlags;
    if (sqlite3_libversion_number() >= kFirstExtendedResultCodesVersion) {
        flags |= kOpenExtendedResultCodes;
    }
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Connection connection(raw);
    if (code != SQLITE_OK) {
        std::string message = raw != nullptr ? error_message(raw) : sqlite3_errstr(code);
        if ((code & 0xFF) == SQLITE_CANTOPEN) message += ": " + path.string();
        return std::unexpected(std::move(message));
    }
    if (sqlite3_busy_timeout(raw, kBusyTimeoutMilliseconds) != SQLITE_OK) {
        return std::unexpected(error_message(raw));
    }
    return connection;
}

std::expected<Statement, std::string> prepare(sqlite3* connection, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    const int code = sqlite3_prepare_v3(connection, sql.data(), static_cast<int>(sql.size()), 0,
                                        &raw, nullptr);
    Statement statement(raw);
    if (code != SQLITE_OK) return std::unexpected(error_message(connection));
    return statement;
}

SqliteResult bind_blob(sqlite3* connection, sqlite3_stmt* statement, int index,
                       std::span<const std::uint8_t> bytes) {
    int code;
    if (bytes.empty()) {
        code = sqlite3_bind_zeroblob(statement, index, 0);
    } else if (bytes.size() <= static_cast<std::size_t>(INT_MAX)) {
        code = sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()),
                                 SQLITE_TRANSIENT);
    } else {
        // Beyond the range of bind_blob; SQLite refuses what exceeds its own length limit.
        code = sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(),
                                   SQLITE_TRANSIENT);
    }
    if (code != SQLITE_OK) return std::unexpected(error_message(connection));
    return {};
}

// Binds the blobs to parameters 1, 2, ... after checking that the statement has as many.
SqliteResult bind_all(sqlite3* connection, sqlite3_stmt* statement,
                      std::initializer_list<std::span<const std::uint8_t>> values) {
    const int expected = static_cast<int>(values.size());
    const int actual = sqlite3_bind_parameter_count(statement);
    if (actual != expected) {
        return std::unexpected("Wrong number of parameters: the statement has " +
                               std::to_string(actual) + ", " + std::to_string(expected) +
                               " given");
    }
    int index = 1;
    for (const auto value : values) {
        if (auto bound = bind_blob(connection, statement, index++, value); !bound) return bound;
    }
    return {};
}

// Steps a statement that returns no rows to its end.
SqliteResult step_to_done(sqlite3* connection, sqlite3_stmt* statement) {
    int code = sqlite3_step(statement);
    while (code == SQLITE_ROW) code = sqlite3_step(statement);
    if (code != SQLITE_DONE) return std::unexpected(error_message(connection));
    return {};
}

SqliteResult create_table(sqlite3* connection) {
    auto statement = prepare(connection, kCacheTableStatement);
    if (!statement) return std::unexpected(std::move(statement.error()));
    if (auto bound = bind_all(connection, statement->get(), {}); !bound) return bound;
    if (sqlite3_step(statement->get()) != SQLITE_DONE) {
        return std::unexpected(error_message(connection));
    }
    return {};
}

Status create_cache_directory_for(const std::filesystem::path& path) {
    if (const std::error_code error = create_cache_directory(path)) {
        return fail(TavrinError::cache_error("Failed to create cache directory: " +
                                             error.message()));
    }
    return {};
}

// Makes the state hold a connection for the current cache path. A failure leaves it untouched.
Status acquire_cache_connection(std::optional<OpenCache>& state) {
    std::filesystem::path path = current_cache_path();
    if (state && state->owner != ::getpid()) {
        // Inherited through fork(): SQLite connections must not cross into another process
        // (the file locks belong to the parent), so this one is neither used nor closed here.
        (void)state->connection.release();
        state.reset();
    }
    if (state && state->path == path) return {};

    if (auto created = create_cache_directory_for(path); !created) return created;
    auto connection = open_database(path);
    if (!connection) {
        return fail(TavrinError::cache_error("Failed to open database: " + connection.error()));
    }
    if (auto table = create_table(connection->get()); !table) {
        return fail(TavrinError::cache_error("Failed to create table: " + table.error()));
    }
    // Assigning closes the connection held before.
    state = OpenCache{std::move(path), std::move(*connection), ::getpid()};
    return {};
}

// Runs `operation` on the connection with the cache lock held for its whole duration. An
// exception other than std::bad_alloc leaving the operation poisons the lock for good.
template <class Operation>
auto with_cache_connection(Operation&& operation)
    -> std::invoke_result_t<Operation&, sqlite3*> {
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
        return operation(lock.state->connection.get());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        lock.poisoned = true;
        throw;
    }
}

std::string column_type_name(int type) {
    switch (type) {
    case SQLITE_INTEGER:
        return "Integer";
    case SQLITE_FLOAT:
        return "Real";
    case SQLITE_TEXT:
        return "Text";
    default:
        return "Null";
    }
}

// The bytes of column 0 of the current row, which must be a BLOB.
std::expected<std::vector<std::uint8_t>, std::string> blob_column(sqlite3_stmt* statement) {
    if (sqlite3_column_count(statement) < 1) {
        return std::unexpected(std::string("Invalid column index: 0"));
    }
    const int type = sqlite3_column_type(statement, 0);
    if (type != SQLITE_BLOB) {
        return std::unexpected("Invalid column type " + column_type_name(type) +
                               " at index: 0, name: data");
    }
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, 0));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, 0));
    if (data == nullptr) return std::vector<std::uint8_t>{};
    return std::vector<std::uint8_t>(data, data + size);
}

// The blob of the first row with the key, or nothing when there is none.
std::expected<std::optional<std::vector<std::uint8_t>>, std::string> find_blob(
    sqlite3* connection, sqlite3_stmt* statement, std::span<const std::uint8_t> key) {
    if (auto bound = bind_all(connection, statement, {key}); !bound) {
        return std::unexpected(std::move(bound.error()));
    }
    const int code = sqlite3_step(statement);
    if (code == SQLITE_DONE) return std::nullopt;
    if (code != SQLITE_ROW) return std::unexpected(error_message(connection));
    return blob_column(statement);
}

Result<std::optional<Tensor>> query_basis(sqlite3* connection, std::span<const std::uint8_t> key) {
    auto statement = prepare(connection, kQueryStatement);
    if (!statement) {
        return fail(TavrinError::cache_error("Failed to prepare query: " + statement.error()));
    }
    auto blob = find_blob(connection, statement->get(), key);
    if (!blob) return fail(TavrinError::cache_error("Query failed: " + blob.error()));
    if (!*blob) return std::optional<Tensor>{};

    auto tensor = read_npy_blob(**blob);
    if (!tensor) {
        return fail(TavrinError::cache_error("Failed to deserialize array: " + tensor.error()));
    }
    return std::optional<Tensor>(std::move(*tensor));
}

SqliteResult insert_row(sqlite3* connection, std::span<const std::uint8_t> key,
                        std::span<const std::uint8_t> blob) {
    auto statement = prepare(connection, kInsertStatement);
    if (!statement) return std::unexpected(std::move(statement.error()));
    if (auto bound = bind_all(connection, statement->get(), {key, blob}); !bound) return bound;
    return step_to_done(connection, statement->get());
}

Status insert_basis(sqlite3* connection, std::span<const std::uint8_t> key, const Tensor& basis) {
    auto blob = write_npy_blob(basis);
    if (!blob) return fail(TavrinError::cache_error("Failed to serialize array: " + blob.error()));
    if (auto inserted = insert_row(connection, key, *blob); !inserted) {
        return fail(TavrinError::cache_error("Failed to insert data: " + inserted.error()));
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
    return with_cache_connection(
        [&](sqlite3* connection) { return query_basis(connection, spin_key(spins)); });
}

Status store_cached_basis(std::span<const std::int32_t> spins, const Tensor& basis) {
    return with_cache_connection(
        [&](sqlite3* connection) { return insert_basis(connection, spin_key(spins), basis); });
}

Status run_inside_cache_operation(const std::function<void()>& body) {
    return with_cache_connection([&](sqlite3*) -> Status {
        body();
        return {};
    });
}

}  // namespace tavrin
