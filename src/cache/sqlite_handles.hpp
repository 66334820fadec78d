// Owning handles for SQLite connections and statements, and the few calls the cache makes
// through them with their failures as messages.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "cache/sqlite_library.hpp"

namespace tavrin {

// Another process holding the file is waited for this long before a statement fails.
inline constexpr int kBusyTimeoutMilliseconds = 5000;

struct ConnectionCloser {
    // close_v2: a connection closed while a statement of it is still alive waits for that
    // statement instead of staying open for good.
    void operator()(sqlite3* connection) const { sqlite().close_v2(connection); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite().finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// An SQLite failure: the connection's message and its extended result code.
struct SqliteFailure {
    std::string message;
    int code = SQLITE_ERROR;
};
using SqliteResult = std::expected<void, SqliteFailure>;

SqliteFailure last_failure(sqlite3* connection);

// Makes the connection wait up to kBusyTimeoutMilliseconds for a lock another connection holds
// (`wait` true), or fail at once (false).
void wait_for_busy_locks(sqlite3* connection, bool wait);

// Opens with the cache's flags (read-write and create, or read-only) and its busy timeout.
std::expected<Connection, SqliteFailure> open_connection(const std::string& name, int flags);

std::expected<Statement, SqliteFailure> prepare(sqlite3* connection, std::string_view sql);

// Resets a prepared statement and clears its bindings when the use ends, so that it can stay
// prepared on the connection and holds no read transaction meanwhile.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;
    ~StatementUse() {
        sqlite().reset(statement_);
        sqlite().clear_bindings(statement_);
    }
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt* statement_;
};

// Binds the blobs to parameters 1, 2, ... after checking that the statement has as many.
SqliteResult bind_all(sqlite3* connection, sqlite3_stmt* statement,
                      std::initializer_list<std::span<const std::uint8_t>> values);

// Steps a statement that returns no rows to its end.
SqliteResult step_to_done(sqlite3* connection, sqlite3_stmt* statement);

// Prepares and runs a statement without parameters or rows.
SqliteResult execute(sqlite3* connection, std::string_view sql);

// The integer in the first column of the first row of a statement without parameters.
std::expected<std::int64_t, SqliteFailure> query_integer(sqlite3* connection,
                                                         std::string_view sql);

}  // namespace tavrin
