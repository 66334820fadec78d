#include "cache/sqlite_handles.hpp"

#include <chrono>
#include <functional>
#include <climits>
#include <random>
#include <thread>
#include <utility>

namespace tavrin {
namespace {

// SQLITE_OPEN_EXRESCODE, which libraries older than 3.37.0 do not know.
constexpr int kOpenExtendedResultCodes = 0x02000000;
constexpr int kFirstExtendedResultCodesVersion = 3037000;

SqliteResult bind_blob(sqlite3* connection, sqlite3_stmt* statement, int index,
                       std::span<const std::uint8_t> bytes) {
    int code;
    if (bytes.empty()) {
        code = sqlite().bind_zeroblob(statement, index, 0);
    } else if (bytes.size() <= static_cast<std::size_t>(INT_MAX)) {
        code = sqlite().bind_blob(statement, index, bytes.data(),
                                  static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    } else {
        // Beyond the range of bind_blob; SQLite refuses what exceeds its own length limit.
        code = sqlite().bind_blob64(statement, index, bytes.data(), bytes.size(),
                                    SQLITE_TRANSIENT);
    }
    if (code != SQLITE_OK) return std::unexpected(last_failure(connection));
    return {};
}

// SQLite's own busy handler sleeps up to 100 ms between attempts. Under steady writing from
// other processes, whose transactions start again within microseconds of the last one, a
// waiter that sleeps that long finds the lock taken at nearly every attempt and can starve
// past the timeout while others store at full speed. Short sleeps of random length give every
// waiter its turn.
int wait_briefly(void*, int attempts) {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point started;
    thread_local std::minstd_rand jitter(static_cast<std::minstd_rand::result_type>(
        std::hash<std::thread::id>{}(std::this_thread::get_id())));
    const Clock::time_point now = Clock::now();
    if (attempts == 0) started = now;
    if (now - started >= std::chrono::milliseconds(kBusyTimeoutMilliseconds)) return 0;
    std::uniform_int_distribution<int> microseconds(50, attempts < 20 ? 200 : 1000);
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds(jitter)));
    return 1;
}

}  // namespace

void wait_for_busy_locks(sqlite3* connection, bool wait) {
    sqlite().busy_handler(connection, wait ? &wait_briefly : nullptr, nullptr);
}

SqliteFailure last_failure(sqlite3* connection) {
    return {sqlite().errmsg(connection), sqlite().extended_errcode(connection)};
}

std::expected<Connection, SqliteFailure> open_connection(const std::string& name, int flags) {
    if (sqlite().libversion_number() >= kFirstExtendedResultCodesVersion) {
        flags |= kOpenExtendedResultCodes;
    }
    sqlite3* raw = nullptr;
    const int code = sqlite().open_v2(name.c_str(), &raw, flags, nullptr);
    Connection connection(raw);
    if (code != SQLITE_OK) {
        SqliteFailure failure{raw != nullptr ? sqlite().errmsg(raw) : sqlite().errstr(code),
                              code};
        if ((code & 0xFF) == SQLITE_CANTOPEN) failure.message += ": " + name;
        return std::unexpected(std::move(failure));
    }
    wait_for_busy_locks(raw, true);
    return connection;
}

std::expected<Statement, SqliteFailure> prepare(sqlite3* connection, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    const int code = sqlite().prepare_v3(connection, sql.data(), static_cast<int>(sql.size()),
                                         SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    Statement statement(raw);
    if (code != SQLITE_OK) return std::unexpected(last_failure(connection));
    return statement;
}

SqliteResult bind_all(sqlite3* connection, sqlite3_stmt* statement,
                      std::initializer_list<std::span<const std::uint8_t>> values) {
    const int expected = static_cast<int>(values.size());
    const int actual = sqlite().bind_parameter_count(statement);
    if (actual != expected) {
        return std::unexpected(SqliteFailure{"Wrong number of parameters: the statement has " +
                                             std::to_string(actual) + ", " +
                                             std::to_string(expected) + " given"});
    }
    int index = 1;
    for (const auto value : values) {
        if (auto bound = bind_blob(connection, statement, index++, value); !bound) return bound;
    }
    return {};
}

SqliteResult step_to_done(sqlite3* connection, sqlite3_stmt* statement) {
    int code = sqlite().step(statement);
    while (code == SQLITE_ROW) code = sqlite().step(statement);
    if (code != SQLITE_DONE) return std::unexpected(last_failure(connection));
    return {};
}

SqliteResult execute(sqlite3* connection, std::string_view sql) {
    auto statement = prepare(connection, sql);
    if (!statement) return std::unexpected(std::move(statement.error()));
    if (auto bound = bind_all(connection, statement->get(), {}); !bound) return bound;
    return step_to_done(connection, statement->get());
}

std::expected<std::int64_t, SqliteFailure> query_integer(sqlite3* connection,
                                                         std::string_view sql) {
    auto statement = prepare(connection, sql);
    if (!statement) return std::unexpected(std::move(statement.error()));
    if (sqlite().step(statement->get()) != SQLITE_ROW) {
        return std::unexpected(last_failure(connection));
    }
    return sqlite().column_int64(statement->get(), 0);
}

}  // namespace tavrin
