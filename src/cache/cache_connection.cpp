#include "cache/cache_connection.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <utility>

#include "cache/basis_cache.hpp"
#include "cache/cache_path.hpp"
#include "cache/file_system.hpp"
#include "cache/sqlite_library.hpp"
#include "cache/write_ahead_log.hpp"
#include "support/process_mutex.hpp"

namespace tavrin {
namespace {

constexpr int kOpenFlags =
    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
constexpr int kReadOnlyFlags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;

std::optional<FileIdentity> identity_of(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
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

// The only process-wide state of the cache. Never destroyed: the connection stays open until
// the process ends.
struct CacheLock {
    ProcessMutex mutex{[] { forget_in_child(); }};
    bool poisoned = false;
    std::optional<OpenCache> state;

    static void forget_in_child();
};

CacheLock& cache_lock() {
    static CacheLock* const lock = new CacheLock;
    return *lock;
}

void CacheLock::forget_in_child() {
    CacheLock& lock = cache_lock();
    if (lock.state) abandon(*lock.state);
    lock.state.reset();
}

bool is_read_only_failure(int code) {
    return (code & 0xFF) == SQLITE_READONLY || (code & 0xFF) == SQLITE_CANTOPEN;
}

// An SQLite URI for a plain path: the characters URIs give a meaning to are escaped.
std::string immutable_uri(const std::string& path) {
    std::string uri = "file:";
    for (const char character : path) {
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
std::expected<Connection, TavrinError> open_cache_database(const std::string& path,
                                                          bool is_new_file) {
    auto connection = open_connection(path, kOpenFlags);
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

    const bool plain_path = !path.starts_with("file:");
    if (plain_path && is_read_only_failure(table.error().code) &&
        ::access(path.c_str(), R_OK) == 0 && ::access((path + "-wal").c_str(), F_OK) != 0) {
        auto reader = open_connection(immutable_uri(path), kReadOnlyFlags);
        if (reader && execute(reader->get(), kCacheTableStatement)) return std::move(*reader);
    }
    return std::unexpected(
        TavrinError::cache_error("Failed to create table: " + table.error().message));
}

void close_at_exit() { close_cache_connection(); }

// Makes the state hold a connection to the database. A failure leaves it untouched.
Status acquire_cache_connection(std::optional<OpenCache>& state, const std::string& database) {
    if (state && state->database == database) return {};

    // The directory is made only when the database is not there yet.
    struct stat info {};
    const bool database_exists = ::stat(database.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (!database_exists) {
        if (const std::error_code error = create_cache_directory(database)) {
            return fail(TavrinError::cache_error("Failed to create cache directory: " +
                                                 error.message()));
        }
    }
    auto connection = open_cache_database(database, !database_exists || info.st_size == 0);
    if (!connection) return fail(std::move(connection.error()));
    // The old connection's statements go first, then the connection itself.
    state.reset();
    state.emplace();
    state->identity = database_exists ? std::optional(FileIdentity{info.st_dev, info.st_ino})
                                      : identity_of(database);
    state->database = database;
    state->connection = std::move(*connection);
    static const bool closes_at_exit = std::atexit(close_at_exit) == 0;
    (void)closes_at_exit;
    return {};
}

}  // namespace

Status with_open_cache(const std::string& database,
                       const std::function<Status(std::optional<OpenCache>&)>& operation) {
    // Without a usable SQLite library there is no cache, and nothing to lock.
    if (const SqliteLibrary& library = sqlite_library(); !library) {
        return fail(TavrinError::cache_error(kNoSqliteMessage + library.error()));
    }
    CacheLock& lock = cache_lock();
    const std::lock_guard guard(lock.mutex);
    if (lock.poisoned) return fail(TavrinError::cache_error(kPoisonedLockMessage));
    try {
        if (auto acquired = acquire_cache_connection(lock.state, database); !acquired) {
            return acquired;
        }
        return operation(lock.state);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        lock.poisoned = true;
        throw;
    }
}

Status reopen_cache(std::optional<OpenCache>& state, const std::string& database) {
    state.reset();
    return acquire_cache_connection(state, database);
}

bool file_was_replaced(const OpenCache& cache) {
    if (!cache.identity) return false;  // nothing to compare with (an SQLite URI, for one)
    const auto now = identity_of(cache.database);
    return !now || *now != *cache.identity;
}

void close_cache_connection() {
    CacheLock& lock = cache_lock();
    const std::unique_lock guard(lock.mutex, std::try_to_lock);
    if (!guard.owns_lock()) return;
    lock.state.reset();
}

}  // namespace tavrin
