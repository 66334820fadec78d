// The process's one connection to the basis cache: opened for the database a call names (made,
// with its directory, when missing), kept while calls name the same database, let go in a child
// made by fork(), and closed when the process exits. Every use runs under the cache lock.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "cache/sqlite_handles.hpp"
#include "core/error.hpp"

namespace tavrin {

inline constexpr const char* kPoisonedLockMessage =
    "Failed to acquire lock: poisoned lock: another task failed inside";
// Followed by the reason: the process has no SQLite library the cache can use.
inline constexpr const char* kNoSqliteMessage = "No SQLite library for the cache: ";

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An open database and the statements kept prepared on it.
struct OpenCache {
    std::string database;   // as the call named it: absolute, or an SQLite URI
    Connection connection;  // declared before the statements, so closed after them
    Statement find;
    Statement insert;
    Statement begin;
    Statement commit;
    Statement rollback;
    // The file seen when the connection was opened: a file replaced since is found replaced
    // at the next write, which then opens it afresh.
    std::optional<FileIdentity> identity;
    bool journal_chosen = false;
};

// Runs `operation` with the cache lock held for its whole duration, on a connection to
// `database`. The state it receives holds that connection; reopen_cache may replace it. An
// exception other than std::bad_alloc leaving the operation poisons the lock for good.
Status with_open_cache(const std::string& database,
                       const std::function<Status(std::optional<OpenCache>&)>& operation);

// Opens the database afresh (recreating directory and file), for an operation that found the
// file it had open removed or replaced.
Status reopen_cache(std::optional<OpenCache>& state, const std::string& database);

// True when the file the connection writes to is no longer the one at its path.
bool file_was_replaced(const OpenCache& cache);

// Closes this process's connection, unless an operation is running on it; the next operation
// opens it again. Runs when the process exits, so that the last process to leave folds the
// write-ahead log into the file and removes it, and the next one to open the cache has no log
// to read through.
void close_cache_connection();

}  // namespace tavrin
