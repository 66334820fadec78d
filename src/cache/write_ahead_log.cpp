#include "cache/write_ahead_log.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "cache/file_system.hpp"
#include "cache/sqlite_handles.hpp"
#include "cache/sqlite_library.hpp"

namespace tavrin {
namespace {

std::filesystem::path directory_of(const std::string& database) {
    const std::filesystem::path parent = std::filesystem::path(database).parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
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

constexpr std::size_t kCheckpointAfterBytes = std::size_t{1} << 20;

}  // namespace

void leave_write_ahead_log_on_network(sqlite3* connection, const std::string& database) {
    if (is_network_file_system(directory_of(database))) {
        (void)execute(connection, "PRAGMA journal_mode=DELETE");
    }
}

void choose_journal_for_writing(sqlite3* connection, const std::string& database) {
    const std::filesystem::path directory = directory_of(database);
    if (is_network_file_system(directory)) return;
    if (::access(directory.c_str(), W_OK) != 0) return;
    if (::access(database.c_str(), F_OK) == 0 && ::access(database.c_str(), W_OK) != 0) return;
    if (execute(connection, "PRAGMA journal_mode=WAL")) {
        (void)execute(connection, "PRAGMA synchronous=NORMAL");
        (void)execute(connection, "PRAGMA journal_size_limit=" + std::to_string(kLogBytes));
        bound_log_length(connection);
    }
}

void fold_log_after_large_row(sqlite3* connection, std::size_t row_bytes) {
    if (row_bytes < kCheckpointAfterBytes) return;
    // Without waiting for readers: the busy timeout is lifted for the checkpoint alone.
    wait_for_busy_locks(connection, false);
    (void)sqlite().wal_checkpoint_v2(connection, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                      nullptr);
    wait_for_busy_locks(connection, true);
}

}  // namespace tavrin
